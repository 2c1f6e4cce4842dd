#include "imaging/exif_orientation.h"

#include <libexif/exif-data.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

namespace quillix::imaging {
namespace {

constexpr std::uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kThumbnailOffsetTag = 0x0201;
constexpr std::uint16_t kThumbnailLengthTag = 0x0202;
constexpr std::uint16_t kShort = 3, kLong = 4;

struct ExifDataDeleter {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};

// The TIFF structure inside the EXIF block, every access checked against its end.
class Tiff {
public:
    Tiff(std::uint8_t* base, std::size_t size, bool little) : base_(base), size_(size), little_(little) {}

    bool Has(std::size_t at, std::size_t count) const { return at <= size_ && count <= size_ - at; }
    std::uint16_t U16(std::size_t at) const
    {
        return little_ ? static_cast<std::uint16_t>(base_[at] | base_[at + 1] << 8)
                       : static_cast<std::uint16_t>(base_[at] << 8 | base_[at + 1]);
    }
    std::uint32_t U32(std::size_t at) const
    {
        const std::uint32_t hi = U16(at), lo = U16(at + 2);
        return little_ ? lo << 16 | hi : hi << 16 | lo;
    }
    void Set16(std::size_t at, std::uint16_t v)
    {
        base_[at + (little_ ? 0 : 1)] = static_cast<std::uint8_t>(v);
        base_[at + (little_ ? 1 : 0)] = static_cast<std::uint8_t>(v >> 8);
    }
    void Set32(std::size_t at, std::uint32_t v)
    {
        Set16(at + (little_ ? 0 : 2), static_cast<std::uint16_t>(v));
        Set16(at + (little_ ? 2 : 0), static_cast<std::uint16_t>(v >> 16));
    }
    std::uint8_t* At(std::size_t at) const { return base_ + at; }

    // The first entry of the directory at `ifd`, its entry count and where the link to the next
    // directory lies; false when any of it is outside the block.
    bool Directory(std::size_t ifd, std::size_t& entries, std::size_t& count, std::size_t& next) const
    {
        if (!Has(ifd, 2)) return false;
        count = U16(ifd);
        entries = ifd + 2;
        next = entries + 12 * count;
        return Has(entries, 12 * count + 4);
    }

    // A one-value SHORT or LONG entry's value; nothing for other types.
    std::optional<std::uint32_t> Number(std::size_t entry) const
    {
        if (U32(entry + 4) != 1) return std::nullopt;
        if (U16(entry + 2) == kShort) return U16(entry + 8);
        if (U16(entry + 2) == kLong) return U32(entry + 8);
        return std::nullopt;
    }

private:
    std::uint8_t* base_;
    std::size_t size_;
    bool little_;
};

// An orientation entry of type SHORT is set to 1; the value sits in the first two bytes of the
// entry's value field in either byte order.
void ResetOrientationEntries(Tiff& tiff, std::size_t entries, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t e = entries + 12 * i;
        if (tiff.U16(e) == kOrientationTag && tiff.U16(e + 2) == kShort && tiff.U32(e + 4) >= 1) tiff.Set16(e + 8, 1);
    }
}

// Where the JPEG thumbnail of the directory at `ifd1` lies, and the entry that holds its length.
struct Thumbnail {
    std::size_t offset = 0, length = 0, lengthEntry = 0;
    std::size_t entries = 0, count = 0;
};

std::optional<Thumbnail> FindThumbnail(const Tiff& tiff, std::size_t ifd1)
{
    Thumbnail t;
    std::size_t next = 0;
    if (!tiff.Directory(ifd1, t.entries, t.count, next)) return std::nullopt;
    std::optional<std::uint32_t> offset, length;
    for (std::size_t i = 0; i < t.count; ++i) {
        const std::size_t e = t.entries + 12 * i;
        if (tiff.U16(e) == kThumbnailOffsetTag) offset = tiff.Number(e);
        if (tiff.U16(e) == kThumbnailLengthTag) length = tiff.Number(e), t.lengthEntry = e;
    }
    if (!offset || !length || *length == 0 || !tiff.Has(*offset, *length)) return std::nullopt;
    t.offset = *offset;
    t.length = *length;
    return t;
}

// Rewrites an orientation entry as one SHORT holding `value`, whatever type or count it had: a
// value of another type would leave readers at 1. Its value field is inline, so nothing moves.
void SetOrientationEntry(Tiff& tiff, std::size_t entry, std::uint16_t value)
{
    tiff.Set16(entry + 2, kShort);
    tiff.Set32(entry + 4, 1);
    tiff.Set32(entry + 8, 0);
    tiff.Set16(entry + 8, value);
}

std::vector<std::size_t> OrientationEntries(const Tiff& tiff, std::size_t entries, std::size_t count)
{
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < count; ++i)
        if (tiff.U16(entries + 12 * i) == kOrientationTag) found.push_back(entries + 12 * i);
    return found;
}

