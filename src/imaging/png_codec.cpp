#include "imaging/png_codec.h"

#include "imaging/still_decoder.h"

#include <png.h>

#include <bit>
#include <cstdio>
#include <cstring>

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
    if (png_get_rowbytes(r.png, r.info) != std::size_t{width} * 4)
        return MakeError(ErrorKind::Unsupported, "PNG: unexpected pixel layout");

    QImage image = NewPicture(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
    if (image.isNull()) return MakeError(ErrorKind::Unsupported, "PNG: not enough memory for the picture");
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = image.scanLine(static_cast<int>(y));
    if (!RunReadImage(r, rows.data())) return MakeError(ErrorKind::Truncated, r.messages.text);
    return image;
}

Result<QImage> DecodePngFile(const std::string& path)
{
    Result<std::vector<std::uint8_t>> bytes = ReadImageFile(path);
    if (!bytes) return bytes.error();
    return DecodePng(bytes.value());
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
