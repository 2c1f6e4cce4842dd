#include "imaging/bmp_codec.h"

#include "imaging/still_decoder.h"

#include <array>
#include <bit>
#include <climits>

namespace quillix::imaging {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kRle8 = 1, kRle4 = 2;

std::uint32_t U16(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// One colour channel of a bit-field pixel, widened to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    explicit Channel(std::uint32_t m) : mask(m)
    {
        if (mask == 0) return;
        shift = std::countr_zero(mask);
        max = mask >> shift;
    }
    int operator()(std::uint32_t pixel, int absent) const
    {
        if (mask == 0 || max == 0) return absent;
        return static_cast<int>(((pixel & mask) >> shift) * 255 / max);
    }
};

struct Layout {
    std::int64_t width = 0;
    std::int64_t height = 0;  // negative: top-down
    int bits = 0;
    std::uint32_t compression = 0;
    std::size_t paletteAt = 0;
    std::size_t paletteEntry = 4;
    std::size_t paletteCount = 0;
    std::uint32_t masks[4] = {};  // red, green, blue, alpha
};

Result<Layout> ReadLayout(std::span<const std::uint8_t> b)
{
    if (b.size() < 2 || b[0] != 'B' || b[1] != 'M') return MakeError(ErrorKind::BadHeader, "BMP: not a bitmap file");
    if (b.size() < kFileHeaderSize + 4) return MakeError(ErrorKind::Truncated, "BMP: file too short");
    Layout l;
    const std::uint32_t headerSize = U32(b, 14);
    const bool core = headerSize == 12;
    if (!core && headerSize < 40) return MakeError(ErrorKind::BadHeader, "BMP: unknown header");
    if (headerSize > b.size() - kFileHeaderSize) return MakeError(ErrorKind::Truncated, "BMP: header cut short");
    if (core) {
        l.width = U16(b, 18);
        l.height = U16(b, 20);
        l.bits = static_cast<int>(U16(b, 24));
        l.paletteEntry = 3;
    } else {
        l.width = static_cast<std::int32_t>(U32(b, 18));
        l.height = static_cast<std::int32_t>(U32(b, 22));
        l.bits = static_cast<int>(U16(b, 28));
        l.compression = U32(b, 30);
        l.paletteCount = U32(b, 46);
    }
    if (l.width <= 0 || l.height == 0 || l.height == INT_MIN) return MakeError(ErrorKind::BadHeader, "BMP: bad size");
    if (l.width * (l.height < 0 ? -l.height : l.height) > kMaxPixels)
        return MakeError(ErrorKind::Unsupported, "BMP: picture too large");

    std::size_t masksSize = 0;
    if (l.compression == 3 || l.compression == 6) {
        if (l.bits != 16 && l.bits != 32) return MakeError(ErrorKind::BadHeader, "BMP: bit fields need 16 or 32 bits");
        // Masks sit right after the 40-byte part of the header, inside it for the later versions.
        const std::size_t count = l.compression == 6 || headerSize >= 56 ? 4 : 3;
        if (headerSize == 40) masksSize = count * 4;
        if (kFileHeaderSize + 40 + count * 4 > b.size()) return MakeError(ErrorKind::Truncated, "BMP: masks cut short");
        for (std::size_t i = 0; i < count; ++i)
            l.masks[i] = U32(b, kFileHeaderSize + 40 + 4 * i);
    } else if (l.compression == kRle8 || l.compression == kRle4) {
        if (l.bits != (l.compression == kRle8 ? 8 : 4))
            return MakeError(ErrorKind::BadHeader, "BMP: RLE8 needs 8 bits and RLE4 4 bits");
        // The stream's escapes move upwards only; a top-down RLE bitmap is not defined.
        if (l.height < 0) return MakeError(ErrorKind::BadHeader, "BMP: an RLE bitmap cannot be top-down");
    } else if (l.compression == 0) {
        if (l.bits == 16) l.masks[0] = 0x7C00, l.masks[1] = 0x03E0, l.masks[2] = 0x001F;
        if (l.bits == 32) l.masks[0] = 0xFF0000, l.masks[1] = 0xFF00, l.masks[2] = 0xFF;
    } else {
        return MakeError(ErrorKind::Unsupported, "BMP: compressed bitmaps are not supported");
    }
    if (l.bits != 1 && l.bits != 4 && l.bits != 8 && l.bits != 16 && l.bits != 24 && l.bits != 32)
        return MakeError(ErrorKind::Unsupported, "BMP: unsupported bit depth");

    // Deeper pictures may still declare a colour count; they have no palette to read.
    if (l.bits > 8) l.paletteCount = 0;
    if (l.bits <= 8) {
        const std::size_t most = std::size_t{1} << l.bits;
        if (l.paletteCount == 0 || l.paletteCount > most) l.paletteCount = most;
        l.paletteAt = kFileHeaderSize + headerSize + masksSize;
        if (l.paletteAt + l.paletteCount * l.paletteEntry > b.size())
            return MakeError(ErrorKind::Truncated, "BMP: palette cut short");
    }
    return l;
}

using Palette = std::array<QRgb, 256>;

// Run-length coded indices, rows bottom-up. A pair (n, v) with n > 0 repeats v n times (RLE4:
// its two nibbles in turn); after n = 0, v is an escape: 0 ends the row, 1 the picture, 2 moves
// right and up by the next two bytes, 3..255 are that many indices stored as they are, padded
// to a whole 16-bit word.
Result<QImage> DecodeRle(std::span<const std::uint8_t> b, const Layout& l, std::size_t at, const Palette& palette)
{
    const std::int64_t width = l.width, height = l.height;
    if (at > b.size() || b.size() - at < 2) return MakeError(ErrorKind::Truncated, "BMP: pixel data cut short");
    // The densest code paints 255 pixels with 2 bytes (a run; stored indices take a byte or half
    // a byte each). Ends of row and of bitmap and deltas paint nothing: what they skip is filler,
    // and counting it would let a few deltas or one end of bitmap claim any size.
    const std::int64_t paintable = static_cast<std::int64_t>((b.size() - at) / 2) * 255;
    if (!DataCouldShow(width * height, paintable))
        return MakeError(ErrorKind::BadHeader, "BMP: the RLE data is too short for the declared size");
    QImage image = NewPicture(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
    if (image.isNull()) return MakeError(ErrorKind::Unsupported, "BMP: not enough memory for the picture");
    // Pixels the stream never reaches (jumped over, left by an early end of row or picture, or
    // missing from a cut file) stay transparent, as Firefox and Chrome show them.
    image.fill(Qt::transparent);
    const bool four = l.bits == 4;
    std::int64_t x = 0, y = 0, written = 0;
    // Pixels beyond the right edge are dropped: a run never wraps onto the next row.
    const auto put = [&](std::int64_t count, auto indexAt) {
        if (y < height && x < width) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(height - 1 - y)));
            const std::int64_t end = std::min(x + count, width);
            for (std::int64_t i = 0; x + i < end; ++i)
                row[x + i] = palette[indexAt(static_cast<std::size_t>(i))];
            written += end - x;
        }
        x += count;
    };
    // A stream that ends without its end-of-bitmap code shows what it held: writers omit the
    // code, and a cut file cannot be told from them.
    while (y < height && b.size() - at >= 2) {
        const std::uint8_t count = b[at], value = b[at + 1];
        at += 2;
        if (count > 0) {
            put(count, [&](std::size_t i) { return four ? (i % 2 ? value & 15 : value >> 4) : value; });
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (b.size() - at < 2) break;
            x += b[at];
            y += b[at + 1];
            at += 2;
        } else {
            const std::size_t stored = four ? (value + 1u) / 2 : value;
            const std::size_t present = std::min(stored, b.size() - at);
            const std::uint8_t* run = b.data() + at;
            put(four ? std::min<std::int64_t>(value, 2 * static_cast<std::int64_t>(present))
                     : static_cast<std::int64_t>(present),
                [&](std::size_t i) { return four ? (i % 2 ? run[i / 2] & 15 : run[i / 2] >> 4) : run[i]; });
            at += std::min(stored + stored % 2, b.size() - at);
        }
    }
    if (written == width * height) image.reinterpretAsFormat(QImage::Format_RGB32);
    return image;
}

}  // namespace

