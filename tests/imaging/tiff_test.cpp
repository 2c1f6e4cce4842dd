#include "imaging/tiff_codec.h"
#include "imaging/tiff_fixtures.h"
#include "support/memory_peak.h"

#include <gtest/gtest.h>

#include <QColorSpace>

#include <cstdlib>
#include <string>
#include <vector>

namespace quillix::imaging {
namespace {

using test::TiffAlpha;
using test::TiffFixture;
using test::TiffPage;
using test::TiffPlan;

// Independent per pixel and channel, so a swapped channel, a shifted row or a lost tile shows;
// alpha stays at 128 or above where it is multiplied in, so dividing it out loses at most one.
QImage Varied(int w, int h, bool strongAlpha)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int a = strongAlpha ? 128 + (x * 23 + y * 41) % 128 : (x * 23 + y * 41 + 1) % 256;
            image.setPixel(
                x, y, qRgba((x * 37 + y * 101) % 256, (x * 53 + y * 29 + 90) % 256, (x * y * 7 + x * 11) % 256, a));
        }
    return image;
}

// At most `count` colours, for palettes.
QImage FewColours(int w, int h, int count)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int i = (x * 7 + y * 3) % count;
            image.setPixel(x, y, qRgb(i * 6, 255 - i * 5, (i * 97) % 256));
        }
    return image;
}

// Flat 8 × 8 quarters, which JPEG keeps close to their values.
QImage Quarters()
{
    QImage image(16, 16, QImage::Format_ARGB32);
    const QRgb colours[4] = {qRgb(200, 30, 60), qRgb(10, 220, 90), qRgb(40, 70, 250), qRgb(250, 240, 20)};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            image.setPixel(x, y, colours[(y / 8) * 2 + x / 8]);
    return image;
}

struct LayoutCase {
    const char* name;
    TiffPage page;
    int tolerance = 0;  // lossy ones are checked away from the quarters' edges, where chroma blurs
    bool bigTiff = false;
    bool bigEndian = false;
};

TiffPage Page(QImage picture, std::uint16_t photometric, std::uint16_t bits, std::uint16_t compression,
              TiffAlpha alpha = TiffAlpha::None)
{
    TiffPage page;
    page.picture = std::move(picture);
    page.photometric = photometric;
    page.bits = bits;
    page.compression = compression;
    page.alpha = alpha;
    return page;
}

