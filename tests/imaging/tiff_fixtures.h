#pragma once

#include <tiffio.h>

#include <QByteArray>
#include <QImage>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Small TIFF files written by libtiff into memory, in the layouts scanners and editors write.
namespace quillix::test {

enum class TiffAlpha { None, Associated, Unassociated };

struct TiffPage {
    QImage picture;  // what the page shows, straight alpha; grey layouts take the red channel
    std::uint16_t photometric = PHOTOMETRIC_RGB;  // RGB, MINISBLACK, PALETTE, SEPARATED (CMYK) or YCBCR (JPEG only)
    std::uint16_t bits = 8;                       // 1 (grey), 8 or 16
    std::uint16_t compression = COMPRESSION_NONE;
    TiffAlpha alpha = TiffAlpha::None;
    int orientation = 0;             // 0 writes no Orientation tag
    bool tiled = false;              // 16 × 16 tiles instead of strips
    std::uint32_t rowsPerStrip = 0;  // 0: two rows, sixteen for JPEG
    QByteArray icc;
};

struct TiffPlan {
    std::vector<TiffPage> pages;
    bool bigTiff = false;
    bool bigEndian = false;
};

namespace tiff {

struct Memory {
    std::vector<std::uint8_t> bytes;
    std::uint64_t position = 0;
};

inline tmsize_t Read(thandle_t h, void* out, tmsize_t size)
{
    auto* m = static_cast<Memory*>(h);
    if (size <= 0 || m->position >= m->bytes.size()) return 0;
    const auto n = std::min<std::uint64_t>(static_cast<std::uint64_t>(size), m->bytes.size() - m->position);
    std::memcpy(out, m->bytes.data() + m->position, n);
    m->position += n;
    return static_cast<tmsize_t>(n);
}

inline tmsize_t Write(thandle_t h, void* in, tmsize_t size)
{
    auto* m = static_cast<Memory*>(h);
    const std::uint64_t end = m->position + static_cast<std::uint64_t>(size);
    if (end > m->bytes.size()) m->bytes.resize(end);
    std::memcpy(m->bytes.data() + m->position, in, static_cast<std::size_t>(size));
    m->position = end;
    return size;
}

inline toff_t Seek(thandle_t h, toff_t offset, int whence)
{
    auto* m = static_cast<Memory*>(h);
    const std::uint64_t base = whence == SEEK_CUR ? m->position : whence == SEEK_END ? m->bytes.size() : 0;
    m->position = base + offset;
    return m->position;
}

inline int Close(thandle_t)
{
    return 0;
}
inline toff_t Size(thandle_t h)
{
    return static_cast<Memory*>(h)->bytes.size();
}
inline int NoMap(thandle_t, void**, toff_t*)
{
    return 0;
}
inline void NoUnmap(thandle_t, void*, toff_t) {}

struct CloseTiff {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using Handle = std::unique_ptr<TIFF, CloseTiff>;

inline Handle Open(Memory& memory, const char* mode)
{
    return Handle(TIFFClientOpen("fixture", mode, &memory, Read, Write, Seek, Close, Size, NoMap, NoUnmap));
}

inline void Expect(bool holds, const char* what)
{
    if (!holds) throw std::runtime_error(std::string("TIFF fixture: ") + what);
}

inline int Premultiplied(int value, int alpha)
{
    return (value * alpha + 127) / 255;
}

// The palette of a picture's distinct opaque colours, in order of first appearance.
inline std::vector<QRgb> Palette(const QImage& picture)
{
    std::vector<QRgb> colours;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb c = picture.pixel(x, y) | 0xFF000000u;
            if (std::find(colours.begin(), colours.end(), c) == colours.end()) colours.push_back(c);
        }
    Expect(colours.size() <= 256, "too many colours for a palette");
    return colours;
}

// The 8-bit samples of one pixel as the page stores them (before scaling to its depth).
inline std::vector<int> Samples(const TiffPage& page, const std::vector<QRgb>& palette, int x, int y)
{
    const QRgb c = page.picture.pixel(x, y);
    const int a = qAlpha(c);
    const bool associated = page.alpha == TiffAlpha::Associated;
    auto colour = [&](int v) { return associated ? Premultiplied(v, a) : v; };
    std::vector<int> s;
    switch (page.photometric) {
    case PHOTOMETRIC_MINISBLACK: s = {colour(qRed(c))}; break;
    case PHOTOMETRIC_PALETTE:
        s = {static_cast<int>(std::find(palette.begin(), palette.end(), c | 0xFF000000u) - palette.begin())};
        break;
    case PHOTOMETRIC_SEPARATED: s = {255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c), 0}; break;
    default: s = {colour(qRed(c)), colour(qGreen(c)), colour(qBlue(c))}; break;
    }
    if (page.alpha != TiffAlpha::None) s.push_back(a);
    return s;
}

// Packs the pixels [x0, x0 + width) of row y into `out` at the page's depth.
inline void PackRow(const TiffPage& page, const std::vector<QRgb>& palette, int y, int x0, int width, std::uint8_t* out)
{
    for (int x = x0; x < x0 + width; ++x) {
        if (x >= page.picture.width() || y >= page.picture.height()) continue;  // tile padding
        const std::vector<int> s = Samples(page, palette, x, y);
        const std::size_t n = s.size();
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t index = static_cast<std::size_t>(x - x0) * n + i;
            if (page.bits == 16) {
                const auto v = static_cast<std::uint16_t>(page.photometric == PHOTOMETRIC_PALETTE ? s[i] : s[i] * 257);
                std::memcpy(out + index * 2, &v, 2);
            } else if (page.bits == 8) {
                out[index] = static_cast<std::uint8_t>(s[i]);
            } else {
                if (s[i] >= 128) out[index / 8] |= static_cast<std::uint8_t>(0x80 >> (index % 8));
            }
        }
    }
}

