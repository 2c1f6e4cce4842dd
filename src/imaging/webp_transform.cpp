#include "imaging/webp_transform.h"

#include "imaging/image_format.h"

#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

namespace quillix::imaging {
namespace {

std::uint32_t Le32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// The payload of the first "VP8 " chunk of a RIFF WebP; empty when there is none.
std::span<const std::uint8_t> LossyBitstream(std::span<const std::uint8_t> webp)
{
    if (webp.size() < 12 || std::memcmp(webp.data(), "RIFF", 4) != 0 || std::memcmp(webp.data() + 8, "WEBP", 4) != 0)
        return {};
    for (std::size_t at = 12; at + 8 <= webp.size();) {
        const std::size_t size = Le32(webp.data() + at + 4);
        const std::size_t available = std::min(size, webp.size() - at - 8);
        if (std::memcmp(webp.data() + at, "VP8 ", 4) == 0) return webp.subspan(at + 8, available);
        if (size > webp.size() - at - 8) break;
        at += 8 + size + (size & 1);
    }
    return {};
}

// The boolean entropy decoder of the VP8 frame header (RFC 6386, section 7.3).
class BoolReader {
public:
    explicit BoolReader(std::span<const std::uint8_t> data) : data_(data) { value_ = Next() << 8 | Next(); }

    unsigned Literal(int bits)
    {
        unsigned v = 0;
        while (bits-- > 0)
            v = v << 1 | Bit(128);
        return v;
    }
    int Signed(int bits)
    {
        const int magnitude = static_cast<int>(Literal(bits));
        return Literal(1) ? -magnitude : magnitude;
    }
    void Skip(int bits, bool withSign)
    {
        Literal(bits);
        if (withSign) Literal(1);
    }

private:
    unsigned Bit(unsigned probability)
    {
        const unsigned split = 1 + (((range_ - 1) * probability) >> 8);
        unsigned bit = 0;
        if (value_ >= split << 8) {
            bit = 1;
            range_ -= split;
            value_ -= split << 8;
        } else {
            range_ = split;
        }
        while (range_ < 128) {
            value_ <<= 1;
            range_ <<= 1;
            if (++bitCount_ == 8) {
                bitCount_ = 0;
                value_ |= Next();
            }
        }
        return bit;
    }
    unsigned Next() { return at_ < data_.size() ? data_[at_++] : 0; }

