#include "imaging/png_codec.h"

#include "imaging/colour_profile.h"
#include "imaging/still_decoder.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace quillix::imaging {
namespace {

static_assert(std::endian::native == std::endian::little,
              "png_set_bgr with alpha last lays pixels out as Format_ARGB32 only on little-endian machines");

struct Messages {
    char text[256] = {};
};

[[noreturn]] void TrapError(png_structp png, png_const_charp message)
{
    auto* messages = static_cast<Messages*>(png_get_error_ptr(png));
    std::snprintf(messages->text, sizeof messages->text, "PNG: %s", message);
    png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

// Every libpng call that can fail happens inside a Run* function: those set the jump target and
// hold only trivially destructible locals, so a longjmp out of libpng skips no destructor.
struct Reader {
    explicit Reader(std::span<const std::uint8_t> bytes) : data(bytes)
    {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &messages, TrapError, IgnoreWarning);
        if (png) info = png_create_info_struct(png);
    }
    ~Reader()
    {
        // Clears both pointers, so a second call does nothing.
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    png_structp png = nullptr;
    png_infop info = nullptr;
    Messages messages;
    std::span<const std::uint8_t> data;
    std::size_t position = 0;
};

void ReadFromSpan(png_structp png, png_bytep out, png_size_t count)
{
    auto* reader = static_cast<Reader*>(png_get_io_ptr(png));
    if (count > reader->data.size() - reader->position) png_error(png, "unexpected end of data");
    std::memcpy(out, reader->data.data() + reader->position, count);
    reader->position += count;
}

bool RunReadInfo(Reader& r)
{
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_set_read_fn(r.png, &r, ReadFromSpan);
    png_read_info(r.png, r.info);
    const int colorType = png_get_color_type(r.png, r.info);
    const int depth = png_get_bit_depth(r.png, r.info);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0 && depth < 8) png_set_expand_gray_1_2_4_to_8(r.png);
    if (png_get_valid(r.png, r.info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(r.png);
    if (depth == 16) png_set_scale_16(r.png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(r.png);
    png_set_bgr(r.png);
    png_set_filler(r.png, 0xFF, PNG_FILLER_AFTER);  // only acts when no alpha channel is there
    png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    return true;
}

// What the file says its colours mean, in the PNG specification's order of precedence: an ICC
// profile, the sRGB chunk, then primaries and gamma. A profile Qt cannot read gives way to the
// chunks after it, as for a decoder that knows no profiles.
QColorSpace ColourSpaceOf(const Reader& r)
{
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(r.png, r.info, &name, &compression, &profile, &length) != 0 && profile) {
        QColorSpace space = ColourSpaceFromIcc(std::span<const std::uint8_t>(profile, length));
        if (space.isValid()) return space;
    }
    int intent = 0;
    if (png_get_sRGB(r.png, r.info, &intent) != 0) return QColorSpace::SRgb;
    double fileGamma = 0;
    const bool hasGamma = png_get_gAMA(r.png, r.info, &fileGamma) != 0 && fileGamma > 0;
    // A file written for a display of gamma 2.2 means sRGB, as browsers take it.
    const bool srgbCurve = !hasGamma || std::abs(fileGamma * 2.2 - 1) < 0.01;
    const auto transfer = srgbCurve ? QColorSpace::TransferFunction::SRgb : QColorSpace::TransferFunction::Gamma;
    const float gamma = srgbCurve ? 0.0f : static_cast<float>(1 / fileGamma);
    double wx = 0, wy = 0, rx = 0, ry = 0, gx = 0, gy = 0, bx = 0, by = 0;
    if (png_get_cHRM(r.png, r.info, &wx, &wy, &rx, &ry, &gx, &gy, &bx, &by) != 0)
        return QColorSpace(QPointF(wx, wy), QPointF(rx, ry), QPointF(gx, gy), QPointF(bx, by), transfer, gamma);
    if (hasGamma && !srgbCurve) return QColorSpace(QColorSpace::Primaries::SRgb, gamma);
    return {};
}

bool RunReadImage(Reader& r, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(r.png))) return false;
    // The chunks after the pixels carry nothing shown, so their absence is not an error.
    png_read_image(r.png, rows);
    return true;
}

struct Writer {
    Writer()
    {
        png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &messages, TrapError, IgnoreWarning);
        if (png) info = png_create_info_struct(png);
    }
    ~Writer()
    {
        if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    png_structp png = nullptr;
    png_infop info = nullptr;
    Messages messages;
    std::vector<std::uint8_t> out;
};

void AppendToVector(png_structp png, png_bytep data, png_size_t count)
{
    auto* writer = static_cast<Writer*>(png_get_io_ptr(png));
    bool appended = true;
    try {
        writer->out.insert(writer->out.end(), data, data + count);
    } catch (...) {
        appended = false;
    }
    // Outside the handler: no exception is alive when libpng jumps away.
    if (!appended) png_error(png, "out of memory");
}

void FlushNothing(png_structp) {}

bool RunEncode(Writer& w, const QImage& picture, bool alpha)
{
    if (setjmp(png_jmpbuf(w.png))) return false;
    png_set_write_fn(w.png, &w, AppendToVector, FlushNothing);
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(picture.width()), static_cast<png_uint_32>(picture.height()),
                 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w.png, w.info);
    png_set_bgr(w.png);
    if (!alpha) png_set_filler(w.png, 0, PNG_FILLER_AFTER);  // drops the fourth byte of each pixel
    for (int y = 0; y < picture.height(); ++y)
        png_write_row(w.png, picture.constScanLine(y));
    png_write_end(w.png, nullptr);
    return true;
}