Result<QImage> DecodeBmp(std::span<const std::uint8_t> b)
{
    Result<Layout> layout = ReadLayout(b);
    if (!layout) return layout.error();
    const Layout& l = layout.value();

    Palette palette;
    palette.fill(qRgb(0, 0, 0));  // indices beyond the palette read as black
    for (std::size_t i = 0; i < l.paletteCount; ++i) {
        const std::size_t at = l.paletteAt + i * l.paletteEntry;
        palette[i] = qRgb(b[at + 2], b[at + 1], b[at]);
    }
    const std::size_t pixelsAt = U32(b, 10);
    if (l.compression == kRle8 || l.compression == kRle4) return DecodeRle(b, l, pixelsAt, palette);

    const bool topDown = l.height < 0;
    const int width = static_cast<int>(l.width);
    const int height = static_cast<int>(topDown ? -l.height : l.height);
    const std::size_t stride = (static_cast<std::size_t>(l.width) * static_cast<std::size_t>(l.bits) + 31) / 32 * 4;
    if (pixelsAt > b.size() || stride * static_cast<std::size_t>(height) > b.size() - pixelsAt)
        return MakeError(ErrorKind::Truncated, "BMP: pixel data cut short");
    const bool alpha = l.masks[3] != 0;
    const Channel red(l.masks[0]), green(l.masks[1]), blue(l.masks[2]), opacity(l.masks[3]);

    QImage image = NewPicture(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) return MakeError(ErrorKind::Unsupported, "BMP: not enough memory for the picture");
    int anyAlpha = 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = b.data() + pixelsAt + stride * static_cast<std::size_t>(topDown ? y : height - 1 - y);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            switch (l.bits) {
            case 1: out[x] = palette[(row[x / 8] >> (7 - x % 8)) & 1]; break;
            case 4: out[x] = palette[(row[x / 2] >> (x % 2 ? 0 : 4)) & 15]; break;
            case 8: out[x] = palette[row[x]]; break;
            case 24: out[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]); break;
            default: {
                const std::uint32_t p = l.bits == 16 ? U16(std::span(row, stride), 2 * static_cast<std::size_t>(x))
                                                     : U32(std::span(row, stride), 4 * static_cast<std::size_t>(x));
                const int a = opacity(p, 255);
                anyAlpha |= a;
                out[x] = qRgba(red(p, 0), green(p, 0), blue(p, 0), a);
            }
            }
        }
    }
    // Many writers declare an alpha mask and leave it zero: such a picture is meant opaque.
    // Made opaque in place: a converted copy would leave a container's pixels in ordinary memory.
    if (alpha && anyAlpha == 0) {
        for (int y = 0; y < height; ++y) {
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x)
                out[x] |= 0xFF000000u;
        }
        image.reinterpretAsFormat(QImage::Format_RGB32);
    }
    return image;
}

