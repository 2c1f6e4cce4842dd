#include "imaging/gif_codec.h"

#include "imaging/anim_fixtures.h"
#include "support/hex.h"
#include "support/temp_dir.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace quillix::imaging {
namespace {

using test::FilledGifFrame;
using test::GifFixture;
using test::GifFixtureFrame;

const QRgb kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 255, 0), kBlue = qRgb(0, 0, 255), kWhite = qRgb(255, 255, 255);
enum : std::uint8_t { R, G, B, W };

// One letter a pixel, rows separated by "|": R G B W for the palette, "." for transparent.
std::string Picture(const QImage& image)
{
    std::string out;
    for (int y = 0; y < image.height(); ++y) {
        if (y) out += '|';
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            out += qAlpha(p) == 0 ? '.'
                   : p == kRed    ? 'R'
                   : p == kGreen  ? 'G'
                   : p == kBlue   ? 'B'
                   : p == kWhite  ? 'W'
                                  : '?';
        }
    }
    return out;
}

GifFixture Canvas4x3(std::vector<GifFixtureFrame> frames)
{
    return GifFixture{4, 3, {kRed, kGreen, kBlue, kWhite}, std::nullopt, std::move(frames)};
}

GifFixtureFrame With(GifFixtureFrame f, int disposal, int transparent = NO_TRANSPARENT_COLOR)
{
    f.disposal = disposal;
    f.transparent = transparent;
    return f;
}

// Rows of R, G, B, W in turn, top first.
GifFixtureFrame StripedFrame(int left, int top, int width, int height)
{
    GifFixtureFrame f = FilledGifFrame(left, top, width, height, 0);
    for (int y = 0; y < height; ++y)
        std::fill_n(f.indices.begin() + y * width, width, static_cast<std::uint8_t>(y % 4));
    return f;
}

GifFixtureFrame Interlaced(GifFixtureFrame f)
{
    f.interlace = true;
    return f;
}