// The header of a picture read as stored, for writing it again the same way.
struct RawLayout {
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0, channels = 0;
    png_colorp palette = nullptr;  // owned by the reader
    int paletteSize = 0;
};

bool RunReadRawInfo(Reader& r, RawLayout& layout)
{
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_set_read_fn(r.png, &r, ReadFromSpan);
    png_read_info(r.png, r.info);
    layout.width = png_get_image_width(r.png, r.info);
    layout.height = png_get_image_height(r.png, r.info);
    layout.depth = png_get_bit_depth(r.png, r.info);
    layout.colorType = png_get_color_type(r.png, r.info);
    layout.interlace = png_get_interlace_type(r.png, r.info);
    layout.channels = png_get_channels(r.png, r.info);
    if (layout.colorType == PNG_COLOR_TYPE_PALETTE) png_get_PLTE(r.png, r.info, &layout.palette, &layout.paletteSize);
    // One byte per pixel below 8 bits, values unscaled; everything else exactly as stored.
    if (layout.depth < 8) png_set_packing(r.png);
    png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    return true;
}

bool RunWriteRaw(Writer& w, const RawLayout& layout, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(w.png))) return false;
    png_set_write_fn(w.png, &w, AppendToVector, FlushNothing);
    // A palette index beyond the palette was in the source too; write it back as it was.
    png_set_benign_errors(w.png, 1);
    png_set_IHDR(w.png, w.info, layout.width, layout.height, layout.depth, layout.colorType, layout.interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (layout.palette) png_set_PLTE(w.png, w.info, layout.palette, layout.paletteSize);
    png_write_info(w.png, w.info);
    if (layout.depth < 8) png_set_packing(w.png);
    png_set_interlace_handling(w.png);
    png_write_image(w.png, rows);
    png_write_end(w.png, nullptr);
    return true;
}

struct Chunk {
    std::size_t at = 0;  // where its length field starts
    std::uint32_t length = 0;
    std::string_view type;
    std::size_t end() const { return at + 12 + length; }
};

std::uint32_t Be32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void PutBe32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// The chunks up to IEND; false when one runs past the end of the data.
bool SplitChunks(std::span<const std::uint8_t> png, std::vector<Chunk>& chunks)
{
    for (std::size_t at = 8; at + 12 <= png.size();) {
        Chunk chunk;
        chunk.at = at;
        chunk.length = Be32(png.data() + at);
        if (chunk.length > png.size() - at - 12) return false;
        chunk.type = std::string_view(reinterpret_cast<const char*>(png.data() + at + 4), 4);
        chunks.push_back(chunk);
        at = chunk.end();
        if (chunk.type == "IEND") break;
    }
    return true;
}

void AppendChunk(std::vector<std::uint8_t>& out, std::string_view type, std::span<const std::uint8_t> data)
{
    PutBe32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0L, out.data() + typeAt, static_cast<uInt>(4 + data.size()));
    PutBe32(out, static_cast<std::uint32_t>(crc));
}

// Chunks whose meaning a turn leaves alone (pHYs and sCAL are mended on the way).
bool KnownChunk(std::string_view type)
{
    static constexpr std::array<std::string_view, 22> kKnown = {
        "PLTE", "IEND", "tRNS", "cHRM", "gAMA", "iCCP", "sBIT", "sRGB", "cICP", "mDCv", "cLLi",
        "tEXt", "zTXt", "iTXt", "bKGD", "hIST", "pHYs", "sPLT", "eXIf", "tIME", "oFFs", "sCAL"};
    return std::find(kKnown.begin(), kKnown.end(), type) != kKnown.end();
}

