#include "imaging/png_codec.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <functional>

namespace quillix::imaging {
namespace {

using test::PngFixture;
using test::PngPlan;

// Independent per pixel and channel, so a swapped channel or a shifted row shows.
int Sample(int x, int y, int channel, int depth)
{
    const int max = (1 << depth) - 1;
    return (x * 37 + y * 101 + channel * 53 + x * y * 7) % (max + 1);
}

int To8(int value, int depth)
{
    // libpng scales 16 bits down with rounding, and repeats low depths' bits
    return depth == 16 ? (value * 255 + 32895) >> 16 : value * 255 / ((1 << depth) - 1);
}

struct LayoutCase {
    const char* name;
    PngPlan plan;
    std::function<QRgb(int x, int y)> expected;
};

std::vector<LayoutCase> Cases()
{
    const int w = 13, h = 11;  // odd sizes: partial bytes at low depths, every Adam7 pass
    std::vector<LayoutCase> cases;
    const auto add = [&](const char* name, int colorType, int depth, bool interlaced,
                         std::function<QRgb(int, int)> expected) {
        PngPlan plan;
        plan.width = w;
        plan.height = h;
        plan.colorType = colorType;
        plan.bitDepth = depth;
        plan.interlaced = interlaced;
        plan.sample = [depth](int x, int y, int c) { return Sample(x, y, c, depth); };
        cases.push_back({name, plan, std::move(expected)});
    };
    const auto s8 = [](int depth) {
        return [depth](int x, int y, int c) { return To8(Sample(x, y, c, depth), depth); };
    };

    for (const int depth : {8, 16}) {
        const auto s = s8(depth);
        add(depth == 8 ? "RGB 8" : "RGB 16", PNG_COLOR_TYPE_RGB, depth, false,
            [s](int x, int y) { return qRgb(s(x, y, 0), s(x, y, 1), s(x, y, 2)); });
        add(depth == 8 ? "RGBA 8" : "RGBA 16", PNG_COLOR_TYPE_RGB_ALPHA, depth, false,
            [s](int x, int y) { return qRgba(s(x, y, 0), s(x, y, 1), s(x, y, 2), s(x, y, 3)); });
        add(depth == 8 ? "grey-alpha 8" : "grey-alpha 16", PNG_COLOR_TYPE_GRAY_ALPHA, depth, false,
            [s](int x, int y) { return qRgba(s(x, y, 0), s(x, y, 0), s(x, y, 0), s(x, y, 1)); });
    }
    for (const int depth : {1, 2, 4, 8, 16}) {
        const auto s = s8(depth);
        add("grey", PNG_COLOR_TYPE_GRAY, depth, false,
            [s](int x, int y) { return qRgb(s(x, y, 0), s(x, y, 0), s(x, y, 0)); });
    }
    {
        const auto s = s8(8);
        add("RGBA 8 interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 8, true,
            [s](int x, int y) { return qRgba(s(x, y, 0), s(x, y, 1), s(x, y, 2), s(x, y, 3)); });
        add("grey 8 interlaced", PNG_COLOR_TYPE_GRAY, 8, true,
            [s](int x, int y) { return qRgb(s(x, y, 0), s(x, y, 0), s(x, y, 0)); });
    }

    // Palettes of 16 colours with alpha for the first four; entries past the tRNS list are opaque.
    std::vector<png_color> palette;
    std::vector<QRgb> colours;
    for (int i = 0; i < 16; ++i) {
        const auto r = static_cast<png_byte>(i * 16), g = static_cast<png_byte>(255 - i * 9),
                   b = static_cast<png_byte>(i * 5 + 3);
        palette.push_back({r, g, b});
        colours.push_back(qRgba(r, g, b, i < 4 ? i * 60 : 255));
    }
    for (const int depth : {4, 8}) {
        for (const bool interlaced : {false, true}) {
            add(interlaced ? "palette interlaced" : "palette", PNG_COLOR_TYPE_PALETTE, depth, interlaced,
                [colours](int x, int y) { return colours[static_cast<std::size_t>(Sample(x, y, 0, 4))]; });
            cases.back().plan.sample = [](int x, int y, int) { return Sample(x, y, 0, 4); };
            cases.back().plan.palette = palette;
            cases.back().plan.paletteAlpha = {0, 60, 120, 180};
        }
    }

    // One colour marked transparent by tRNS: exactly the pixels of that colour lose their alpha.
    {
        add("RGB with transparent colour", PNG_COLOR_TYPE_RGB, 8, false, {});
        LayoutCase& c = cases.back();
        const int key[3] = {Sample(0, 0, 0, 8), Sample(0, 0, 1, 8), Sample(0, 0, 2, 8)};
        c.plan.sample = [](int x, int y, int ch) {
            return (x + y) % 3 == 0 ? Sample(0, 0, ch, 8) : Sample(x, y, ch, 8);
        };
        c.plan.transparent = png_color_16{0, static_cast<png_uint_16>(key[0]), static_cast<png_uint_16>(key[1]),
                                          static_cast<png_uint_16>(key[2]), 0};
        c.expected = [key, f = c.plan.sample](int x, int y) {
            const int r = f(x, y, 0), g = f(x, y, 1), b = f(x, y, 2);
            return qRgba(r, g, b, r == key[0] && g == key[1] && b == key[2] ? 0 : 255);
        };
    }
    {
        add("grey 16 with transparent grey", PNG_COLOR_TYPE_GRAY, 16, false, {});
        LayoutCase& c = cases.back();
        c.plan.sample = [](int x, int, int) { return x % 2 ? 0x1234 : 0xFFFF; };
        c.plan.transparent = png_color_16{0, 0, 0, 0, 0x1234};
        c.expected = [](int x, int) {
            const int v = To8(x % 2 ? 0x1234 : 0xFFFF, 16);
            return qRgba(v, v, v, x % 2 ? 0 : 255);
        };
    }
    return cases;
}

TEST(DecodePng, EveryLayoutGivesExactPixels)
{
    for (const LayoutCase& c : Cases()) {
        SCOPED_TRACE(std::string(c.name) + " depth " + std::to_string(c.plan.bitDepth));
        Result<QImage> image = DecodePng(PngFixture(c.plan));
        ASSERT_TRUE(image) << image.error().message;
        ASSERT_EQ(image.value().format(), QImage::Format_ARGB32);
        ASSERT_EQ(image.value().size(), QSize(c.plan.width, c.plan.height));
        int wrong = 0;
        for (int y = 0; y < c.plan.height; ++y)
            for (int x = 0; x < c.plan.width; ++x) {
                const QRgb got = image.value().pixel(x, y), want = c.expected(x, y);
                if (got != want && wrong++ == 0)
                    ADD_FAILURE() << "first difference at " << x << "," << y << ": " << std::hex << got << " not "
                                  << want;
            }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(DecodePng, FromFileAndEncoderRoundTrip)
{
    test::TempDir dir;
    for (const QImage& source : {test::Noise(31, 17), test::Gradient(3, 2)}) {
        Result<std::vector<std::uint8_t>> bytes = EncodePng(source);
        ASSERT_TRUE(bytes) << bytes.error().message;
        test::WriteFile(dir / "a.png", bytes.value());
        Result<QImage> back = DecodePngFile(dir / "a.png");
        ASSERT_TRUE(back) << back.error().message;
        EXPECT_EQ(back.value(), source.convertToFormat(QImage::Format_ARGB32));
    }
    EXPECT_FALSE(EncodePng(QImage()));
    Result<QImage> missing = DecodePngFile(dir / "none.png");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, ErrorKind::Io);
}

TEST(DecodePng, DamagedInput)
{
    const std::vector<std::uint8_t> good = EncodePng(test::Noise(40, 30)).value();
    const auto cut = [&](std::size_t n) { return std::vector<std::uint8_t>(good.begin(), good.begin() + n); };
    const auto flipped = [&](std::size_t at) {
        std::vector<std::uint8_t> b = good;
        b[at] ^= 0x40;
        return b;
    };
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"empty", {}},
        {"signature only", cut(8)},
        {"cut in the header chunk", cut(20)},
        {"cut after the header chunk", cut(33)},
        {"cut in the pixels", cut(good.size() / 2)},
        {"cut before the end of the pixels", cut(good.size() - 30)},
        {"damaged signature", flipped(1)},
        {"damaged header CRC", flipped(29)},
        {"damaged pixel data", flipped(good.size() / 2)},
        {"random bytes", test::PseudoRandomBytes(3000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<QImage> image = DecodePng(c.bytes);
        ASSERT_FALSE(image);
        EXPECT_FALSE(image.error().message.empty());
    }
}

}  // namespace
}  // namespace quillix::imaging
