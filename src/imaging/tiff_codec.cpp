#include "imaging/tiff_codec.h"

#include "imaging/colour_profile.h"
#include "imaging/image_format.h"
#include "imaging/still_decoder.h"

#include <tiffio.h>

#include <QColorSpace>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <string>

namespace quillix::imaging {
namespace {

struct Messages {
    char text[512] = {};
};

// The format comes from libtiff, with the arguments that match it.
[[gnu::format(printf, 4, 0)]] int KeepFirstError(TIFF*, void* user, const char* module, const char* format,
                                                 va_list args)
{
    auto* messages = static_cast<Messages*>(user);
    if (messages->text[0] != '\0') return 1;
    int used =
        std::snprintf(messages->text, sizeof messages->text, "TIFF: %s%s", module ? module : "", module ? ": " : "");
    used = std::clamp(used, 0, static_cast<int>(sizeof messages->text) - 1);
    std::vsnprintf(messages->text + used, sizeof messages->text - static_cast<std::size_t>(used), format, args);
    return 1;
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

// A few of libtiff's messages are raised without a handle, and go to the process-wide handlers,
// whose default prints to stderr.
void SilenceProcessWideHandlers()
{
    static const bool silenced = [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        return true;
    }();
    (void)silenced;
}

struct MemoryFile {
    std::span<const std::uint8_t> data;
    std::uint64_t position = 0;
};

tmsize_t ReadMemory(thandle_t handle, void* out, tmsize_t size)
{
    auto* file = static_cast<MemoryFile*>(handle);
    if (size <= 0 || file->position >= file->data.size()) return 0;
    const std::uint64_t count =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(size), file->data.size() - file->position);
    std::memcpy(out, file->data.data() + file->position, count);
    file->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t RefuseWrite(thandle_t, void*, tmsize_t)
{
    return -1;
}

toff_t SeekMemory(thandle_t handle, toff_t offset, int whence)
{
    auto* file = static_cast<MemoryFile*>(handle);
    // A negative move arrives wrapped round, and unsigned arithmetic unwraps it; a place past the
    // end reads nothing.
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = file->position;
    if (whence == SEEK_END) base = file->data.size();
    file->position = base + offset;
    return file->position;
}

int CloseMemory(thandle_t)
{
    return 0;
}

toff_t SizeOfMemory(thandle_t handle)
{
    return static_cast<MemoryFile*>(handle)->data.size();
}

// Mapping the bytes spares libtiff a copy of every strip; it never writes through the pointer in
// read mode.
int MapMemory(thandle_t handle, void** base, toff_t* size)
{
    auto* file = static_cast<MemoryFile*>(handle);
    if (file->data.empty()) return 0;
    *base = const_cast<std::uint8_t*>(file->data.data());
    *size = file->data.size();
    return 1;
}

void UnmapMemory(thandle_t, void*, toff_t) {}

struct CloseTiff {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct FreeOptions {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// An open file and what its handle points into; it stays where it was made.
struct Reader {
    MemoryFile file;
    Messages messages;
    std::unique_ptr<TIFF, CloseTiff> tiff;

    Error Failure(ErrorKind kind, const char* fallback) const
    {
        return MakeError(kind, messages.text[0] != '\0' ? std::string(messages.text) : std::string(fallback));
    }
};

std::unique_ptr<Reader> Open(std::span<const std::uint8_t> bytes)
{
    SilenceProcessWideHandlers();
    auto reader = std::make_unique<Reader>();
    reader->file.data = bytes;
    const std::unique_ptr<TIFFOpenOptions, FreeOptions> options(TIFFOpenOptionsAlloc());
    if (!options) return reader;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), KeepFirstError, &reader->messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), IgnoreWarning, nullptr);
    reader->tiff.reset(TIFFClientOpenExt("memory", "r", &reader->file, ReadMemory, RefuseWrite, SeekMemory, CloseMemory,
                                         SizeOfMemory, MapMemory, UnmapMemory, options.get()));
    return reader;
}

struct Size {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

Result<Size> PageSize(const Reader& r)
{
    Size size;
    if (!TIFFGetField(r.tiff.get(), TIFFTAG_IMAGEWIDTH, &size.width) ||
        !TIFFGetField(r.tiff.get(), TIFFTAG_IMAGELENGTH, &size.height) || size.width == 0 || size.height == 0)
        return MakeError(ErrorKind::BadHeader, "TIFF: the page has no size");
    if (std::int64_t{size.width} * size.height > kMaxPixels)
        return MakeError(ErrorKind::Unsupported, "TIFF: picture too large");
    return size;
}

PixelTransform PageOrientation(const Reader& r)
{
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(r.tiff.get(), TIFFTAG_ORIENTATION, &orientation);
    return FromExifOrientation(orientation);
}

// Decoded bytes one stored byte can give at most under `compression`; 0 where the codec has no
// useful bound (fax codes, zstd and LZMA can describe a long run in a few bits).
std::int64_t DensestBytesPerByte(std::uint16_t compression)
{
    switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64;  // two bytes repeat one 128 times
    case COMPRESSION_LZW: return 3641;     // a code of at least 9 bits for a string of at most 4096 bytes
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return 1032;
    default: return 0;
    }
}

// Whether the strips or tiles of the page hold data enough to be believed for its size.
bool StripsCouldShow(const Reader& r, Size size)
{
    TIFF* tiff = r.tiff.get();
    const std::int64_t declared = std::int64_t{size.width} * size.height;
    // libtiff allocates a whole tile to decode one; a small picture in vast tiles is a lie too.
    std::uint32_t tileWidth = 0, tileHeight = 0;
    if (TIFFIsTiled(tiff) && TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth) &&
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight) &&
        std::int64_t{tileWidth} * tileHeight > std::max<std::int64_t>(declared, std::int64_t{1} << 20))
        return false;
    std::uint16_t compression = COMPRESSION_NONE, bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    const bool jpeg = compression == COMPRESSION_JPEG || compression == COMPRESSION_OJPEG;
    const std::int64_t factor = DensestBytesPerByte(compression);
    if (!jpeg && factor == 0) return true;
    // Subsampled chroma costs less than a sample a pixel; counting the luma alone errs on belief.
    const std::int64_t bitsPerPixel = std::max<std::int64_t>(
        1, std::int64_t{bits} * (photometric == PHOTOMETRIC_YCBCR ? 1 : std::max<int>(1, samples)));
    const std::uint32_t strips = TIFFNumberOfStrips(tiff);
    std::int64_t paintable = 0;
    for (std::uint32_t i = 0; i < strips && paintable < declared; ++i) {
        const std::int64_t stored =
            static_cast<std::int64_t>(std::min<std::uint64_t>(TIFFGetStrileByteCount(tiff, i), r.file.data.size()));
        // A bit of entropy-coded data can end a whole 8 × 8 block.
        paintable += jpeg ? stored * 8 * 64 : stored * factor * 8 / bitsPerPixel;
    }
    return DataCouldShow(declared, paintable);
}