    std::span<const std::uint8_t> data_;
    std::size_t at_ = 0;
    unsigned value_ = 0, range_ = 255;
    int bitCount_ = 0;
};

// The mean quantiser index (0..127) of a key frame's header, RFC 6386 section 19.2.
std::optional<double> MeanQuantiser(std::span<const std::uint8_t> vp8)
{
    if (vp8.size() < 10 || (vp8[0] & 1) != 0 || vp8[3] != 0x9d || vp8[4] != 0x01 || vp8[5] != 0x2a)
        return std::nullopt;  // not a key frame
    const std::size_t partition = (vp8[0] | vp8[1] << 8 | vp8[2] << 16) >> 5;
    BoolReader r(vp8.subspan(10, std::min(partition, vp8.size() - 10)));
    r.Skip(2, false);  // colour space, clamping
    const bool segmented = r.Literal(1);
    bool absolute = false;
    int segment[4] = {};
    if (segmented) {
        const bool updateMap = r.Literal(1);
        if (r.Literal(1)) {
            absolute = r.Literal(1);
            for (int& q : segment)
                if (r.Literal(1)) q = r.Signed(7);
            for (int i = 0; i < 4; ++i)
                if (r.Literal(1)) r.Skip(6, true);  // loop filter levels
        }
        if (updateMap)
            for (int i = 0; i < 3; ++i)
                if (r.Literal(1)) r.Skip(8, false);
    }
    r.Skip(1 + 6 + 3, false);  // filter type, level, sharpness
    if (r.Literal(1) && r.Literal(1))
        for (int i = 0; i < 8; ++i)
            if (r.Literal(1)) r.Skip(6, true);  // reference frame and mode filter deltas
    r.Skip(2, false);                           // partitions
    const int base = static_cast<int>(r.Literal(7));
    if (!segmented) return base;
    double sum = 0;
    for (const int q : segment)
        sum += std::clamp(absolute ? q : base + q, 0, 127);
    return sum / 4;
}

struct MuxDeleter {
    void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};
struct PixelsDeleter {
    void operator()(std::uint8_t* pixels) const { WebPFree(pixels); }
};
struct PictureOwner {
    WebPPicture picture{};
    bool ready = WebPPictureInit(&picture) != 0;
    ~PictureOwner() { WebPPictureFree(&picture); }
};
struct WriterOwner {
    WebPMemoryWriter writer{};
    WriterOwner() { WebPMemoryWriterInit(&writer); }
    ~WriterOwner() { WebPMemoryWriterClear(&writer); }
};
struct DataOwner {
    WebPData data{};
    ~DataOwner() { WebPDataClear(&data); }
};

// `width` × `height` RGBA pixels encoded lossy at `quality`; empty on failure.
std::vector<std::uint8_t> EncodeLossy(const std::uint8_t* rgba, int width, int height, float quality, int method)
{
    WebPConfig config;
    PictureOwner picture;
    WriterOwner writer;
    if (!WebPConfigInit(&config) || !picture.ready) return {};
    config.quality = quality;
    config.method = method;
    picture.picture.width = width;
    picture.picture.height = height;
    picture.picture.writer = WebPMemoryWrite;
    picture.picture.custom_ptr = &writer.writer;
    if (!WebPPictureImportRGBA(&picture.picture, rgba, width * 4) || !WebPEncode(&config, &picture.picture)) return {};
    return {writer.writer.mem, writer.writer.mem + writer.writer.size};
}

// libwebp turns a quality into one quantiser per segment through each segment's measured
// complexity, so the header alone does not say which quality it was (off by up to 20 on test
// pictures). Encoding the decoded picture again measures nearly the same complexity: the quality
// whose trial quantises like the file did is the file's own, within 3 on the same pictures.
// Quantisers fall as quality rises, so a bisection takes 7 trials; method 2 trials match files
// of the default method 4 as well and cost less.
int QualityFor(double target, const std::uint8_t* rgba, int width, int height)
{
    std::array<std::optional<double>, 101> tried{};
    const auto quantiser = [&](int quality) {
        std::optional<double>& q = tried[static_cast<std::size_t>(quality)];
        if (!q) {
            const std::vector<std::uint8_t> trial = EncodeLossy(rgba, width, height, static_cast<float>(quality), 2);
            q = MeanQuantiser(LossyBitstream(trial)).value_or(target);
        }
        return *q;
    };
    int low = 0, high = 100;  // quantiser(low) >= target >= quantiser(high), as far as known
    while (high - low > 1) {
        const int middle = (low + high) / 2;
        if (quantiser(middle) >= target)
            low = middle;
        else
            high = middle;
    }
    return std::abs(quantiser(low) - target) <= std::abs(quantiser(high) - target) ? low : high;
}

}  // namespace

std::optional<int> EstimateWebPQuality(std::span<const std::uint8_t> webp)
{
    const std::optional<double> target = MeanQuantiser(LossyBitstream(webp));
    if (!target) return std::nullopt;
    int width = 0, height = 0;
    const std::unique_ptr<std::uint8_t, PixelsDeleter> pixels(
        WebPDecodeRGBA(webp.data(), webp.size(), &width, &height));
    if (!pixels) return std::nullopt;
    return QualityFor(*target, pixels.get(), width, height);
}

Result<std::vector<std::uint8_t>> TransformWebP(std::span<const std::uint8_t> webp, PixelTransform t)
{
    if (webp.empty()) return MakeError(ErrorKind::Truncated, "WebP: no data");
    WebPBitstreamFeatures features{};
    if (WebPGetFeatures(webp.data(), webp.size(), &features) != VP8_STATUS_OK)
        return MakeError(ErrorKind::BadHeader, "WebP: not a readable picture");
    if (features.has_animation) return MakeError(ErrorKind::Unsupported, "WebP: animations are not turned");
    if (std::int64_t{features.width} * features.height > kMaxPixels)
        return MakeError(ErrorKind::Unsupported, "WebP: picture too large");

    int width = 0, height = 0;
    const std::unique_ptr<std::uint8_t, PixelsDeleter> pixels(
        WebPDecodeRGBA(webp.data(), webp.size(), &width, &height));
    if (!pixels) return MakeError(ErrorKind::BadHeader, "WebP: picture cannot be decoded");
    const bool swap = SwapsSides(t);
    const int turnedWidth = swap ? height : width, turnedHeight = swap ? width : height;
    std::vector<std::uint8_t> turned(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    TransformPixels({pixels.get(), width, height, static_cast<std::ptrdiff_t>(width) * 4, 32},
                    {turned.data(), turnedWidth, turnedHeight, static_cast<std::ptrdiff_t>(turnedWidth) * 4, 32}, t);

    WebPConfig config;
    if (!WebPConfigInit(&config)) return MakeError(ErrorKind::Unsupported, "WebP: libwebp mismatch");
    const bool lossless = features.format == 2;
    if (lossless) {
        config.lossless = 1;
        config.exact = 1;
    } else {
        const std::optional<double> quantiser = MeanQuantiser(LossyBitstream(webp));
        // A lossy picture that is no plain VP8 key frame is unreachable here; 90 serves it.
        config.quality = static_cast<float>(quantiser ? QualityFor(*quantiser, pixels.get(), width, height) : 90);
    }
    PictureOwner picture;
    WriterOwner writer;
    if (!picture.ready) return MakeError(ErrorKind::Unsupported, "WebP: libwebp mismatch");
    picture.picture.width = turnedWidth;
    picture.picture.height = turnedHeight;
    picture.picture.use_argb = lossless ? 1 : 0;
    // An opaque picture imported with alpha is still written without an alpha channel.
    if (!WebPPictureImportRGBA(&picture.picture, turned.data(), turnedWidth * 4))
        return MakeError(ErrorKind::Unsupported, "WebP: not enough memory for the picture");
    picture.picture.writer = WebPMemoryWrite;
    picture.picture.custom_ptr = &writer.writer;
    if (!WebPEncode(&config, &picture.picture)) return MakeError(ErrorKind::Io, "WebP: the picture cannot be encoded");

    // The new picture takes the old one's place among the file's chunks (ICC profile, EXIF, XMP).
    const WebPData source{webp.data(), webp.size()};
    const std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxCreate(&source, 1));
    const WebPData image{writer.writer.mem, writer.writer.size};
    DataOwner assembled;
    // The canvas size of an extended file is the source's: it turns along.
    if (!mux || WebPMuxSetImage(mux.get(), &image, 1) != WEBP_MUX_OK ||
        WebPMuxSetCanvasSize(mux.get(), turnedWidth, turnedHeight) != WEBP_MUX_OK ||
        WebPMuxAssemble(mux.get(), &assembled.data) != WEBP_MUX_OK)
        return MakeError(ErrorKind::Io, "WebP: the file cannot be put together again");
    return std::vector<std::uint8_t>(assembled.data.bytes, assembled.data.bytes + assembled.data.size);
}

}  // namespace quillix::imaging
