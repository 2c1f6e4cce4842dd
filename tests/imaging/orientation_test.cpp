#include "imaging/exif_orientation.h"
#include "imaging/jpeg_codec.h"
#include "imaging/orientation.h"
#include "imaging/orientation_fixtures.h"
#include "imaging/still_decoder.h"
#include "imaging/thumbnail.h"
#include "support/exif_fixture.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

namespace quillix::imaging {
namespace {

using test::Blocks;
using test::ExpectBlocks;
using test::Shown;
using test::StoredFor;

constexpr PixelTransform kAll[] = {PixelTransform::Identity,   PixelTransform::FlipH,     PixelTransform::Rotate180,
                                   PixelTransform::FlipV,      PixelTransform::Transpose, PixelTransform::Rotate90,
                                   PixelTransform::Transverse, PixelTransform::Rotate270};

TEST(PixelTransform, MatchesTheExifDefinitionAndComposes)
{
    const QImage noise = test::Noise(5, 3);  // every byte of every pixel distinct, alpha included
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        const PixelTransform t = FromExifOrientation(o);
        const QImage stored = StoredFor(noise, o);
        EXPECT_EQ(Transformed(stored, t), noise);
        for (int y = 0; y < stored.height(); ++y)
            for (int x = 0; x < stored.width(); ++x) {
                QPoint to;
                MapPixel(t, stored.width(), stored.height(), x, y, to.rx(), to.ry());
                ASSERT_EQ(to, Shown(o, x, y, stored.width(), stored.height()));
            }
        EXPECT_EQ(SwapsSides(t), o >= 5);
        EXPECT_EQ(Then(t, Inverse(t)), PixelTransform::Identity);
        for (const PixelTransform second : kAll)
            EXPECT_EQ(Transformed(Transformed(noise, t), second), Transformed(noise, Then(t, second)));
    }
    EXPECT_EQ(FromExifOrientation(0), PixelTransform::Identity);
    EXPECT_EQ(FromExifOrientation(9), PixelTransform::Identity);
}

TEST(PixelTransform, PackedRowsMoveEveryValueAsItIs)
{
    for (const int bits : {1, 2, 4, 8, 24, 48}) {
        const int w = 13, h = 5;  // odd sizes leave padding bits in every row
        const auto strideOf = [bits](int width) { return static_cast<std::ptrdiff_t>((width * bits + 31) / 32 * 4); };
        const std::uint64_t mask = bits >= 64 ? ~0ull : (1ull << bits) - 1;
        std::vector<std::uint8_t> source(static_cast<std::size_t>(strideOf(w) * h));
        const auto value = [&](int x, int y) {
            return (static_cast<std::uint64_t>(x * 37 + y * 101 + 5) * 2654435761u) & mask;
        };
        const auto put = [&](std::uint8_t* row, int x, std::uint64_t v) {
            for (int b = 0; b < bits; ++b)
                if (v >> (bits - 1 - b) & 1)
                    row[(x * bits + b) / 8] |= static_cast<std::uint8_t>(0x80 >> ((x * bits + b) % 8));
        };
        const auto get = [&](const std::uint8_t* row, int x) {
            std::uint64_t v = 0;
            for (int b = 0; b < bits; ++b)
                v = v << 1 | ((row[(x * bits + b) / 8] >> (7 - (x * bits + b) % 8)) & 1);
            return v;
        };
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                put(source.data() + strideOf(w) * y, x, value(x, y));
        for (const PixelTransform t : kAll) {
            SCOPED_TRACE(testing::Message() << bits << " bits, transform " << static_cast<int>(t));
            const int tw = SwapsSides(t) ? h : w, th = SwapsSides(t) ? w : h;
            std::vector<std::uint8_t> target(static_cast<std::size_t>(strideOf(tw) * th));
            // Bottom-up on the target side, as BMP stores it.
            TransformPixels({source.data(), w, h, strideOf(w), bits},
                            {target.data() + strideOf(tw) * (th - 1), tw, th, -strideOf(tw), bits}, t);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    int tx = 0, ty = 0;
                    MapPixel(t, w, h, x, y, tx, ty);
                    ASSERT_EQ(get(target.data() + strideOf(tw) * (th - 1 - ty), tx), value(x, y)) << x << "," << y;
                }
        }
    }
}

TEST(ExifOrientation, EveryValueInBothByteOrders)
{
    const std::vector<std::uint8_t> jpeg = test::JpegFixture(Blocks(), 90);
    EXPECT_EQ(ExifOrientation(jpeg), 1) << "no EXIF block";
    EXPECT_EQ(ExifOrientation(test::WithExif(jpeg, {})), 1) << "no orientation tag";
    for (const bool big : {false, true})
        for (int o = 1; o <= 8; ++o) {
            test::ExifPlan plan;
            plan.bigEndian = big;
            plan.orientation = static_cast<std::uint16_t>(o);
            plan.exifEntries = 12;
            plan.makerNoteSize = 300;
            plan.thumbnail = test::JpegFixture(Blocks(2, 1), 80);
            EXPECT_EQ(ExifOrientation(test::WithExif(jpeg, plan)), o) << (big ? "MM " : "II ") << o;
        }
}