struct EndRgbaImage {
    void operator()(TIFFRGBAImage* image) const { TIFFRGBAImageEnd(image); }
};

void SetColourSpace(const Reader& r, QImage& image)
{
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    TIFFGetFieldDefaulted(r.tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    if (photometric != PHOTOMETRIC_RGB && photometric != PHOTOMETRIC_YCBCR && photometric != PHOTOMETRIC_PALETTE)
        return;
    std::uint32_t length = 0;
    const void* profile = nullptr;
    if (!TIFFGetField(r.tiff.get(), TIFFTAG_ICCPROFILE, &length, &profile) || !profile || length == 0) return;
    const QColorSpace space = ColourSpaceFromIcc({static_cast<const std::uint8_t*>(profile), length});
    if (space.isValid()) image.setColorSpace(space);
}

// libtiff's RGBA pixels are A, B, G, R from the high byte down, alpha multiplied in.
void ToQtPixels(QImage& image, bool alpha, bool premultiplied)
{
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const std::uint32_t p = row[x];
            std::uint32_t r = p & 0xFF, g = (p >> 8) & 0xFF, b = (p >> 16) & 0xFF;
            const std::uint32_t a = alpha ? p >> 24 : 0xFF;
            if (premultiplied && a != 0xFF) {
                r = a == 0 ? 0 : std::min<std::uint32_t>(255, (r * 255 + a / 2) / a);
                g = a == 0 ? 0 : std::min<std::uint32_t>(255, (g * 255 + a / 2) / a);
                b = a == 0 ? 0 : std::min<std::uint32_t>(255, (b * 255 + a / 2) / a);
            }
            row[x] = a << 24 | r << 16 | g << 8 | b;
        }
    }
}

}  // namespace