Result<QImage> DecodeBmpFile(const std::string& path)
{
    Result<std::vector<std::uint8_t>> bytes = ReadImageFile(path);
    if (!bytes) return bytes.error();
    return DecodeBmp(bytes.value());
}

Result<std::vector<std::uint8_t>> EncodeBmp(const QImage& picture)
{
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0)
        return MakeError(ErrorKind::Unsupported, "BMP: empty picture");
    // Not Format_RGB32: Qt would blend translucent pixels onto black instead of dropping alpha.
    const QImage rgb = picture.convertToFormat(QImage::Format_ARGB32);
    const std::size_t width = static_cast<std::size_t>(rgb.width());
    const std::size_t height = static_cast<std::size_t>(rgb.height());
    const std::size_t stride = (width * 3 + 3) / 4 * 4;
    const std::size_t imageSize = stride * height;
    const std::size_t pixelsAt = kFileHeaderSize + 40;
    if (pixelsAt + imageSize > UINT32_MAX) return MakeError(ErrorKind::Unsupported, "BMP: picture too large");

    std::vector<std::uint8_t> out(pixelsAt + imageSize, 0);
    const auto put16 = [&](std::size_t at, std::uint32_t v) {
        out[at] = static_cast<std::uint8_t>(v);
        out[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    const auto put32 = [&](std::size_t at, std::uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, static_cast<std::uint32_t>(out.size()));
    put32(10, static_cast<std::uint32_t>(pixelsAt));
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    put16(26, 1);
    put16(28, 24);
    put32(34, static_cast<std::uint32_t>(imageSize));
    put32(38, 2835);  // 72 dots per inch
    put32(42, 2835);
    for (std::size_t y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(static_cast<int>(height - 1 - y)));
        std::uint8_t* row = out.data() + pixelsAt + stride * y;
        for (std::size_t x = 0; x < width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(qBlue(in[x]));
            row[3 * x + 1] = static_cast<std::uint8_t>(qGreen(in[x]));
            row[3 * x + 2] = static_cast<std::uint8_t>(qRed(in[x]));
        }
    }
    return out;
}

}  // namespace quillix::imaging
