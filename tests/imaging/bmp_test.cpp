#include "imaging/bmp_codec.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace quillix::imaging {
namespace {

using test::BmpFixture;
using test::BmpPlan;

std::vector<QRgb> Palette(int count)
{
    std::vector<QRgb> colours;
    for (int i = 0; i < count; ++i)
        colours.push_back(qRgb(i * 255 / count, 255 - i * 7 % 256, i * 13 % 256));
    return colours;
}

QImage Expected(const BmpPlan& plan)
{
    QImage image(plan.width, plan.height, QImage::Format_RGB32);
    for (int y = 0; y < plan.height; ++y)
        for (int x = 0; x < plan.width; ++x)
            image.setPixel(x, y,
                           plan.bits <= 8 ? plan.palette[static_cast<std::size_t>(plan.index(x, y))]
                                          : (plan.pixel(x, y) | 0xFF000000u));
    return image;
}

TEST(DecodeBmp, DepthsOrientationsAndPadding)
{
    const QImage noise = test::Noise(64, 64);
    struct Case {
        int bits;
        int width, height;  // widths whose rows need padding at every depth
        bool topDown;
    };
    const Case cases[] = {{24, 5, 3, false}, {24, 5, 3, true},  {24, 1, 1, false}, {32, 3, 2, false},
                          {32, 7, 4, true},  {8, 5, 3, false},  {8, 3, 2, true},   {4, 7, 5, false},
                          {4, 9, 2, true},   {1, 13, 3, false}, {1, 33, 2, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits " + std::to_string(c.width) + " × " + std::to_string(c.height) +
                     (c.topDown ? " top-down" : " bottom-up"));
        BmpPlan plan;
        plan.width = c.width;
        plan.height = c.height;
        plan.bits = c.bits;
        plan.topDown = c.topDown;
        if (c.bits <= 8) {
            const int colours = 1 << c.bits;
            plan.palette = Palette(colours);
            plan.index = [colours](int x, int y) { return (x * 5 + y * 3) % colours; };
        } else {
            plan.pixel = [&noise](int x, int y) { return noise.pixel(x, y) | 0xFF000000u; };
        }
        Result<QImage> image = DecodeBmp(BmpFixture(plan));
        ASSERT_TRUE(image) << image.error().message;
        EXPECT_EQ(image.value(), Expected(plan));
    }
}

TEST(DecodeBmp, IndexBeyondAShortPaletteIsBlack)
{
    BmpPlan plan;
    plan.width = 4;
    plan.height = 1;
    plan.bits = 8;
    plan.palette = {qRgb(1, 2, 3), qRgb(4, 5, 6)};
    plan.index = [](int x, int) { return x; };
    Result<QImage> image = DecodeBmp(BmpFixture(plan));
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_EQ(image.value().pixel(1, 0), qRgb(4, 5, 6));
    EXPECT_EQ(image.value().pixel(3, 0), qRgb(0, 0, 0));
}

// Sixteen colours, each told apart from the others and from black.
std::vector<QRgb> RlePalette()
{
    std::vector<QRgb> colours;
    for (int i = 0; i < 16; ++i)
        colours.push_back(qRgb(10 + i * 15, 250 - i * 13, 40 + i * 7));
    return colours;
}

// One character a pixel, rows top first separated by "|": a hex digit for a palette index, "k"
// for opaque black, "." for transparent. Format_ARGB32 when any pixel is transparent.
QImage RlePicture(const std::string& rows)
{
    const std::vector<QRgb> palette = RlePalette();
    const int width = static_cast<int>(rows.find('|') == std::string::npos ? rows.size() : rows.find('|'));
    const int height = static_cast<int>(std::count(rows.begin(), rows.end(), '|')) + 1;
    const bool transparent = rows.find('.') != std::string::npos;
    QImage image(width, height, transparent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const char c = rows[static_cast<std::size_t>(y * (width + 1) + x)];
            const QRgb pixel = c == '.'   ? qRgba(0, 0, 0, 0)
                               : c == 'k' ? qRgb(0, 0, 0)
                                          : palette[std::stoul(std::string(1, c), nullptr, 16)];
            image.setPixel(x, y, pixel);
        }
    return image;
}

TEST(DecodeBmp, RunLengthEncoded)
{
    enum : std::uint8_t { EndOfLine = 0, EndOfBitmap = 1, Delta = 2 };
    struct Case {
        const char* name;
        int bits;
        std::vector<std::uint8_t> rle;  // rows bottom first
        std::string picture;            // rows top first
    };
    const Case cases[] = {
        {"RLE8 runs and ends of line",
         8,
         {4, 1, 0, EndOfLine, 2, 2, 2, 3, 0, EndOfLine, 4, 4, 0, EndOfBitmap},
         "4444|2233|1111"},
        {"RLE8 absolute runs, the odd one padded to a word",
         8,
         {0, 3, 5, 6, 7, 0, 1, 8, 0, EndOfLine, 0, 4, 1, 2, 3, 4, 0, EndOfLine, 4, 9, 0, EndOfBitmap},
         "9999|1234|5678"},
        {"RLE8 delta jumps right and up over transparent pixels",
         8,
         {1, 1, 0, Delta, 2, 1, 1, 2, 0, EndOfLine, 4, 3, 0, EndOfBitmap},
         "3333|...2|1..."},
        {"RLE8 early ends of line and of bitmap leave pixels transparent",
         8,
         {2, 1, 0, EndOfLine, 1, 2, 0, EndOfBitmap},
         "....|2...|11.."},
        {"RLE8 a run past the row's end is clipped, not wrapped",
         8,
         {6, 1, 2, 2, 0, EndOfLine, 4, 3, 0, EndOfLine, 4, 4, 0, EndOfBitmap},
         "4444|3333|1111"},
        {"RLE8 an absolute run past the row's end is clipped",
         8,
         {0, 5, 1, 2, 3, 4, 5, 0, 0, EndOfLine, 4, 2, 0, EndOfLine, 4, 3, 0, EndOfBitmap},
         "3333|2222|1234"},
        {"RLE8 a delta beyond the top ends the picture", 8, {4, 1, 0, Delta, 0, 5, 4, 2}, "....|....|1111"},
        {"RLE8 codes after the top row are ignored",
         8,
         {4, 1, 0, EndOfLine, 4, 2, 0, EndOfLine, 4, 3, 0, EndOfLine, 4, 4, 0, EndOfBitmap},
         "3333|2222|1111"},
        {"RLE8 a stream without end of bitmap shows what it held", 8, {4, 1, 0, EndOfLine, 4, 2}, "....|2222|1111"},
        {"RLE8 an absolute run cut by the end of the file", 8, {4, 1, 0, EndOfLine, 0, 4, 7, 8}, "....|78..|1111"},
        {"RLE8 an index beyond the palette is opaque black",
         8,
         {4, 200, 0, EndOfLine, 0, EndOfBitmap},
         "....|....|kkkk"},
        {"RLE4 runs alternate their two nibbles",
         4,
         {5, 0x12, 0, EndOfLine, 4, 0x34, 1, 0x56, 0, EndOfLine, 5, 0x77, 0, EndOfBitmap},
         "77777|34345|12121"},
        {"RLE4 absolute runs, padded to a word",
         4,
         {0, 5,    0x12, 0x34,      0x50, 0, 0,    EndOfLine, 0, 3,    0xab, 0xc0,
          2, 0xde, 0,    EndOfLine, 0,    4, 0x98, 0x76,      1, 0xf0, 0,    EndOfBitmap},
         "9876f|abcde|12345"},
        {"RLE4 delta, and a run past the row's end clipped",
         4,
         {1, 0x10, 0, Delta, 3, 2, 2, 0x23, 0, EndOfBitmap},
         "....2|.....|1...."},
        {"RLE4 an absolute run past the row's end is clipped",
         4,
         {0, 7, 0x12, 0x34, 0x56, 0x70, 0, EndOfLine, 0, EndOfLine, 5, 0xaa},
         "aaaaa|.....|12345"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage expected = RlePicture(c.picture);
        Result<QImage> image =
            DecodeBmp(test::RleBmpFixture(c.bits, expected.width(), expected.height(), RlePalette(), c.rle));
        ASSERT_TRUE(image) << image.error().message;
        EXPECT_EQ(image.value(), expected);
    }
}

// A 2 × 2 top-down bit-field bitmap; `headerSize` 40 puts the masks after the header, 108 (V4) inside it.
std::vector<std::uint8_t> BitFieldBmp(int bits, std::uint32_t compression, std::uint32_t headerSize,
                                      std::vector<std::uint32_t> masks, const std::uint32_t (&pixels)[4])
{
    const std::size_t masksAfter = headerSize == 40 ? masks.size() * 4 : 0;
    const std::size_t pixelsAt = 14 + headerSize + masksAfter;
    const std::size_t stride = (2 * static_cast<std::size_t>(bits) + 31) / 32 * 4;
    std::vector<std::uint8_t> b(pixelsAt + 2 * stride, 0);
    const auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put(10, static_cast<std::uint32_t>(pixelsAt), 4);
    put(14, headerSize, 4);
    put(18, 2, 4);
    put(22, static_cast<std::uint32_t>(-2), 4);
    put(26, 1, 2);
    put(28, static_cast<std::uint32_t>(bits), 2);
    put(30, compression, 4);
    for (std::size_t i = 0; i < masks.size(); ++i)
        put(54 + 4 * i, masks[i], 4);
    for (std::size_t i = 0; i < 4; ++i)
        put(pixelsAt + stride * (i / 2) + (i % 2) * static_cast<std::size_t>(bits / 8), pixels[i], bits / 8);
    return b;
}

TEST(DecodeBmp, BitFields)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        QImage::Format format;
        QRgb expected[4];
    };
    const Case cases[] = {
        {"16-bit 5-5-5 without masks",
         BitFieldBmp(16, 0, 40, {}, {0x7C00, 0x03E0, 0x001F, 0x7FFF}),
         QImage::Format_RGB32,
         {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 255)}},
        {"16-bit 5-6-5 masks after the header",
         BitFieldBmp(16, 3, 40, {0xF800, 0x07E0, 0x001F}, {0xF800, 0x07E0, 0x0010, 0x0400}),
         QImage::Format_RGB32,
         {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 131), qRgb(0, 129, 0)}},
        {"32-bit with alpha, V4 header",
         BitFieldBmp(32, 3, 108, {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
                     {0x80102030, 0xFF405060, 0x00708090, 0x01000000}),
         QImage::Format_ARGB32,
         {qRgba(16, 32, 48, 128), qRgba(64, 80, 96, 255), qRgba(112, 128, 144, 0), qRgba(0, 0, 0, 1)}},
        {"32-bit alpha mask left all zero means opaque",
         BitFieldBmp(32, 6, 40, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {0x102030, 0x405060, 0x708090, 0}),
         QImage::Format_RGB32,
         {qRgb(16, 32, 48), qRgb(64, 80, 96), qRgb(112, 128, 144), qRgb(0, 0, 0)}},
        {"32-bit plain ignores the fourth byte",
         BitFieldBmp(32, 0, 40, {}, {0x77102030, 0, 0, 0}),
         QImage::Format_RGB32,
         {qRgb(16, 32, 48), qRgb(0, 0, 0), qRgb(0, 0, 0), qRgb(0, 0, 0)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<QImage> image = DecodeBmp(c.bytes);
        ASSERT_TRUE(image) << image.error().message;
        EXPECT_EQ(image.value().format(), c.format);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(image.value().pixel(i % 2, i / 2), c.expected[i]) << std::hex << "pixel " << i;
    }
}

TEST(EncodeBmp, RoundTripThroughFile)
{
    test::TempDir dir;
    for (const QSize size : {QSize(1, 1), QSize(3, 2), QSize(6, 5)}) {
        const QImage source = test::Noise(size.width(), size.height());
        Result<std::vector<std::uint8_t>> bytes = EncodeBmp(source);
        ASSERT_TRUE(bytes);
        const std::size_t stride = (static_cast<std::size_t>(size.width()) * 3 + 3) / 4 * 4;
        EXPECT_EQ(bytes.value().size(), 54 + stride * static_cast<std::size_t>(size.height()));
        test::WriteFile(dir / "a.bmp", bytes.value());
        Result<QImage> back = DecodeBmpFile(dir / "a.bmp");
        ASSERT_TRUE(back) << back.error().message;
        QImage opaque = source.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < opaque.height(); ++y)
            for (int x = 0; x < opaque.width(); ++x)
                opaque.setPixel(x, y, opaque.pixel(x, y) | 0xFF000000u);
        EXPECT_EQ(back.value(), opaque.convertToFormat(QImage::Format_RGB32)) << "alpha dropped, colours kept";
    }
    EXPECT_FALSE(EncodeBmp(QImage()));
}