inline void WritePage(TIFF* t, const TiffPage& page)
{
    const int w = page.picture.width(), h = page.picture.height();
    const std::vector<QRgb> palette =
        page.photometric == PHOTOMETRIC_PALETTE ? Palette(page.picture) : std::vector<QRgb>{};
    const int colourSamples = page.photometric == PHOTOMETRIC_MINISBLACK || page.photometric == PHOTOMETRIC_PALETTE ? 1
                              : page.photometric == PHOTOMETRIC_SEPARATED                                           ? 4
                                                                                                                    : 3;
    const int samples = colourSamples + (page.alpha != TiffAlpha::None ? 1 : 0);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(w));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(h));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, page.bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(samples));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, page.compression);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, page.photometric);
    if (page.photometric == PHOTOMETRIC_SEPARATED) TIFFSetField(t, TIFFTAG_INKSET, INKSET_CMYK);
    if (page.compression == COMPRESSION_JPEG) {
        TIFFSetField(t, TIFFTAG_JPEGQUALITY, 95);
        // libtiff takes RGB rows and makes the YCbCr itself.
        if (page.photometric == PHOTOMETRIC_YCBCR) TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (page.alpha != TiffAlpha::None) {
        std::uint16_t kind = page.alpha == TiffAlpha::Associated ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &kind);
    }
    if (page.orientation != 0) TIFFSetField(t, TIFFTAG_ORIENTATION, static_cast<std::uint16_t>(page.orientation));
    if (!page.icc.isEmpty())
        TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(page.icc.size()), page.icc.constData());
    if (page.photometric == PHOTOMETRIC_PALETTE) {
        const std::size_t entries = std::size_t{1} << page.bits;
        std::vector<std::uint16_t> r(entries), g(entries), b(entries);
        for (std::size_t i = 0; i < palette.size(); ++i) {
            r[i] = static_cast<std::uint16_t>(qRed(palette[i]) * 257);
            g[i] = static_cast<std::uint16_t>(qGreen(palette[i]) * 257);
            b[i] = static_cast<std::uint16_t>(qBlue(palette[i]) * 257);
        }
        TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    // JPEG RGB rows are packed as three samples whatever the photometric says.
    const int packedSamples = page.photometric == PHOTOMETRIC_YCBCR ? 3 : samples;
    if (page.tiled) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, 16u);
        TIFFSetField(t, TIFFTAG_TILELENGTH, 16u);
        const std::size_t rowBytes = (std::size_t{16} * static_cast<std::size_t>(packedSamples) * page.bits + 7) / 8;
        for (int ty = 0; ty < h; ty += 16)
            for (int tx = 0; tx < w; tx += 16) {
                std::vector<std::uint8_t> tile(rowBytes * 16, 0);
                for (int y = 0; y < 16; ++y)
                    PackRow(page, palette, ty + y, tx, 16, tile.data() + rowBytes * static_cast<std::size_t>(y));
                Expect(TIFFWriteTile(t, tile.data(), static_cast<std::uint32_t>(tx), static_cast<std::uint32_t>(ty), 0,
                                     0) >= 0,
                       "tile not written");
            }
    } else {
        const std::uint32_t rows = page.rowsPerStrip != 0                 ? page.rowsPerStrip
                                   : page.compression == COMPRESSION_JPEG ? 16u
                                                                          : 2u;
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);
        const std::size_t rowBytes =
            (static_cast<std::size_t>(w) * static_cast<std::size_t>(packedSamples) * page.bits + 7) / 8;
        for (int y = 0; y < h; ++y) {
            std::vector<std::uint8_t> row(rowBytes, 0);
            PackRow(page, palette, y, 0, w, row.data());
            Expect(TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) == 1, "row not written");
        }
    }
    Expect(TIFFWriteDirectory(t) == 1, "directory not written");
}

}  // namespace tiff

