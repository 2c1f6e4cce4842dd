#include "imaging/exif_orientation.h"
#include "imaging/jpeg_codec.h"
#include "imaging/jpeg_transform.h"
#include "imaging/orientation_fixtures.h"
#include "imaging/rotation.h"
#include "imaging/still_decoder.h"
#include "support/exif_fixture.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <libexif/exif-data.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <ostream>
#include <set>

namespace quillix::imaging {
namespace {

using test::Blocks;
using test::ExpectBlocks;
using test::StoredFor;
using test::Turned;

struct Segment {
    std::uint8_t marker;
    std::vector<std::uint8_t> bytes;  // the whole segment, marker and length included
    bool operator==(const Segment&) const = default;
};

void PrintTo(const Segment& s, std::ostream* out)
{
    std::uint32_t hash = 2166136261u;
    for (const std::uint8_t b : s.bytes)
        hash = (hash ^ b) * 16777619u;
    *out << std::hex << "FF" << int(s.marker) << std::dec << " (" << s.bytes.size() << " bytes, " << hash << ")";
}

// The segments before the first scan, and the bytes from that scan's marker to the end.
std::pair<std::vector<Segment>, std::vector<std::uint8_t>> Split(const std::vector<std::uint8_t>& jpeg)
{
    std::vector<Segment> segments;
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at + 1] != 0xDA) {
        const std::size_t length = static_cast<std::size_t>(jpeg[at + 2] << 8 | jpeg[at + 3]);
        segments.push_back({jpeg[at + 1],
                            {jpeg.begin() + static_cast<long>(at),
                             jpeg.begin() + static_cast<long>(std::min(at + 2 + length, jpeg.size()))}});
        at += 2 + length;
    }
    return {segments, {jpeg.begin() + static_cast<long>(std::min(at, jpeg.size())), jpeg.end()}};
}

// APPn and COM segments, in file order within each kind: what a turn must keep. (The encoder
// writes the JFIF and Adobe segments itself, ahead of those it copies.)
std::vector<Segment> Metadata(const std::vector<std::uint8_t>& jpeg)
{
    std::vector<Segment> kept;
    for (const Segment& s : Split(jpeg).first)
        if ((s.marker >= 0xE0 && s.marker <= 0xEF) || s.marker == 0xFE) kept.push_back(s);
    std::stable_sort(kept.begin(), kept.end(), [](const Segment& a, const Segment& b) { return a.marker < b.marker; });
    return kept;
}

// Tables, frame header and scans: the picture itself.
std::vector<std::uint8_t> ImageData(const std::vector<std::uint8_t>& jpeg)
{
    auto [segments, scans] = Split(jpeg);
    std::vector<std::uint8_t> data;
    for (const Segment& s : segments)
        if (!((s.marker >= 0xE0 && s.marker <= 0xEF) || s.marker == 0xFE))
            data.insert(data.end(), s.bytes.begin(), s.bytes.end());
    data.insert(data.end(), scans.begin(), scans.end());
    return data;
}

// A camera file: EXIF, a two-part ICC profile and a comment around the picture.
std::vector<std::uint8_t> WithMetadata(const std::vector<std::uint8_t>& jpeg, const test::ExifPlan& exif)
{
    const auto icc = [](int part) {
        std::vector<std::uint8_t> p = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
        p.push_back(static_cast<std::uint8_t>(part));
        p.push_back(2);
        for (int i = 0; i < 300; ++i)
            p.push_back(static_cast<std::uint8_t>(i * part));
        return p;
    };
    const std::string comment = "harbour at dusk";
    std::vector<std::uint8_t> out = test::WithSegment(jpeg, 0xFE, {comment.begin(), comment.end()});
    out = test::WithSegment(out, 0xE2, icc(2));
    out = test::WithSegment(out, 0xE2, icc(1));
    return test::WithExif(out, exif);
}

// The EXIF thumbnail as libexif finds it; empty when there is none.
std::vector<std::uint8_t> ExifThumbnail(const std::vector<std::uint8_t>& jpeg)
{
    const ExifBlock block = FindExifBlock(jpeg);
    const std::unique_ptr<ExifData, void (*)(ExifData*)> data(
        exif_data_new_from_data(jpeg.data() + block.offset, static_cast<unsigned>(block.size)), exif_data_unref);
    if (!data || !data->data) return {};
    return {data->data, data->data + data->size};
}

