#include "viewer/picture_scaling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quillix::viewer {
namespace {

QImage Noise(int width, int height, QImage::Format format, std::uint32_t seed)
{
    QImage image(width, height, format);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            QRgb pixel = seed;
            if (format == QImage::Format_RGB32) pixel |= 0xff000000u;
            if (format == QImage::Format_ARGB32_Premultiplied) pixel = qPremultiply(pixel);
            image.setPixel(x, y, pixel);
        }
    }
    return image;
}

// The mean of the source area under destination pixel (x, y), weighted by coverage, computed the
// slow way in premultiplied doubles.
QRgb Reference(const QImage& source, QSize size, int x, int y)
{
    const double sx = static_cast<double>(source.width()) / size.width();
    const double sy = static_cast<double>(source.height()) / size.height();
    double sum[4] = {0, 0, 0, 0};
    for (int v = static_cast<int>(y * sy); v < std::ceil((y + 1) * sy) && v < source.height(); ++v) {
        const double hy = std::min((y + 1) * sy, v + 1.0) - std::max(y * sy, static_cast<double>(v));
        for (int u = static_cast<int>(x * sx); u < std::ceil((x + 1) * sx) && u < source.width(); ++u) {
            const double hx = std::min((x + 1) * sx, u + 1.0) - std::max(x * sx, static_cast<double>(u));
            QRgb p = source.pixel(u, v);
            if (source.format() == QImage::Format_ARGB32) p = qPremultiply(p);
            const double w = hx * hy / (sx * sy);
            sum[0] += w * qRed(p);
            sum[1] += w * qGreen(p);
            sum[2] += w * qBlue(p);
            sum[3] += w * qAlpha(p);
        }
    }
    return qRgba(static_cast<int>(std::lround(sum[0])), static_cast<int>(std::lround(sum[1])),
                 static_cast<int>(std::lround(sum[2])), static_cast<int>(std::lround(sum[3])));
}

TEST(ShrinkImage, AveragesTheCoveredAreaInEveryFormat)
{
    struct Case {
        QImage::Format format;
        QSize from;
        QSize to;
        QImage::Format result;
    };
    const Case cases[] = {
        {QImage::Format_RGB32, {37, 23}, {10, 7}, QImage::Format_RGB32},
        {QImage::Format_RGB32, {64, 48}, {64, 48}, QImage::Format_RGB32},
        {QImage::Format_RGB32, {100, 3}, {3, 1}, QImage::Format_RGB32},
        {QImage::Format_ARGB32, {41, 29}, {17, 11}, QImage::Format_ARGB32_Premultiplied},
        {QImage::Format_ARGB32_Premultiplied, {30, 30}, {7, 13}, QImage::Format_ARGB32_Premultiplied},
        {QImage::Format_RGB32, {9, 9}, {1, 1}, QImage::Format_RGB32},
    };
    std::uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from.width() << "x" << c.from.height() << " to " << c.to.width() << "x"
                                        << c.to.height() << ", format " << c.format);
        const QImage source = Noise(c.from.width(), c.from.height(), c.format, seed++);
        const QImage shrunk = ShrinkImage(source, c.to);
        ASSERT_EQ(shrunk.size(), c.to);
        EXPECT_EQ(shrunk.format(), c.result);
        int worst = 0;
        for (int y = 0; y < c.to.height(); ++y) {
            for (int x = 0; x < c.to.width(); ++x) {
                // pixel() gives a premultiplied format's values as stored.
                const QRgb got = shrunk.pixel(x, y), want = Reference(source, c.to, x, y);
                worst = std::max({worst, std::abs(qRed(got) - qRed(want)), std::abs(qGreen(got) - qGreen(want)),
                                  std::abs(qBlue(got) - qBlue(want)), std::abs(qAlpha(got) - qAlpha(want))});
            }
        }
        // Two passes round twice.
        EXPECT_LE(worst, 2);
    }
}

TEST(ShrinkImage, TransparentPixelsLendNoColour)
{
    // Invisible red beside opaque blue: the mixed pixel is blue, half covered, never purple.
    QImage source(4, 1, QImage::Format_ARGB32);
    source.setPixel(0, 0, qRgba(255, 0, 0, 0));
    source.setPixel(1, 0, qRgba(255, 0, 0, 0));
    source.setPixel(2, 0, qRgba(0, 0, 255, 255));
    source.setPixel(3, 0, qRgba(0, 0, 255, 255));
    const QImage shrunk = ShrinkImage(source, QSize(1, 1));
    ASSERT_EQ(shrunk.format(), QImage::Format_ARGB32_Premultiplied);
    const QRgb pixel = shrunk.pixel(0, 0);
    EXPECT_EQ(qRed(pixel), 0);
    EXPECT_NEAR(qBlue(pixel), 128, 1);
    EXPECT_NEAR(qAlpha(pixel), 128, 1);
}

TEST(ShrinkImage, LeavesEnlargingAndOtherFormatsToQt)
{
    const QImage small = Noise(4, 4, QImage::Format_RGB32, 3);
    EXPECT_EQ(ShrinkImage(small, QSize(8, 2)).size(), QSize(8, 2));
    QImage grey(10, 10, QImage::Format_Grayscale8);
    grey.fill(128);
    const QImage shrunk = ShrinkImage(grey, QSize(5, 5));
    EXPECT_EQ(shrunk.size(), QSize(5, 5));
    EXPECT_EQ(qGray(shrunk.pixel(2, 2)), 128);
    EXPECT_TRUE(ShrinkImage(QImage(), QSize(2, 2)).isNull());
}

}  // namespace
}  // namespace quillix::viewer
