#include "imaging/rotation.h"
#include "support/temp_dir.h"

#include <webp/decode.h>

#include <QImage>
#include <gtest/gtest.h>

namespace quillix::imaging {
namespace {

QImage Numbered(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgba(10 * x + 1, 10 * y + 1, 7, 128));
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
    for (int i = 0; i < 4; ++i) four = RotateBitmap90(four, 1);
    EXPECT_EQ(four, src.convertToFormat(QImage::Format_RGB32)) << "four turns give back the pixels";
    EXPECT_EQ(RotateBitmap90(RotateBitmap90(src, 1), -1), RotateBitmap90(RotateBitmap90(src, -1), 1));

    EXPECT_TRUE(RotateBitmap90(QImage(), 1).isNull());
}

TEST(SaveWebP, EncodesOpaqueAndReplacesTheFile)
{
    test::TempDir dir;
    const std::string path = dir / "a.webp";
    test::WriteFile(path, "old");
    EXPECT_TRUE(EnsureWebPEncoder());
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