std::vector<std::uint8_t> TurnFile(const std::vector<std::uint8_t>& jpeg, int direction, int times = 1)
{
    test::TempDir dir;
    test::WriteFile(dir / "p.jpg", jpeg);
    for (int i = 0; i < times; ++i)
        EXPECT_TRUE(RotateImageFile90(dir / "p.jpg", direction).ok());
    return test::ReadFile(dir / "p.jpg");
}

TEST(TurnJpeg, LosslessWithEveryMarkerAndFourTurnsGiveTheSameImageData)
{
    test::ExifPlan exif;
    exif.orientation = 1;
    exif.exifEntries = 6;
    const QImage picture = test::Gradient(64, 48);  // whole MCUs at every sampling
    for (const test::JpegKind kind :
         {test::JpegKind::Baseline, test::JpegKind::Progressive, test::JpegKind::Grayscale, test::JpegKind::Cmyk})
        for (const int direction : {1, -1}) {
            SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind) << " direction " << direction);
            const std::vector<std::uint8_t> original = WithMetadata(test::JpegFixture(picture, 88, kind), exif);

            const std::vector<std::uint8_t> once = TurnFile(original, direction);
            EXPECT_EQ(Metadata(once), Metadata(original));
            const QImage before = DecodeJpeg(original).value(), after = DecodeJpeg(once).value();
            EXPECT_LT(test::MeanAbsoluteError(after, Turned(before, direction)), 1.0) << "nothing re-quantised";

            const std::vector<std::uint8_t> four = TurnFile(original, direction, 4);
            EXPECT_EQ(ImageData(four), ImageData(original));
            EXPECT_EQ(Metadata(four), Metadata(original));
            EXPECT_EQ(DecodeJpeg(four).value(), before);
        }
}

// The file without the segment that starts at `at`.
std::vector<std::uint8_t> WithoutSegmentAt(const std::vector<std::uint8_t>& jpeg, std::size_t at)
{
    const std::size_t length = static_cast<std::size_t>(jpeg[at + 2] << 8 | jpeg[at + 3]);
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + static_cast<long>(at));
    out.insert(out.end(), jpeg.begin() + static_cast<long>(at + 2 + length), jpeg.end());
    return out;
}

// Every byte but those of the EXIF segment.
std::vector<std::uint8_t> WithoutExif(const std::vector<std::uint8_t>& jpeg)
{
    const ExifBlock block = FindExifBlock(jpeg);
    return block.size == 0 ? jpeg : WithoutSegmentAt(jpeg, block.offset - 4);
}

QImage Upright(const std::vector<std::uint8_t>& jpeg)
{
    Result<QImage> image = DecodeJpegUpright(jpeg);
    EXPECT_TRUE(image.ok()) << image.error().message;
    return image ? image.value() : QImage();
}

// Phone and camera sizes are rarely whole MCUs: 1080 rows are 67.5 of 4:2:0's 16-pixel blocks.
TEST(TurnJpeg, PartialBlocksTurnByTheTagAndFourTurnsGiveTheFileBack)
{
    test::ExifPlan tags;  // a camera's block without an orientation tag
    tags.exifEntries = 6;
    tags.makerNoteSize = 300;
    for (const QSize size : {QSize(1920, 1080), QSize(641, 481)}) {
        const std::vector<std::uint8_t> plain = test::JpegFixture(test::Shapes(size.width(), size.height()), 90);
        ASSERT_EQ(ReadJpegLayout(plain).value().mcu, QSize(16, 16)) << "4:2:0";
        const QImage stored = DecodeJpeg(plain).value();
        for (const bool withExif : {false, true})
            for (const int direction : {1, -1}) {
                SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height() << (withExif ? " EXIF" : "")
                                                << " direction " << direction);
                const std::vector<std::uint8_t> original = withExif ? test::WithExif(plain, tags) : plain;
                const std::vector<std::uint8_t> four = TurnFile(original, direction, 4);
                EXPECT_EQ(DecodeJpeg(four).value(), stored) << "identical pixels";
                EXPECT_EQ(ExifOrientation(four), 1);
                EXPECT_EQ(ImageData(four), ImageData(original)) << "tables and scans as they were";
                EXPECT_EQ(WithoutExif(four), WithoutExif(original));
                EXPECT_LE(four.size(), original.size() + 64) << "at most a small EXIF block more";
            }
    }
}