// The source's chunks around the new header and image data.
std::vector<std::uint8_t> Splice(std::span<const std::uint8_t> source, const std::vector<Chunk>& chunks,
                                 std::span<const std::uint8_t> made, const std::vector<Chunk>& madeChunks, bool swap)
{
    std::vector<std::uint8_t> out(source.begin(), source.begin() + 8);
    const auto copy = [&out](std::span<const std::uint8_t> from, const Chunk& c) {
        out.insert(out.end(), from.begin() + static_cast<long>(c.at), from.begin() + static_cast<long>(c.end()));
    };
    bool imageWritten = false, ended = false;
    for (const Chunk& c : chunks) {
        const std::span<const std::uint8_t> data = source.subspan(c.at + 8, c.length);
        if (c.type == "IHDR") {
            for (const Chunk& m : madeChunks)
                if (m.type == "IHDR") copy(made, m);
        } else if (c.type == "IDAT") {
            if (!imageWritten)
                for (const Chunk& m : madeChunks)
                    if (m.type == "IDAT") copy(made, m);
            imageWritten = true;
        } else if (swap && c.type == "pHYs" && c.length == 9) {
            std::vector<std::uint8_t> swapped(data.begin() + 4, data.begin() + 8);
            swapped.insert(swapped.end(), data.begin(), data.begin() + 4);
            swapped.push_back(data[8]);
            AppendChunk(out, c.type, swapped);
        } else if (swap && c.type == "sCAL" && c.length >= 3 &&
                   std::find(data.begin() + 1, data.end(), std::uint8_t{0}) != data.end()) {
            // unit, width text, NUL, height text
            const auto nul = std::find(data.begin() + 1, data.end(), std::uint8_t{0});
            std::vector<std::uint8_t> swapped{data[0]};
            swapped.insert(swapped.end(), nul + 1, data.end());
            swapped.push_back(0);
            swapped.insert(swapped.end(), data.begin() + 1, nul);
            AppendChunk(out, c.type, swapped);
        } else if (KnownChunk(c.type) || (c.type[3] & 0x20) != 0) {
            copy(source, c);
            ended = c.type == "IEND";
        }
    }
    if (!ended)
        for (const Chunk& m : madeChunks)
            if (m.type == "IEND") copy(made, m);
    // Whatever followed the end stays after it.
    if (!chunks.empty() && chunks.back().type == "IEND")
        out.insert(out.end(), source.begin() + static_cast<long>(chunks.back().end()), source.end());
    return out;
}

// Deflate's densest code is a 258-byte copy in 2 bits (a one-bit length code, a one-bit
// distance code, no extra bits), so no stream inflates more than 1032 to 1: a file shorter than
// its raw rows over that ratio cannot hold them. The raw rows are at least one filter byte per
// row (interlaced or not) and the samples packed. libpng has checked that the IHDR comes first,
// which puts the depth and colour type at bytes 24 and 25.
bool EncodableIn(std::span<const std::uint8_t> bytes, png_uint_32 width, png_uint_32 height)
{
    constexpr std::uint64_t kDeflateMostRatio = 1032;
    const std::uint64_t depth = bytes[24];
    const int colourType = bytes[25];
    const std::uint64_t channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
    const std::uint64_t rawBytes = height + (std::uint64_t{width} * height * channels * depth + 7) / 8;
    return rawBytes <= bytes.size() * kDeflateMostRatio;
}

}  // namespace

Result<QImage> DecodePng(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0)
        return MakeError(bytes.size() < 8 ? ErrorKind::Truncated : ErrorKind::BadHeader, "PNG: not a PNG file");
    Reader r(bytes);
    if (!r.png || !r.info) return MakeError(ErrorKind::Io, "PNG: out of memory");
    if (!RunReadInfo(r)) return MakeError(ErrorKind::BadHeader, r.messages.text);
    const png_uint_32 width = png_get_image_width(r.png, r.info);
    const png_uint_32 height = png_get_image_height(r.png, r.info);
    if (std::int64_t{width} * height > kMaxPixels) return MakeError(ErrorKind::Unsupported, "PNG: picture too large");
    if (!EncodableIn(bytes, width, height))
        return MakeError(ErrorKind::BadHeader, "PNG: the file is too short for the declared size");
    if (png_get_rowbytes(r.png, r.info) != std::size_t{width} * 4)
        return MakeError(ErrorKind::Unsupported, "PNG: unexpected pixel layout");

    QImage image = NewPicture(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
    if (image.isNull()) return MakeError(ErrorKind::Unsupported, "PNG: not enough memory for the picture");
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = image.scanLine(static_cast<int>(y));
    if (!RunReadImage(r, rows.data())) return MakeError(ErrorKind::Truncated, r.messages.text);
    image.setColorSpace(ColourSpaceOf(r));
    return image;
}