TEST(GifDecode, CompositesFramesByDisposalAndTransparency)
{
    GifFixtureFrame holed = FilledGifFrame(0, 0, 2, 2, B);
    holed.indices[0] = W;  // W is transparent below: the canvas shows through
    GifFixtureFrame local = FilledGifFrame(2, 1, 2, 2, 0);
    local.localColours = {kWhite};

    const struct {
        const char* name;
        GifFixture gif;
        std::vector<std::string> frames;
    } cases[] = {
        {"partial first frame leaves the rest transparent",
         Canvas4x3({FilledGifFrame(1, 1, 2, 1, G)}),
         {"....|.GG.|...."}},
        {"keep: the next frame is drawn over the last",
         Canvas4x3({With(FilledGifFrame(0, 0, 4, 3, R), DISPOSE_DO_NOT), FilledGifFrame(1, 1, 2, 2, G)}),
         {"RRRR|RRRR|RRRR", "RRRR|RGGR|RGGR"}},
        {"unspecified disposal keeps too",
         Canvas4x3({FilledGifFrame(0, 0, 4, 3, R), FilledGifFrame(3, 2, 1, 1, B)}),
         {"RRRR|RRRR|RRRR", "RRRR|RRRR|RRRB"}},
        {"background clears the frame's own rectangle to transparent",
         Canvas4x3({FilledGifFrame(0, 0, 4, 3, R), With(FilledGifFrame(0, 0, 2, 2, G), DISPOSE_BACKGROUND),
                    FilledGifFrame(3, 0, 1, 1, B)}),
         {"RRRR|RRRR|RRRR", "GGRR|GGRR|RRRR", "..RB|..RR|RRRR"}},
        {"previous restores what was there before the frame",
         Canvas4x3({FilledGifFrame(0, 0, 4, 3, R), With(FilledGifFrame(1, 0, 2, 3, G), DISPOSE_PREVIOUS),
                    FilledGifFrame(0, 2, 1, 1, B)}),
         {"RRRR|RRRR|RRRR", "RGGR|RGGR|RGGR", "RRRR|RRRR|BRRR"}},
        {"previous on the first frame restores the empty canvas",
         Canvas4x3({With(FilledGifFrame(0, 0, 4, 3, R), DISPOSE_PREVIOUS), FilledGifFrame(0, 0, 1, 1, G)}),
         {"RRRR|RRRR|RRRR", "G...|....|...."}},
        {"transparent index skips pixels",
         Canvas4x3({FilledGifFrame(0, 0, 4, 3, R), With(holed, DISPOSAL_UNSPECIFIED, W)}),
         {"RRRR|RRRR|RRRR", "RBRR|BBRR|RRRR"}},
        {"transparent index without disposal of the frame before",
         Canvas4x3({With(holed, DISPOSE_BACKGROUND, W), FilledGifFrame(2, 2, 1, 1, G)}),
         {".B..|BB..|....", "....|....|..G."}},
        {"a local colour map wins over the global one",
         Canvas4x3({FilledGifFrame(0, 0, 4, 3, R), local}),
         {"RRRR|RRRR|RRRR", "RRRR|RRWW|RRWW"}},
        {"a frame partly off the screen is clipped to it",
         Canvas4x3({FilledGifFrame(0, 0, 4, 3, R), FilledGifFrame(3, 2, 2, 1, G)}),
         {"RRRR|RRRR|RRRR", "RRRR|RRRR|RRRG"}},
        {"a frame wholly off the screen draws nothing and keeps its place",
         Canvas4x3({FilledGifFrame(0, 0, 4, 3, R), FilledGifFrame(9, 9, 2, 2, G), FilledGifFrame(0, 0, 1, 1, B)}),
         {"RRRR|RRRR|RRRR", "RRRR|RRRR|RRRR", "BRRR|RRRR|RRRR"}},
        {"a progressive frame past the bottom is clipped, and the next frame still reads",
         Canvas4x3({FilledGifFrame(0, 0, 4, 3, W), StripedFrame(0, 1, 4, 6), FilledGifFrame(0, 0, 1, 1, B)}),
         {"WWWW|WWWW|WWWW", "WWWW|RRRR|GGGG", "BWWW|RRRR|GGGG"}},
        {"an interlaced frame past the bottom is clipped",
         Canvas4x3(
             {FilledGifFrame(0, 0, 4, 3, W), Interlaced(StripedFrame(0, 1, 4, 6)), FilledGifFrame(0, 0, 1, 1, B)}),
         {"WWWW|WWWW|WWWW", "WWWW|RRRR|GGGG", "BWWW|RRRR|GGGG"}},
        {"background disposal of a clipped frame clears its visible part",
         Canvas4x3({FilledGifFrame(0, 0, 4, 3, R), With(FilledGifFrame(1, 1, 4, 4, G), DISPOSE_BACKGROUND),
                    FilledGifFrame(0, 0, 1, 1, B)}),
         {"RRRR|RRRR|RRRR", "RRRR|RGGG|RGGG", "BRRR|R...|R..."}},
        {"a first frame larger than the screen grows it",
         Canvas4x3({FilledGifFrame(0, 0, 5, 4, R), FilledGifFrame(4, 3, 2, 2, G)}),
         {"RRRRR|RRRRR|RRRRR|RRRRR", "RRRRR|RRRRR|RRRRR|RRRRG"}},
        {"a first frame reaching past the screen grows it to take the frame in",
         Canvas4x3({FilledGifFrame(2, 1, 3, 3, B), FilledGifFrame(0, 0, 6, 1, G)}),
         {".....|..BBB|..BBB|..BBB", "GGGGG|..BBB|..BBB|..BBB"}},
        {"a later frame larger than the screen does not grow it",
         Canvas4x3({FilledGifFrame(0, 0, 4, 3, R), FilledGifFrame(0, 0, 6, 5, G)}),
         {"RRRR|RRRR|RRRR", "GGGG|GGGG|GGGG"}},
        {"an empty screen takes the first frame's size",
         GifFixture{0, 0, {kRed, kGreen}, {}, {FilledGifFrame(0, 0, 2, 1, R)}},
         {"RR"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<GifAnimation> decoded = DecodeGif(test::EncodeGif(c.gif));
        ASSERT_TRUE(decoded.ok()) << decoded.error().message;
        const auto& frames = decoded.value().frames;
        ASSERT_EQ(frames.size(), c.frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].image.format(), QImage::Format_ARGB32);
            EXPECT_EQ(Picture(frames[i].image), c.frames[i]) << "frame " << i;
        }
    }
}

