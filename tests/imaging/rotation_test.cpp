#include "imaging/rotation.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <webp/decode.h>

#include <functional>
#include <set>

#include <QImage>
#include <gtest/gtest.h>

namespace quillix::imaging {
namespace {

QImage Numbered(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(10 * x + 1, 10 * y + 1, 7, 128));
    return image;
}

TEST(RotateBitmap, QuarterTurnsBothWays)
{
    const QImage src = Numbered(3, 2);
    const QRgb topLeft = qRgb(1, 1, 7);  // alpha dropped: the result is opaque

    const QImage cw = RotateBitmap90(src, 1);
    ASSERT_EQ(cw.size(), QSize(2, 3));
    EXPECT_EQ(cw.pixel(1, 0), topLeft) << "top-left ends top-right";
    EXPECT_EQ(cw.pixel(0, 2), qRgb(21, 11, 7)) << "bottom-right ends bottom-left";

    const QImage ccw = RotateBitmap90(src, -5);
    ASSERT_EQ(ccw.size(), QSize(2, 3));
    EXPECT_EQ(ccw.pixel(0, 2), topLeft) << "top-left ends bottom-left";

    QImage four = src;
    for (int i = 0; i < 4; ++i)
        four = RotateBitmap90(four, 1);
    EXPECT_EQ(four, src.convertToFormat(QImage::Format_RGB32)) << "four turns give back the pixels";
    EXPECT_EQ(RotateBitmap90(RotateBitmap90(src, 1), -1), RotateBitmap90(RotateBitmap90(src, -1), 1));

    EXPECT_TRUE(RotateBitmap90(QImage(), 1).isNull());
}

TEST(SaveWebP, EncodesOpaqueAndReplacesTheFile)
{
    test::TempDir dir;
    const std::string path = dir / "a.webp";
    test::WriteFile(path, "old");
    QImage image(40, 20, QImage::Format_ARGB32);
    image.fill(qRgba(200, 30, 40, 0));
    ASSERT_TRUE(SaveBitmapToWebP(path, image, 250));  // quality is clamped
    const auto bytes = test::ReadFile(path);
    int w = 0, h = 0;
    ASSERT_TRUE(WebPGetInfo(bytes.data(), bytes.size(), &w, &h));
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 20);
    WebPBitstreamFeatures features{};
    ASSERT_EQ(WebPGetFeatures(bytes.data(), bytes.size(), &features), VP8_STATUS_OK);
    EXPECT_FALSE(features.has_alpha) << "alpha is forced to 255";
    std::uint8_t* rgba = WebPDecodeRGBA(bytes.data(), bytes.size(), &w, &h);
    ASSERT_NE(rgba, nullptr);
    EXPECT_NEAR(rgba[0], 200, 12);
    EXPECT_NEAR(rgba[1], 30, 12);
    EXPECT_NEAR(rgba[2], 40, 12);
    WebPFree(rgba);

    EXPECT_FALSE(SaveBitmapToWebP(path, QImage(), 90));
    EXPECT_FALSE(SaveBitmapToWebP(dir / "no/folder/x.webp", image, 90));
    EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"a.webp"});
}

}  // namespace
}  // namespace quillix::imaging

#include "imaging/bmp_codec.h"
#include "imaging/jpeg_codec.h"
#include "imaging/png_codec.h"
#include "imaging/tiff_codec.h"
#include "imaging/tiff_fixtures.h"
#include "imaging/webp_bridge.h"

#include <png.h>