inline std::vector<std::uint8_t> TiffFixture(const TiffPlan& plan)
{
    tiff::Memory memory;
    {
        std::string mode = "w";
        mode += plan.bigEndian ? "b" : "l";
        if (plan.bigTiff) mode += "8";
        tiff::Handle t = tiff::Open(memory, mode.c_str());
        tiff::Expect(t != nullptr, "not opened for writing");
        for (const TiffPage& page : plan.pages)
            tiff::WritePage(t.get(), page);
    }
    return memory.bytes;
}

inline std::vector<std::uint8_t> TiffFixture(const TiffPage& page)
{
    TiffPlan plan;
    plan.pages = {page};
    return TiffFixture(plan);
}

// Each page's Orientation tag as libtiff reads it, 0 where the page has none.
inline std::vector<int> TiffOrientations(const std::vector<std::uint8_t>& bytes)
{
    tiff::Memory memory{bytes, 0};
    tiff::Handle t = tiff::Open(memory, "r");
    tiff::Expect(t != nullptr, "not opened for reading");
    std::vector<int> found;
    do {
        std::uint16_t value = 0;
        found.push_back(TIFFGetField(t.get(), TIFFTAG_ORIENTATION, &value) ? value : 0);
    } while (TIFFReadDirectory(t.get()));
    return found;
}

// The stored (compressed) bytes of every strip or tile of every page.
inline std::vector<std::vector<std::uint8_t>> TiffRawData(const std::vector<std::uint8_t>& bytes)
{
    tiff::Memory memory{bytes, 0};
    tiff::Handle t = tiff::Open(memory, "r");
    tiff::Expect(t != nullptr, "not opened for reading");
    std::vector<std::vector<std::uint8_t>> data;
    do {
        for (std::uint32_t i = 0; i < TIFFNumberOfStrips(t.get()); ++i) {
            std::vector<std::uint8_t> raw(TIFFGetStrileByteCount(t.get(), i));
            const tmsize_t n = TIFFIsTiled(t.get())
                                   ? TIFFReadRawTile(t.get(), i, raw.data(), static_cast<tmsize_t>(raw.size()))
                                   : TIFFReadRawStrip(t.get(), i, raw.data(), static_cast<tmsize_t>(raw.size()));
            tiff::Expect(n == static_cast<tmsize_t>(raw.size()), "strip not read");
            data.push_back(std::move(raw));
        }
    } while (TIFFReadDirectory(t.get()));
    return data;
}

// A little-endian classic file with a tag of its first directory set to a single long `value`,
// for headers that lie; the tag must be there already.
inline void SetFirstPageTag(std::vector<std::uint8_t>& bytes, std::uint16_t tag, std::uint32_t value)
{
    auto le = [&](std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= std::uint32_t{bytes.at(at + static_cast<std::size_t>(i))} << (8 * i);
        return v;
    };
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            bytes.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
    };
    tiff::Expect(bytes.size() > 8 && bytes[0] == 'I' && le(2, 2) == 42, "not a little-endian classic TIFF");
    const std::size_t ifd = le(4, 4);
    const std::uint32_t entries = le(ifd, 2);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (le(entry, 2) != tag) continue;
        put(entry + 2, 4, 2);  // LONG
        put(entry + 4, 1, 4);
        put(entry + 8, value, 4);
        return;
    }
    tiff::Expect(false, "tag not found");
}

// Where the first strip or tile of the first page is stored, and how long it is.
inline std::pair<std::size_t, std::size_t> TiffFirstStrip(const std::vector<std::uint8_t>& bytes)
{
    tiff::Memory memory{bytes, 0};
    tiff::Handle t = tiff::Open(memory, "r");
    tiff::Expect(t != nullptr, "not opened for reading");
    return {static_cast<std::size_t>(TIFFGetStrileOffset(t.get(), 0)),
            static_cast<std::size_t>(TIFFGetStrileByteCount(t.get(), 0))};
}

}  // namespace quillix::test