Result<QImage> DecodePngFile(const std::string& path)
{
    Result<std::vector<std::uint8_t>> bytes = ReadImageFile(path);
    if (!bytes) return bytes.error();
    return DecodePng(bytes.value());
}

Result<std::vector<std::uint8_t>> TransformPng(std::span<const std::uint8_t> bytes, PixelTransform t)
{
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0)
        return MakeError(bytes.size() < 8 ? ErrorKind::Truncated : ErrorKind::BadHeader, "PNG: not a PNG file");
    std::vector<Chunk> chunks;
    if (!SplitChunks(bytes, chunks)) return MakeError(ErrorKind::Truncated, "PNG: a chunk runs past the end");
    for (const Chunk& c : chunks)
        if (c.type == "acTL") return MakeError(ErrorKind::Unsupported, "PNG: animated pictures are not turned");

    Reader r(bytes);
    if (!r.png || !r.info) return MakeError(ErrorKind::Io, "PNG: out of memory");
    RawLayout layout;
    if (!RunReadRawInfo(r, layout)) return MakeError(ErrorKind::BadHeader, r.messages.text);
    if (std::int64_t{layout.width} * layout.height > kMaxPixels)
        return MakeError(ErrorKind::Unsupported, "PNG: picture too large");
    if (!EncodableIn(bytes, layout.width, layout.height))
        return MakeError(ErrorKind::BadHeader, "PNG: the file is too short for the declared size");
    const int bitsPerPixel = layout.channels * std::max(layout.depth, 8);
    const std::size_t rowBytes = png_get_rowbytes(r.png, r.info);
    if (rowBytes != std::size_t{layout.width} * static_cast<std::size_t>(bitsPerPixel / 8))
        return MakeError(ErrorKind::Unsupported, "PNG: unexpected pixel layout");
    std::vector<std::uint8_t> samples(rowBytes * layout.height);
    std::vector<png_bytep> rows(layout.height);
    for (png_uint_32 y = 0; y < layout.height; ++y)
        rows[y] = samples.data() + rowBytes * y;
    if (!RunReadImage(r, rows.data())) return MakeError(ErrorKind::Truncated, r.messages.text);

    const bool swap = SwapsSides(t);
    RawLayout turnedLayout = layout;
    if (swap) std::swap(turnedLayout.width, turnedLayout.height);
    const std::size_t turnedRowBytes = std::size_t{turnedLayout.width} * static_cast<std::size_t>(bitsPerPixel / 8);
    std::vector<std::uint8_t> turned(turnedRowBytes * turnedLayout.height);
    const int w = static_cast<int>(layout.width), h = static_cast<int>(layout.height);
    TransformPixels(
        {samples.data(), w, h, static_cast<std::ptrdiff_t>(rowBytes), bitsPerPixel},
        {turned.data(), swap ? h : w, swap ? w : h, static_cast<std::ptrdiff_t>(turnedRowBytes), bitsPerPixel}, t);
    std::vector<png_bytep> turnedRows(turnedLayout.height);
    for (png_uint_32 y = 0; y < turnedLayout.height; ++y)
        turnedRows[y] = turned.data() + turnedRowBytes * y;

    Writer writer;
    if (!writer.png || !writer.info) return MakeError(ErrorKind::Io, "PNG: out of memory");
    if (!RunWriteRaw(writer, turnedLayout, turnedRows.data())) return MakeError(ErrorKind::Io, writer.messages.text);
    std::vector<Chunk> madeChunks;
    if (!SplitChunks(writer.out, madeChunks)) return MakeError(ErrorKind::Io, "PNG: encoder output unreadable");
    return Splice(bytes, chunks, writer.out, madeChunks, swap);
}

Result<std::vector<std::uint8_t>> EncodePng(const QImage& picture)
{
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0)
        return MakeError(ErrorKind::Unsupported, "PNG: empty picture");
    const bool alpha = picture.hasAlphaChannel();
    const QImage pixels = picture.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    Writer w;
    if (!w.png || !w.info) return MakeError(ErrorKind::Io, "PNG: out of memory");
    if (!RunEncode(w, pixels, alpha)) return MakeError(ErrorKind::Io, w.messages.text);
    return std::move(w.out);
}

}  // namespace quillix::imaging