std::vector<LayoutCase> LayoutCases()
{
    const int w = 19, h = 13;  // odd: partial bytes at one bit, partial tiles, a short last strip
    const QImage varied = Varied(w, h, false), strong = Varied(w, h, true);
    TiffPage tiled = Page(strong, PHOTOMETRIC_RGB, 8, COMPRESSION_ADOBE_DEFLATE, TiffAlpha::Associated);
    tiled.tiled = true;
    return {
        {"RGB 8 uncompressed", Page(varied, PHOTOMETRIC_RGB, 8, COMPRESSION_NONE)},
        {"RGB 8 LZW", Page(varied, PHOTOMETRIC_RGB, 8, COMPRESSION_LZW)},
        {"RGB 8 Deflate", Page(varied, PHOTOMETRIC_RGB, 8, COMPRESSION_ADOBE_DEFLATE)},
        {"RGB 8 PackBits", Page(varied, PHOTOMETRIC_RGB, 8, COMPRESSION_PACKBITS)},
        {"RGB 16 Deflate", Page(varied, PHOTOMETRIC_RGB, 16, COMPRESSION_ADOBE_DEFLATE)},
        {"RGB 16 big-endian", Page(varied, PHOTOMETRIC_RGB, 16, COMPRESSION_NONE), 0, false, true},
        {"RGB 8 BigTIFF", Page(varied, PHOTOMETRIC_RGB, 8, COMPRESSION_LZW), 0, true},
        {"RGBA 8 unassociated LZW", Page(varied, PHOTOMETRIC_RGB, 8, COMPRESSION_LZW, TiffAlpha::Unassociated)},
        {"RGBA 16 unassociated", Page(varied, PHOTOMETRIC_RGB, 16, COMPRESSION_NONE, TiffAlpha::Unassociated)},
        {"RGBA 8 associated", Page(strong, PHOTOMETRIC_RGB, 8, COMPRESSION_NONE, TiffAlpha::Associated), 1},
        {"RGBA 16 associated", Page(strong, PHOTOMETRIC_RGB, 16, COMPRESSION_PACKBITS, TiffAlpha::Associated), 1},
        {"RGBA 8 associated in tiles", tiled, 1},
        {"grey 8 PackBits", Page(varied, PHOTOMETRIC_MINISBLACK, 8, COMPRESSION_PACKBITS)},
        {"grey 16 LZW", Page(varied, PHOTOMETRIC_MINISBLACK, 16, COMPRESSION_LZW)},
        {"grey 1 bit", Page(varied, PHOTOMETRIC_MINISBLACK, 1, COMPRESSION_NONE)},
        {"grey-alpha 8 unassociated Deflate",
         Page(varied, PHOTOMETRIC_MINISBLACK, 8, COMPRESSION_ADOBE_DEFLATE, TiffAlpha::Unassociated)},
        {"grey-alpha 8 associated", Page(strong, PHOTOMETRIC_MINISBLACK, 8, COMPRESSION_NONE, TiffAlpha::Associated),
         1},
        {"palette 8 LZW", Page(FewColours(w, h, 40), PHOTOMETRIC_PALETTE, 8, COMPRESSION_LZW)},
        {"CMYK 8", Page(varied, PHOTOMETRIC_SEPARATED, 8, COMPRESSION_NONE)},
        {"CMYK 8 LZW", Page(varied, PHOTOMETRIC_SEPARATED, 8, COMPRESSION_LZW)},
        {"RGB JPEG", Page(Quarters(), PHOTOMETRIC_RGB, 8, COMPRESSION_JPEG), 2},
        {"YCbCr JPEG", Page(Quarters(), PHOTOMETRIC_YCBCR, 8, COMPRESSION_JPEG), 6},
    };
}

QRgb Expected(const TiffPage& page, int x, int y)
{
    const QRgb c = page.picture.pixel(x, y);
    const int a = page.alpha == TiffAlpha::None ? 255 : qAlpha(c);
    if (page.photometric != PHOTOMETRIC_MINISBLACK) return qRgba(qRed(c), qGreen(c), qBlue(c), a);
    const int grey = page.bits == 1 ? (qRed(c) >= 128 ? 255 : 0) : qRed(c);
    return qRgba(grey, grey, grey, a);
}

TEST(Tiff, LayoutsAndCompressionsDecodeToTheirColours)
{
    for (const LayoutCase& c : LayoutCases()) {
        SCOPED_TRACE(c.name);
        TiffPlan plan;
        plan.pages = {c.page};
        plan.bigTiff = c.bigTiff;
        plan.bigEndian = c.bigEndian;
        const Result<QImage> decoded = DecodeTiff(TiffFixture(plan));
        ASSERT_TRUE(decoded.ok()) << decoded.error().message;
        const QImage& image = decoded.value();
        ASSERT_EQ(image.size(), c.page.picture.size());
        EXPECT_EQ(image.format(), c.page.alpha == TiffAlpha::None ? QImage::Format_RGB32 : QImage::Format_ARGB32);
        int worst = 0, worstX = 0, worstY = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                if (c.page.compression == COMPRESSION_JPEG && (x % 8 < 2 || x % 8 > 5 || y % 8 < 2 || y % 8 > 5))
                    continue;
                const QRgb got = image.pixel(x, y), want = Expected(c.page, x, y);
                const int off = std::max({std::abs(qRed(got) - qRed(want)), std::abs(qGreen(got) - qGreen(want)),
                                          std::abs(qBlue(got) - qBlue(want)), std::abs(qAlpha(got) - qAlpha(want))});
                if (off > worst) worst = off, worstX = x, worstY = y;
            }
        EXPECT_LE(worst, c.tolerance) << "at " << worstX << "," << worstY;
    }
}

