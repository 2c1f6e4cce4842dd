#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

// EXIF blocks written byte by byte, so tests of the EXIF reader do not rest on the reader itself.
namespace quillix::test {

struct ExifPlan {
    bool bigEndian = false;
    std::optional<std::uint16_t> orientation;  // IFD0 tag 0x0112, SHORT
    std::uint16_t orientationType = 3;         // 3 SHORT; anything else makes the tag unreadable
    std::string make = "Quillix Camera";       // IFD0 0x010F, stored outside its entry
    std::string model;                         // IFD0 0x0110 when not empty
    std::string dateTimeOriginal;              // EXIF sub-directory 0x9003 when not empty
    int exifEntries = 0;                       // RATIONAL entries of an EXIF sub-directory, as cameras write
    std::size_t makerNoteSize = 0;             // an opaque maker note in that sub-directory
    std::vector<std::uint8_t> thumbnail;       // a JPEG in IFD1 when not empty
};

namespace detail {

struct ExifEntry {
    std::uint16_t tag, type;
    std::uint32_t count;
    std::vector<std::uint8_t> value;  // in the block's byte order
};

class TiffWriter {
public:
    explicit TiffWriter(bool big) : big_(big) {}
    std::vector<std::uint8_t> out;

    void U16(std::uint16_t v)
    {
        const std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
        Bytes(b, 2);
    }
    void U32(std::uint32_t v)
    {
        const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                   static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        Bytes(b, 4);
    }
    void Patch32(std::size_t at, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            out[at + static_cast<std::size_t>(big_ ? 3 - i : i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    std::vector<std::uint8_t> Short(std::uint16_t v) const
    {
        return big_ ? std::vector<std::uint8_t>{static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)}
                    : std::vector<std::uint8_t>{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
    }
    std::vector<std::uint8_t> Long(std::uint32_t v) const
    {
        std::vector<std::uint8_t> b(4);
        for (int i = 0; i < 4; ++i)
            b[static_cast<std::size_t>(big_ ? 3 - i : i)] = static_cast<std::uint8_t>(v >> (8 * i));
        return b;
    }

    // Writes a directory with its out-of-line values after it; returns where its next link and
    // each entry's value field lie, for pointers patched later.
    std::size_t Directory(const std::vector<ExifEntry>& entries, std::vector<std::size_t>& valueAt)
    {
        const std::size_t start = out.size();
        U16(static_cast<std::uint16_t>(entries.size()));
        const std::size_t next = start + 2 + 12 * entries.size();
        std::size_t data = next + 4;
        out.resize(data, 0);
        valueAt.clear();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const ExifEntry& e = entries[i];
            const std::size_t at = start + 2 + 12 * i;
            Put16(at, e.tag);
            Put16(at + 2, e.type);
            Patch32(at + 4, e.count);
            valueAt.push_back(at + 8);
            if (e.value.size() <= 4) {
                std::memcpy(out.data() + at + 8, e.value.data(), e.value.size());
            } else {
                Patch32(at + 8, static_cast<std::uint32_t>(data));
                out.insert(out.end(), e.value.begin(), e.value.end());
                if (out.size() % 2) out.push_back(0);
                data = out.size();
            }
        }
        return next;
    }

private:
    void Bytes(const std::uint8_t* b, int n)
    {
        for (int i = 0; i < n; ++i)
            out.push_back(b[big_ ? n - 1 - i : i]);
    }
    void Put16(std::size_t at, std::uint16_t v)
    {
        out[at + (big_ ? 1 : 0)] = static_cast<std::uint8_t>(v);
        out[at + (big_ ? 0 : 1)] = static_cast<std::uint8_t>(v >> 8);
    }
    bool big_;
};

}  // namespace detail

// The APP1 payload: "Exif\0\0" and a TIFF structure with IFD0, an optional EXIF sub-directory
// and an optional IFD1 holding a JPEG thumbnail.
inline std::vector<std::uint8_t> ExifPayload(const ExifPlan& plan)
{
    detail::TiffWriter w(plan.bigEndian);
    w.out = {plan.bigEndian ? std::uint8_t('M') : std::uint8_t('I'),
             plan.bigEndian ? std::uint8_t('M') : std::uint8_t('I')};
    w.U16(42);
    w.U32(8);

    std::vector<detail::ExifEntry> ifd0;
    std::vector<std::uint8_t> make(plan.make.begin(), plan.make.end());
    make.push_back(0);
    ifd0.push_back({0x010F, 2, static_cast<std::uint32_t>(make.size()), make});
    if (!plan.model.empty()) {
        std::vector<std::uint8_t> model(plan.model.begin(), plan.model.end());
        model.push_back(0);
        ifd0.push_back({0x0110, 2, static_cast<std::uint32_t>(model.size()), model});
    }
    if (plan.orientation) {
        std::vector<std::uint8_t> value = w.Short(*plan.orientation);
        value.resize(4, 0);
        ifd0.push_back({0x0112, plan.orientationType, 1, value});
    }
    const bool sub = plan.exifEntries > 0 || plan.makerNoteSize > 0 || !plan.dateTimeOriginal.empty();
    if (sub) ifd0.push_back({0x8769, 4, 1, w.Long(0)});
    std::vector<std::size_t> valueAt;
    const std::size_t ifd0Next = w.Directory(ifd0, valueAt);
    const std::size_t exifPointer = valueAt.back();

    if (sub) {
        w.Patch32(exifPointer, static_cast<std::uint32_t>(w.out.size()));
        std::vector<detail::ExifEntry> exif;
        if (!plan.dateTimeOriginal.empty()) {
            std::vector<std::uint8_t> date(plan.dateTimeOriginal.begin(), plan.dateTimeOriginal.end());
            date.push_back(0);
            exif.push_back({0x9003, 2, static_cast<std::uint32_t>(date.size()), date});
        }
        for (int i = 0; i < plan.exifEntries; ++i) {
            std::vector<std::uint8_t> rational = w.Long(static_cast<std::uint32_t>(i + 1));
            const std::vector<std::uint8_t> denominator = w.Long(100);
            rational.insert(rational.end(), denominator.begin(), denominator.end());
            exif.push_back({static_cast<std::uint16_t>(0x9201 + i), 5, 1, rational});  // APEX values and the like
        }
        if (plan.makerNoteSize > 0) {
            std::vector<std::uint8_t> note(plan.makerNoteSize);
            for (std::size_t i = 0; i < note.size(); ++i)
                note[i] = static_cast<std::uint8_t>(i * 7 + 3);
            exif.push_back({0x927C, 7, static_cast<std::uint32_t>(note.size()), note});
        }
        w.Directory(exif, valueAt);
    }

    if (!plan.thumbnail.empty()) {
        w.Patch32(ifd0Next, static_cast<std::uint32_t>(w.out.size()));
        std::vector<detail::ExifEntry> ifd1 = {
            {0x0103, 3, 1,
             [&] {
                 auto v = w.Short(6);
                 v.resize(4, 0);
                 return v;
             }()},
            {0x0201, 4, 1, w.Long(0)},
            {0x0202, 4, 1, w.Long(static_cast<std::uint32_t>(plan.thumbnail.size()))},
        };
        w.Directory(ifd1, valueAt);
        w.Patch32(valueAt[1], static_cast<std::uint32_t>(w.out.size()));
        w.out.insert(w.out.end(), plan.thumbnail.begin(), plan.thumbnail.end());
    }

    std::vector<std::uint8_t> payload(6 + w.out.size(), 0);
    std::memcpy(payload.data(), "Exif", 4);
    std::copy(w.out.begin(), w.out.end(), payload.begin() + 6);
    return payload;
}

// `jpeg` with an APPn (or COM) segment holding `payload` after its JFIF segment, or right after
// SOI when it has none, as cameras place it.
inline std::vector<std::uint8_t> WithSegment(const std::vector<std::uint8_t>& jpeg, std::uint8_t marker,
                                             const std::vector<std::uint8_t>& payload)
{
    std::size_t at = 2;
    if (jpeg.size() > 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0)
        at = 4 + static_cast<std::size_t>(jpeg[4] << 8 | jpeg[5]);
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + static_cast<long>(at));
    const std::size_t length = payload.size() + 2;
    out.insert(out.end(), {0xFF, marker, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
    out.insert(out.end(), payload.begin(), payload.end());
    out.insert(out.end(), jpeg.begin() + static_cast<long>(at), jpeg.end());
    return out;
}

inline std::vector<std::uint8_t> WithExif(const std::vector<std::uint8_t>& jpeg, const ExifPlan& plan)
{
    return WithSegment(jpeg, 0xE1, ExifPayload(plan));
}

}  // namespace quillix::test