// "Exif\0\0" and a TIFF structure whose only directory holds the orientation.
std::vector<std::uint8_t> OrientationOnlyExif(std::uint16_t value)
{
    std::vector<std::uint8_t> payload(sizeof kExifHeader + 8 + 2 + 12 + 4, 0);
    std::memcpy(payload.data(), kExifHeader, sizeof kExifHeader);
    Tiff tiff(payload.data() + sizeof kExifHeader, payload.size() - sizeof kExifHeader, false);
    tiff.Set16(0, 0x4D4D);  // "MM"
    tiff.Set16(2, 42);
    tiff.Set32(4, 8);
    tiff.Set16(8, 1);
    tiff.Set16(10, kOrientationTag);
    SetOrientationEntry(tiff, 10, value);
    return payload;  // the link to a next directory stays 0
}

// A new APP1 segment goes right after SOI, but JFIF wants its APP0 segments first.
std::size_t NewSegmentPlace(std::span<const std::uint8_t> jpeg)
{
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] == 0xE0) {
        const std::size_t length = static_cast<std::size_t>(jpeg[at + 2] << 8 | jpeg[at + 3]);
        if (length < 2 || at + 2 + length > jpeg.size()) break;
        at += 2 + length;
    }
    return at;
}

bool AddExifBlock(std::vector<std::uint8_t>& jpeg, std::uint16_t value)
{
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    const std::vector<std::uint8_t> payload = OrientationOnlyExif(value);
    const std::size_t length = payload.size() + 2;
    std::vector<std::uint8_t> segment = {0xFF, 0xE1, static_cast<std::uint8_t>(length >> 8),
                                         static_cast<std::uint8_t>(length)};
    segment.insert(segment.end(), payload.begin(), payload.end());
    jpeg.insert(jpeg.begin() + static_cast<long>(NewSegmentPlace(jpeg)), segment.begin(), segment.end());
    return true;
}

}  // namespace

ExifBlock FindExifBlock(std::span<const std::uint8_t> jpeg)
{
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return {};
    std::size_t at = 2;
    while (at < jpeg.size() && jpeg[at] == 0xFF) {
        while (at < jpeg.size() && jpeg[at] == 0xFF)
            ++at;  // fill bytes before a marker
        if (at >= jpeg.size()) break;
        const std::uint8_t marker = jpeg[at++];
        if (marker == 0xDA || marker == 0xD9) break;                         // the scan or the end
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // markers without a length
        if (at + 2 > jpeg.size()) break;
        const std::size_t length = static_cast<std::size_t>(jpeg[at] << 8 | jpeg[at + 1]);
        if (length < 2) break;
        const std::size_t payload = at + 2;
        const std::size_t available = std::min(length - 2, jpeg.size() - payload);
        if (marker == 0xE1 && available >= sizeof kExifHeader &&
            std::memcmp(jpeg.data() + payload, kExifHeader, sizeof kExifHeader) == 0)
            return {payload, available};
        at += length;
    }
    return {};
}

