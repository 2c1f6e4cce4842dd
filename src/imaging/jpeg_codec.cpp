#include "imaging/jpeg_codec.h"

#include "imaging/colour_profile.h"
#include "imaging/exif_orientation.h"
#include "imaging/still_decoder.h"

#include <cstdio>  // jpeglib.h uses FILE and size_t without including their headers

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdlib>
#include <memory>
#include <vector>

namespace quillix::imaging {
namespace {

static_assert(std::endian::native == std::endian::little,
              "JCS_EXT_BGRX lays pixels out as Format_RGB32 only on little-endian machines");

struct ErrorTrap {
    jpeg_error_mgr pub;  // first member: libjpeg's err pointer is also a pointer to the trap
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void TrapError(j_common_ptr info)
{
    auto* trap = reinterpret_cast<ErrorTrap*>(info->err);
    info->err->format_message(info, trap->message);
    std::longjmp(trap->jump, 1);
}

// Warnings (a premature end of data among them) leave a usable picture; the default prints to stderr.
void IgnoreMessage(j_common_ptr) {}

void InitTrap(ErrorTrap& trap)
{
    jpeg_std_error(&trap.pub);
    trap.pub.error_exit = TrapError;
    trap.pub.output_message = IgnoreMessage;
    trap.message[0] = '\0';
}

// Every libjpeg call on these owners happens inside a Run* function: those set the jump target
// and hold only trivially destructible locals, so a longjmp out of libjpeg skips no destructor.
struct Decompressor {
    Decompressor()
    {
        InitTrap(trap);
        info.err = &trap.pub;
    }
    ~Decompressor()
    {
        // jpeg_destroy copes with a create that failed half way.
        if (created) jpeg_destroy_decompress(&info);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct info{};
    ErrorTrap trap{};
    bool created = false;
};

bool RunReadHeader(Decompressor& d, const std::uint8_t* data, std::size_t size, bool keepProfile = false)
{
    if (setjmp(d.trap.jump)) return false;
    d.created = true;
    jpeg_create_decompress(&d.info);
    jpeg_mem_src(&d.info, data, static_cast<unsigned long>(size));
    if (keepProfile) jpeg_save_markers(&d.info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&d.info, TRUE);
    return true;
}

// The ICC profile the APP2 markers carry, joined by libjpeg into a malloc'd block; none when the
// markers are missing or do not join up.
bool RunReadProfile(Decompressor& d, JOCTET** profile, unsigned int* size)
{
    if (setjmp(d.trap.jump)) return false;
    return jpeg_read_icc_profile(&d.info, profile, size) != 0;
}

QColorSpace ProfileOf(Decompressor& d)
{
    JOCTET* profile = nullptr;
    unsigned int size = 0;
    const bool read = RunReadProfile(d, &profile, &size);
    const std::unique_ptr<JOCTET, decltype(&std::free)> owned(profile, &std::free);
    if (!read || !profile) return {};
    return ColourSpaceFromIcc(std::span<const std::uint8_t>(profile, size));
}

bool RunStart(Decompressor& d, bool cmyk, int minWidth, int minHeight)
{
    if (setjmp(d.trap.jump)) return false;
    d.info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    if (minWidth > 0 && minHeight > 0) {
        // Reduced output is only a first step towards a thumbnail, so the faster paths serve.
        d.info.dct_method = JDCT_IFAST;
        d.info.do_fancy_upsampling = FALSE;
        for (unsigned num = 1; num <= 8; ++num) {
            d.info.scale_num = num;
            d.info.scale_denom = 8;
            jpeg_calc_output_dimensions(&d.info);
            if (d.info.output_width >= static_cast<unsigned>(minWidth) &&
                d.info.output_height >= static_cast<unsigned>(minHeight))
                break;
        }
    }
    jpeg_start_decompress(&d.info);
    return true;
}

bool RunReadLines(Decompressor& d, std::uint8_t* bits, std::ptrdiff_t stride)
{
    if (setjmp(d.trap.jump)) return false;
    while (d.info.output_scanline < d.info.output_height) {
        JSAMPROW rows[4];
        const JDIMENSION first = d.info.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(4, d.info.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = bits + stride * static_cast<std::ptrdiff_t>(first + i);
        if (jpeg_read_scanlines(&d.info, rows, count) == 0) return false;
    }
    jpeg_finish_decompress(&d.info);
    return true;
}

// Photoshop writes Adobe-marked CMYK inverted; others store plain ink amounts.
void CmykToRgb(QImage& image, bool inverted)
{
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* p = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x, p += 4) {
            int c = p[0], m = p[1], ye = p[2], k = p[3];
            if (!inverted) c = 255 - c, m = 255 - m, ye = 255 - ye, k = 255 - k;
            p[0] = static_cast<std::uint8_t>(ye * k / 255);
            p[1] = static_cast<std::uint8_t>(m * k / 255);
            p[2] = static_cast<std::uint8_t>(c * k / 255);
            p[3] = 0xFF;
        }
    }
}

Error Failure(const Decompressor& d, ErrorKind kind)
{
    return MakeError(kind, std::string("JPEG: ") + d.trap.message);
}

// Huffman coding spends at least a bit on every 8 × 8 block of the full-resolution component
// (the code of its DC value), so the bytes after the first scan header bound the blocks there
// are. Arithmetic coding can spend far less than a bit on a block: only the pixel bound holds.
Result<void> CheckData(const Decompressor& d)
{
    const std::int64_t pixels = std::int64_t{d.info.image_width} * d.info.image_height;
    if (!d.info.arith_code && !DataCouldShow(pixels, static_cast<std::int64_t>(d.info.src->bytes_in_buffer) * 8 * 64))
        return MakeError(ErrorKind::BadHeader, "JPEG: the file is too short for the declared size");
    return {};
}

Result<QImage> Decode(std::span<const std::uint8_t> bytes, int minWidth, int minHeight)
{
    if (bytes.empty()) return MakeError(ErrorKind::Truncated, "JPEG: no data");
    Decompressor d;
    if (!RunReadHeader(d, bytes.data(), bytes.size(), true)) return Failure(d, ErrorKind::BadHeader);
    if (std::int64_t{d.info.image_width} * d.info.image_height > kMaxPixels)
        return MakeError(ErrorKind::Unsupported, "JPEG: picture too large");
    if (Result<void> believed = CheckData(d); !believed) return believed.error();
    const bool cmyk = d.info.jpeg_color_space == JCS_CMYK || d.info.jpeg_color_space == JCS_YCCK;
    // Read before the decode ends: libjpeg frees the saved markers with the picture's memory. A
    // CMYK profile describes inks this decoder converts by a formula of its own.
    const QColorSpace space = cmyk ? QColorSpace() : ProfileOf(d);
    if (!RunStart(d, cmyk, minWidth, minHeight)) return Failure(d, ErrorKind::BadHeader);

    QImage image =
        NewPicture(static_cast<int>(d.info.output_width), static_cast<int>(d.info.output_height), QImage::Format_RGB32);
    if (image.isNull()) return MakeError(ErrorKind::Unsupported, "JPEG: not enough memory for the picture");
    if (!RunReadLines(d, image.bits(), image.bytesPerLine())) return Failure(d, ErrorKind::BadHeader);
    if (cmyk) CmykToRgb(image, d.info.saw_Adobe_marker);
    image.setColorSpace(space);
    return image;
}

// A growing malloc'd buffer: libjpeg's own memory destination may leave its caller a freed
// pointer when it fails after growing, so the owner keeps the only pointer here.
struct Sink {
    jpeg_destination_mgr pub;  // first member: cinfo->dest is also a pointer to the sink
    std::uint8_t* data = nullptr;
    std::size_t capacity = 0;
    std::size_t size = 0;
};

[[noreturn]] void OutOfMemory(j_compress_ptr info)
{
    info->err->msg_code = JERR_OUT_OF_MEMORY;
    info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
    std::abort();  // error_exit never returns
}

void SinkInit(j_compress_ptr info)
{
    auto* sink = reinterpret_cast<Sink*>(info->dest);
    sink->capacity = 64 * 1024;
    sink->data = static_cast<std::uint8_t*>(std::malloc(sink->capacity));
    if (!sink->data) OutOfMemory(info);
    sink->pub.next_output_byte = sink->data;
    sink->pub.free_in_buffer = sink->capacity;
}

boolean SinkGrow(j_compress_ptr info)
{
    auto* sink = reinterpret_cast<Sink*>(info->dest);
    // libjpeg calls this only when the whole buffer is full.
    auto* grown = static_cast<std::uint8_t*>(std::realloc(sink->data, sink->capacity * 2));
    if (!grown) OutOfMemory(info);
    sink->data = grown;
    sink->pub.next_output_byte = grown + sink->capacity;
    sink->pub.free_in_buffer = sink->capacity;
    sink->capacity *= 2;
    return TRUE;
}

void SinkTerm(j_compress_ptr info)
{
    auto* sink = reinterpret_cast<Sink*>(info->dest);
    sink->size = sink->capacity - sink->pub.free_in_buffer;
}

struct Compressor {
    Compressor()
    {
        InitTrap(trap);
        info.err = &trap.pub;
        sink.pub.init_destination = SinkInit;
        sink.pub.empty_output_buffer = SinkGrow;
        sink.pub.term_destination = SinkTerm;
    }
    ~Compressor()
    {
        if (created) jpeg_destroy_compress(&info);
        std::free(sink.data);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    jpeg_compress_struct info{};
    ErrorTrap trap{};
    Sink sink{};
    bool created = false;
};

bool RunEncode(Compressor& c, const QImage& pixels, int quality)
{
    if (setjmp(c.trap.jump)) return false;
    c.created = true;
    jpeg_create_compress(&c.info);
    c.info.dest = &c.sink.pub;
    c.info.image_width = static_cast<JDIMENSION>(pixels.width());
    c.info.image_height = static_cast<JDIMENSION>(pixels.height());
    c.info.input_components = 4;
    c.info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c.info);
    jpeg_set_quality(&c.info, quality, TRUE);
    jpeg_start_compress(&c.info, TRUE);
    while (c.info.next_scanline < c.info.image_height) {
        // libjpeg only reads the rows, its API merely lacks const.
        JSAMPROW row = const_cast<JSAMPROW>(pixels.constScanLine(static_cast<int>(c.info.next_scanline)));
        jpeg_write_scanlines(&c.info, &row, 1);
    }
    jpeg_finish_compress(&c.info);
    return true;
}

Result<JpegLayout> LayoutOf(const Decompressor& d)
{
    const jpeg_decompress_struct& info = d.info;
    if (info.num_components < 1) return MakeError(ErrorKind::BadHeader, "JPEG: no components");
    JpegLayout layout;
    layout.size = QSize(static_cast<int>(info.image_width), static_cast<int>(info.image_height));
    // One component is coded block by block whatever sampling factor it claims.
    layout.mcu = info.num_components == 1 ? QSize(DCTSIZE, DCTSIZE)
                                          : QSize(info.max_h_samp_factor * DCTSIZE, info.max_v_samp_factor * DCTSIZE);
    layout.progressive = info.progressive_mode;
    return layout;
}

}  // namespace

Result<QImage> DecodeJpeg(std::span<const std::uint8_t> bytes)
{
    return Decode(bytes, 0, 0);
}

Result<QImage> DecodeJpegFile(const std::string& path)
{
    Result<std::vector<std::uint8_t>> bytes = ReadImageFile(path);
    if (!bytes) return bytes.error();
    return DecodeJpeg(bytes.value());
}

Result<QImage> DecodeJpegScaled(std::span<const std::uint8_t> bytes, int minWidth, int minHeight)
{
    return Decode(bytes, std::max(minWidth, 1), std::max(minHeight, 1));
}

Result<QImage> DecodeJpegUpright(std::span<const std::uint8_t> bytes)
{
    Result<QImage> image = DecodeJpeg(bytes);
    const PixelTransform t = FromExifOrientation(ExifOrientation(bytes));
    if (!image || t == PixelTransform::Identity) return image;
    QImage upright = Transformed(image.value(), t);
    if (upright.isNull()) return MakeError(ErrorKind::Unsupported, "JPEG: not enough memory for the picture");
    return upright;
}

Result<JpegLayout> ReadJpegLayout(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty()) return MakeError(ErrorKind::Truncated, "JPEG: no data");
    Decompressor d;
    if (!RunReadHeader(d, bytes.data(), bytes.size())) return Failure(d, ErrorKind::BadHeader);
    if (Result<void> believed = CheckData(d); !believed) return believed.error();
    return LayoutOf(d);
}

Result<QSize> JpegSize(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty()) return MakeError(ErrorKind::Truncated, "JPEG: no data");
    Decompressor d;
    if (!RunReadHeader(d, bytes.data(), bytes.size())) return Failure(d, ErrorKind::BadHeader);
    return QSize(static_cast<int>(d.info.image_width), static_cast<int>(d.info.image_height));
}

Result<std::vector<std::uint8_t>> EncodeJpeg(const QImage& picture, int quality)
{
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0)
        return MakeError(ErrorKind::Unsupported, "JPEG: empty picture");
    // Not Format_RGB32: Qt would blend translucent pixels onto black; libjpeg skips the X byte anyway.
    const QImage pixels =
        picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_ARGB32);
    Compressor c;
    if (!RunEncode(c, pixels, std::clamp(quality, 1, 100)))
        return MakeError(ErrorKind::Io, std::string("JPEG: ") + c.trap.message);
    return std::vector<std::uint8_t>(c.sink.data, c.sink.data + c.sink.size);
}

}  // namespace quillix::imaging