TEST(TurnJpeg, OneTurnShowsThePictureTurnedWithNothingLost)
{
    // `orientation` the file's tag afterwards; `moved` when the DCT blocks could move instead,
    // which leaves the file stored upright.
    struct Case {
        QSize size;
        std::optional<std::uint16_t> before;
        int direction;
        int orientation;
        bool moved;
    };
    const Case cases[] = {
        {{1920, 1080}, {}, 1, 6, false},  // the bottom edge would move: partial blocks there
        {{1920, 1080}, {}, -1, 1, true},  // the right edge moves, and 1920 is whole blocks
        {{641, 481}, {}, 1, 6, false},   {{641, 481}, {}, -1, 8, false},
        {{1920, 1080}, 6, 1, 3, false},  {{641, 481}, 6, -1, 1, false},  // back upright: only the tag changes
        {{1920, 1080}, 2, 1, 7, false},                                  // mirrored, then turned
        {{641, 481}, 2, 1, 7, false},    {{641, 481}, 2, -1, 1, true},   // a mirror along the diagonal moves no edge
        {{641, 481}, 5, 1, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size.width() << "x" << c.size.height() << " orientation "
                                        << (c.before ? *c.before : 0) << " direction " << c.direction);
        std::vector<std::uint8_t> original = test::JpegFixture(test::Shapes(c.size.width(), c.size.height()), 90);
        if (c.before) {
            test::ExifPlan exif;
            exif.orientation = c.before;
            original = test::WithExif(original, exif);
        }
        const std::vector<std::uint8_t> once = TurnFile(original, c.direction);
        EXPECT_EQ(ExifOrientation(once), c.orientation);
        const QImage expected = Turned(Upright(original), c.direction);
        if (c.moved) {
            EXPECT_EQ(DecodeJpeg(once).value().size(), c.size.transposed());
            EXPECT_LT(test::MeanAbsoluteError(Upright(once), expected), 1.0) << "nothing re-quantised";
        } else {
            EXPECT_EQ(Upright(once), expected);
            EXPECT_EQ(WithoutExif(once), WithoutExif(original)) << "only the EXIF block changes";
        }
    }
}

