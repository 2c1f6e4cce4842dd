#pragma once

#include <cstdio>  // jpeglib.h uses FILE and size_t without including their headers

#include <jpeglib.h>
#include <png.h>

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <vector>

// Pictures made in code, and encoders that turn them into fixture files without going through
// the code under test.
namespace quillix::test {

// Red rises left to right, green top to bottom, blue along the diagonal: smooth, as in photos.
inline QImage Gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int r = width > 1 ? 255 * x / (width - 1) : 128;
            const int g = height > 1 ? 255 * y / (height - 1) : 128;
            image.setPixel(x, y, qRgb(r, g, (r + g) / 2));
        }
    return image;
}

// Every channel, alpha included, independent pseudo-random: any misplaced byte shows.
inline QImage Noise(int width, int height, std::uint32_t seed = 1)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            image.setPixel(x, y, seed);
        }
    return image;
}

// A dark disc and a bar on white: edges at known places.
inline QImage Shapes(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    const int cx = width / 3, cy = height / 2, radius = std::min(width, height) / 4;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            QRgb c = qRgb(255, 255, 255);
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) c = qRgb(20, 40, 160);
            if (x >= 2 * width / 3 && x < 2 * width / 3 + std::max(1, width / 10)) c = qRgb(200, 30, 30);
            image.setPixel(x, y, c);
        }
    return image;
}

// The largest difference of the two colours' red, green and blue levels.
inline int ChannelDistance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// Mean absolute difference over R, G and B; infinity when the sizes differ.
inline double MeanAbsoluteError(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull()) return 1e9;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

// Cmyk stores inverted ink as Photoshop does (with an Adobe marker): R, G, B, 255 for C, M, Y, K.
enum class JpegKind { Baseline, Progressive, Grayscale, Cmyk };

// libjpeg with its default error handling, which ends the program: fixtures are valid by construction.
inline std::vector<std::uint8_t> JpegFixture(const QImage& source, int quality, JpegKind kind = JpegKind::Baseline)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(image.width());
    info.image_height = static_cast<JDIMENSION>(image.height());
    const bool cmyk = kind == JpegKind::Cmyk;
    info.input_components = cmyk ? 4 : 3;
    info.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (kind == JpegKind::Grayscale) jpeg_set_colorspace(&info, JCS_GRAYSCALE);
    if (kind == JpegKind::Progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<std::uint8_t> inks(static_cast<std::size_t>(image.width()) * 4, 255);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.constScanLine(static_cast<int>(info.next_scanline)));
        if (cmyk) {
            for (int x = 0; x < image.width(); ++x)
                for (int c = 0; c < 3; ++c)
                    inks[static_cast<std::size_t>(4 * x + c)] = row[3 * x + c];
            row = inks.data();
        }
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// A PNG as libpng writes it from raw samples: `sample(x, y, channel)` at `bitDepth` for every
// channel of `colorType`.
struct PngPlan {
    int width = 0, height = 0;
    int colorType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::function<int(int x, int y, int channel)> sample;
    std::vector<png_color> palette;
    std::vector<std::uint8_t> paletteAlpha;   // tRNS for palette pictures
    std::optional<png_color_16> transparent;  // tRNS colour for grey and RGB pictures
};

inline int PngChannels(int colorType)
{
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    default: return 4;
    }
}

namespace detail {
inline void AppendPng(png_structp png, png_bytep data, png_size_t size)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}
inline void FlushPng(png_structp) {}
}  // namespace detail