namespace quillix::imaging {
namespace {

// An RGB PNG whose pixels equal to `key` are transparent through tRNS, written with libpng.
std::vector<std::uint8_t> PngWithTransparentColour(const QImage& rgb, QRgb key)
{
    struct Sink {
        static void Write(png_structp png, png_bytep data, png_size_t n)
        {
            auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
            out->insert(out->end(), data, data + n);
        }
        static void Flush(png_structp) {}
    };
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, &Sink::Write, &Sink::Flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(rgb.width()), static_cast<png_uint_32>(rgb.height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color_16 colour{};
    colour.red = static_cast<png_uint_16>(qRed(key));
    colour.green = static_cast<png_uint_16>(qGreen(key));
    colour.blue = static_cast<png_uint_16>(qBlue(key));
    png_set_tRNS(png, info, nullptr, 0, &colour);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<std::size_t>(rgb.width()) * 3);
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb p = rgb.pixel(x, y);
            row[3 * x] = static_cast<png_byte>(qRed(p));
            row[3 * x + 1] = static_cast<png_byte>(qGreen(p));
            row[3 * x + 2] = static_cast<png_byte>(qBlue(p));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Four 8 × 8 blocks, so a quarter turn is easy to tell from a mirror, even after JPEG.
QImage Quadrants(int block = 8)
{
    QImage image(3 * block, 2 * block, QImage::Format_RGB32);
    const QRgb colours[2][3] = {{qRgb(250, 0, 0), qRgb(0, 250, 0), qRgb(0, 0, 250)},
                                {qRgb(250, 250, 0), qRgb(0, 250, 250), qRgb(250, 250, 250)}};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, colours[y / block][x / block]);
    return image;
}

TEST(RotateFile, EveryStillFormatTurnsAQuarter)
{
    struct Row {
        const char* name;
        std::function<std::vector<std::uint8_t>(const QImage&)> encode;
        std::function<Result<QImage>(std::span<const std::uint8_t>)> decode;
        int tolerance;
    };
    const Row rows[] = {
        {"a.bmp", [](const QImage& i) { return EncodeBmp(i).value(); }, [](auto b) { return DecodeBmp(b); }, 0},
        // 24 × 16 at 4:2:0: clockwise moves the DCT blocks, counter-clockwise only the EXIF tag.
        {"a.JPG", [](const QImage& i) { return EncodeJpeg(i, 95).value(); },
         [](auto b) { return DecodeJpegUpright(b); }, 40},
        {"a.png", [](const QImage& i) { return EncodePng(i).value(); }, [](auto b) { return DecodePng(b); }, 0},
        {"a.webp",
         [](const QImage& i) {
             test::TempDir scratch;
             EXPECT_TRUE(SaveBitmapToWebP(scratch / "x.webp", i, 100));
             return test::ReadFile(scratch / "x.webp");
         },
         [](auto b) { return LoadWebPToBitmap(b); }, 40},
        // Only the Orientation tag changes; one written already is combined with the turn.
        {"a.tiff",
         [](const QImage& i) {
             test::TiffPage page;
             page.picture = i;
             return test::TiffFixture(page);
         },
         [](auto b) { return DecodeTiff(b); }, 0},
        {"b.TIF",
         [](const QImage& i) {
             test::TiffPage page;
             page.picture = i.mirrored(true, false);
             page.orientation = 2;  // stored mirrored, shown upright
             return test::TiffFixture(page);
         },
         [](auto b) { return DecodeTiff(b); }, 0},
    };
    for (const Row& row : rows) {
        for (int direction : {1, -1}) {
            SCOPED_TRACE(testing::Message() << row.name << " direction " << direction);
            test::TempDir dir;
            const std::string path = dir / row.name;
            test::WriteFile(path, row.encode(Quadrants()));
            ASSERT_TRUE(RotateImageFile90(path, direction).ok());
            const Result<QImage> turned = row.decode(test::ReadFile(path));
            ASSERT_TRUE(turned.ok()) << turned.error().message;
            ASSERT_EQ(turned.value().size(), QSize(16, 24));
            // The red top-left block ends top-right clockwise, bottom-left counter-clockwise.
            const QPoint red = direction > 0 ? QPoint(12, 3) : QPoint(3, 20);
            EXPECT_LE(test::ChannelDistance(turned.value().pixel(red), qRgb(250, 0, 0)), row.tolerance);
            const QPoint blue = direction > 0 ? QPoint(12, 20) : QPoint(3, 3);  // top-right block
            const QPoint white = direction > 0 ? QPoint(3, 20) : QPoint(12, 3);
            EXPECT_LE(test::ChannelDistance(turned.value().pixel(white), qRgb(250, 250, 250)), row.tolerance);
            EXPECT_LE(test::ChannelDistance(turned.value().pixel(blue), qRgb(0, 0, 250)), row.tolerance);
            EXPECT_EQ(test::FileNames(dir), std::set<std::string>{row.name}) << "no temporary left";
        }
    }
}

TEST(RotateFile, FourTurnsOfABmpGiveItBack)
{
    test::TempDir dir;
    const QImage source = Quadrants(3);
    test::WriteFile(dir / "b.bmp", EncodeBmp(source).value());
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(RotateImageFile90(dir / "b.bmp", 7).ok());
    EXPECT_EQ(DecodeBmp(test::ReadFile(dir / "b.bmp")).value().convertToFormat(QImage::Format_RGB32), source);
}

TEST(RotateFile, TransparentColourStaysTransparent)
{
    test::TempDir dir;
    QImage image = Quadrants(4);
    const QRgb key = qRgb(0, 250, 0);  // the green block
    test::WriteFile(dir / "t.png", PngWithTransparentColour(image, key));
    ASSERT_EQ(qAlpha(DecodePng(test::ReadFile(dir / "t.png")).value().pixel(5, 1)), 0) << "the fixture keys green out";
    ASSERT_TRUE(RotateImageFile90(dir / "t.png", 1).ok());
    const QImage turned = DecodePng(test::ReadFile(dir / "t.png")).value();
    ASSERT_EQ(turned.size(), QSize(8, 12));
    EXPECT_EQ(qAlpha(turned.pixel(6, 5)), 0) << "the green block, now right of centre, is still transparent";
    EXPECT_EQ(qAlpha(turned.pixel(6, 1)), 255);
    EXPECT_EQ(qRed(turned.pixel(6, 1)), 250);
}

TEST(RotateFile, RefusalsAndFailures)
{
    test::TempDir dir;
    test::WriteFile(dir / "$x.jpg", "encrypted");
    test::WriteFile(dir / "a.gif", "GIF89a");
    test::WriteFile(dir / "a.txt", "text");
    test::WriteFile(dir / "anim.webp", std::string("RIFF\x10\0\0\0WEBPVP8X") + std::string(10, '\0') + "ANIM");
    test::WriteFile(dir / "broken.jpg", "\xff\xd8\xff not really");
    test::WriteFile(dir / "same.jpg", "untouched by direction 0");
    test::WriteFile(dir / "phone.HEIC", "any bytes: refused by name");
    test::WriteFile(dir / "web.avif", "any bytes");
    test::WriteFile(dir / "new.jxl", "any bytes");

    using Kind = RotationOutcome::Kind;
    struct Row {
        const char* name;
        int direction;
        Kind kind;
    };
    const Row rows[] = {
        {"same.jpg", 0, Kind::Turned},   {"", 1, Kind::NotTurnable},       {"$x.jpg", 1, Kind::Encrypted},
        {"a.gif", 1, Kind::NotTurnable}, {"a.txt", -1, Kind::NotTurnable}, {"anim.webp", 1, Kind::Animated},
        {"broken.jpg", 1, Kind::Failed}, {"missing.png", 1, Kind::Failed}, {"phone.HEIC", 1, Kind::Lossy},
        {"web.avif", -1, Kind::Lossy},   {"new.jxl", 1, Kind::Lossy},
    };
    for (const Row& row : rows) {
        const std::string path = *row.name ? dir / row.name : std::string();
        const auto before = path.empty() ? std::vector<std::uint8_t>{} : test::ReadFile(path);
        const RotationOutcome outcome = RotateImageFile90(path, row.direction);
        EXPECT_EQ(outcome.kind, row.kind) << row.name;
        EXPECT_EQ(outcome.ok(), row.kind == Kind::Turned) << row.name;
        EXPECT_EQ(outcome.path, path);
        if (!path.empty()) {
            EXPECT_EQ(test::ReadFile(path), before) << row.name << " is left as it was";
        }
    }
}

}  // namespace
}  // namespace quillix::imaging