TEST(GifDecode, InterlacedRowsComeBackInOrder)
{
    const int h = 11;  // every interlace pass has rows, and the last pass ends short
    for (const bool interlace : {false, true}) {
        SCOPED_TRACE(interlace ? "interlaced" : "progressive");
        GifFixtureFrame f = FilledGifFrame(0, 0, 2, h, 0);
        for (int y = 0; y < h; ++y)
            f.indices[static_cast<std::size_t>(2 * y)] = static_cast<std::uint8_t>(y % 4);
        f.interlace = interlace;
        const Result<GifAnimation> decoded =
            DecodeGif(test::EncodeGif(GifFixture{2, h, {kRed, kGreen, kBlue, kWhite}, {}, {f}}));
        ASSERT_TRUE(decoded.ok()) << decoded.error().message;
        EXPECT_EQ(Picture(decoded.value().frames[0].image), "RR|GR|BR|WR|RR|GR|BR|WR|RR|GR|BR");
    }
}

TEST(GifDecode, DelaysAndLoopCount)
{
    GifFixture gif = Canvas4x3({FilledGifFrame(0, 0, 4, 3, R), FilledGifFrame(0, 0, 1, 1, G),
                                FilledGifFrame(0, 0, 1, 1, B), FilledGifFrame(0, 0, 1, 1, W)});
    gif.frames[0].delayCs = 0;
    gif.frames[1].delayCs = 7;
    gif.frames[2].delayCs = 250;
    gif.frames[3].control = false;
    for (const std::optional<int> loop :
         {std::optional<int>(), std::optional<int>(0), std::optional<int>(3), std::optional<int>(65535)}) {
        gif.loopCount = loop;
        const Result<GifAnimation> decoded = DecodeGif(test::EncodeGif(gif));
        ASSERT_TRUE(decoded.ok()) << decoded.error().message;
        EXPECT_EQ(decoded.value().loopCount, loop.value_or(-1));
        std::vector<int> delays;
        for (const GifFrame& f : decoded.value().frames)
            delays.push_back(f.delayMs);
        EXPECT_EQ(delays, (std::vector<int>{0, 70, 2500, 0}));
    }
}

TEST(GifDecode, FileAndBytesAgree)
{
    const auto bytes = test::EncodeGif(Canvas4x3({FilledGifFrame(0, 0, 4, 3, B), FilledGifFrame(1, 1, 1, 1, W)}));
    test::TempDir dir;
    test::WriteFile(dir / "a.gif", bytes);
    const Result<GifAnimation> fromFile = DecodeGif(dir / "a.gif");
    ASSERT_TRUE(fromFile.ok()) << fromFile.error().message;
    ASSERT_EQ(fromFile.value().frames.size(), 2u);
    EXPECT_EQ(fromFile.value().frames[1].image, DecodeGif(bytes).value().frames[1].image);

    const Result<GifAnimation> missing = DecodeGif(dir / "none.gif");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().kind, ErrorKind::Io);
}

// The file with its global colour table taken out, as if it had never had one.
std::vector<std::uint8_t> WithoutGlobalColours(std::vector<std::uint8_t> gif)
{
    const std::size_t tableSize = 3u << ((gif[10] & 7) + 1);
    gif[10] &= 0x7F;
    gif.erase(gif.begin() + 13, gif.begin() + 13 + static_cast<long>(tableSize));
    return gif;
}

