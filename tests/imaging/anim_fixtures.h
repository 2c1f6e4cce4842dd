#pragma once

#include <gif_lib.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <QImage>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

// Small animated GIF and WebP files built in the test with the libraries' own encoders.
namespace quillix::test {

struct GifFixtureFrame {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<std::uint8_t> indices;  // width × height colour indices, rows top first
    std::vector<QRgb> localColours;     // empty: the frame uses the global colour map
    int delayCs = 0;                    // hundredths of a second
    int disposal = DISPOSAL_UNSPECIFIED;
    int transparent = NO_TRANSPARENT_COLOR;
    bool interlace = false;
    bool control = true;  // write a graphics control extension
};

struct GifFixture {
    int width = 0, height = 0;
    std::vector<QRgb> globalColours;  // empty: no global colour map
    std::optional<int> loopCount;     // NETSCAPE2.0 extension when set
    std::vector<GifFixtureFrame> frames;
};

inline GifFixtureFrame FilledGifFrame(int left, int top, int width, int height, std::uint8_t index)
{
    GifFixtureFrame f;
    f.left = left;
    f.top = top;
    f.width = width;
    f.height = height;
    f.indices.assign(static_cast<std::size_t>(width * height), index);
    return f;
}

namespace detail {

struct GifColourMap {
    ColorMapObject* map = nullptr;
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
        map = GifMakeMapObject(count, entries.data());
    }
    ~GifColourMap() { GifFreeMapObject(map); }
    GifColourMap(const GifColourMap&) = delete;
    GifColourMap& operator=(const GifColourMap&) = delete;
};

inline int WriteToVector(GifFileType* gif, const GifByteType* data, int size)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + size);
    return size;
}

inline void Check(bool ok, const char* what)
{
    if (!ok) throw std::runtime_error(what);
}

}  // namespace detail

// Throws when giflib refuses the fixture, so a broken fixture fails the test loudly.
inline std::vector<std::uint8_t> EncodeGif(const GifFixture& fixture)
{
    std::vector<std::uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, &detail::WriteToVector, &error);
    detail::Check(gif != nullptr, "EGifOpen");
    struct Closer {
        GifFileType* g;
        ~Closer()
        {
            int e = 0;
            if (g) EGifCloseFile(g, &e);
        }
    } closer{gif};

    EGifSetGifVersion(gif, true);
    const detail::GifColourMap global(fixture.globalColours);
    detail::Check(EGifPutScreenDesc(gif, fixture.width, fixture.height, 8, 0, global.map) == GIF_OK, "screen");
    if (fixture.loopCount) {
        const GifByteType loop[3] = {1, static_cast<GifByteType>(*fixture.loopCount & 0xFF),
                                     static_cast<GifByteType>(*fixture.loopCount >> 8 & 0xFF)};
        detail::Check(EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
                          EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") == GIF_OK &&
                          EGifPutExtensionBlock(gif, 3, loop) == GIF_OK && EGifPutExtensionTrailer(gif) == GIF_OK,
                      "loop extension");
    }
    for (const GifFixtureFrame& f : fixture.frames) {
        if (f.control) {
            GraphicsControlBlock gcb{f.disposal, false, f.delayCs, f.transparent};
            GifByteType ext[4];
            const std::size_t len = EGifGCBToExtension(&gcb, ext);
            detail::Check(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(len), ext) == GIF_OK, "gcb");
        }
        const detail::GifColourMap local(f.localColours);
        detail::Check(EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlace, local.map) == GIF_OK,
                      "image descriptor");
        std::vector<int> rows;
        if (f.interlace) {
            for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
                for (int y = start; y < f.height; y += step)
                    rows.push_back(y);
        } else {
            for (int y = 0; y < f.height; ++y)
                rows.push_back(y);
        }
        for (const int y : rows) {
            std::vector<GifPixelType> line(f.indices.begin() + y * f.width, f.indices.begin() + (y + 1) * f.width);
            detail::Check(EGifPutLine(gif, line.data(), f.width) == GIF_OK, "line");
        }
    }
    closer.g = nullptr;
    detail::Check(EGifCloseFile(gif, &error) == GIF_OK, "EGifCloseFile");
    return out;
}

inline QImage Solid(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

struct WebPFixtureFrame {
    QImage image;  // canvas-sized
    int durationMs = 100;
};

namespace detail {

inline bool ImportPicture(const QImage& source, WebPPicture& picture)
{
    const QImage argb = source.convertToFormat(QImage::Format_ARGB32);
    picture.use_argb = 1;
    picture.width = argb.width();
    picture.height = argb.height();
    if (!WebPPictureAlloc(&picture)) return false;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        std::copy(row, row + argb.width(), picture.argb + y * picture.argb_stride);
    }
    return true;
}

inline WebPConfig LosslessConfig()
{
    WebPConfig config;
    Check(WebPConfigInit(&config) != 0, "WebPConfigInit");
    config.lossless = 1;
    config.exact = 1;  // keep the colour under transparent pixels, so pixels compare exactly
    return config;
}

}  // namespace detail

// A lossless still WebP.
inline std::vector<std::uint8_t> EncodeStillWebP(const QImage& image)
{
    const WebPConfig config = detail::LosslessConfig();
    WebPPicture picture;
    detail::Check(WebPPictureInit(&picture) != 0, "WebPPictureInit");
    detail::Check(detail::ImportPicture(image, picture), "picture");
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    const bool ok = WebPEncode(&config, &picture) != 0;
    WebPPictureFree(&picture);
    std::vector<std::uint8_t> out(writer.mem, writer.mem + writer.size);
    WebPMemoryWriterClear(&writer);
    detail::Check(ok, "WebPEncode");
    return out;
}

// A lossless animated WebP; every frame should differ from the one before, or the encoder merges them.
inline std::vector<std::uint8_t> EncodeAnimatedWebP(const std::vector<WebPFixtureFrame>& frames, int loopCount)
{
    detail::Check(!frames.empty(), "no frames");
    const int w = frames.front().image.width(), h = frames.front().image.height();
    WebPAnimEncoderOptions options;
    detail::Check(WebPAnimEncoderOptionsInit(&options) != 0, "options");
    options.anim_params.loop_count = loopCount;
    options.kmax = 1;  // every frame a key frame: no sub-rectangles to reason about
    std::unique_ptr<WebPAnimEncoder, decltype(&WebPAnimEncoderDelete)> encoder(WebPAnimEncoderNew(w, h, &options),
                                                                               &WebPAnimEncoderDelete);
    detail::Check(encoder != nullptr, "WebPAnimEncoderNew");
    const WebPConfig config = detail::LosslessConfig();
    int timestamp = 0;
    for (const WebPFixtureFrame& f : frames) {
        WebPPicture picture;
        detail::Check(WebPPictureInit(&picture) != 0, "WebPPictureInit");
        detail::Check(detail::ImportPicture(f.image, picture), "picture");
        const bool ok = WebPAnimEncoderAdd(encoder.get(), &picture, timestamp, &config) != 0;
        WebPPictureFree(&picture);
        detail::Check(ok, "WebPAnimEncoderAdd");
        timestamp += f.durationMs;
    }
    detail::Check(WebPAnimEncoderAdd(encoder.get(), nullptr, timestamp, nullptr) != 0, "final timestamp");
    WebPData data;
    WebPDataInit(&data);
    detail::Check(WebPAnimEncoderAssemble(encoder.get(), &data) != 0, "assemble");
    std::vector<std::uint8_t> out(data.bytes, data.bytes + data.size);
    WebPDataClear(&data);
    return out;
}

}  // namespace quillix::test
