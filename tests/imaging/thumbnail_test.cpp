#include "imaging/anim_fixtures.h"
#include "imaging/bmp_codec.h"
#include "imaging/png_codec.h"
#include "imaging/thumbnail.h"
#include "support/memory_peak.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

namespace quillix::imaging {
namespace {

constexpr int kBox = 128 - 24;

TEST(ThumbnailSize, ScaleToTheBoxRoundingHalfUp)
{
    struct Case {
        QSize picture;
        int box;
        QSize expected;
    };
    const Case cases[] = {
        {{1000, 500}, kBox, {104, 52}},                                 // the photo of the gallery's own example
        {{500, 1000}, kBox, {52, 104}},  {{50, 50}, kBox, {104, 104}},  // small pictures are enlarged
        {{3, 2}, kBox, {104, 69}},                                      // 2 × 34.67 = 69.33
        {{4000, 3000}, kBox, {104, 78}}, {{1000, 9}, kBox, {104, 1}},   // 0.936 rounds up
        {{1000, 4}, kBox, {104, 0}},                                    // 0.416 rounds down: too thin to draw
        {{1, 1000}, kBox, {0, 104}},     {{0, 10}, kBox, {}},          {{10, 10}, 0, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ThumbnailSize(c.picture.width(), c.picture.height(), c.box), c.expected)
            << c.picture.width() << " × " << c.picture.height() << " in " << c.box;
}

std::vector<std::uint8_t> Encode(ImageFormat format, const QImage& image)
{
    switch (format) {
    case ImageFormat::Jpeg: return test::JpegFixture(image, 92);
    case ImageFormat::Png: return EncodePng(image).value();
    case ImageFormat::Bmp: return EncodeBmp(image).value();
    case ImageFormat::WebP: return test::EncodeStillWebP(image);
    default: return {};
    }
}

TEST(DecodeThumbnail, ExactSizeAndContentForEveryFormat)
{
    struct Case {
        const char* name;
        ImageFormat format;
        QSize picture;
        QSize expected;
    };
    const Case cases[] = {
        {"JPEG photo", ImageFormat::Jpeg, {1000, 500}, {104, 52}},
        {"JPEG upright", ImageFormat::Jpeg, {333, 1000}, {35, 104}},
        {"JPEG enlarged", ImageFormat::Jpeg, {3, 2}, {104, 69}},
        {"PNG", ImageFormat::Png, {1000, 500}, {104, 52}},
        {"PNG enlarged", ImageFormat::Png, {3, 2}, {104, 69}},
        {"BMP", ImageFormat::Bmp, {640, 480}, {104, 78}},
        {"BMP at box size", ImageFormat::Bmp, {104, 52}, {104, 52}},
        {"WebP", ImageFormat::WebP, {1000, 500}, {104, 52}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage source = test::Shapes(c.picture.width(), c.picture.height());
        Result<QImage> thumb = DecodeThumbnail(c.format, Encode(c.format, source), kBox);
        ASSERT_TRUE(thumb) << thumb.error().message;
        ASSERT_EQ(thumb.value().size(), c.expected);
        // Against Qt's smooth scaling of the exact source: blurred edges differ, the shapes not.
        const QImage reference = source.scaled(c.expected, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        EXPECT_LT(test::MeanAbsoluteError(thumb.value().convertToFormat(QImage::Format_RGB32),
                                          reference.convertToFormat(QImage::Format_RGB32)),
                  12.0);
    }
}

TEST(DecodeThumbnail, GifFirstFrame)
{
    test::GifFixture g;
    g.width = 20;
    g.height = 10;
    g.globalColours = {qRgb(255, 0, 0), qRgb(0, 0, 255)};
    g.frames.push_back(test::FilledGifFrame(0, 0, 20, 10, 1));
    g.frames.push_back(test::FilledGifFrame(0, 0, 20, 10, 0));
    Result<QImage> thumb = DecodeThumbnail(ImageFormat::Gif, test::EncodeGif(g), kBox);
    ASSERT_TRUE(thumb) << thumb.error().message;
    ASSERT_EQ(thumb.value().size(), QSize(104, 52));
    EXPECT_EQ(thumb.value().pixel(50, 25) | 0xFF000000u, qRgb(0, 0, 255));
}

TEST(DecodeThumbnail, Failures)
{
    const QImage thin = test::Gradient(1, 1000);
    struct Case {
        const char* name;
        ImageFormat format;
        std::vector<std::uint8_t> bytes;
        ErrorKind kind;
    };
    const Case cases[] = {
        {"JPEG 1 × 1000 has no width", ImageFormat::Jpeg, Encode(ImageFormat::Jpeg, thin), ErrorKind::Unsupported},
        {"PNG 1 × 1000 has no width", ImageFormat::Png, Encode(ImageFormat::Png, thin), ErrorKind::Unsupported},
        {"WebP 1 × 1000 has no width", ImageFormat::WebP, Encode(ImageFormat::WebP, thin), ErrorKind::Unsupported},
        {"PNG bytes as JPEG", ImageFormat::Jpeg, Encode(ImageFormat::Png, thin), ErrorKind::BadHeader},
        {"empty JPEG", ImageFormat::Jpeg, {}, ErrorKind::Truncated},
        {"random WebP", ImageFormat::WebP, test::PseudoRandomBytes(100), ErrorKind::BadHeader},
        {"unknown format", ImageFormat::Unknown, Encode(ImageFormat::Png, thin), ErrorKind::Unsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<QImage> thumb = DecodeThumbnail(c.format, c.bytes, kBox);
        ASSERT_FALSE(thumb);
        EXPECT_EQ(thumb.error().kind, c.kind) << thumb.error().message;
    }
}

// A thumbnail is made from at most one full-size picture at a time: no other frames of an
// animation, no decoder canvases beside it, no converted copy for scaling.
TEST(DecodeThumbnail, HoldsAtMostOneFullSizePicture)
{
    constexpr int kSide = 1500;
    constexpr long kPictureKib = std::int64_t{kSide} * kSide * 4 / 1024;
    QImage translucent(kSide, kSide, QImage::Format_ARGB32);
    translucent.fill(qRgba(200, 100, 50, 128));
    test::GifFixture gif;
    gif.width = gif.height = kSide;
    gif.globalColours = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    for (std::uint8_t i = 0; i < 6; ++i)
        gif.frames.push_back(test::FilledGifFrame(0, 0, kSide, kSide, i % 2));
    const struct {
        const char* name;
        ImageFormat format;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"translucent PNG", ImageFormat::Png, EncodePng(translucent).value()},
        {"GIF of six frames", ImageFormat::Gif, test::EncodeGif(gif)},
        {"WebP animation", ImageFormat::WebP,
         test::EncodeAnimatedWebP({{translucent, 100}, {test::Solid(kSide, kSide, qRgb(1, 2, 3)), 100}}, 0)},
    };
    if (!test::ResetResidentPeak()) GTEST_SKIP() << "the kernel does not let the peak be reset";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ResetResidentPeak();
        const long before = test::StatusKib("VmRSS:");
        const Result<QImage> thumb = DecodeThumbnail(c.format, c.bytes, kBox);
        ASSERT_TRUE(thumb.ok()) << thumb.error().message;
        EXPECT_EQ(thumb.value().size(), QSize(kBox, kBox));
        // The picture and what its decoder needs beside it, well short of a second picture.
        EXPECT_LT(test::StatusKib("VmHWM:") - before, kPictureKib * 8 / 5);
    }
}

}  // namespace
}  // namespace quillix::imaging

namespace quillix::imaging {
namespace {

// libwebp's scaled decoding cannot read an animation, so its thumbnail comes from the first frame.
TEST(DecodeThumbnail, AnimatedWebPShowsItsFirstFrame)
{
    const std::vector<std::uint8_t> anim = test::EncodeAnimatedWebP(
        {{test::Solid(200, 100, qRgb(200, 20, 20)), 100}, {test::Solid(200, 100, qRgb(20, 20, 200)), 100}}, 0);
    const Result<QImage> thumb = DecodeThumbnail(ImageFormat::WebP, anim, kBox);
    ASSERT_TRUE(thumb.ok()) << thumb.error().message;
    EXPECT_EQ(thumb.value().size(), QSize(104, 52));
    EXPECT_GT(qRed(thumb.value().pixel(50, 25)), 150) << "the first, red frame";
}

}  // namespace
}  // namespace quillix::imaging