TEST(TurnJpeg, TheTagGoesIntoTheExifBlockAndEverythingElseStays)
{
    const std::vector<std::uint8_t> jfif = test::JpegFixture(Blocks().copy(0, 0, 40, 24), 90);
    ASSERT_EQ(jfif[3], 0xE0) << "the fixture starts with JFIF";
    const std::vector<std::uint8_t> bare = WithoutSegmentAt(jfif, 2);

    test::ExifPlan camera;  // other tags, a maker note and a thumbnail, as cameras write them
    camera.exifEntries = 6;
    camera.makerNoteSize = 300;
    camera.thumbnail = test::JpegFixture(Blocks(2, 1), 80);
    test::ExifPlan cameraBig = camera;
    cameraBig.bigEndian = true;
    test::ExifPlan upsideDown = cameraBig;
    upsideDown.orientation = 3;
    test::ExifPlan longTag = camera;  // a tag of the wrong type, which readers take as 1
    longTag.orientation = 6;
    longTag.orientationType = 4;

    struct Case {
        const char* name;
        std::vector<std::uint8_t> jpeg;
        int orientation;
    };
    const Case cases[] = {
        {"JFIF without EXIF", jfif, 6},
        {"no JFIF, no EXIF", bare, 6},
        {"EXIF without the tag", test::WithExif(jfif, camera), 6},
        {"big-endian EXIF without the tag", test::WithExif(jfif, cameraBig), 6},
        {"EXIF with the tag", test::WithExif(jfif, upsideDown), 8},
        {"EXIF with a tag of another type", test::WithExif(jfif, longTag), 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> once = TurnFile(c.jpeg, 1);
        EXPECT_EQ(ExifOrientation(once), c.orientation);
        EXPECT_EQ(Upright(once), Turned(Upright(c.jpeg), 1));
        EXPECT_EQ(WithoutExif(once), WithoutExif(c.jpeg));

        const ExifBlock before = FindExifBlock(c.jpeg), after = FindExifBlock(once);
        ASSERT_NE(after.size, 0u);
        if (before.size == 0) {
            // Where the format wants it: after JFIF's APP0, else right after SOI.
            EXPECT_EQ(after.offset - 4, c.jpeg[3] == 0xE0 ? 4u + (c.jpeg[4] << 8 | c.jpeg[5]) : 2u);
            continue;
        }
        // No byte of the old block moves: only the tag's value and type, or the link to the
        // first directory when a copy of it with the tag follows the old block, change.
        ASSERT_EQ(after.offset, before.offset);
        ASSERT_GE(after.size, before.size);
        std::size_t changed = 0;
        for (std::size_t i = 0; i < before.size; ++i)
            changed += once[after.offset + i] != c.jpeg[before.offset + i];
        EXPECT_LE(changed, 4u);
        EXPECT_EQ(ExifThumbnail(once), ExifThumbnail(c.jpeg)) << "the thumbnail shows the stored pixels, as before";
        const auto entries = [](const std::vector<std::uint8_t>& jpeg) {
            const ExifBlock block = FindExifBlock(jpeg);
            const std::unique_ptr<ExifData, void (*)(ExifData*)> data(
                exif_data_new_from_data(jpeg.data() + block.offset, static_cast<unsigned>(block.size)),
                exif_data_unref);
            std::vector<std::pair<int, std::vector<std::uint8_t>>> all;
            for (const ExifIfd ifd : {EXIF_IFD_0, EXIF_IFD_EXIF})
                for (unsigned i = 0; i < data->ifd[ifd]->count; ++i) {
                    const ExifEntry* e = data->ifd[ifd]->entries[i];
                    if (e->tag != EXIF_TAG_ORIENTATION) all.push_back({e->tag, {e->data, e->data + e->size}});
                }
            return all;
        };
        EXPECT_EQ(entries(once), entries(c.jpeg)) << "every other tag, the maker note among them, as it was";
    }
}

TEST(TurnJpeg, AnExifBlockThatCannotTakeTheTagLeavesTheFileAlone)
{
    const std::vector<std::uint8_t> jpeg = test::JpegFixture(test::Gradient(40, 24), 90);
    std::vector<std::uint8_t> badMagic = test::ExifPayload({});
    badMagic[6] = 'X';
    test::ExifPlan full;  // an IFD0 copy with the tag would take the segment past 64 KiB
    full.makerNoteSize = 65440;
    struct Case {
        const char* name;
        std::vector<std::uint8_t> jpeg;
    };
    const Case cases[] = {
        {"damaged", test::WithSegment(jpeg, 0xE1, badMagic)},
        {"full", test::WithExif(jpeg, full)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> copy = c.jpeg;
        EXPECT_FALSE(SetExifOrientation(copy, 6));
        EXPECT_EQ(copy, c.jpeg);

        test::TempDir dir;
        test::WriteFile(dir / "p.jpg", c.jpeg);
        EXPECT_EQ(RotateImageFile90(dir / "p.jpg", 1).kind, RotationOutcome::Kind::Failed);
        EXPECT_EQ(test::ReadFile(dir / "p.jpg"), c.jpeg);
        EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"p.jpg"});
    }
    std::vector<std::uint8_t> copy = jpeg;
    EXPECT_TRUE(SetExifOrientation(copy, 1));
    EXPECT_EQ(copy, jpeg) << "no block is added to say what a missing one says";
    EXPECT_FALSE(SetExifOrientation(copy, 9));
}

// A shown picture of 48 × 32 (or `size`), stored as orientation `o` says, with a thumbnail.
std::vector<std::uint8_t> CameraFile(int o, QSize size = {48, 32})
{
    test::ExifPlan exif;
    exif.orientation = static_cast<std::uint16_t>(o);
    exif.bigEndian = o % 2 == 1;
    exif.makerNoteSize = 200;
    exif.thumbnail = test::JpegFixture(StoredFor(Blocks(2, 1), o), 90);
    return WithMetadata(test::JpegFixture(StoredFor(Blocks().copy(QRect(QPoint(), size)), o), 95), exif);
}