inline std::vector<std::uint8_t> PngFixture(const PngPlan& plan)
{
    const int channels = PngChannels(plan.colorType);
    const std::size_t rowBytes = (static_cast<std::size_t>(plan.width) * channels * plan.bitDepth + 7) / 8;
    std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(plan.height),
                                                std::vector<std::uint8_t>(rowBytes, 0));
    for (int y = 0; y < plan.height; ++y) {
        std::size_t bit = 0;
        for (int x = 0; x < plan.width; ++x)
            for (int c = 0; c < channels; ++c) {
                const unsigned v = static_cast<unsigned>(plan.sample(x, y, c));
                auto& row = rows[static_cast<std::size_t>(y)];
                if (plan.bitDepth == 16) {
                    row[bit / 8] = static_cast<std::uint8_t>(v >> 8);
                    row[bit / 8 + 1] = static_cast<std::uint8_t>(v);
                } else {
                    row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - plan.bitDepth - bit % 8));
                }
                bit += static_cast<std::size_t>(plan.bitDepth);
            }
    }

    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, detail::AppendPng, detail::FlushPng);
    png_set_IHDR(png, info, static_cast<png_uint_32>(plan.width), static_cast<png_uint_32>(plan.height), plan.bitDepth,
                 plan.colorType, plan.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!plan.palette.empty()) png_set_PLTE(png, info, plan.palette.data(), static_cast<int>(plan.palette.size()));
    if (!plan.paletteAlpha.empty())
        png_set_tRNS(png, info, plan.paletteAlpha.data(), static_cast<int>(plan.paletteAlpha.size()), nullptr);
    if (plan.transparent) {
        png_color_16 colour = *plan.transparent;
        png_set_tRNS(png, info, nullptr, 0, &colour);
    }
    std::vector<png_bytep> pointers;
    for (auto& row : rows)
        pointers.push_back(row.data());
    png_set_rows(png, info, pointers.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A bitmap written byte by byte: `bits` 1, 4 or 8 use `palette` and `index(x, y)`; 24 and 32
// take `pixel(x, y)`. Rows are padded to 4 bytes; a negative height in the header for top-down.
struct BmpPlan {
    int width = 0, height = 0;
    int bits = 24;
    bool topDown = false;
    std::vector<QRgb> palette;
    std::function<int(int x, int y)> index;
    std::function<QRgb(int x, int y)> pixel;
};

inline std::vector<std::uint8_t> BmpFixture(const BmpPlan& plan)
{
    const std::size_t stride = (static_cast<std::size_t>(plan.width) * plan.bits + 31) / 32 * 4;
    const std::size_t paletteSize = plan.palette.size() * 4;
    const std::size_t pixelsAt = 14 + 40 + paletteSize;
    std::vector<std::uint8_t> out(pixelsAt + stride * static_cast<std::size_t>(plan.height), 0);
    const auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put(2, static_cast<std::uint32_t>(out.size()), 4);
    put(10, static_cast<std::uint32_t>(pixelsAt), 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(plan.width), 4);
    put(22, static_cast<std::uint32_t>(plan.topDown ? -plan.height : plan.height), 4);
    put(26, 1, 2);
    put(28, static_cast<std::uint32_t>(plan.bits), 2);
    put(46, static_cast<std::uint32_t>(plan.palette.size()), 4);
    for (std::size_t i = 0; i < plan.palette.size(); ++i)
        put(54 + 4 * i, plan.palette[i] & 0xFFFFFF, 4);
    for (int y = 0; y < plan.height; ++y) {
        const std::size_t fileRow = static_cast<std::size_t>(plan.topDown ? y : plan.height - 1 - y);
        std::uint8_t* row = out.data() + pixelsAt + stride * fileRow;
        for (int x = 0; x < plan.width; ++x) {
            if (plan.bits <= 8) {
                const int bit = x * plan.bits;
                row[bit / 8] |= static_cast<std::uint8_t>(plan.index(x, y) << (8 - plan.bits - bit % 8));
                continue;
            }
            const QRgb c = plan.pixel(x, y);
            const std::size_t at = static_cast<std::size_t>(x) * static_cast<std::size_t>(plan.bits / 8);
            row[at] = static_cast<std::uint8_t>(qBlue(c));
            row[at + 1] = static_cast<std::uint8_t>(qGreen(c));
            row[at + 2] = static_cast<std::uint8_t>(qRed(c));
            if (plan.bits == 32) row[at + 3] = static_cast<std::uint8_t>(qAlpha(c));
        }
    }
    return out;
}

// A bitmap whose pixel data is the run-length stream `rle` exactly as given: RLE8 for 8 bits,
// RLE4 for 4. A negative height writes a top-down header.
inline std::vector<std::uint8_t> RleBmpFixture(int bits, int width, int height, const std::vector<QRgb>& palette,
                                               const std::vector<std::uint8_t>& rle)
{
    const std::size_t pixelsAt = 14 + 40 + palette.size() * 4;
    std::vector<std::uint8_t> out(pixelsAt, 0);
    const auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put(2, static_cast<std::uint32_t>(pixelsAt + rle.size()), 4);
    put(10, static_cast<std::uint32_t>(pixelsAt), 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(width), 4);
    put(22, static_cast<std::uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, static_cast<std::uint32_t>(bits), 2);
    put(30, bits == 8 ? 1 : 2, 4);
    put(34, static_cast<std::uint32_t>(rle.size()), 4);
    put(46, static_cast<std::uint32_t>(palette.size()), 4);
    for (std::size_t i = 0; i < palette.size(); ++i)
        put(54 + 4 * i, palette[i] & 0xFFFFFF, 4);
    out.insert(out.end(), rle.begin(), rle.end());
    return out;
}

}  // namespace quillix::test
