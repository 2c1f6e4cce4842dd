#pragma once

#include "imaging/anim_fixtures.h"
#include "imaging/image_format.h"
#include "support/test_images.h"

#include <webp/encode.h>

#include <QImage>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Small files whose headers claim pictures of a gigabyte or so, each made from a real small file
// of its format: believing the claim costs the memory, and seconds of filling it.
namespace quillix::test {

struct HostileFile {
    std::string name;
    imaging::ImageFormat format;
    std::vector<std::uint8_t> bytes;
    std::int64_t claimedPixels;
};

namespace hostile {

inline std::uint32_t Crc32(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

inline void PutBe(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * (bytes - 1 - i)));
}

inline void PutLe(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void Expect(bool holds, const char* what)
{
    if (!holds) throw std::runtime_error(std::string("hostile fixture: ") + what);
}

// A 2 × 2 PNG whose header (its checksum mended) then claims `side` × `side`.
inline std::vector<std::uint8_t> Png(std::uint32_t side)
{
    PngPlan plan;
    plan.width = plan.height = 2;
    plan.sample = [](int, int, int) { return 255; };
    std::vector<std::uint8_t> b = PngFixture(plan);
    PutBe(b, 16, side, 4);
    PutBe(b, 20, side, 4);
    PutBe(b, 29, Crc32(b.data() + 12, 17), 4);
    return b;
}

// A 16 × 16 baseline JPEG whose frame header then claims `side` × `side`.
inline std::vector<std::uint8_t> Jpeg(std::uint32_t side)
{
    QImage grey(16, 16, QImage::Format_RGB32);
    grey.fill(qRgb(128, 128, 128));
    std::vector<std::uint8_t> b = JpegFixture(grey, 50);
    std::size_t sof = 2;
    while (sof + 9 < b.size() && !(b[sof] == 0xFF && b[sof + 1] == 0xC0))
        ++sof;
    Expect(sof + 9 < b.size(), "no SOF0 marker");
    PutBe(b, sof + 5, side, 2);  // marker, length, precision, then height and width
    PutBe(b, sof + 7, side, 2);
    return b;
}

// A 16 × 16 lossy WebP whose key frame header then claims `side` × `side`.
inline std::vector<std::uint8_t> LossyWebP(std::uint32_t side)
{
    QImage grey(16, 16, QImage::Format_ARGB32);
    grey.fill(qRgb(128, 128, 128));
    std::uint8_t* out = nullptr;
    const std::size_t n =
        WebPEncodeBGRA(grey.constBits(), grey.width(), grey.height(), static_cast<int>(grey.bytesPerLine()), 50, &out);
    std::vector<std::uint8_t> b(out, out + n);
    WebPFree(out);
    Expect(b.size() > 30 && std::string(b.begin() + 12, b.begin() + 16) == "VP8 ", "not a simple lossy WebP");
    PutLe(b, 26, side, 2);  // RIFF and chunk headers, frame tag, start code: then width, height
    PutLe(b, 28, side, 2);
    return b;
}

// An animation of two 1 × 1 frames whose canvas then claims `side` × `side`.
inline std::vector<std::uint8_t> AnimatedWebP(std::uint32_t side)
{
    std::vector<std::uint8_t> b =
        EncodeAnimatedWebP({{Solid(1, 1, qRgb(200, 0, 0)), 100}, {Solid(1, 1, qRgb(0, 0, 200)), 100}}, 0);
    Expect(std::string(b.begin() + 12, b.begin() + 16) == "VP8X", "no VP8X chunk");
    PutLe(b, 24, side - 1, 3);  // canvas width - 1, height - 1
    PutLe(b, 27, side - 1, 3);
    return b;
}

// A `width` × `height` screen holding a 1 × 1 frame; `frameClaims` makes the frame's descriptor
// claim the whole screen over the same few bytes of LZW data.
inline std::vector<std::uint8_t> Gif(int width, int height, bool frameClaims)
{
    GifFixture gif;
    gif.width = width;
    gif.height = height;
    gif.globalColours = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    gif.frames = {FilledGifFrame(0, 0, 1, 1, 1)};
    gif.frames[0].control = false;
    std::vector<std::uint8_t> b = test::EncodeGif(gif);
    Expect(b.size() > 28 && b[19] == 0x2C, "no image descriptor after the colour table");
    if (frameClaims) {
        PutLe(b, 24, static_cast<std::uint32_t>(width), 2);  // separator, left, top, then width, height
        PutLe(b, 26, static_cast<std::uint32_t>(height), 2);
    }
    return b;
}

}  // namespace hostile

// One or more such files of every format, each refused by a decoder that checks its data.
inline std::vector<HostileFile> HostileFiles()
{
    using imaging::ImageFormat;
    constexpr int kSide = 16384;
    constexpr std::int64_t kSquare = std::int64_t{kSide} * kSide;
    // Two full runs, a delta as far as it goes, an end of bitmap.
    const std::vector<std::uint8_t> runs = {255, 0, 255, 0, 0, 2, 255, 255, 0, 1};
    const std::vector<QRgb> black = {qRgb(0, 0, 0)};
    return {
        {"RLE8 runs and a delta", ImageFormat::Bmp, RleBmpFixture(8, kSide, kSide, black, runs), kSquare},
        {"RLE4 runs and a delta", ImageFormat::Bmp, RleBmpFixture(4, kSide, kSide, black, runs), kSquare},
        {"RLE8 only an end of bitmap", ImageFormat::Bmp, RleBmpFixture(8, kSide, kSide, black, {0, 1}), kSquare},
        // 2^27 pixels: as large as the GIF decoder allows a canvas.
        {"GIF frame claiming the screen", ImageFormat::Gif, hostile::Gif(kSide, kSide / 2, true), kSquare / 2},
        {"GIF 1 x 1 frame on a huge screen", ImageFormat::Gif, hostile::Gif(kSide, kSide / 2, false), kSquare / 2},
        {"PNG of 2 x 2 claiming more", ImageFormat::Png, hostile::Png(kSide), kSquare},
        {"JPEG of 16 x 16 claiming more", ImageFormat::Jpeg, hostile::Jpeg(kSide), kSquare},
        {"lossy WebP of 16 x 16 claiming more", ImageFormat::WebP, hostile::LossyWebP(kSide - 1),
         std::int64_t{kSide - 1} * (kSide - 1)},
        {"WebP animation of 1 x 1 frames on a huge canvas", ImageFormat::WebP, hostile::AnimatedWebP(kSide), kSquare},
    };
}

}  // namespace quillix::test
