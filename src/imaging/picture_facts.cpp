#include "imaging/picture_facts.h"

#include "imaging/exif_orientation.h"
#include "imaging/heif_codec.h"
#include "imaging/jpeg_codec.h"
#include "imaging/jxl_codec.h"
#include "imaging/orientation.h"
#include "imaging/tiff_codec.h"
#include "imaging/webp_bridge.h"

#include <libexif/exif-data.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace quillix::imaging {
namespace {

std::uint32_t Big32(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 | std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}

std::uint32_t Little32(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint32_t{b[at + 3]} << 24 | std::uint32_t{b[at + 2]} << 16 | std::uint32_t{b[at + 1]} << 8 | b[at];
}

int Little16(std::span<const std::uint8_t> b, std::size_t at)
{
    return b[at + 1] << 8 | b[at];
}

void SetSize(PictureFacts& facts, long long width, long long height)
{
    if (width <= 0 || height <= 0 || width > INT_MAX || height > INT_MAX) return;
    facts.width = static_cast<int>(width);
    facts.height = static_cast<int>(height);
}

void PngSize(std::span<const std::uint8_t> b, PictureFacts& facts)
{
    if (b.size() < 24 || std::string_view(reinterpret_cast<const char*>(b.data()) + 12, 4) != "IHDR") return;
    SetSize(facts, Big32(b, 16), Big32(b, 20));
}

void BmpSize(std::span<const std::uint8_t> b, PictureFacts& facts)
{
    if (b.size() < 26) return;
    const std::uint32_t infoSize = Little32(b, 14);
    if (infoSize == 12) {
        SetSize(facts, Little16(b, 18), Little16(b, 20));
        return;
    }
    if (infoSize < 40) return;
    // A negative height marks rows stored top-down.
    const auto height = static_cast<std::int32_t>(Little32(b, 22));
    SetSize(facts, static_cast<std::int32_t>(Little32(b, 18)), std::llabs(static_cast<long long>(height)));
}

// Skips a run of data sub-blocks; false when the bytes end first.
bool SkipSubBlocks(std::span<const std::uint8_t> b, std::size_t& at)
{
    while (at < b.size()) {
        const std::size_t n = b[at++];
        if (n == 0) return true;
        at += n;
    }
    return false;
}

// Walks the blocks up to a second image descriptor, without decompressing anything.
bool GifHasSeveralFrames(std::span<const std::uint8_t> b)
{
    if (b.size() < 13) return false;
    std::size_t at = 13;
    if (b[10] & 0x80) at += 3u << ((b[10] & 7) + 1);
    int frames = 0;
    while (at < b.size()) {
        if (b[at] == 0x2C) {
            if (++frames > 1) return true;
            at += 10;
            if (at > b.size()) return false;
            const std::uint8_t flags = b[at - 1];
            if (flags & 0x80) at += 3u << ((flags & 7) + 1);
            at += 1;  // the LZW code size
        } else if (b[at] == 0x21) {
            at += 2;
        } else {
            return false;  // the trailer, or damage
        }
        if (!SkipSubBlocks(b, at)) return false;
    }
    return false;
}

struct ExifDataDeleter {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};

std::string AsciiTag(ExifData* data, ExifIfd ifd, ExifTag tag)
{
    const ExifEntry* entry = exif_content_get_entry(data->ifd[ifd], tag);
    if (!entry || entry->format != EXIF_FORMAT_ASCII || !entry->data) return {};
    std::string text(reinterpret_cast<const char*>(entry->data), entry->size);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// "YYYY:MM:DD HH:MM:SS" as dates are written elsewhere; any other text as it stands.
std::string DateText(std::string taken)
{
    if (taken.size() == 19 && taken[4] == ':' && taken[7] == ':' && taken[10] == ' ') taken[4] = taken[7] = '-';
    return taken;
}

void ReadExif(std::span<const std::uint8_t> jpeg, PictureFacts& facts)
{
    const ExifBlock block = FindExifBlock(jpeg);
    if (block.size == 0 || block.size > UINT_MAX) return;
    const std::unique_ptr<ExifData, ExifDataDeleter> data(exif_data_new());
    if (!data) return;
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data.get(), jpeg.data() + block.offset, static_cast<unsigned>(block.size));
    const std::string make = AsciiTag(data.get(), EXIF_IFD_0, EXIF_TAG_MAKE);
    const std::string model = AsciiTag(data.get(), EXIF_IFD_0, EXIF_TAG_MODEL);
    // Most makers repeat their name in the model ("Canon" and "Canon EOS 80D").
    if (make.empty() || model.starts_with(make))
        facts.camera = model.empty() ? make : model;
    else
        facts.camera = model.empty() ? make : make + " " + model;
    facts.taken = DateText(AsciiTag(data.get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL));
}

void JpegFacts(std::span<const std::uint8_t> bytes, PictureFacts& facts)
{
    const Result<QSize> size = JpegSize(bytes);
    if (size) {
        const bool turned = SwapsSides(FromExifOrientation(ExifOrientation(bytes)));
        const QSize shown = turned ? size.value().transposed() : size.value();
        SetSize(facts, shown.width(), shown.height());
    }
    ReadExif(bytes, facts);
}

}  // namespace

PictureFacts ReadPictureFacts(std::span<const std::uint8_t> bytes)
{
    PictureFacts facts;
    facts.format = SniffFormat(bytes);
    switch (facts.format) {
    case ImageFormat::Jpeg: JpegFacts(bytes, facts); break;
    case ImageFormat::Png: PngSize(bytes, facts); break;
    case ImageFormat::Bmp: BmpSize(bytes, facts); break;
    case ImageFormat::Gif:
        if (bytes.size() >= 10) SetSize(facts, Little16(bytes, 6), Little16(bytes, 8));
        facts.animated = GifHasSeveralFrames(bytes);
        break;
    case ImageFormat::WebP: {
        int width = 0, height = 0;
        if (WebPSize(bytes, width, height)) SetSize(facts, width, height);
        facts.animated = IsAnimatedBytes(bytes);
        break;
    }
    case ImageFormat::Tiff:
        if (const Result<QSize> size = TiffSize(bytes)) SetSize(facts, size.value().width(), size.value().height());
        break;
    case ImageFormat::Jxl:
        if (const Result<QSize> size = JxlSize(bytes)) SetSize(facts, size.value().width(), size.value().height());
        facts.animated = IsAnimatedJxl(bytes);
        break;
    case ImageFormat::Heif:
        if (const Result<QSize> size = HeifSize(bytes)) SetSize(facts, size.value().width(), size.value().height());
        break;
    case ImageFormat::Unknown: break;
    }
    return facts;
}

std::string FormatName(ImageFormat format, bool animated)
{
    std::string name;
    switch (format) {
    case ImageFormat::Jpeg: name = "JPEG"; break;
    case ImageFormat::Png: name = "PNG"; break;
    case ImageFormat::Gif: name = "GIF"; break;
    case ImageFormat::Bmp: name = "BMP"; break;
    case ImageFormat::WebP: name = "WebP"; break;
    case ImageFormat::Heif: name = "HEIF"; break;
    case ImageFormat::Tiff: name = "TIFF"; break;
    case ImageFormat::Jxl: name = "JPEG XL"; break;
    case ImageFormat::Unknown: return {};
    }
    return animated ? name + ", animated" : name;
}

}  // namespace quillix::imaging
