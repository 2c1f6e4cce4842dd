#include "imaging/webp_bridge.h"

#include "common/unique_fd.h"
#include "imaging/image_format.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>

namespace quillix::imaging {
namespace {

// Far above any picture the viewer shows; keeps a hostile size from exhausting memory.

constexpr std::string_view kAnim = "ANIM";

struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
using AnimDecoderPtr = std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter>;

Error StatusError(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_NOT_ENOUGH_DATA: return MakeError(ErrorKind::Truncated, "WebP data ends early");
    case VP8_STATUS_UNSUPPORTED_FEATURE: return MakeError(ErrorKind::Unsupported, "WebP feature not supported");
    case VP8_STATUS_OUT_OF_MEMORY: return MakeError(ErrorKind::Unsupported, "WebP picture too large");
    default: return MakeError(ErrorKind::BadHeader, "not a readable WebP picture");
    }
}

bool ContainsAnim(std::span<const std::uint8_t> bytes)
{
    return std::search(bytes.begin(), bytes.end(), kAnim.begin(), kAnim.end()) != bytes.end();
}

}  // namespace

QImage ImageFromRgba(const std::uint8_t* rgba, int width, int height, int stride)
{
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) return image;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = rgba + static_cast<std::ptrdiff_t>(y) * stride;
        // qRgba keeps the result B, G, R, A in memory on little-endian machines and right elsewhere.
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x, src += 4)
            dst[x] = qRgba(src[0], src[1], src[2], src[3]);
    }
    return image;
}

Result<QImage> LoadWebPToBitmap(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty()) return MakeError(ErrorKind::Truncated, "empty WebP data");
    WebPBitstreamFeatures features{};
    const VP8StatusCode status = WebPGetFeatures(bytes.data(), bytes.size(), &features);
    if (status != VP8_STATUS_OK) return StatusError(status);
    if (features.has_animation) return MakeError(ErrorKind::Unsupported, "animated WebP has no still picture");
    int w = 0, h = 0;
    std::unique_ptr<std::uint8_t, decltype(&WebPFree)> pixels(WebPDecodeRGBA(bytes.data(), bytes.size(), &w, &h),
                                                              &WebPFree);
    if (!pixels) return MakeError(ErrorKind::BadHeader, "WebP picture cannot be decoded");
    QImage image = ImageFromRgba(pixels.get(), w, h, w * 4);
    if (image.isNull()) return MakeError(ErrorKind::Unsupported, "WebP picture too large");
    return image;
}

Result<QImage> LoadWebPToBitmap(const std::string& path)
{
    Result<std::vector<std::uint8_t>> bytes = ReadImageFile(path);
    if (!bytes) return bytes.error();
    return LoadWebPToBitmap(bytes.value());
}

Result<QImage> LoadWebPFirstFrame(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty()) return MakeError(ErrorKind::Truncated, "empty WebP data");
    WebPBitstreamFeatures features{};
    const VP8StatusCode status = WebPGetFeatures(bytes.data(), bytes.size(), &features);
    if (status != VP8_STATUS_OK) return StatusError(status);
    if (!features.has_animation) return LoadWebPToBitmap(bytes);
    // The animation decoder allocates two canvases before it reads a frame: a few bytes of
    // header could otherwise ask for gigabytes.
    if (std::int64_t{features.width} * features.height > kMaxPixels)
        return MakeError(ErrorKind::Unsupported, "WebP picture too large");

    const WebPData data{bytes.data(), bytes.size()};
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return MakeError(ErrorKind::Unsupported, "libwebpdemux mismatch");
    options.color_mode = MODE_RGBA;
    const AnimDecoderPtr decoder(WebPAnimDecoderNew(&data, &options));
    WebPAnimInfo info{};
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info))
        return MakeError(ErrorKind::BadHeader, "animated WebP cannot be decoded");
    std::uint8_t* pixels = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderHasMoreFrames(decoder.get()) || !WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp) ||
        !pixels)
        return MakeError(ErrorKind::BadHeader, "animated WebP has no readable frame");
    const int w = static_cast<int>(info.canvas_width), h = static_cast<int>(info.canvas_height);
    QImage image = ImageFromRgba(pixels, w, h, w * 4);
    if (image.isNull()) return MakeError(ErrorKind::Unsupported, "WebP picture too large");
    return image;
}

Result<QImage> LoadWebPScaled(std::span<const std::uint8_t> bytes, int width, int height)
{
    if (width <= 0 || height <= 0) return MakeError(ErrorKind::Unsupported, "scaled size must be positive");
    if (bytes.empty()) return MakeError(ErrorKind::Truncated, "empty WebP data");
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return MakeError(ErrorKind::Unsupported, "libwebp mismatch");
    const VP8StatusCode status = WebPGetFeatures(bytes.data(), bytes.size(), &config.input);
    if (status != VP8_STATUS_OK) return StatusError(status);
    if (config.input.has_animation) return MakeError(ErrorKind::Unsupported, "animated WebP has no still picture");

    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) return MakeError(ErrorKind::Unsupported, "scaled size too large");
    config.options.use_scaling = 1;
    config.options.scaled_width = width;
    config.options.scaled_height = height;
    // Decoding straight into the image: Format_ARGB32 is one native-endian 32-bit word per pixel.
    config.output.colorspace = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_BGRA : MODE_ARGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = static_cast<int>(image.bytesPerLine());
    config.output.u.RGBA.size = static_cast<std::size_t>(image.sizeInBytes());
    const VP8StatusCode decoded = WebPDecode(bytes.data(), bytes.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (decoded != VP8_STATUS_OK) return StatusError(decoded);
    return image;
}

bool WebPSize(std::span<const std::uint8_t> bytes, int& width, int& height)
{
    int w = 0, h = 0;
    if (bytes.empty() || !WebPGetInfo(bytes.data(), bytes.size(), &w, &h)) return false;
    width = w;
    height = h;
    return true;
}

bool IsAnimatedBytes(std::span<const std::uint8_t> bytes)
{
    return ContainsAnim(bytes);
}

bool IsAnimatedFile(const std::string& path)
{
    // A pipe with a picture's name is neither waited on nor read without end.
    const UniqueFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    // Each chunk starts with the last three bytes of the one before, so no straddling match is lost.
    constexpr std::size_t kKeep = kAnim.size() - 1;
    std::array<std::uint8_t, 65536> buffer{};
    std::size_t kept = 0;
    std::uint64_t offset = 0;
    for (;;) {
        const long long n = ReadAt(fd.get(), std::span(buffer).subspan(kept), offset);
        if (n <= 0) return false;
        offset += static_cast<std::uint64_t>(n);
        const std::size_t filled = kept + static_cast<std::size_t>(n);
        if (ContainsAnim(std::span<const std::uint8_t>(buffer.data(), filled))) return true;
        kept = std::min(filled, kKeep);
        std::memmove(buffer.data(), buffer.data() + filled - kept, kept);
    }
}

}  // namespace quillix::imaging