// Four distinct pixels, stored as A B / C D.
QImage Square()
{
    QImage image(2, 2, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgb(255, 0, 0));
    image.setPixel(1, 0, qRgb(0, 255, 0));
    image.setPixel(0, 1, qRgb(0, 0, 255));
    image.setPixel(1, 1, qRgb(255, 255, 255));
    return image;
}

TEST(Tiff, EachOrientationShowsThePictureUpright)
{
    const QImage stored = Square();
    const QRgb A = stored.pixel(0, 0), B = stored.pixel(1, 0), C = stored.pixel(0, 1), D = stored.pixel(1, 1);
    // What each Orientation value shows, top row then bottom row, worked out by hand from the
    // tag's meaning (6: the stored top row becomes the right column).
    const struct {
        int orientation;
        QRgb shown[4];
    } cases[] = {
        {1, {A, B, C, D}}, {2, {B, A, D, C}}, {3, {D, C, B, A}}, {4, {C, D, A, B}},
        {5, {A, C, B, D}}, {6, {C, A, D, B}}, {7, {D, B, C, A}}, {8, {B, D, A, C}},
    };
    for (const auto& c : cases)
        for (bool tiled : {false, true}) {
            SCOPED_TRACE(std::to_string(c.orientation) + (tiled ? " tiled" : ""));
            TiffPage page = Page(stored, PHOTOMETRIC_RGB, 8, COMPRESSION_LZW);
            page.orientation = c.orientation;
            page.tiled = tiled;
            const Result<QImage> decoded = DecodeTiff(TiffFixture(page));
            ASSERT_TRUE(decoded.ok()) << decoded.error().message;
            const QImage& image = decoded.value();
            EXPECT_EQ(image.pixel(0, 0), c.shown[0]);
            EXPECT_EQ(image.pixel(1, 0), c.shown[1]);
            EXPECT_EQ(image.pixel(0, 1), c.shown[2]);
            EXPECT_EQ(image.pixel(1, 1), c.shown[3]);
        }
}

TEST(Tiff, SizeIsTheShownSizeAndAgreesWithTheDecodedPicture)
{
    QImage stored = Varied(7, 3, false);
    for (int y = 0; y < stored.height(); ++y)
        for (int x = 0; x < stored.width(); ++x)
            stored.setPixel(x, y, stored.pixel(x, y) | 0xFF000000u);
    stored = stored.convertToFormat(QImage::Format_RGB32);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        TiffPage page = Page(stored, PHOTOMETRIC_RGB, 8, COMPRESSION_NONE);
        page.orientation = orientation;
        const std::vector<std::uint8_t> file = TiffFixture(page);
        const Result<QSize> size = TiffSize(file);
        ASSERT_TRUE(size.ok());
        EXPECT_EQ(size.value(), orientation >= 5 ? QSize(3, 7) : QSize(7, 3));
        const Result<QImage> decoded = DecodeTiff(file);
        ASSERT_TRUE(decoded.ok());
        EXPECT_EQ(decoded.value().size(), size.value());
        EXPECT_EQ(decoded.value(), Transformed(stored, FromExifOrientation(orientation)));
    }
}

QImage Solid(int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

TEST(Tiff, MultiPageFilesCountTheirPagesAndShowTheFirst)
{
    TiffPlan plan;
    const QRgb colours[3] = {qRgb(200, 10, 10), qRgb(10, 200, 10), qRgb(10, 10, 200)};
    for (QRgb colour : colours)
        plan.pages.push_back(Page(Solid(6, 4, colour), PHOTOMETRIC_RGB, 8, COMPRESSION_LZW));
    plan.pages[1].picture = Solid(9, 9, colours[1]);  // pages need not share a size
    const std::vector<std::uint8_t> file = TiffFixture(plan);
    EXPECT_EQ(TiffPageCount(file), 3);
    const Result<QImage> decoded = DecodeTiff(file);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.value().size(), QSize(6, 4));
    EXPECT_EQ(decoded.value().pixel(5, 3), colours[0]);

    EXPECT_EQ(TiffPageCount(TiffFixture(Page(Solid(2, 2, colours[0]), PHOTOMETRIC_RGB, 8, COMPRESSION_NONE))), 1);
    EXPECT_EQ(TiffPageCount(std::vector<std::uint8_t>{'I', 'I', 42, 0}), 0);
}

