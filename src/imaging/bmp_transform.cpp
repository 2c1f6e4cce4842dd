#include "imaging/bmp_transform.h"

#include "imaging/bmp_codec.h"
#include "imaging/image_format.h"

#include <cstring>

namespace quillix::imaging {
namespace {

constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;
constexpr std::uint32_t kEmbeddedProfile = 0x4D424544;  // 'MBED'
constexpr std::size_t kInfoAt = 14;

std::uint32_t U32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::uint16_t U16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
void Put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

Result<std::vector<std::uint8_t>> ReencodeRle(std::span<const std::uint8_t> bytes, PixelTransform t)
{
    Result<QImage> picture = DecodeBmp(bytes);
    if (!picture) return picture.error();
    return EncodeBmp(Transformed(picture.value(), t));
}

}  // namespace

Result<std::vector<std::uint8_t>> TransformBmp(std::span<const std::uint8_t> bytes, PixelTransform t)
{
    if (bytes.size() < kInfoAt + 12 || bytes[0] != 'B' || bytes[1] != 'M')
        return MakeError(ErrorKind::BadHeader, "BMP: not a bitmap");
    const std::uint8_t* data = bytes.data();
    const std::size_t offset = U32(data + 10);
    const std::size_t infoSize = U32(data + kInfoAt);
    if (infoSize < 12 || (infoSize > 12 && infoSize < 16) || infoSize > bytes.size() - kInfoAt ||
        offset < kInfoAt + infoSize || offset > bytes.size())
        return MakeError(ErrorKind::BadHeader, "BMP: impossible header");

    const bool core = infoSize == 12;
    std::int64_t width = 0, height = 0;
    int bitsPerPixel = 0;
    std::uint32_t compression = kRgb;
    if (core) {
        width = U16(data + 18);
        height = U16(data + 20);
        bitsPerPixel = U16(data + 24);
    } else {
        width = static_cast<std::int32_t>(U32(data + 18));
        height = static_cast<std::int32_t>(U32(data + 22));
        bitsPerPixel = U16(data + 28);
        if (infoSize >= 20) compression = U32(data + 30);
    }
    if (compression == kRle8 || compression == kRle4) return ReencodeRle(bytes, t);
    const bool bitFields = compression == kBitFields || compression == kAlphaBitFields;
    if (!(compression == kRgb || (bitFields && (bitsPerPixel == 16 || bitsPerPixel == 32))))
        return MakeError(ErrorKind::Unsupported, "BMP: compression not supported");
    if (bitsPerPixel != 1 && bitsPerPixel != 2 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 16 &&
        bitsPerPixel != 24 && bitsPerPixel != 32)
        return MakeError(ErrorKind::BadHeader, "BMP: impossible bit depth");
    const bool topDown = height < 0;
    const std::int64_t rows = topDown ? -height : height;
    if (width <= 0 || rows <= 0) return MakeError(ErrorKind::BadHeader, "BMP: empty picture");
    if (width * rows > kMaxPixels) return MakeError(ErrorKind::Unsupported, "BMP: picture too large");

    const auto strideOf = [bitsPerPixel](std::int64_t w) {
        return static_cast<std::size_t>((w * bitsPerPixel + 31) / 32 * 4);
    };
    const std::size_t stride = strideOf(width);
    const std::size_t pixelBytes = stride * static_cast<std::size_t>(rows);
    if (pixelBytes > bytes.size() - offset) return MakeError(ErrorKind::Truncated, "BMP: pixel data ends early");

    const bool swap = SwapsSides(t);
    const std::int64_t newWidth = swap ? rows : width, newRows = swap ? width : rows;
    const std::size_t newStride = strideOf(newWidth);
    const std::size_t newPixelBytes = newStride * static_cast<std::size_t>(newRows);
    const std::size_t tail = bytes.size() - offset - pixelBytes;

    std::vector<std::uint8_t> out(offset + newPixelBytes + tail, 0);
    std::memcpy(out.data(), data, offset);
    std::memcpy(out.data() + offset + newPixelBytes, data + offset + pixelBytes, tail);

    // Rows run bottom-up unless the height is negative; the turned picture keeps the order.
    const auto topRow = [topDown](std::uint8_t* pixels, std::size_t rowStride, std::int64_t count) {
        return topDown ? pixels : pixels + rowStride * static_cast<std::size_t>(count - 1);
    };
    const auto step = [topDown](std::size_t rowStride) {
        return topDown ? static_cast<std::ptrdiff_t>(rowStride) : -static_cast<std::ptrdiff_t>(rowStride);
    };
    // TransformPixels only reads the source rows.
    std::uint8_t* source = const_cast<std::uint8_t*>(data) + offset;
    TransformPixels(
        {topRow(source, stride, rows), static_cast<int>(width), static_cast<int>(rows), step(stride), bitsPerPixel},
        {topRow(out.data() + offset, newStride, newRows), static_cast<int>(newWidth), static_cast<int>(newRows),
         step(newStride), bitsPerPixel},
        t);

    std::uint8_t* info = out.data() + kInfoAt;
    Put32(out.data() + 2, static_cast<std::uint32_t>(out.size()));
    if (core) {
        Put16(info + 4, static_cast<std::uint16_t>(newWidth));
        Put16(info + 6, static_cast<std::uint16_t>(newRows));
        return out;
    }
    Put32(info + 4, static_cast<std::uint32_t>(newWidth));
    Put32(info + 8, static_cast<std::uint32_t>(topDown ? -newRows : newRows));
    if (infoSize >= 24 && U32(info + 20) != 0) Put32(info + 20, static_cast<std::uint32_t>(newPixelBytes));
    if (infoSize >= 32 && swap) {
        const std::uint32_t x = U32(info + 24), y = U32(info + 28);
        Put32(info + 24, y);
        Put32(info + 28, x);
    }
    // A profile stored after the pixels moves with the end of the pixel data.
    if (infoSize >= 124 && U32(info + 56) == kEmbeddedProfile) {
        const std::size_t profile = U32(info + 112);
        if (kInfoAt + profile >= offset + pixelBytes)
            Put32(info + 112, static_cast<std::uint32_t>(profile + newPixelBytes - pixelBytes));
    }
    return out;
}

}  // namespace quillix::imaging
