#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>

// The eight ways a picture can be turned or mirrored without losing a pixel.
namespace quillix::imaging {

// Numbered as the EXIF orientation tag numbers them: the value says what to do to the stored
// pixels to show them upright (6: turn them a quarter clockwise).
enum class PixelTransform : std::uint8_t {
    Identity = 1,
    FlipH,  // left and right swap
    Rotate180,
    FlipV,       // top and bottom swap
    Transpose,   // mirrored along the main diagonal: (x, y) to (y, x)
    Rotate90,    // a quarter clockwise
    Transverse,  // mirrored along the other diagonal
    Rotate270,   // a quarter counter-clockwise
};

// The transform an EXIF orientation value asks for; Identity for 1 and for anything outside 1..8.
PixelTransform FromExifOrientation(int value);

// `first`, then `second`, as one transform.
PixelTransform Then(PixelTransform first, PixelTransform second);

// The transform that undoes `t`.
PixelTransform Inverse(PixelTransform t);

// True when the result is as wide as the source is high.
bool SwapsSides(PixelTransform t);

// Where the pixel at (x, y) of a width × height picture lands.
void MapPixel(PixelTransform t, int width, int height, int x, int y, int& toX, int& toY);

// `picture` transformed, every byte of each pixel kept; 32-bit formats stay as they are, others
// become Format_ARGB32. Null when memory runs out.
QImage Transformed(const QImage& picture, PixelTransform t);

// Rows of packed pixels as files store them. `bitsPerPixel` is 1, 2 or 4 (the leftmost pixel in
// the high bits of a byte) or a multiple of 8. `first` is the top row; `stride` is negative for
// pictures stored bottom-up.
struct PixelRows {
    std::uint8_t* first = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
    int bitsPerPixel = 0;
};

// Moves every pixel of `from` to its place in `to`, which must have the transformed size and
// the same bits per pixel and be zeroed where its rows have padding bits. Pixel values are
// copied as they are: palette indices, 16-bit samples and alpha alike.
void TransformPixels(const PixelRows& from, const PixelRows& to, PixelTransform t);

}  // namespace quillix::imaging