TEST(Tiff, AnRgbPageIsTaggedWithItsProfileAndOthersAreNot)
{
    const QByteArray p3 = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    ASSERT_FALSE(p3.isEmpty());
    TiffPage page = Page(Varied(5, 5, false), PHOTOMETRIC_RGB, 8, COMPRESSION_NONE);
    page.icc = p3;
    Result<QImage> decoded = DecodeTiff(TiffFixture(page));
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.value().colorSpace(), QColorSpace(QColorSpace::DisplayP3));

    page.icc = QByteArray("not a profile at all, but long enough to look like one", 54);
    decoded = DecodeTiff(TiffFixture(page));
    ASSERT_TRUE(decoded.ok());
    EXPECT_FALSE(decoded.value().colorSpace().isValid());

    page.icc = p3;
    page.photometric = PHOTOMETRIC_MINISBLACK;  // an RGB profile does not describe grey samples
    decoded = DecodeTiff(TiffFixture(page));
    ASSERT_TRUE(decoded.ok());
    EXPECT_FALSE(decoded.value().colorSpace().isValid());

    decoded = DecodeTiff(TiffFixture(Page(Varied(5, 5, false), PHOTOMETRIC_RGB, 8, COMPRESSION_NONE)));
    ASSERT_TRUE(decoded.ok());
    EXPECT_FALSE(decoded.value().colorSpace().isValid());
}

// The picture a file shows, turned by `t` as the viewer would turn it.
QImage TurnedView(const std::vector<std::uint8_t>& file, PixelTransform t)
{
    return Transformed(DecodeTiff(file).value(), t);
}

TEST(TiffTurn, EveryTurnShowsThePictureTurnedWithItsDataUntouched)
{
    const QImage stored = Varied(5, 3, false);
    // Without a tag, with one, as BigTIFF, big-endian, tiled: the tag is added or rewritten.
    struct Source {
        const char* name;
        int orientation;
        bool bigTiff, bigEndian, tiled;
    };
    const Source sources[] = {{"no tag", 0, false, false, false},          {"tag 6", 6, false, false, false},
                              {"tag 1", 1, false, false, false},           {"tag 7 BigTIFF", 7, true, false, false},
                              {"no tag BigTIFF", 0, true, false, false},   {"no tag big-endian", 0, false, true, false},
                              {"tag 3 big-endian", 3, false, true, false}, {"tag 2 tiled", 2, false, false, true}};
    for (const Source& source : sources) {
        TiffPlan plan;
        plan.pages = {Page(stored, PHOTOMETRIC_RGB, 8, COMPRESSION_LZW)};
        plan.pages[0].orientation = source.orientation;
        plan.pages[0].tiled = source.tiled;
        plan.bigTiff = source.bigTiff;
        plan.bigEndian = source.bigEndian;
        const std::vector<std::uint8_t> file = TiffFixture(plan);
        const int before = source.orientation == 0 ? 1 : source.orientation;
        for (int turn = 1; turn <= 8; ++turn) {
            SCOPED_TRACE(std::string(source.name) + ", turn " + std::to_string(turn));
            const auto t = static_cast<PixelTransform>(turn);
            const Result<std::vector<std::uint8_t>> turned = TurnTiff(file, t);
            ASSERT_TRUE(turned.ok()) << turned.error().message;
            const int after = static_cast<int>(Then(FromExifOrientation(before), t));
            const int tag = test::TiffOrientations(turned.value()).front();
            EXPECT_EQ(tag == 0 ? 1 : tag, after);
            EXPECT_EQ(DecodeTiff(turned.value()).value(), TurnedView(file, t));
            EXPECT_EQ(test::TiffRawData(turned.value()), test::TiffRawData(file));
            // A tag already there changes in place; only an added one grows the file.
            if (source.orientation != 0) {
                EXPECT_EQ(turned.value().size(), file.size());
            }
            if (source.orientation == 0 && after == 1) {
                EXPECT_EQ(turned.value(), file);
            }
        }
    }
}