Result<QImage> DecodeTiff(std::span<const std::uint8_t> bytes)
{
    const std::unique_ptr<Reader> r = Open(bytes);
    if (!r->tiff) return r->Failure(ErrorKind::BadHeader, "TIFF: not a TIFF file");
    TIFF* tiff = r->tiff.get();
    const Result<Size> size = PageSize(*r);
    if (!size) return size.error();
    const auto [width, height] = size.value();
    if (!StripsCouldShow(*r, size.value()))
        return MakeError(ErrorKind::BadHeader, "TIFF: the data is too short for the declared size");

    // libtiff multiplies unassociated alpha in; told it is associated it leaves the samples as
    // stored, which is what Format_ARGB32 wants, with no rounding through a division.
    bool straightAlpha = false;
    std::uint16_t extraCount = 0;
    const std::uint16_t* extraKinds = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds) && extraCount > 0 &&
        extraKinds[0] == EXTRASAMPLE_UNASSALPHA) {
        std::vector<std::uint16_t> kinds(extraKinds, extraKinds + extraCount);
        kinds[0] = EXTRASAMPLE_ASSOCALPHA;
        straightAlpha = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, extraCount, kinds.data()) == 1;
    }

    char why[1024] = {};
    if (!TIFFRGBAImageOK(tiff, why)) return MakeError(ErrorKind::Unsupported, std::string("TIFF: ") + why);
    TIFFRGBAImage rgba{};
    if (!TIFFRGBAImageBegin(&rgba, tiff, 1, why)) return MakeError(ErrorKind::Unsupported, std::string("TIFF: ") + why);
    const std::unique_ptr<TIFFRGBAImage, EndRgbaImage> ending(&rgba);
    // Read as stored, top row first; the orientation is applied afterwards, all eight of them
    // (libtiff's own handling only mirrors, it never transposes).
    rgba.orientation = ORIENTATION_TOPLEFT;
    rgba.req_orientation = ORIENTATION_TOPLEFT;
    const bool alpha = rgba.alpha != 0;

    QImage image = NewPicture(static_cast<int>(width), static_cast<int>(height),
                              alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) return MakeError(ErrorKind::Unsupported, "TIFF: not enough memory for the picture");
    static_assert(sizeof(std::uint32_t) * 8 == 32);
    if (image.bytesPerLine() != static_cast<qsizetype>(width) * 4)
        return MakeError(ErrorKind::Unsupported, "TIFF: unexpected row layout");
    if (!TIFFRGBAImageGet(&rgba, reinterpret_cast<std::uint32_t*>(image.bits()), width, height))
        return r->Failure(ErrorKind::Truncated, "TIFF: the picture data is damaged");
    ToQtPixels(image, alpha, alpha && !straightAlpha);
    SetColourSpace(*r, image);
    const PixelTransform upright = PageOrientation(*r);
    if (upright == PixelTransform::Identity) return image;
    QImage shown = Transformed(image, upright);
    if (shown.isNull()) return MakeError(ErrorKind::Unsupported, "TIFF: not enough memory for the picture");
    return shown;
}

int TiffPageCount(std::span<const std::uint8_t> bytes)
{
    const std::unique_ptr<Reader> r = Open(bytes);
    if (!r->tiff) return 0;
    return static_cast<int>(std::min<tdir_t>(TIFFNumberOfDirectories(r->tiff.get()), INT32_MAX));
}

Result<QSize> TiffSize(std::span<const std::uint8_t> bytes)
{
    const std::unique_ptr<Reader> r = Open(bytes);
    if (!r->tiff) return r->Failure(ErrorKind::BadHeader, "TIFF: not a TIFF file");
    const Result<Size> size = PageSize(*r);
    if (!size) return size.error();
    const QSize stored(static_cast<int>(size.value().width), static_cast<int>(size.value().height));
    return SwapsSides(PageOrientation(*r)) ? stored.transposed() : stored;
}

namespace {

constexpr std::uint16_t kOrientationTag = 274;
constexpr std::uint16_t kShortType = 3;
constexpr std::uint16_t kLongType = 4;
constexpr std::size_t kMostPages = 1 << 16;

// The directory layout of a classic or BigTIFF file, every read checked against its end.
class Directories {
public:
    explicit Directories(std::vector<std::uint8_t>& bytes) : b_(bytes) {}