TEST(TurnJpeg, EveryOrientationTurnsWhatTheUserSeesAndIsStoredUpright)
{
    struct Case {
        int orientation;
        QSize shown;
        int direction;
    };
    std::vector<Case> cases;
    for (int o = 1; o <= 8; ++o)
        cases.push_back({o, {48, 32}, 1});
    for (const int o : {2, 6})
        cases.push_back({o, {48, 32}, -1});

    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "orientation " << c.orientation << " " << c.shown.width() << "x"
                                        << c.shown.height() << " direction " << c.direction);
        const std::vector<std::uint8_t> original = CameraFile(c.orientation, c.shown);
        const std::vector<std::uint8_t> turned = TurnFile(original, c.direction);
        const QImage shown = Blocks().copy(QRect(QPoint(), c.shown));

        EXPECT_EQ(ExifOrientation(turned), 1);
        const QImage stored = DecodeJpeg(turned).value();
        EXPECT_EQ(stored.size(), c.shown.transposed()) << "stored upright";
        // Turned back by the test, so the blocks lie on the grid the checks sample.
        ExpectBlocks(Turned(stored, -c.direction), shown, 40);
        ExpectBlocks(Turned(DecodeStill(ImageFormat::Jpeg, turned).value(), -c.direction), shown, 40);

        // Every other marker as it was; in the EXIF block only the tag and the thumbnail change.
        const auto notExif = [](std::vector<Segment> segments) {
            std::erase_if(segments, [](const Segment& s) { return s.marker == 0xE1; });
            return segments;
        };
        EXPECT_EQ(notExif(Metadata(turned)), notExif(Metadata(original)));
        const auto make = [](const std::vector<std::uint8_t>& jpeg) {
            const ExifBlock block = FindExifBlock(jpeg);
            const std::unique_ptr<ExifData, void (*)(ExifData*)> data(
                exif_data_new_from_data(jpeg.data() + block.offset, static_cast<unsigned>(block.size)),
                exif_data_unref);
            ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_MAKE);
            return entry ? std::string(reinterpret_cast<const char*>(entry->data), entry->size) : std::string();
        };
        EXPECT_EQ(make(turned), make(original));

        const std::vector<std::uint8_t> thumbnail = ExifThumbnail(turned);
        ASSERT_FALSE(thumbnail.empty()) << "a thumbnail of whole MCUs is turned along";
        ExpectBlocks(DecodeJpeg(thumbnail).value(), Turned(Blocks(2, 1), c.direction), 60);
    }
}

TEST(TurnJpeg, EveryOrientationOfPartialBlocksTurnsAsSeen)
{
    // The tag after a turn either way, from the EXIF definitions; 0 where a mirror along the main
    // diagonal is asked for, which moves no edge: then the blocks move and the file is upright.
    struct Case {
        int orientation, clockwise, counterClockwise;
    };
    const Case cases[] = {{1, 6, 8}, {2, 7, 0}, {3, 8, 6}, {4, 0, 7}, {5, 2, 4}, {6, 3, 1}, {7, 4, 2}, {8, 1, 3}};
    for (const Case& c : cases)
        for (const int direction : {1, -1}) {
            SCOPED_TRACE(testing::Message() << "orientation " << c.orientation << " direction " << direction);
            const std::vector<std::uint8_t> original = CameraFile(c.orientation, {40, 24});
            const std::vector<std::uint8_t> turned = TurnFile(original, direction);
            const int expected = direction > 0 ? c.clockwise : c.counterClockwise;
            EXPECT_EQ(ExifOrientation(turned), expected == 0 ? 1 : expected);
            ExpectBlocks(Turned(DecodeStill(ImageFormat::Jpeg, turned).value(), -direction),
                         Blocks().copy(0, 0, 40, 24), 40);
            if (expected != 0) {
                EXPECT_EQ(WithoutExif(turned), WithoutExif(original));
                EXPECT_EQ(ExifThumbnail(turned), ExifThumbnail(original));
            } else {
                EXPECT_EQ(DecodeJpeg(turned).value().size(), QSize(24, 40)) << "stored as now seen";
            }
        }
}

TEST(TurnJpeg, AThumbnailThatCannotTurnIsDropped)
{
    test::ExifPlan exif;
    exif.orientation = 1;
    exif.thumbnail = test::JpegFixture(test::Gradient(20, 12), 90);  // partial MCUs on both edges
    const std::vector<std::uint8_t> original = test::WithExif(test::JpegFixture(Blocks(), 95), exif);
    const std::vector<std::uint8_t> turned = TurnFile(original, 1);
    EXPECT_TRUE(ExifThumbnail(turned).empty());
    EXPECT_EQ(ExifOrientation(turned), 1);
    EXPECT_EQ(Split(turned).first.size(), Split(original).first.size());
}

}  // namespace
}  // namespace quillix::imaging
