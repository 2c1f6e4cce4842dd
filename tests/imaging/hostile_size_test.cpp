#include "imaging/bmp_codec.h"
#include "imaging/gif_codec.h"
#include "imaging/png_codec.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillix::imaging {
namespace {

constexpr int kHuge = 16384;

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

void Put32Be(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// A real small PNG whose header then claims a huge size, with a valid header checksum.
std::vector<std::uint8_t> HugeClaimPng()
{
    QImage small(2, 2, QImage::Format_RGB32);
    small.fill(Qt::white);
    std::vector<std::uint8_t> b = EncodePng(small).value();
    Put32Be(b, 16, kHuge);
    Put32Be(b, 20, kHuge);
    Put32Be(b, 29, Crc32(b.data() + 12, 17));
    return b;
}

// An 11000 x 11000 screen and frame (within the animation bound) holding a few bytes of LZW data.
std::vector<std::uint8_t> HugeClaimGif()
{
    std::vector<std::uint8_t> b = {'G', 'I', 'F', '8', '9', 'a', 0xF8, 0x2A, 0xF8, 0x2A, 0x80, 0, 0};
    b.insert(b.end(), {0, 0, 0, 255, 255, 255});                             // two colours
    b.insert(b.end(), {0x2C, 0, 0, 0, 0, 0xF8, 0x2A, 0xF8, 0x2A, 0});        // the frame
    b.insert(b.end(), {2, 6, 0x84, 0x8F, 0xA9, 0xCB, 0xED, 0x0F, 0, 0x3B});  // data, end
    return b;
}

// A flat picture written as a real RLE8 writer does: runs of at most 255, an end of row each.
std::vector<std::uint8_t> FlatRle8(int width, int height)
{
    std::vector<std::uint8_t> rle;
    for (int y = 0; y < height; ++y) {
        for (int left = width; left > 0; left -= 255)
            rle.insert(rle.end(), {static_cast<std::uint8_t>(std::min(left, 255)), 0});
        rle.insert(rle.end(), {0, 0});
    }
    rle.insert(rle.end(), {0, 1});
    return test::RleBmpFixture(8, width, height, {qRgb(255, 255, 255)}, rle);
}

TEST(HostileSize, DeclaredSizesTheDataCannotFillAreRefused)
{
    // 64-byte-class files whose headers claim 16384 x 16384: believing them costs a gigabyte.
    const std::vector<std::uint8_t> rle8Runs = {255, 0, 255, 0, 0, 2, 255, 255, 0, 1};
    struct Case {
        std::string name;
        std::vector<std::uint8_t> file;
        std::function<bool(std::span<const std::uint8_t>)> decodes;
    };
    const auto bmp = [](std::span<const std::uint8_t> b) { return static_cast<bool>(DecodeBmp(b)); };
    const auto png = [](std::span<const std::uint8_t> b) { return static_cast<bool>(DecodePng(b)); };
    const auto gif = [](std::span<const std::uint8_t> b) { return static_cast<bool>(DecodeGif(b)); };
    const std::vector<Case> cases = {
        {"RLE8 runs and a delta", test::RleBmpFixture(8, kHuge, kHuge, {qRgb(0, 0, 0)}, rle8Runs), bmp},
        {"RLE4 runs and a delta", test::RleBmpFixture(4, kHuge, kHuge, {qRgb(0, 0, 0)}, rle8Runs), bmp},
        {"RLE8 only an end of bitmap", test::RleBmpFixture(8, kHuge, kHuge, {qRgb(0, 0, 0)}, {0, 1}), bmp},
        {"GIF screen and frame", HugeClaimGif(), gif},
        {"PNG header of a 2 x 2 picture claiming more", HugeClaimPng(), png},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_LT(c.file.size(), 200u);
        EXPECT_FALSE(c.decodes(c.file));
    }
}

TEST(HostileSize, LargeFlatPicturesFromRealWritersStayAccepted)
{
    const Result<QImage> bmp = DecodeBmp(FlatRle8(4000, 3000));
    ASSERT_TRUE(bmp) << bmp.error().message;
    EXPECT_EQ(bmp.value().size(), QSize(4000, 3000));
    EXPECT_EQ(bmp.value().pixel(3999, 2999), qRgb(255, 255, 255));

    QImage white(4000, 4000, QImage::Format_RGB32);
    white.fill(Qt::white);
    const std::vector<std::uint8_t> encoded = EncodePng(white).value();
    const Result<QImage> png = DecodePng(encoded);
    ASSERT_TRUE(png) << png.error().message;
    EXPECT_EQ(png.value().size(), QSize(4000, 4000));
}

}  // namespace
}  // namespace quillix::imaging