TEST(GifDecode, WithoutAnyColourTableDrawsAGreyRamp)
{
    GifFixtureFrame ramp = FilledGifFrame(0, 0, 4, 1, 0);
    ramp.indices = {0, 1, 2, 3};
    GifFixtureFrame wide = FilledGifFrame(0, 0, 4, 1, 0);
    wide.indices = {0, 1, 128, 255};
    GifFixtureFrame localOnly = FilledGifFrame(0, 0, 4, 1, 0);
    localOnly.localColours = {kBlue, kWhite};
    localOnly.indices = {1, 0, 1, 0};
    const std::vector<QRgb> sixteen(16, kRed), all(256, kRed);
    const struct {
        const char* name;
        GifFixture gif;  // the global table is taken out
        std::vector<int> greys;
    } cases[] = {
        {"the ramp spans the indices of the LZW code size",
         GifFixture{4, 1, {kRed, kGreen}, {}, {ramp}},
         {0, 85, 170, 255}},
        {"a 16-colour code size", GifFixture{4, 1, sixteen, {}, {ramp}}, {0, 17, 34, 51}},
        {"an 8-bit code size gives every grey", GifFixture{4, 1, all, {}, {wide}}, {0, 1, 128, 255}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<GifAnimation> decoded = DecodeGif(WithoutGlobalColours(test::EncodeGif(c.gif)));
        ASSERT_TRUE(decoded.ok()) << decoded.error().message;
        const QImage& image = decoded.value().frames[0].image;
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(image.pixel(x, 0), qRgb(c.greys[x], c.greys[x], c.greys[x])) << "x " << x;
    }

    // A frame with its own table keeps it; the transparent index still shows the canvas.
    GifFixtureFrame holed = ramp;
    holed.transparent = 2;
    const Result<GifAnimation> mixed =
        DecodeGif(WithoutGlobalColours(test::EncodeGif(GifFixture{4, 1, {kRed, kGreen}, {}, {localOnly, holed}})));
    ASSERT_TRUE(mixed.ok()) << mixed.error().message;
    EXPECT_EQ(Picture(mixed.value().frames[0].image), "WBWB");
    EXPECT_EQ(mixed.value().frames[1].image.pixel(1, 0), qRgb(85, 85, 85));
    EXPECT_EQ(mixed.value().frames[1].image.pixel(2, 0), kWhite);
}

GifFixture ValidFixture()
{
    GifFixture gif = Canvas4x3({FilledGifFrame(0, 0, 4, 3, R), FilledGifFrame(1, 1, 2, 2, G)});
    gif.loopCount = 2;
    gif.frames[0].delayCs = 10;
    return gif;
}

std::vector<std::uint8_t> Valid()
{
    return test::EncodeGif(ValidFixture());
}

TEST(GifDecode, DamagedInputIsAnError)
{
    const auto valid = Valid();
    GifFixture noFrames = Canvas4x3({});
    GifFixture beyondLimit = Canvas4x3({FilledGifFrame(16000, 0, 1000, 1, R)});
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        ErrorKind kind;
    } cases[] = {
        {"empty", {}, ErrorKind::Truncated},
        {"random", test::PseudoRandomBytes(500), ErrorKind::BadHeader},
        {"signature only", test::Bytes("GIF89a"), ErrorKind::BadHeader},
        {"no frames", test::EncodeGif(noFrames), ErrorKind::BadHeader},
        {"a first frame growing the screen past 16384 pixels", test::EncodeGif(beyondLimit), ErrorKind::Unsupported},
        {"cut inside the first frame's descriptor", std::vector(valid.begin(), valid.begin() + 50),
         ErrorKind::Truncated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<GifAnimation> decoded = DecodeGif(c.bytes);
        ASSERT_FALSE(decoded.ok());
        EXPECT_EQ(decoded.error().kind, c.kind) << decoded.error().message;
    }
}

// Browsers show what a cut or damaged file held up to the fault: every whole frame, and the rows
// of the frame it broke off in. Nothing is made up: whatever a cut file shows, the whole file
// showed too.
TEST(GifDecode, CutFileShowsWhatWasDecoded)
{
    const auto valid = Valid();
    const auto full = DecodeGif(valid).value().frames;
    ASSERT_EQ(full.size(), 2u);
    GifFixture firstOnly = ValidFixture();
    firstOnly.frames.pop_back();
    const std::size_t firstFrameEnd = test::EncodeGif(firstOnly).size() - 1;
    for (std::size_t n = 0; n < valid.size(); ++n) {
        SCOPED_TRACE("cut to " + std::to_string(n));
        const Result<GifAnimation> cut = DecodeGif(std::span(valid).first(n));
        if (!cut.ok()) {
            EXPECT_LT(n, firstFrameEnd) << cut.error().message;
            continue;
        }
        const auto& frames = cut.value().frames;
        ASSERT_LE(frames.size(), full.size());
        for (std::size_t i = 0; i + 1 < frames.size(); ++i)
            EXPECT_EQ(frames[i].image, full[i].image) << "frame " << i;
        // The frame it broke off in: each row as the whole file draws it, or as it was before.
        const std::size_t last = frames.size() - 1;
        QImage before(4, 3, QImage::Format_ARGB32);
        before.fill(Qt::transparent);
        if (last > 0) before = full[last - 1].image;
        for (int y = 0; y < 3; ++y) {
            const QImage row = frames[last].image.copy(0, y, 4, 1);
            EXPECT_TRUE(row == full[last].image.copy(0, y, 4, 1) || row == before.copy(0, y, 4, 1)) << "row " << y;
        }
    }
    const Result<GifAnimation> noTrailer = DecodeGif(std::span(valid).first(valid.size() - 1));
    ASSERT_TRUE(noTrailer.ok());
    ASSERT_EQ(noTrailer.value().frames.size(), 2u);
    EXPECT_EQ(noTrailer.value().frames[1].image, full[1].image);
    EXPECT_EQ(noTrailer.value().loopCount, 2);

    // Cut halfway through a frame whose data spans several blocks: its top rows are drawn over
    // the frame before, the rest of the canvas stays as that frame left it.
    GifFixtureFrame noise = FilledGifFrame(0, 0, 64, 64, 0);
    const auto bytes = test::PseudoRandomBytes(noise.indices.size());
    std::transform(bytes.begin(), bytes.end(), noise.indices.begin(), [](std::uint8_t b) { return b % 4; });
    GifFixture big{64, 64, {kRed, kGreen, kBlue, kWhite}, {}, {FilledGifFrame(0, 0, 64, 64, R), noise}};
    const auto whole = test::EncodeGif(big);
    const QImage expected = DecodeGif(whole).value().frames[1].image;
    const std::size_t secondStart =
        test::EncodeGif(GifFixture{64, 64, big.globalColours, {}, {big.frames[0]}}).size() - 1;
    const Result<GifAnimation> half = DecodeGif(std::span(whole).first((secondStart + whole.size()) / 2));
    ASSERT_TRUE(half.ok()) << half.error().message;
    ASSERT_EQ(half.value().frames.size(), 2u);
    const QImage& partial = half.value().frames[1].image;
    int rows = 0;
    while (rows < 64 && partial.copy(0, rows, 64, 1) == expected.copy(0, rows, 64, 1))
        ++rows;
    EXPECT_GT(rows, 0);
    EXPECT_LT(rows, 64);
    EXPECT_EQ(Picture(partial.copy(0, rows, 64, 64 - rows)), Picture(test::Solid(64, 64 - rows, kRed)));
}

TEST(GifDecode, FlippedBytesNeverCrash)
{
    const auto valid = Valid();
    for (std::size_t i = 0; i < valid.size(); ++i) {
        for (const std::uint8_t mask : {0x01, 0x80, 0xFF}) {
            auto bytes = valid;
            bytes[i] ^= mask;
            const Result<GifAnimation> decoded = DecodeGif(bytes);
            if (decoded.ok()) {
                EXPECT_FALSE(decoded.value().frames.empty());
            }
        }
    }
}

}  // namespace
}  // namespace quillix::imaging
