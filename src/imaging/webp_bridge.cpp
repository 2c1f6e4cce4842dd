#include "imaging/webp_bridge.h"

#include "common/unique_fd.h"
#include "crypto/secure.h"
#include "imaging/colour_profile.h"
#include "imaging/image_format.h"
#include "imaging/still_decoder.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

namespace quillix::imaging {
namespace {

constexpr std::string_view kAnim = "ANIM";

struct DemuxDeleter {
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};
using DemuxPtr = std::unique_ptr<WebPDemuxer, DemuxDeleter>;

// One frame of a demuxer, released however the caller leaves.
struct FrameIterator {
    WebPIterator iter{};
    bool held = false;
    FrameIterator(WebPDemuxer* demux, int number) : held(WebPDemuxGetFrame(demux, number, &iter) != 0) {}
    ~FrameIterator()
    {
        if (held) WebPDemuxReleaseIterator(&iter);
    }
    FrameIterator(const FrameIterator&) = delete;
    FrameIterator& operator=(const FrameIterator&) = delete;
};

QColorSpace ColourSpaceOf(WebPDemuxer* demux)
{
    if ((WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS) & ICCP_FLAG) == 0) return {};
    WebPChunkIterator chunk{};
    if (!WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) return {};
    QColorSpace space = ColourSpaceFromIcc(std::span<const std::uint8_t>(chunk.chunk.bytes, chunk.chunk.size));
    WebPDemuxReleaseChunkIterator(&chunk);
    return space;
}

// Format_ARGB32 is one native-endian 32-bit word per pixel.
constexpr WEBP_CSP_MODE kArgb32Mode = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_BGRA : MODE_ARGB;

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

// The pixels `dataBytes` of lossy data could fill at most. A lossy key frame codes the prediction
// modes of each 16 × 16 macroblock with fixed odds, the cheapest choice costing over 3.4 bits, so
// 2 bits per macroblock is a safe floor. Lossless data bounds nothing: a prefix code of a single
// symbol spends no bits at all on a pixel.
std::int64_t LossyPaintable(std::size_t dataBytes)
{
    return static_cast<std::int64_t>(dataBytes) * 8 / 2 * 256;
}

// A still picture larger than the pixel bound, or lossy with too few bytes to fill its size, is
// refused before libwebp allocates for it. A still cut short shows nothing, so no filler is
// allowed for.
Result<void> CheckStill(const WebPBitstreamFeatures& features, std::size_t dataBytes)
{
    const std::int64_t pixels = std::int64_t{features.width} * features.height;
    if (pixels > kMaxPixels) return MakeError(ErrorKind::Unsupported, "WebP picture too large");
    if (features.format == 1 && pixels > LossyPaintable(dataBytes))
        return MakeError(ErrorKind::BadHeader, "WebP: the file is too short for the declared size");
    return {};
}

// The first frame of the animation `demux` holds, drawn onto a transparent canvas of `size` (the
// whole canvas, or it scaled down) and decoded by libwebp straight into its place, as the
// animation decoder draws a first frame: no other picture the size of the canvas is held.
Result<QImage> FirstFrameOnCanvas(WebPDemuxer* demux, QSize size)
{
    const std::int64_t canvasWidth = WebPDemuxGetI(demux, WEBP_FF_CANVAS_WIDTH);
    const std::int64_t canvasHeight = WebPDemuxGetI(demux, WEBP_FF_CANVAS_HEIGHT);
    const FrameIterator frame(demux, 1);
    if (!frame.held || canvasWidth <= 0 || canvasHeight <= 0)
        return MakeError(ErrorKind::BadHeader, "animated WebP has no readable frame");
    QImage canvas = NewPicture(size.width(), size.height(), QImage::Format_ARGB32);
    if (canvas.isNull()) return MakeError(ErrorKind::Unsupported, "WebP picture too large");
    canvas.fill(Qt::transparent);

    // The frame's edges on the scaled canvas, rounded as the canvas's own size is.
    const auto place = [](std::int64_t at, std::int64_t full, int scaled) {
        return static_cast<int>((2 * at * scaled + full) / (2 * full));
    };
    const WebPIterator& it = frame.iter;
    const int left = place(it.x_offset, canvasWidth, size.width());
    const int right = place(it.x_offset + it.width, canvasWidth, size.width());
    const int top = place(it.y_offset, canvasHeight, size.height());
    const int bottom = place(it.y_offset + it.height, canvasHeight, size.height());
    if (right <= left || bottom <= top) return canvas;

    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return MakeError(ErrorKind::Unsupported, "libwebp mismatch");
    const VP8StatusCode status = WebPGetFeatures(it.fragment.bytes, it.fragment.size, &config.input);
    if (status != VP8_STATUS_OK) return StatusError(status);
    if (right - left != it.width || bottom - top != it.height) {
        config.options.use_scaling = 1;
        config.options.scaled_width = right - left;
        config.options.scaled_height = bottom - top;
    }
    const std::size_t stride = static_cast<std::size_t>(canvas.bytesPerLine());
    config.output.colorspace = kArgb32Mode;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba =
        canvas.bits() + static_cast<std::size_t>(top) * stride + 4 * static_cast<std::size_t>(left);
    config.output.u.RGBA.stride = static_cast<int>(stride);
    config.output.u.RGBA.size =
        static_cast<std::size_t>(bottom - top - 1) * stride + 4 * static_cast<std::size_t>(right - left);
    const VP8StatusCode decoded = WebPDecode(it.fragment.bytes, it.fragment.size, &config);
    WebPFreeDecBuffer(&config.output);
    if (decoded != VP8_STATUS_OK) return StatusError(decoded);
    canvas.setColorSpace(ColourSpaceOf(demux));
    return canvas;
}

Result<QImage> FirstFrame(std::span<const std::uint8_t> bytes, std::optional<QSize> size)
{
    if (bytes.empty()) return MakeError(ErrorKind::Truncated, "empty WebP data");
    WebPBitstreamFeatures features{};
    const VP8StatusCode status = WebPGetFeatures(bytes.data(), bytes.size(), &features);
    if (status != VP8_STATUS_OK) return StatusError(status);
    if (!features.has_animation)
        return size ? LoadWebPScaled(bytes, size->width(), size->height()) : LoadWebPToBitmap(bytes);
    if (Result<void> believed = CheckAnimatedWebP(bytes); !believed) return believed.error();
    if (size && (size->width() <= 0 || size->height() <= 0))
        return MakeError(ErrorKind::Unsupported, "scaled size must be positive");
    const WebPData data{bytes.data(), bytes.size()};
    const DemuxPtr demux(WebPDemux(&data));
    if (!demux) return MakeError(ErrorKind::BadHeader, "animated WebP cannot be decoded");
    return FirstFrameOnCanvas(demux.get(), size.value_or(QSize(features.width, features.height)));
}

}  // namespace

