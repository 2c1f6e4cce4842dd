#include "imaging/exif_orientation.h"
#include "imaging/jpeg_codec.h"
#include "imaging/jpeg_transform.h"
#include "imaging/orientation_fixtures.h"
#include "imaging/rotation.h"
#include "imaging/still_decoder.h"
#include "support/exif_fixture.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <libexif/exif-data.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>

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
    test::ScriptedDialogs dialogs;
    test::WriteFile(dir / "p.jpg", jpeg);
    for (int i = 0; i < times; ++i)
        EXPECT_TRUE(RotateImageFile90(dir / "p.jpg", direction, dialogs));
    EXPECT_TRUE(dialogs.messages.empty());
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

TEST(TurnJpeg, PartialMcuEdgesAreNeverTrimmed)
{
    test::ExifPlan exif;
    exif.orientation = 1;
    const QImage picture = test::Shapes(67, 41);
    const std::vector<std::uint8_t> original = WithMetadata(test::JpegFixture(picture, 83), exif);
    ASSERT_EQ(ReadJpegLayout(original).value().quality, 83);

    // The bottom edge holds partial MCUs, so a clockwise turn re-encodes.
    const std::vector<std::uint8_t> turned = TurnFile(original, 1);
    const JpegLayout layout = ReadJpegLayout(turned).value();
    EXPECT_EQ(layout.size, QSize(41, 67));
    EXPECT_EQ(layout.quality, 83) << "re-encoded at the file's own quality";
    EXPECT_EQ(Metadata(turned), Metadata(original));
    EXPECT_LT(test::MeanAbsoluteError(DecodeJpeg(turned).value(), Turned(DecodeJpeg(original).value(), 1)), 4.0);

    // With whole MCUs along the bottom only, clockwise moves no partial block, and back again
    // neither: both turns are lossless and the pixels come back exactly.
    const std::vector<std::uint8_t> wide = test::JpegFixture(test::Shapes(67, 48), 83);
    const std::vector<std::uint8_t> there = TurnFile(wide, 1);
    EXPECT_EQ(DecodeJpeg(TurnFile(there, -1)).value(), DecodeJpeg(wide).value());
}

TEST(TurnJpeg, TheQualityOfIjgTablesIsFoundExactly)
{
    for (const int quality : {5, 30, 50, 75, 90, 97, 100}) {
        Result<JpegLayout> layout = ReadJpegLayout(test::JpegFixture(test::Gradient(16, 16), quality));
        ASSERT_TRUE(layout.ok());
        EXPECT_EQ(layout.value().quality, quality);
    }
    std::array<std::uint16_t, 64> camera{};  // a finer, flatter table than any IJG quality
    camera.fill(2);
    EXPECT_GE(EstimateJpegQuality(camera), 90);
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
    // Uneven sizes go through the re-encode, which keeps the markers too.
    for (const int o : {1, 3, 6, 8})
        cases.push_back({o, {40, 24}, 1});
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