TEST(TiffTurn, TurnsAddUpAndComeBackToTheStart)
{
    const std::vector<std::uint8_t> file = TiffFixture(Page(Varied(4, 3, false), PHOTOMETRIC_RGB, 8, COMPRESSION_LZW));
    const QImage start = DecodeTiff(file).value();
    std::vector<std::uint8_t> current = file;
    for (int quarter = 1; quarter <= 4; ++quarter) {
        SCOPED_TRACE(quarter);
        current = TurnTiff(current, PixelTransform::Rotate90).value();
        const int expected[] = {6, 3, 8, 1};
        EXPECT_EQ(test::TiffOrientations(current).front(), expected[quarter - 1]);
    }
    EXPECT_EQ(DecodeTiff(current).value(), start);
    // The first turn added a directory; later ones rewrite it, so the file grew once.
    EXPECT_EQ(TurnTiff(TurnTiff(file, PixelTransform::Rotate90).value(), PixelTransform::Rotate270).value().size(),
              TurnTiff(file, PixelTransform::Rotate90).value().size());
    for (PixelTransform mirror : {PixelTransform::FlipH, PixelTransform::Transpose}) {
        const std::vector<std::uint8_t> twice = TurnTiff(TurnTiff(file, mirror).value(), mirror).value();
        EXPECT_EQ(DecodeTiff(twice).value(), start);
    }
}

TEST(TiffTurn, EveryPageTurnsFromItsOwnOrientation)
{
    TiffPlan plan;
    for (int orientation : {0, 6, 3}) {
        plan.pages.push_back(Page(Varied(6, 4, false), PHOTOMETRIC_RGB, 8, COMPRESSION_PACKBITS));
        plan.pages.back().orientation = orientation;
    }
    const std::vector<std::uint8_t> file = TiffFixture(plan);
    const Result<std::vector<std::uint8_t>> turned = TurnTiff(file, PixelTransform::Rotate90);
    ASSERT_TRUE(turned.ok()) << turned.error().message;
    EXPECT_EQ(test::TiffOrientations(turned.value()), (std::vector<int>{6, 3, 8}));
    EXPECT_EQ(TiffPageCount(turned.value()), 3);
    EXPECT_EQ(test::TiffRawData(turned.value()), test::TiffRawData(file));

    // Two pages without a tag: the second is moved after the first was, and both stay linked.
    plan.pages[1].orientation = 0;
    plan.pages[2].orientation = 0;
    const std::vector<std::uint8_t> untagged = TiffFixture(plan);
    const std::vector<std::uint8_t> both = TurnTiff(untagged, PixelTransform::Rotate180).value();
    EXPECT_EQ(test::TiffOrientations(both), (std::vector<int>{3, 3, 3}));
    EXPECT_EQ(test::TiffRawData(both), test::TiffRawData(untagged));
}

std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