QImage ImageFromRgba(const std::uint8_t* rgba, int width, int height, int stride)
{
    QImage image = NewPicture(width, height, QImage::Format_ARGB32);
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
    if (Result<void> believed = CheckStill(features, bytes.size()); !believed) return believed.error();
    int w = 0, h = 0;
    std::uint8_t* const pixels = WebPDecodeRGBA(bytes.data(), bytes.size(), &w, &h);
    if (!pixels) return MakeError(ErrorKind::BadHeader, "WebP picture cannot be decoded");
    QImage image = ImageFromRgba(pixels, w, h, w * 4);
    // libwebp's copy goes at once, wiped: it may be a container's picture.
    crypto::SecureWipe(pixels, static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    WebPFree(pixels);
    if (image.isNull()) return MakeError(ErrorKind::Unsupported, "WebP picture too large");
    image.setColorSpace(WebPColourSpace(bytes));
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
    return FirstFrame(bytes, std::nullopt);
}

Result<QImage> LoadWebPFirstFrameScaled(std::span<const std::uint8_t> bytes, int width, int height)
{
    return FirstFrame(bytes, QSize(width, height));
}

Result<void> CheckAnimatedWebP(std::span<const std::uint8_t> bytes)
{
    WebPBitstreamFeatures features{};
    if (bytes.empty() || WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK)
        return MakeError(ErrorKind::BadHeader, "not a readable WebP picture");
    // The animation decoder allocates two canvases before it reads a frame.
    const std::int64_t canvas = std::int64_t{features.width} * features.height;
    if (canvas > kMaxPixels) return MakeError(ErrorKind::Unsupported, "WebP picture too large");
    const WebPData data{bytes.data(), bytes.size()};
    const DemuxPtr demux(WebPDemux(&data));
    if (!demux) return MakeError(ErrorKind::BadHeader, "animated WebP cannot be decoded");
    // A frame paints its own area, a lossy one no more than its data could fill.
    std::int64_t largest = 0;
    const int frames = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT));
    for (int number = 1; number <= frames; ++number) {
        const FrameIterator frame(demux.get(), number);
        if (!frame.held) break;
        const WebPIterator& it = frame.iter;
        std::int64_t paintable = std::int64_t{it.width} * it.height;
        WebPBitstreamFeatures own{};
        if (WebPGetFeatures(it.fragment.bytes, it.fragment.size, &own) == VP8_STATUS_OK && own.format == 1)
            paintable = std::min(paintable, LossyPaintable(it.fragment.size));
        largest = std::max(largest, paintable);
    }
    if (!DataCouldShow(canvas, largest))
        return MakeError(ErrorKind::BadHeader, "WebP: the canvas is far larger than its frames");
    return {};
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
    if (Result<void> believed = CheckStill(config.input, bytes.size()); !believed) return believed.error();

    QImage image = NewPicture(width, height, QImage::Format_ARGB32);
    if (image.isNull()) return MakeError(ErrorKind::Unsupported, "scaled size too large");
    config.options.use_scaling = 1;
    config.options.scaled_width = width;
    config.options.scaled_height = height;
    config.output.colorspace = kArgb32Mode;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = static_cast<int>(image.bytesPerLine());
    config.output.u.RGBA.size = static_cast<std::size_t>(image.sizeInBytes());
    const VP8StatusCode decoded = WebPDecode(bytes.data(), bytes.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (decoded != VP8_STATUS_OK) return StatusError(decoded);
    image.setColorSpace(WebPColourSpace(bytes));
    return image;
}

QColorSpace WebPColourSpace(std::span<const std::uint8_t> bytes)
{
    const WebPData data{bytes.data(), bytes.size()};
    const DemuxPtr demux(bytes.empty() ? nullptr : WebPDemux(&data));
    return demux ? ColourSpaceOf(demux.get()) : QColorSpace();
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
