#include "imaging/gif_codec.h"

#include "imaging/anim_fixtures.h"
#include "support/hex.h"
#include "support/temp_dir.h"

#include <QImage>
#include <gtest/gtest.h>

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

std::vector<std::uint8_t> Valid()
{
    GifFixture gif = Canvas4x3({FilledGifFrame(0, 0, 4, 3, R), FilledGifFrame(1, 1, 2, 2, G)});
    gif.loopCount = 2;
    gif.frames[0].delayCs = 10;
    return test::EncodeGif(gif);
}

TEST(GifDecode, DamagedInputIsAnError)
{
    const auto valid = Valid();
    ASSERT_TRUE(DecodeGif(valid).ok());

    // Global colour table flag cleared and the table cut out: no frame has colours.
    auto noMap = valid;
    const std::size_t tableSize = 3u << ((noMap[10] & 7) + 1);
    noMap[10] &= 0x7F;
    noMap.erase(noMap.begin() + 13, noMap.begin() + 13 + static_cast<long>(tableSize));

    GifFixture outside = Canvas4x3({FilledGifFrame(0, 0, 4, 3, R), FilledGifFrame(3, 2, 2, 1, G)});
    GifFixture noFrames = Canvas4x3({});

    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"empty", {}},
        {"random", test::PseudoRandomBytes(500)},
        {"signature only", test::Bytes("GIF89a")},
        {"no colour map", noMap},
        {"frame outside the canvas", test::EncodeGif(outside)},
        {"no frames", test::EncodeGif(noFrames)},
        {"zero-size canvas", test::EncodeGif(GifFixture{0, 0, {kRed, kGreen}, {}, {FilledGifFrame(0, 0, 1, 1, R)}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(DecodeGif(c.bytes).ok());
    }
    // Every cut, through header, colour map, extensions, pixel data and the trailer byte.
    for (std::size_t n = 0; n < valid.size(); ++n) {
        SCOPED_TRACE("cut to " + std::to_string(n));
        const Result<GifAnimation> cut = DecodeGif(std::span(valid).first(n));
        EXPECT_FALSE(cut.ok());
    }
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