TEST(DecodeBmp, DamagedInput)
{
    BmpPlan plan;
    plan.width = 5;
    plan.height = 4;
    plan.bits = 8;
    plan.palette = Palette(256);
    plan.index = [](int x, int y) { return x + y; };
    const std::vector<std::uint8_t> good = BmpFixture(plan);
    ASSERT_TRUE(DecodeBmp(good));

    const auto cut = [&](std::size_t n) { return std::vector<std::uint8_t>(good.begin(), good.begin() + n); };
    const auto with32 = [&](std::size_t at, std::uint32_t v) {
        std::vector<std::uint8_t> b = good;
        const std::uint8_t le[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                    static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        std::copy(std::begin(le), std::end(le), b.begin() + static_cast<std::ptrdiff_t>(at));
        return b;
    };
    const auto with16 = [&](std::size_t at, std::uint16_t v) {
        std::vector<std::uint8_t> b = good;
        b[at] = static_cast<std::uint8_t>(v);
        b[at + 1] = static_cast<std::uint8_t>(v >> 8);
        return b;
    };
    std::vector<std::uint8_t> rleBeyondEnd = test::RleBmpFixture(8, 2, 2, {}, {2, 0, 0, 1});
    rleBeyondEnd[10] = static_cast<std::uint8_t>(rleBeyondEnd.size() - 1);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        ErrorKind kind;
    };
    const Case cases[] = {
        {"empty", {}, ErrorKind::BadHeader},
        {"file header only", cut(14), ErrorKind::Truncated},
        {"cut in the info header", cut(30), ErrorKind::Truncated},
        {"cut in the palette", cut(54 + 500), ErrorKind::Truncated},
        {"cut in the pixels", cut(good.size() - 1), ErrorKind::Truncated},
        {"no BM", with16(0, 0x4142), ErrorKind::BadHeader},
        {"pixels beyond the end", with32(10, static_cast<std::uint32_t>(good.size())), ErrorKind::Truncated},
        {"pixel offset near 4 GiB", with32(10, 0xFFFFFFF0u), ErrorKind::Truncated},
        {"huge width", with32(18, 0x7FFFFFFF), ErrorKind::Unsupported},
        {"huge height", with32(22, 0x7FFFFFFF), ErrorKind::Unsupported},
        {"zero width", with32(18, 0), ErrorKind::BadHeader},
        {"negative width", with32(18, 0xFFFFFFFBu), ErrorKind::BadHeader},
        {"zero height", with32(22, 0), ErrorKind::BadHeader},
        {"most negative height", with32(22, 0x80000000u), ErrorKind::BadHeader},
        {"taller than the data", with32(22, 5), ErrorKind::Truncated},
        {"header size 20", with32(14, 20), ErrorKind::BadHeader},
        {"header size beyond the file", with32(14, 0x10000), ErrorKind::Truncated},
        {"7 bits", with16(28, 7), ErrorKind::Unsupported},
        {"JPEG inside", with32(30, 4), ErrorKind::Unsupported},
        {"RLE4 on 8 bits", with32(30, 2), ErrorKind::BadHeader},
        {"RLE8 top-down", test::RleBmpFixture(8, 2, -2, {}, {2, 0, 0, 1}), ErrorKind::BadHeader},
        {"RLE8 without pixel data", test::RleBmpFixture(8, 2, 2, {}, {}), ErrorKind::Truncated},
        {"RLE8 pixels beyond the end", rleBeyondEnd, ErrorKind::Truncated},
        {"bit fields on 8 bits", with32(30, 3), ErrorKind::BadHeader},
        {"random bytes", test::PseudoRandomBytes(2000), ErrorKind::BadHeader},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<QImage> image = DecodeBmp(c.bytes);
        ASSERT_FALSE(image);
        EXPECT_EQ(image.error().kind, c.kind) << image.error().message;
    }
}

// Found by the decoder fuzzer: a 24-bit picture declaring a colour count made the reader fill a
// 256-entry palette from far past the end of the file.
TEST(DecodeBmp, DeepPictureIgnoresItsColourCount)
{
    const QImage source = test::Gradient(6, 5);
    std::vector<std::uint8_t> bmp = EncodeBmp(source).value();
    for (const std::uint32_t count : {256u, 100000u, 0xFFFFFFFFu}) {
        for (int i = 0; i < 4; ++i)
            bmp[46 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(count >> (8 * i));
        const Result<QImage> image = DecodeBmp(bmp);
        ASSERT_TRUE(image.ok()) << count;
        EXPECT_EQ(image.value().convertToFormat(QImage::Format_RGB32), source.convertToFormat(QImage::Format_RGB32));
    }
}

}  // namespace
}  // namespace quillix::imaging
