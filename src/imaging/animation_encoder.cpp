#include "imaging/animation_encoder.h"

#include "imaging/gif_codec.h"

#include <gif_lib.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace quillix::imaging {
namespace {

static_assert(kGifDisposalUnspecified == DISPOSAL_UNSPECIFIED && kGifNoTransparentColour == NO_TRANSPARENT_COLOR);

class GifColourMap {
public:
    // GIF colour maps hold a power of two entries; the rest are black.
    explicit GifColourMap(const std::vector<QRgb>& colours)
    {
        if (colours.empty()) return;
        int count = 2;
        while (count < static_cast<int>(colours.size()))
            count *= 2;
        std::vector<GifColorType> entries(static_cast<std::size_t>(count), GifColorType{0, 0, 0});
        for (std::size_t i = 0; i < colours.size(); ++i)
            entries[i] =
                GifColorType{static_cast<GifByteType>(qRed(colours[i])), static_cast<GifByteType>(qGreen(colours[i])),
                             static_cast<GifByteType>(qBlue(colours[i]))};
        map_ = GifMakeMapObject(count, entries.data());
    }
    ~GifColourMap() { GifFreeMapObject(map_); }
    GifColourMap(const GifColourMap&) = delete;
    GifColourMap& operator=(const GifColourMap&) = delete;

    ColorMapObject* get() const { return map_; }

private:
    ColorMapObject* map_ = nullptr;
};

struct GifWriter {
    GifFileType* gif = nullptr;
    ~GifWriter() { Close(); }
    // Safe to call again: the handle is gone after the first call.
    bool Close()
    {
        if (!gif) return true;
        int error = 0;
        return EGifCloseFile(std::exchange(gif, nullptr), &error) == GIF_OK;
    }
};

int AppendToVector(GifFileType* gif, const GifByteType* data, int size)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + size);
    return size;
}

Error GifError(const char* what)
{
    return MakeError(ErrorKind::Io, std::string("GIF: cannot write the ") + what);
}

Result<void> PutFrame(GifFileType* gif, const GifEncodeFrame& f)
{
    if (f.width < 0 || f.height < 0 || f.indices.size() < static_cast<std::size_t>(f.width) * f.height)
        return MakeError(ErrorKind::Unsupported, "GIF: a frame has fewer colour indices than pixels");
    if (f.localColours.size() > 256) return MakeError(ErrorKind::Unsupported, "GIF: more than 256 colours");
    if (f.control) {
        GraphicsControlBlock gcb{f.disposal, false, f.delayCs, f.transparent};
        GifByteType extension[4];
        const std::size_t length = EGifGCBToExtension(&gcb, extension);
        if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) != GIF_OK)
            return GifError("graphics control extension");
    }
    const GifColourMap local(f.localColours);
    // giflib 5.2.1 forgets the frame before's local map, without freeing it, when this frame has none.
    if (!local.get()) {
        GifFreeMapObject(gif->Image.ColorMap);
        gif->Image.ColorMap = nullptr;
    }
    if (EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlace, local.get()) != GIF_OK)
        return GifError("image descriptor");
    std::vector<GifPixelType> line(static_cast<std::size_t>(f.width));
    for (const int y : GifRowOrder(f.height, f.interlace)) {
        const auto start = f.indices.begin() + static_cast<std::ptrdiff_t>(y) * f.width;
        std::copy(start, start + f.width, line.begin());
        if (EGifPutLine(gif, line.data(), f.width) != GIF_OK) return GifError("pixels");
    }
    return {};
}

struct PictureOwner {
    WebPPicture picture{};
    bool valid = false;
    PictureOwner() { valid = WebPPictureInit(&picture) != 0; }
    ~PictureOwner() { WebPPictureFree(&picture); }
    PictureOwner(const PictureOwner&) = delete;
    PictureOwner& operator=(const PictureOwner&) = delete;
};

// Copies `source` into `picture` as libwebp's ARGB words, which are QRgb's layout.
bool ImportPicture(const QImage& source, WebPPicture& picture)
{
    const QImage argb = source.convertToFormat(QImage::Format_ARGB32);
    picture.use_argb = 1;
    picture.width = argb.width();
    picture.height = argb.height();
    if (!WebPPictureAlloc(&picture)) return false;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        std::copy(row, row + argb.width(), picture.argb + static_cast<std::ptrdiff_t>(y) * picture.argb_stride);
    }
    return true;
}

bool MakeConfig(WebPConfig& config, bool lossless, int quality)
{
    if (WebPConfigInit(&config) == 0) return false;
    config.lossless = lossless ? 1 : 0;
    config.quality = static_cast<float>(std::clamp(quality, 0, 100));
    // Keeps the colour under transparent pixels, so a decoded picture compares pixel for pixel.
    config.exact = lossless ? 1 : 0;
    return WebPValidateConfig(&config) != 0;
}

}  // namespace