    bool ReadHeader()
    {
        if (b_.size() < 8) return false;
        if (b_[0] == 'I' && b_[1] == 'I')
            little_ = true;
        else if (b_[0] == 'M' && b_[1] == 'M')
            little_ = false;
        else
            return false;
        std::uint64_t magic = 0;
        if (!Get(2, 2, magic)) return false;
        if (magic == 42) return true;
        std::uint64_t offsetSize = 0, reserved = 0;
        if (magic != 43 || !Get(4, 2, offsetSize) || !Get(6, 2, reserved) || offsetSize != 8 || reserved != 0)
            return false;
        big_ = true;
        return b_.size() >= 16;
    }

    std::size_t FirstLink() const { return big_ ? 8 : 4; }
    int OffsetSize() const { return big_ ? 8 : 4; }
    int CountSize() const { return big_ ? 8 : 2; }
    std::size_t EntrySize() const { return big_ ? 20 : 12; }
    bool Big() const { return big_; }

    bool Get(std::size_t at, int size, std::uint64_t& value) const
    {
        if (at > b_.size() || b_.size() - at < static_cast<std::size_t>(size)) return false;
        value = 0;
        for (int i = 0; i < size; ++i) {
            const std::uint64_t byte = b_[at + static_cast<std::size_t>(little_ ? i : size - 1 - i)];
            value |= byte << (8 * i);
        }
        return true;
    }