int ExifOrientation(std::span<const std::uint8_t> jpeg)
{
    const ExifBlock block = FindExifBlock(jpeg);
    if (block.size == 0 || block.size > UINT_MAX) return 1;
    const std::unique_ptr<ExifData, ExifDataDeleter> data(exif_data_new());
    if (!data) return 1;
    // Following the specification would add the mandatory tags it finds missing: work for nothing.
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data.get(), jpeg.data() + block.offset, static_cast<unsigned>(block.size));
    const ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (!entry || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 || entry->size < 2 || !entry->data)
        return 1;
    const int value = exif_get_short(entry->data, exif_data_get_byte_order(data.get()));
    return value >= 1 && value <= 8 ? value : 1;
}

bool ResetExifOrientation(std::vector<std::uint8_t>& jpeg, PixelTransform applied, const ThumbnailTurn& turnThumbnail)
{
    const ExifBlock block = FindExifBlock(jpeg);
    if (block.size == 0) return true;
    if (block.size < sizeof kExifHeader + 8) return false;
    std::uint8_t* header = jpeg.data() + block.offset + sizeof kExifHeader;
    const bool little = header[0] == 'I' && header[1] == 'I';
    if (!little && !(header[0] == 'M' && header[1] == 'M')) return false;
    Tiff tiff(header, block.size - sizeof kExifHeader, little);
    if (tiff.U16(2) != 42) return false;

    std::size_t entries = 0, count = 0, next = 0;
    if (!tiff.Directory(tiff.U32(4), entries, count, next)) return false;
    ResetOrientationEntries(tiff, entries, count);
    const std::uint32_t ifd1 = tiff.U32(next);
    if (ifd1 == 0 || applied == PixelTransform::Identity) return true;

    const std::optional<Thumbnail> thumbnail = FindThumbnail(tiff, ifd1);
    std::optional<std::vector<std::uint8_t>> turned;
    if (thumbnail && turnThumbnail) turned = turnThumbnail({tiff.At(thumbnail->offset), thumbnail->length});
    if (!turned || turned->empty()) {
        if (thumbnail) std::memset(tiff.At(thumbnail->offset), 0, thumbnail->length);
        tiff.Set32(next, 0);  // no thumbnail rather than one the other way round
        return true;
    }
    // Cameras put the thumbnail last in the block: there it may grow or shrink with the segment.
    const std::size_t tiffAt = block.offset + sizeof kExifHeader, tiffSize = block.size - sizeof kExifHeader;
    const std::size_t segmentLength = static_cast<std::size_t>(jpeg[block.offset - 2] << 8 | jpeg[block.offset - 1]);
    const bool last = thumbnail->offset + thumbnail->length == tiffSize && segmentLength == block.size + 2;
    const std::size_t grownLength = segmentLength - thumbnail->length + turned->size();
    if (last && grownLength <= 0xFFFF) {
        const auto end = jpeg.begin() + static_cast<long>(tiffAt + tiffSize);
        if (turned->size() > thumbnail->length)
            jpeg.insert(end, turned->size() - thumbnail->length, 0);
        else
            jpeg.erase(end - static_cast<long>(thumbnail->length - turned->size()), end);
        jpeg[block.offset - 2] = static_cast<std::uint8_t>(grownLength >> 8);
        jpeg[block.offset - 1] = static_cast<std::uint8_t>(grownLength);
    } else if (turned->size() > thumbnail->length) {
        std::memset(tiff.At(thumbnail->offset), 0, thumbnail->length);
        tiff.Set32(next, 0);
        return true;
    }
    Tiff resized(jpeg.data() + tiffAt, last ? tiffSize - thumbnail->length + turned->size() : tiffSize, little);
    std::memcpy(resized.At(thumbnail->offset), turned->data(), turned->size());
    if (turned->size() < thumbnail->length && !last)
        std::memset(resized.At(thumbnail->offset + turned->size()), 0, thumbnail->length - turned->size());
    if (resized.U16(thumbnail->lengthEntry + 2) == kLong)
        resized.Set32(thumbnail->lengthEntry + 8, static_cast<std::uint32_t>(turned->size()));
    else
        resized.Set16(thumbnail->lengthEntry + 8, static_cast<std::uint16_t>(turned->size()));
    ResetOrientationEntries(resized, thumbnail->entries, thumbnail->count);
    return true;
}