Result<std::vector<std::uint8_t>> EncodeGif(const GifEncodeInput& input)
{
    if (input.globalColours.size() > 256) return MakeError(ErrorKind::Unsupported, "GIF: more than 256 colours");
    std::vector<std::uint8_t> out;
    int error = 0;
    GifWriter writer{EGifOpen(&out, &AppendToVector, &error)};
    if (!writer.gif) return MakeError(ErrorKind::Io, "GIF: cannot start the encoder");

    EGifSetGifVersion(writer.gif, true);
    const GifColourMap global(input.globalColours);
    if (EGifPutScreenDesc(writer.gif, input.width, input.height, 8, 0, global.get()) != GIF_OK)
        return GifError("screen descriptor");
    if (input.loopCount) {
        const GifByteType loop[3] = {1, static_cast<GifByteType>(*input.loopCount & 0xFF),
                                     static_cast<GifByteType>(*input.loopCount >> 8 & 0xFF)};
        if (EGifPutExtensionLeader(writer.gif, APPLICATION_EXT_FUNC_CODE) != GIF_OK ||
            EGifPutExtensionBlock(writer.gif, 11, "NETSCAPE2.0") != GIF_OK ||
            EGifPutExtensionBlock(writer.gif, 3, loop) != GIF_OK || EGifPutExtensionTrailer(writer.gif) != GIF_OK)
            return GifError("loop extension");
    }
    for (const GifEncodeFrame& frame : input.frames)
        if (Result<void> put = PutFrame(writer.gif, frame); !put) return put.error();
    // Closing writes the trailer byte, so its failure is the encoding's.
    if (!writer.Close()) return GifError("trailer");
    return out;
}

Result<std::vector<std::uint8_t>> EncodeStillWebP(const QImage& picture)
{
    if (picture.isNull()) return MakeError(ErrorKind::Unsupported, "WebP: empty picture");
    WebPConfig config;
    if (!MakeConfig(config, true, 75)) return MakeError(ErrorKind::Io, "WebP: no encoder configuration");
    PictureOwner owner;
    if (!owner.valid || !ImportPicture(picture, owner.picture))
        return MakeError(ErrorKind::Io, "WebP: not enough memory for the picture");

    struct WriterOwner {
        WebPMemoryWriter writer;
        WriterOwner() { WebPMemoryWriterInit(&writer); }
        ~WriterOwner() { WebPMemoryWriterClear(&writer); }
    } memory;
    owner.picture.writer = WebPMemoryWrite;
    owner.picture.custom_ptr = &memory.writer;
    if (WebPEncode(&config, &owner.picture) == 0) return MakeError(ErrorKind::Io, "WebP: the encoder failed");
    return std::vector<std::uint8_t>(memory.writer.mem, memory.writer.mem + memory.writer.size);
}

Result<std::vector<std::uint8_t>> EncodeAnimatedWebP(const std::vector<WebPAnimationFrame>& frames,
                                                     const WebPAnimationOptions& options)
{
    if (frames.empty()) return MakeError(ErrorKind::Unsupported, "WebP: an animation needs frames");
    const QSize canvas = frames.front().image.size();
    if (canvas.isEmpty()) return MakeError(ErrorKind::Unsupported, "WebP: empty canvas");
    for (const WebPAnimationFrame& f : frames)
        if (f.image.size() != canvas) return MakeError(ErrorKind::Unsupported, "WebP: frames of different sizes");

    WebPAnimEncoderOptions animOptions;
    if (WebPAnimEncoderOptionsInit(&animOptions) == 0) return MakeError(ErrorKind::Io, "WebP: no encoder options");
    animOptions.anim_params.loop_count = options.loopCount;
    if (options.keyFramesOnly) animOptions.kmax = 1;
    const std::unique_ptr<WebPAnimEncoder, decltype(&WebPAnimEncoderDelete)> encoder(
        WebPAnimEncoderNew(canvas.width(), canvas.height(), &animOptions), &WebPAnimEncoderDelete);
    if (!encoder) return MakeError(ErrorKind::Io, "WebP: cannot start the animation encoder");
    WebPConfig config;
    if (!MakeConfig(config, options.lossless, options.quality))
        return MakeError(ErrorKind::Io, "WebP: no encoder configuration");

    int timestamp = 0;
    for (const WebPAnimationFrame& f : frames) {
        PictureOwner owner;
        if (!owner.valid || !ImportPicture(f.image, owner.picture))
            return MakeError(ErrorKind::Io, "WebP: not enough memory for a frame");
        if (WebPAnimEncoderAdd(encoder.get(), &owner.picture, timestamp, &config) == 0)
            return MakeError(ErrorKind::Io, std::string("WebP: ") + WebPAnimEncoderGetError(encoder.get()));
        timestamp += f.durationMs;
    }
    // A last call without a picture gives the final frame its duration.
    if (WebPAnimEncoderAdd(encoder.get(), nullptr, timestamp, nullptr) == 0)
        return MakeError(ErrorKind::Io, std::string("WebP: ") + WebPAnimEncoderGetError(encoder.get()));

    struct DataOwner {
        WebPData data;
        DataOwner() { WebPDataInit(&data); }
        ~DataOwner() { WebPDataClear(&data); }
    } assembled;
    if (WebPAnimEncoderAssemble(encoder.get(), &assembled.data) == 0)
        return MakeError(ErrorKind::Io, std::string("WebP: ") + WebPAnimEncoderGetError(encoder.get()));
    return std::vector<std::uint8_t>(assembled.data.bytes, assembled.data.bytes + assembled.data.size);
}

}  // namespace quillix::imaging