    void Put(std::size_t at, int size, std::uint64_t value)
    {
        for (int i = 0; i < size; ++i)
            b_[at + static_cast<std::size_t>(little_ ? i : size - 1 - i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }

private:
    std::vector<std::uint8_t>& b_;
    bool little_ = true;
    bool big_ = false;
};

struct Page {
    std::size_t link = 0;  // where the offset of this directory is written
    std::size_t at = 0;    // the directory itself
    std::uint64_t entries = 0;
    std::size_t orientationEntry = 0;  // where its Orientation entry starts; 0 when it has none
    int orientation = 1;
};

// The value an Orientation entry holds when it is a single short or long in its entry.
int EntryOrientation(const Directories& d, std::size_t entry)
{
    std::uint64_t type = 0, count = 0, value = 0;
    if (!d.Get(entry + 2, 2, type) || !d.Get(entry + 4, d.Big() ? 8 : 4, count) || count != 1) return 1;
    const std::size_t valueAt = entry + 4 + (d.Big() ? 8 : 4);
    if (type == kShortType && d.Get(valueAt, 2, value)) return static_cast<int>(value);
    if (type == kLongType && d.Get(valueAt, 4, value)) return static_cast<int>(std::min<std::uint64_t>(value, 9));
    return 1;
}

bool WalkPages(const Directories& d, std::size_t size, std::vector<Page>& pages)
{
    std::set<std::uint64_t> seen;
    std::size_t link = d.FirstLink();
    std::uint64_t at = 0;
    if (!d.Get(link, d.OffsetSize(), at)) return false;
    while (at != 0) {
        if (!seen.insert(at).second || pages.size() >= kMostPages || at >= size) return false;
        Page page;
        page.link = link;
        page.at = static_cast<std::size_t>(at);
        if (!d.Get(page.at, d.CountSize(), page.entries) || page.entries == 0) return false;
        const std::size_t first = page.at + static_cast<std::size_t>(d.CountSize());
        if (page.entries > (size - first) / d.EntrySize()) return false;
        const std::size_t next = first + static_cast<std::size_t>(page.entries) * d.EntrySize();
        if (size - next < static_cast<std::size_t>(d.OffsetSize())) return false;
        for (std::uint64_t i = 0; i < page.entries; ++i) {
            const std::size_t entry = first + static_cast<std::size_t>(i) * d.EntrySize();
            std::uint64_t tag = 0;
            d.Get(entry, 2, tag);
            if (tag == kOrientationTag) {
                page.orientationEntry = entry;
                page.orientation = EntryOrientation(d, entry);
            }
        }
        pages.push_back(page);
        link = next;
        if (!d.Get(link, d.OffsetSize(), at)) return false;
    }
    return !pages.empty();
}

// Writes a single-short Orientation entry at `entry`.
void PutOrientationEntry(Directories& d, std::size_t entry, int value)
{
    d.Put(entry, 2, kOrientationTag);
    d.Put(entry + 2, 2, kShortType);
    const int countSize = d.Big() ? 8 : 4;
    d.Put(entry + 4, countSize, 1);
    d.Put(entry + 4 + static_cast<std::size_t>(countSize), countSize, 0);
    d.Put(entry + 4 + static_cast<std::size_t>(countSize), 2, static_cast<std::uint64_t>(value));
}

// Appends a copy of `page`'s directory with an Orientation entry in tag order and links it where
// the old one was linked; returns where the copy's link to the next directory lies.
std::size_t AppendWithOrientation(std::vector<std::uint8_t>& out, Directories& d, const Page& page, int value)
{
    const std::size_t entrySize = d.EntrySize();
    const std::size_t countSize = static_cast<std::size_t>(d.CountSize());
    const std::size_t first = page.at + countSize;
    const std::size_t entries = static_cast<std::size_t>(page.entries);
    std::size_t before = 0;  // entries whose tag comes before the Orientation tag
    for (; before < entries; ++before) {
        std::uint64_t tag = 0;
        d.Get(first + before * entrySize, 2, tag);
        if (tag > kOrientationTag) break;
    }
    out.resize((out.size() + 7) / 8 * 8, 0);  // directories start on a word boundary
    const std::size_t at = out.size();
    const std::size_t oldEnd = first + entries * entrySize + static_cast<std::size_t>(d.OffsetSize());
    out.resize(at + countSize + (entries + 1) * entrySize + static_cast<std::size_t>(d.OffsetSize()));
    // `out` has grown: the old directory is read from its new storage, by offset.
    std::copy(out.begin() + static_cast<std::ptrdiff_t>(first),
              out.begin() + static_cast<std::ptrdiff_t>(first + before * entrySize),
              out.begin() + static_cast<std::ptrdiff_t>(at + countSize));
    PutOrientationEntry(d, at + countSize + before * entrySize, value);
    std::copy(out.begin() + static_cast<std::ptrdiff_t>(first + before * entrySize),
              out.begin() + static_cast<std::ptrdiff_t>(oldEnd),
              out.begin() + static_cast<std::ptrdiff_t>(at + countSize + (before + 1) * entrySize));
    d.Put(at, d.CountSize(), entries + 1);
    d.Put(page.link, d.OffsetSize(), at);
    return at + countSize + (entries + 1) * entrySize;
}

}  // namespace

Result<std::vector<std::uint8_t>> TurnTiff(std::span<const std::uint8_t> bytes, PixelTransform t)
{
    const std::unique_ptr<Reader> r = Open(bytes);
    if (!r->tiff) return r->Failure(ErrorKind::BadHeader, "TIFF: not a TIFF file");
    const tdir_t libtiffPages = TIFFNumberOfDirectories(r->tiff.get());

    std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
    Directories d(out);
    std::vector<Page> pages;
    if (!d.ReadHeader() || !WalkPages(d, out.size(), pages) || pages.size() != libtiffPages)
        return MakeError(ErrorKind::BadHeader, "TIFF: the page directories cannot be walked");

    std::vector<int> turned;
    std::size_t nextLink = 0;  // where a moved directory now links to the page after it
    for (Page page : pages) {
        if (nextLink != 0) page.link = nextLink;
        nextLink = 0;
        const int value = static_cast<int>(Then(FromExifOrientation(page.orientation), t));
        turned.push_back(value);
        if (page.orientationEntry != 0) {
            PutOrientationEntry(d, page.orientationEntry, value);
        } else if (value != 1) {
            const std::size_t growth = 8 + static_cast<std::size_t>(d.CountSize()) +
                                       (static_cast<std::size_t>(page.entries) + 1) * d.EntrySize() +
                                       static_cast<std::size_t>(d.OffsetSize());
            if (!d.Big() && out.size() + growth > std::numeric_limits<std::uint32_t>::max())
                return MakeError(ErrorKind::Unsupported, "TIFF: the file is too large to grow");
            nextLink = AppendWithOrientation(out, d, page, value);
        }
    }

    // What is handed back must open, with every page and the first one's new orientation.
    const std::unique_ptr<Reader> check = Open(out);
    if (!check->tiff || TIFFNumberOfDirectories(check->tiff.get()) != libtiffPages ||
        static_cast<int>(PageOrientation(*check)) != turned.front())
        return MakeError(ErrorKind::BadHeader, "TIFF: the turned file did not read back");
    return out;
}

}  // namespace quillix::imaging