TEST(Tiff, DamagedFilesAreErrorsAndLibtiffStaysQuiet)
{
    const std::vector<std::uint8_t> file =
        TiffFixture(Page(Varied(19, 13, false), PHOTOMETRIC_RGB, 8, COMPRESSION_ADOBE_DEFLATE));
    std::vector<std::uint8_t> garbled = file;
    const auto [strip, length] = test::TiffFirstStrip(file);
    for (std::size_t i = strip; i < strip + length; ++i)
        garbled[i] = static_cast<std::uint8_t>(i * 131);
    const std::vector<std::vector<std::uint8_t>> damaged = {
        {},
        {'I', 'I', 42, 0},
        {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0},
        Cut(file, 8),
        Cut(file, file.size() / 2),  // libtiff writes the directory after the pixels
        Cut(file, file.size() - 5),
        garbled,
    };
    testing::internal::CaptureStderr();
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(i);
        const Result<QImage> decoded = DecodeTiff(damaged[i]);
        EXPECT_FALSE(decoded.ok());
        if (!decoded.ok()) {
            EXPECT_EQ(decoded.error().message.rfind("TIFF: ", 0), 0u) << decoded.error().message;
        }
        // The garbled strip leaves every directory whole; the others lose theirs.
        if (i + 1 < damaged.size()) {
            EXPECT_FALSE(TiffSize(damaged[i]).ok());
            EXPECT_FALSE(TurnTiff(damaged[i], PixelTransform::Rotate90).ok());
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(TiffTurn, DirectoriesThatCannotBeWalkedAreRefused)
{
    const std::vector<std::uint8_t> file = TiffFixture(Page(Varied(4, 4, false), PHOTOMETRIC_RGB, 8, COMPRESSION_NONE));
    const std::size_t ifd = file[4] | file[5] << 8 | file[6] << 16 | std::size_t{file[7]} << 24;
    const std::size_t entries = file[ifd] | file[ifd + 1] << 8;
    const std::size_t next = ifd + 2 + entries * 12;
    std::vector<std::uint8_t> loop = file;  // the directory links back to itself
    for (int i = 0; i < 4; ++i)
        loop[next + static_cast<std::size_t>(i)] = file[4 + static_cast<std::size_t>(i)];
    std::vector<std::uint8_t> beyond = file;  // a second directory past the end
    beyond[next] = 0xF0;
    beyond[next + 3] = 0x7F;
    std::vector<std::uint8_t> countPastEnd = file;
    countPastEnd[ifd + 1] = 0x40;
    for (const auto& bad : {loop, beyond, countPastEnd}) {
        const Result<std::vector<std::uint8_t>> turned = TurnTiff(bad, PixelTransform::Rotate90);
        EXPECT_FALSE(turned.ok());
    }
}

TEST(Tiff, HostileSizesAreRefusedBeforeAllocating)
{
    struct Hostile {
        const char* name;
        std::uint16_t compression;
        std::uint32_t width, height;
    };
    // Beyond the pixel bound; within it, but far more than the strips could paint at their
    // compression's densest.
    const Hostile cases[] = {{"beyond the bound", COMPRESSION_NONE, 70000, 70000},
                             {"uncompressed", COMPRESSION_NONE, 16000, 16000},
                             {"PackBits", COMPRESSION_PACKBITS, 16000, 16000},
                             {"Deflate", COMPRESSION_ADOBE_DEFLATE, 16000, 16000},
                             {"LZW", COMPRESSION_LZW, 16000, 16000},
                             {"JPEG", COMPRESSION_JPEG, 16000, 16000}};
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.name);
        TiffPage page = Page(Solid(16, 16, qRgb(90, 90, 90)), PHOTOMETRIC_RGB, 8, c.compression);
        page.rowsPerStrip = 16;
        std::vector<std::uint8_t> file = TiffFixture(page);
        ASSERT_LT(file.size(), 2000u);
        // One strip, as before, now said to hold the whole claimed picture.
        test::SetFirstPageTag(file, TIFFTAG_IMAGEWIDTH, c.width);
        test::SetFirstPageTag(file, TIFFTAG_IMAGELENGTH, c.height);
        test::SetFirstPageTag(file, TIFFTAG_ROWSPERSTRIP, c.height);
        const long addressSpace = test::StatusKib("VmPeak:");
        const Result<QImage> decoded = DecodeTiff(file);
        ASSERT_FALSE(decoded.ok());
        EXPECT_EQ(decoded.error().kind, c.width > 20000 ? ErrorKind::Unsupported : ErrorKind::BadHeader);
        EXPECT_LT(test::StatusKib("VmPeak:") - addressSpace, 256 * 1024) << "a canvas was allocated";
    }

    // A small picture whose one tile is said to be a gigabyte: libtiff would allocate it whole.
    TiffPage page = Page(Solid(16, 16, qRgb(90, 90, 90)), PHOTOMETRIC_RGB, 8, COMPRESSION_NONE);
    page.tiled = true;
    std::vector<std::uint8_t> file = TiffFixture(page);
    test::SetFirstPageTag(file, TIFFTAG_TILEWIDTH, 16384);
    test::SetFirstPageTag(file, TIFFTAG_TILELENGTH, 16384);
    const long addressSpace = test::StatusKib("VmPeak:");
    EXPECT_FALSE(DecodeTiff(file).ok());
    EXPECT_LT(test::StatusKib("VmPeak:") - addressSpace, 256 * 1024) << "a tile was allocated";
}

}  // namespace
}  // namespace quillix::imaging
