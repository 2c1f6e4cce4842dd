#include "imaging/orientation.h"

#include "imaging/still_decoder.h"

#include <QColorSpace>

#include <algorithm>
#include <array>
#include <cstring>

namespace quillix::imaging {
namespace {

// Each transform as a 2 × 2 matrix on coordinates around the picture's centre, y pointing down:
// x' = a x + b y, y' = c x + d y. Index: the EXIF number.
struct Matrix {
    int a, b, c, d;
    bool operator==(const Matrix&) const = default;
};
constexpr std::array<Matrix, 9> kMatrices = {{
    {0, 0, 0, 0},    // unused
    {1, 0, 0, 1},    // Identity
    {-1, 0, 0, 1},   // FlipH
    {-1, 0, 0, -1},  // Rotate180
    {1, 0, 0, -1},   // FlipV
    {0, 1, 1, 0},    // Transpose
    {0, -1, 1, 0},   // Rotate90
    {0, -1, -1, 0},  // Transverse
    {0, 1, -1, 0},   // Rotate270
}};

Matrix MatrixOf(PixelTransform t)
{
    return kMatrices[static_cast<std::size_t>(t)];
}

PixelTransform FromMatrix(const Matrix& m)
{
    for (std::size_t i = 1; i < kMatrices.size(); ++i)
        if (kMatrices[i] == m) return static_cast<PixelTransform>(i);
    return PixelTransform::Identity;  // unreachable: the eight form a group
}

// Where (x, y) lands as an offset in pixels from the target's first pixel: origin + x · alongX
// + y · alongY, for a target whose rows are `stride` pixels apart.
struct Placement {
    std::ptrdiff_t origin, alongX, alongY;
};

Placement PlacementOf(PixelTransform t, int width, int height, std::ptrdiff_t stride)
{
    const std::ptrdiff_t w = width, h = height;
    switch (t) {
    case PixelTransform::Identity: break;
    case PixelTransform::FlipH: return {w - 1, -1, stride};
    case PixelTransform::Rotate180: return {(h - 1) * stride + w - 1, -1, -stride};
    case PixelTransform::FlipV: return {(h - 1) * stride, 1, -stride};
    case PixelTransform::Transpose: return {0, stride, 1};
    case PixelTransform::Rotate90: return {h - 1, stride, -1};
    case PixelTransform::Transverse: return {(w - 1) * stride + h - 1, -stride, -1};
    case PixelTransform::Rotate270: return {(w - 1) * stride, -stride, 1};
    }
    return {0, 1, stride};
}

template <std::size_t Bytes> void MoveWholeBytes(const PixelRows& from, const PixelRows& to, PixelTransform t)
{
    for (int y = 0; y < from.height; ++y) {
        const std::uint8_t* src = from.first + from.stride * y;
        for (int x = 0; x < from.width; ++x, src += Bytes) {
            int tx = 0, ty = 0;
            MapPixel(t, from.width, from.height, x, y, tx, ty);
            std::memcpy(to.first + to.stride * ty + static_cast<std::ptrdiff_t>(tx) * Bytes, src, Bytes);
        }
    }
}

void MoveAnyBytes(const PixelRows& from, const PixelRows& to, PixelTransform t)
{
    const std::size_t bytes = static_cast<std::size_t>(from.bitsPerPixel / 8);
    for (int y = 0; y < from.height; ++y) {
        const std::uint8_t* src = from.first + from.stride * y;
        for (int x = 0; x < from.width; ++x, src += bytes) {
            int tx = 0, ty = 0;
            MapPixel(t, from.width, from.height, x, y, tx, ty);
            std::memcpy(to.first + to.stride * ty + static_cast<std::ptrdiff_t>(tx * bytes), src, bytes);
        }
    }
}

void MoveBits(const PixelRows& from, const PixelRows& to, PixelTransform t)
{
    const int bits = from.bitsPerPixel;
    const unsigned mask = (1u << bits) - 1;
    for (int y = 0; y < from.height; ++y) {
        const std::uint8_t* src = from.first + from.stride * y;
        for (int x = 0; x < from.width; ++x) {
            const int at = x * bits;
            const unsigned value = (src[at / 8] >> (8 - bits - at % 8)) & mask;
            int tx = 0, ty = 0;
            MapPixel(t, from.width, from.height, x, y, tx, ty);
            const int to_at = tx * bits;
            std::uint8_t& dst = to.first[to.stride * ty + to_at / 8];
            const int shift = 8 - bits - to_at % 8;
            dst = static_cast<std::uint8_t>((dst & ~(mask << shift)) | (value << shift));
        }
    }
}

}  // namespace

PixelTransform FromExifOrientation(int value)
{
    return value >= 1 && value <= 8 ? static_cast<PixelTransform>(value) : PixelTransform::Identity;
}

PixelTransform Then(PixelTransform first, PixelTransform second)
{
    const Matrix f = MatrixOf(first), s = MatrixOf(second);
    return FromMatrix({s.a * f.a + s.b * f.c, s.a * f.b + s.b * f.d, s.c * f.a + s.d * f.c, s.c * f.b + s.d * f.d});
}

PixelTransform Inverse(PixelTransform t)
{
    // Every one is its own inverse but the quarter turns, which undo each other.
    if (t == PixelTransform::Rotate90) return PixelTransform::Rotate270;
    if (t == PixelTransform::Rotate270) return PixelTransform::Rotate90;
    return t;
}

bool SwapsSides(PixelTransform t)
{
    return MatrixOf(t).a == 0;
}

void MapPixel(PixelTransform t, int width, int height, int x, int y, int& toX, int& toY)
{
    switch (t) {
    case PixelTransform::Identity: toX = x, toY = y; break;
    case PixelTransform::FlipH: toX = width - 1 - x, toY = y; break;
    case PixelTransform::Rotate180: toX = width - 1 - x, toY = height - 1 - y; break;
    case PixelTransform::FlipV: toX = x, toY = height - 1 - y; break;
    case PixelTransform::Transpose: toX = y, toY = x; break;
    case PixelTransform::Rotate90: toX = height - 1 - y, toY = x; break;
    case PixelTransform::Transverse: toX = height - 1 - y, toY = width - 1 - x; break;
    case PixelTransform::Rotate270: toX = y, toY = width - 1 - x; break;
    }
}

QImage Transformed(const QImage& picture, PixelTransform t)
{
    if (t == PixelTransform::Identity || picture.isNull()) return picture;
    const QImage source = picture.depth() == 32 ? picture : picture.convertToFormat(QImage::Format_ARGB32);
    const int w = source.width(), h = source.height();
    // Huge pages and tiles: a 24-megapixel turn costs a quarter of its decode instead of most of it.
    QImage target = NewPicture(SwapsSides(t) ? h : w, SwapsSides(t) ? w : h, source.format());
    if (target.isNull()) return target;
    target.setColorSpace(source.colorSpace());
    if (!SwapsSides(t)) {
        // Rows stay rows: each is copied whole, reversed for the left-right mirrors.
        const bool upsideDown = t == PixelTransform::Rotate180 || t == PixelTransform::FlipV;
        const bool reversed = t == PixelTransform::Rotate180 || t == PixelTransform::FlipH;
        for (int y = 0; y < h; ++y) {
            const auto* in = reinterpret_cast<const std::uint32_t*>(source.constScanLine(y));
            auto* out = reinterpret_cast<std::uint32_t*>(target.scanLine(upsideDown ? h - 1 - y : y));
            if (reversed)
                std::reverse_copy(in, in + w, out);
            else
                std::copy(in, in + w, out);
        }
        return target;
    }
    // Written row by row, each target pixel fetched from where the inverse puts it: reads that
    // stride through a tile stay in cache, writes that stride would not.
    const int tw = target.width(), th = target.height();
    const Placement p = PlacementOf(Inverse(t), tw, th, source.bytesPerLine() / 4);
    const auto* from = reinterpret_cast<const std::uint32_t*>(source.constBits()) + p.origin;
    constexpr int kTile = 64;
    for (int ty = 0; ty < th; ty += kTile)
        for (int tx = 0; tx < tw; tx += kTile) {
            const int yEnd = std::min(ty + kTile, th), xEnd = std::min(tx + kTile, tw);
            for (int y = ty; y < yEnd; ++y) {
                auto* out = reinterpret_cast<std::uint32_t*>(target.scanLine(y));
                const std::uint32_t* in = from + y * p.alongY;
                for (int x = tx; x < xEnd; ++x)
                    out[x] = in[x * p.alongX];
            }
        }
    return target;
}

void TransformPixels(const PixelRows& from, const PixelRows& to, PixelTransform t)
{
    switch (from.bitsPerPixel) {
    case 1:
    case 2:
    case 4: MoveBits(from, to, t); break;
    case 8: MoveWholeBytes<1>(from, to, t); break;
    case 16: MoveWholeBytes<2>(from, to, t); break;
    case 24: MoveWholeBytes<3>(from, to, t); break;
    case 32: MoveWholeBytes<4>(from, to, t); break;
    case 48: MoveWholeBytes<6>(from, to, t); break;
    case 64: MoveWholeBytes<8>(from, to, t); break;
    default: MoveAnyBytes(from, to, t); break;
    }
}

}  // namespace quillix::imaging