bool SetExifOrientation(std::vector<std::uint8_t>& jpeg, int value)
{
    if (value < 1 || value > 8) return false;
    const auto orientation = static_cast<std::uint16_t>(value);
    const ExifBlock block = FindExifBlock(jpeg);
    if (block.size == 0) return value == 1 || AddExifBlock(jpeg, orientation);
    if (block.size < sizeof kExifHeader + 8) return false;
    const std::size_t tiffAt = block.offset + sizeof kExifHeader, tiffSize = block.size - sizeof kExifHeader;
    const bool little = jpeg[tiffAt] == 'I' && jpeg[tiffAt + 1] == 'I';
    if (!little && !(jpeg[tiffAt] == 'M' && jpeg[tiffAt + 1] == 'M')) return false;
    Tiff tiff(jpeg.data() + tiffAt, tiffSize, little);
    if (tiff.U16(2) != 42) return false;
    std::size_t entries = 0, count = 0, next = 0;
    if (!tiff.Directory(tiff.U32(4), entries, count, next)) return false;

    // The thumbnail shows the stored pixels as the picture does, so its own tag (rare) follows.
    std::vector<std::size_t> tags = OrientationEntries(tiff, entries, count);
    const bool inFirst = !tags.empty();
    std::size_t entries1 = 0, count1 = 0, next1 = 0;
    if (const std::uint32_t ifd1 = tiff.U32(next); ifd1 != 0 && tiff.Directory(ifd1, entries1, count1, next1)) {
        const std::vector<std::size_t> more = OrientationEntries(tiff, entries1, count1);
        tags.insert(tags.end(), more.begin(), more.end());
    }
    if (inFirst || value == 1) {
        for (const std::size_t entry : tags)
            SetOrientationEntry(tiff, entry, orientation);
        return true;
    }

    // The first directory has no tag: a copy with it, in tag order, goes after everything the
    // block holds and the header links to it. The old one is left unlinked.
    const std::size_t segmentLength = static_cast<std::size_t>(jpeg[block.offset - 2] << 8 | jpeg[block.offset - 1]);
    if (segmentLength != block.size + 2 || count + 1 > 0xFFFF) return false;  // the file ends inside the block
    const std::size_t pad = tiffSize % 2;                                     // directories start on a word boundary
    std::vector<std::uint8_t> copy(pad + 2 + 12 * (count + 1) + 4, 0);
    if (segmentLength + copy.size() > 0xFFFF) return false;
    Tiff out(copy.data() + pad, copy.size() - pad, little);
    out.Set16(0, static_cast<std::uint16_t>(count + 1));
    std::size_t at = 2;
    bool placed = false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = entries + 12 * i;
        if (!placed && tiff.U16(entry) > kOrientationTag) {
            out.Set16(at, kOrientationTag);
            SetOrientationEntry(out, at, orientation);
            at += 12;
            placed = true;
        }
        std::memcpy(out.At(at), tiff.At(entry), 12);
        at += 12;
    }
    if (!placed) {
        out.Set16(at, kOrientationTag);
        SetOrientationEntry(out, at, orientation);
        at += 12;
    }
    std::memcpy(out.At(at), tiff.At(next), 4);  // the thumbnail's directory stays linked
    for (const std::size_t entry : tags)
        SetOrientationEntry(tiff, entry, orientation);
    tiff.Set32(4, static_cast<std::uint32_t>(tiffSize + pad));
    jpeg.insert(jpeg.begin() + static_cast<long>(tiffAt + tiffSize), copy.begin(), copy.end());
    const std::size_t grown = segmentLength + copy.size();
    jpeg[block.offset - 2] = static_cast<std::uint8_t>(grown >> 8);
    jpeg[block.offset - 1] = static_cast<std::uint8_t>(grown);
    return true;
}

}  // namespace quillix::imaging