// The picture through every entry point that shows or thumbnails it.
void ExpectShownAs(std::span<const std::uint8_t> jpeg, const QImage& shown)
{
    Result<QImage> still = DecodeStill(ImageFormat::Jpeg, jpeg);
    ASSERT_TRUE(still.ok()) << still.error().message;
    EXPECT_EQ(still.value().size(), shown.size());
    ExpectBlocks(still.value(), shown, 40);
    Result<QImage> byContent = LoadImageByContent(jpeg);
    ASSERT_TRUE(byContent.ok());
    EXPECT_EQ(byContent.value().size(), shown.size());
    Result<QImage> thumb = DecodeThumbnail(ImageFormat::Jpeg, jpeg, 24);
    ASSERT_TRUE(thumb.ok()) << thumb.error().message;
    EXPECT_EQ(thumb.value().size(), ThumbnailSize(shown.width(), shown.height(), 24));
    ExpectBlocks(thumb.value(), shown, 90);
}

TEST(UprightPictures, EveryOrientationIsShownAsTheCameraMeantIt)
{
    const QImage shown = Blocks();
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        test::ExifPlan plan;
        plan.orientation = static_cast<std::uint16_t>(o);
        plan.bigEndian = o % 2 == 0;
        const std::vector<std::uint8_t> jpeg = test::WithExif(test::JpegFixture(StoredFor(shown, o), 95), plan);
        ExpectShownAs(jpeg, shown);
        EXPECT_EQ(DecodeJpeg(jpeg).value().size(), StoredFor(shown, o).size()) << "the raw decoder keeps the storage";
    }
}

TEST(UprightPictures, DamagedExifNeverStopsThePicture)
{
    const QImage shown = Blocks();
    test::ExifPlan plan;
    plan.orientation = 6;
    plan.exifEntries = 5;
    plan.thumbnail = test::JpegFixture(Blocks(2, 1), 80);
    const std::vector<std::uint8_t> exif = test::ExifPayload(plan);
    const std::vector<std::uint8_t> stored = test::JpegFixture(StoredFor(shown, 6), 95);

    const auto mutated = [&](auto change) {
        std::vector<std::uint8_t> payload = exif;
        change(payload);
        return test::WithSegment(stored, 0xE1, payload);
    };
    const auto setAt = [](std::size_t at, std::vector<std::uint8_t> bytes) {
        return [=](std::vector<std::uint8_t>& p) {
            if (at + bytes.size() <= p.size()) std::copy(bytes.begin(), bytes.end(), p.begin() + static_cast<long>(at));
        };
    };
    // Offsets in the payload: 6 "Exif\0\0", then the TIFF header (IFD0 link at 10), IFD0 at 14
    // with three entries (Make, Orientation, the EXIF pointer) and its IFD1 link at 52.
    struct Case {
        const char* what;
        std::vector<std::uint8_t> jpeg;
        int orientation;  // what the reader must make of it; 0: anything from 1 to 8
    };
    std::vector<Case> cases;
    for (const std::size_t keep : {6, 7, 9, 13, 15, 20, 30, 40, 60})
        cases.push_back({"block cut short", mutated([keep](auto& p) { p.resize(keep); }), 0});
    cases.push_back({"garbage after the header", mutated([](auto& p) {
                         for (std::size_t i = 6; i < p.size(); ++i)
                             p[i] = static_cast<std::uint8_t>(i * 151 + 7);
                     }),
                     0});
    cases.push_back({"unknown byte order", mutated(setAt(6, {'X', 'Y'})), 1});
    cases.push_back({"IFD0 beyond the block", mutated(setAt(10, {0xF0, 0xFF, 0xFF, 0x7F})), 1});
    cases.push_back({"entry count past the end", mutated(setAt(14, {0xFF, 0xFF})), 0});
    cases.push_back({"IFD1 beyond the block", mutated(setAt(52, {0xFF, 0xFF, 0xFF, 0x0F})), 6});
    cases.push_back({"orientation 0", mutated(setAt(14 + 2 + 12 + 8, {0, 0})), 1});
    cases.push_back({"orientation 9", mutated(setAt(14 + 2 + 12 + 8, {9, 0})), 1});
    cases.push_back({"orientation as a LONG", mutated(setAt(14 + 2 + 12 + 2, {4, 0})), 1});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int orientation = ExifOrientation(c.jpeg);
        if (c.orientation != 0) {
            EXPECT_EQ(orientation, c.orientation);
        } else {
            EXPECT_GE(orientation, 1);
            EXPECT_LE(orientation, 8);
        }
        Result<QImage> still = DecodeStill(ImageFormat::Jpeg, c.jpeg);
        ASSERT_TRUE(still.ok()) << still.error().message;
        EXPECT_EQ(still.value().size(), orientation >= 5 ? shown.size() : StoredFor(shown, 6).size());
        EXPECT_TRUE(DecodeThumbnail(ImageFormat::Jpeg, c.jpeg, 24).ok());
        std::vector<std::uint8_t> copy = c.jpeg;
        ResetExifOrientation(copy, PixelTransform::Rotate90, nullptr);  // must stay inside the block
        EXPECT_EQ(copy.size(), c.jpeg.size());
    }
}

}  // namespace
}  // namespace quillix::imaging
