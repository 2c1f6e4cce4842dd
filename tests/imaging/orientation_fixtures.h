#pragma once

#include <QImage>
#include <QPoint>
#include <gtest/gtest.h>

#include <cstdlib>

// Pictures for orientation and turn tests: what a camera stores for a shown picture, and checks
// that survive JPEG's losses.
namespace quillix::test {

// Where the stored pixel (sx, sy) of a sw × sh picture is shown, written from the EXIF
// definition of each value: which side the stored top row and left column end on.
inline QPoint Shown(int orientation, int sx, int sy, int sw, int sh)
{
    switch (orientation) {
    case 2: return {sw - 1 - sx, sy};           // row 0 top, column 0 right
    case 3: return {sw - 1 - sx, sh - 1 - sy};  // row 0 bottom, column 0 right
    case 4: return {sx, sh - 1 - sy};           // row 0 bottom, column 0 left
    case 5: return {sy, sx};                    // row 0 left, column 0 top
    case 6: return {sh - 1 - sy, sx};           // row 0 right, column 0 top
    case 7: return {sh - 1 - sy, sw - 1 - sx};  // row 0 right, column 0 bottom
    case 8: return {sy, sw - 1 - sx};           // row 0 left, column 0 bottom
    default: return {sx, sy};                   // row 0 top, column 0 left
    }
}

// What a camera stores for `shown` when it tags it with `orientation`.
inline QImage StoredFor(const QImage& shown, int orientation)
{
    const bool swap = orientation >= 5;
    QImage stored(swap ? shown.height() : shown.width(), swap ? shown.width() : shown.height(), shown.format());
    for (int y = 0; y < stored.height(); ++y)
        for (int x = 0; x < stored.width(); ++x)
            stored.setPixel(x, y, shown.pixel(Shown(orientation, x, y, stored.width(), stored.height())));
    return stored;
}

// Six blocks of 16 × 16 in colours far apart: any turn or mirror shows, even through JPEG.
inline QImage Blocks(int columns = 3, int rows = 2)
{
    static const QRgb colours[] = {qRgb(230, 20, 20),  qRgb(20, 200, 20),  qRgb(20, 20, 230),
                                   qRgb(240, 240, 20), qRgb(20, 220, 220), qRgb(250, 250, 250)};
    QImage image(16 * columns, 16 * rows, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, colours[((y / 16) * columns + x / 16) % 6]);
    return image;
}

// The centre of every 16 × 16 block of `expected`, scaled to `actual`'s size, within `tolerance`.
inline void ExpectBlocks(const QImage& actual, const QImage& expected, int tolerance)
{
    ASSERT_FALSE(actual.isNull());
    for (int by = 0; by < expected.height() / 16; ++by)
        for (int bx = 0; bx < expected.width() / 16; ++bx) {
            const QRgb want = expected.pixel(16 * bx + 8, 16 * by + 8);
            const QRgb got = actual.pixel((16 * bx + 8) * actual.width() / expected.width(),
                                          (16 * by + 8) * actual.height() / expected.height());
            EXPECT_LE(std::abs(qRed(got) - qRed(want)) + std::abs(qGreen(got) - qGreen(want)) +
                          std::abs(qBlue(got) - qBlue(want)),
                      tolerance)
                << "block " << bx << "," << by;
        }
}

// `picture` turned a quarter clockwise (direction > 0) or counter-clockwise, pixel by pixel.
inline QImage Turned(const QImage& picture, int direction)
{
    QImage out(picture.height(), picture.width(), picture.format());
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QPoint to = direction > 0 ? QPoint(picture.height() - 1 - y, x) : QPoint(y, picture.width() - 1 - x);
            out.setPixel(to, picture.pixel(x, y));
        }
    return out;
}

}  // namespace quillix::test
