#include "imaging/jpeg_codec.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

namespace quillix::imaging {
namespace {

using test::JpegFixture;
using test::JpegKind;
using test::MeanAbsoluteError;

// The grey a JPEG encoder stores (ITU-R BT.601 luma), shown as RGB.
QImage Luma(const QImage& source)
{
    QImage grey(source.size(), QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x) {
            const QRgb p = source.pixel(x, y);
            const int v = static_cast<int>(0.299 * qRed(p) + 0.587 * qGreen(p) + 0.114 * qBlue(p) + 0.5);
            grey.setPixel(x, y, qRgb(v, v, v));
        }
    return grey;
}

TEST(DecodeJpeg, KindsFromMemoryAndFile)
{
    const QImage source = test::Gradient(67, 41);  // not a multiple of the 8 × 8 blocks
    struct Case {
        const char* name;
        JpegKind kind;
    };
    for (const Case& c : {Case{"baseline", JpegKind::Baseline}, Case{"progressive", JpegKind::Progressive},
                          Case{"grayscale", JpegKind::Grayscale}, Case{"Adobe CMYK", JpegKind::Cmyk}}) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> bytes = JpegFixture(source, 95, c.kind);
        const QImage expected = c.kind == JpegKind::Grayscale ? Luma(source) : source;

        Result<QImage> memory = DecodeJpeg(bytes);
        ASSERT_TRUE(memory) << memory.error().message;
        EXPECT_EQ(memory.value().format(), QImage::Format_RGB32);
        EXPECT_LT(MeanAbsoluteError(memory.value(), expected), 3.0);

        test::TempDir dir;
        test::WriteFile(dir / "a.jpg", bytes);
        Result<QImage> file = DecodeJpegFile(dir / "a.jpg");
        ASSERT_TRUE(file) << file.error().message;
        EXPECT_EQ(file.value(), memory.value());
    }
}

TEST(DecodeJpeg, TinyPicturesKeepTheirColour)
{
    for (const QSize size : {QSize(1, 1), QSize(3, 2)}) {
        QImage source(size, QImage::Format_RGB32);
        source.fill(qRgb(200, 60, 30));
        Result<QImage> image = DecodeJpeg(JpegFixture(source, 100));
        ASSERT_TRUE(image) << image.error().message;
        EXPECT_LT(MeanAbsoluteError(image.value(), source), 3.0);
    }
}

TEST(DecodeJpeg, LargePictureOwnsItsPixels)
{
    // Above the size at which pixels come from a separately allocated buffer.
    const QImage source = test::Gradient(1200, 900);
    Result<QImage> decoded = DecodeJpeg(JpegFixture(source, 95));
    ASSERT_TRUE(decoded) << decoded.error().message;
    EXPECT_LT(MeanAbsoluteError(decoded.value(), source), 3.0);

    QImage copy = decoded.value();
    copy.setPixel(0, 0, qRgb(1, 2, 3));
    EXPECT_NE(decoded.value().pixel(0, 0), qRgb(1, 2, 3)) << "a copy detaches before writing";
    decoded = MakeError(ErrorKind::Io, "released");
    EXPECT_EQ(copy.pixel(0, 0), qRgb(1, 2, 3));
    EXPECT_LT(MeanAbsoluteError(copy, source), 3.0) << "the copy outlives the decoded picture";
}

TEST(DecodeJpeg, MissingFileIsAnIoError)
{
    test::TempDir dir;
    Result<QImage> image = DecodeJpegFile(dir / "none.jpg");
    ASSERT_FALSE(image);
    EXPECT_EQ(image.error().kind, ErrorKind::Io);
}

TEST(DecodeJpeg, DamagedInput)
{
    const std::vector<std::uint8_t> good = JpegFixture(test::Noise(64, 48), 90);
    const auto cut = [&](std::size_t n) { return std::vector<std::uint8_t>(good.begin(), good.begin() + n); };
    std::vector<std::uint8_t> noSoi = good;
    noSoi[1] = 0xD9;
    std::vector<std::uint8_t> zeroWidth = good;
    for (std::size_t i = 2; i + 8 < zeroWidth.size(); ++i)
        if (zeroWidth[i] == 0xFF && zeroWidth[i + 1] == 0xC0) {
            zeroWidth[i + 7] = 0;  // SOF0 width
            zeroWidth[i + 8] = 0;
            break;
        }

    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool decodes;  // a stream cut inside the pixels still shows its top part, as libjpeg does
    };
    const Case cases[] = {
        {"empty", {}, false},
        {"SOI only", cut(2), false},
        {"cut in the tables", cut(100), false},
        {"cut in the pixels", cut(good.size() / 2), true},
        {"last byte missing", cut(good.size() - 1), true},
        {"random bytes", test::PseudoRandomBytes(5000), false},
        {"no start of image", noSoi, false},
        {"zero width", zeroWidth, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<QImage> image = DecodeJpeg(c.bytes);
        ASSERT_EQ(image.ok(), c.decodes) << (image ? "" : image.error().message);
        if (image)
            EXPECT_EQ(image.value().size(), QSize(64, 48));
        else
            EXPECT_FALSE(image.error().message.empty());
    }
}

TEST(DecodeJpegScaled, SmallestEighthThatStillCoversTheMinimum)
{
    const std::vector<std::uint8_t> bytes = JpegFixture(test::Gradient(1000, 500), 85);
    struct Case {
        QSize minimum;
        QSize expected;
    };
    for (const Case& c : {Case{{104, 52}, {125, 63}}, Case{{126, 10}, {250, 125}}, Case{{10, 64}, {250, 125}},
                          Case{{1000, 500}, {1000, 500}}, Case{{2000, 10}, {1000, 500}}}) {
        Result<QImage> image = DecodeJpegScaled(bytes, c.minimum.width(), c.minimum.height());
        ASSERT_TRUE(image) << image.error().message;
        EXPECT_EQ(image.value().size(), c.expected) << c.minimum.width() << " × " << c.minimum.height();
    }
    Result<QSize> size = JpegSize(bytes);
    ASSERT_TRUE(size);
    EXPECT_EQ(size.value(), QSize(1000, 500));
}

TEST(EncodeJpeg, RoundTripAndQuality)
{
    const QImage source = test::Shapes(120, 80);
    Result<std::vector<std::uint8_t>> high = EncodeJpeg(source, 90);
    Result<std::vector<std::uint8_t>> low = EncodeJpeg(source, 10);
    ASSERT_TRUE(high && low);
    EXPECT_LT(low.value().size(), high.value().size());

    Result<QImage> back = DecodeJpeg(high.value());
    ASSERT_TRUE(back) << back.error().message;
    EXPECT_LT(MeanAbsoluteError(back.value(), source), 3.0);

    // Noise outgrows the first output buffer; with the same settings libjpeg's own memory
    // destination must give the same bytes.
    const QImage noise = test::Noise(600, 400).convertToFormat(QImage::Format_RGB32);
    Result<std::vector<std::uint8_t>> big = EncodeJpeg(noise, 100);
    ASSERT_TRUE(big);
    EXPECT_GT(big.value().size(), 64u * 1024);
    EXPECT_EQ(big.value(), JpegFixture(noise, 100));

    QImage translucent(16, 16, QImage::Format_ARGB32);
    translucent.fill(qRgba(200, 100, 50, 64));
    Result<QImage> dropped = DecodeJpeg(EncodeJpeg(translucent, 95).value());
    ASSERT_TRUE(dropped);
    EXPECT_LT(MeanAbsoluteError(dropped.value(), translucent), 3.0) << "alpha is dropped, not blended onto black";

    EXPECT_FALSE(EncodeJpeg(QImage(), 90));
}

}  // namespace
}  // namespace quillix::imaging
