#include "imaging/webp_bridge.h"
#include "imaging/webp_player.h"

#include "imaging/anim_fixtures.h"
#include "support/hex.h"
#include "support/temp_dir.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace quillix::imaging {
namespace {

// Every pixel different and half transparent, so a channel swap or a row mix-up shows.
QImage Gradient(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(20 * x + 5, 30 * y + 7, 200, 60 + 10 * x));
    return image;
}

std::vector<std::uint8_t> TwoFrameAnimation()
{
    return test::EncodeAnimatedWebP({{Gradient(6, 4), 100}, {test::Solid(6, 4, qRgba(1, 2, 3, 255)), 100}}, 0);
}

TEST(WebPBridge, StillPictureFromFileAndBytesKeepsEveryPixel)
{
    const QImage source = Gradient(7, 5);
    const auto bytes = test::EncodeStillWebP(source);
    test::TempDir dir;
    const std::string path = dir / "still.webp";
    test::WriteFile(path, bytes);

    for (const Result<QImage>& loaded : {LoadWebPToBitmap(path), LoadWebPToBitmap(std::span(bytes))}) {
        ASSERT_TRUE(loaded.ok()) << loaded.error().message;
        const QImage& image = loaded.value();
        EXPECT_EQ(image.format(), QImage::Format_ARGB32);
        EXPECT_EQ(image, source);
    }
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        const QImage image = LoadWebPToBitmap(std::span(bytes)).value();
        const std::uint8_t* first = image.constBits();
        EXPECT_EQ(test::ToHex(first, 4), "c807053c") << "B, G, R, A in memory";
    }
}

TEST(WebPBridge, AnimationIsNoStillPictureButHasAFirstFrame)
{
    const auto animated = TwoFrameAnimation();
    const Result<QImage> still = LoadWebPToBitmap(std::span(animated));
    ASSERT_FALSE(still.ok());
    EXPECT_EQ(still.error().kind, ErrorKind::Unsupported);

    const Result<QImage> first = LoadWebPFirstFrame(animated);
    ASSERT_TRUE(first.ok()) << first.error().message;
    EXPECT_EQ(first.value(), Gradient(6, 4));

    const auto plain = test::EncodeStillWebP(Gradient(3, 3));
    ASSERT_TRUE(LoadWebPFirstFrame(plain).ok());
    EXPECT_EQ(LoadWebPFirstFrame(plain).value(), Gradient(3, 3));
}

// The first frame is decoded straight into a canvas (at full size or scaled for a thumbnail), not
// through libwebp's animation decoder: both must show the same, also when the frame covers only
// part of the canvas.
TEST(WebPBridge, FirstFrameMatchesTheAnimationDecoderOnAWholeOrScaledCanvas)
{
    QImage sprite(40, 20, QImage::Format_ARGB32);
    sprite.fill(Qt::transparent);
    for (int y = 8; y < 18; ++y)
        for (int x = 20; x < 36; ++x)
            sprite.setPixel(x, y, qRgba(10 * (x - 20), 20 * (y - 8), 200, 255));
    const auto animation = test::EncodeAnimatedWebP({{sprite, 100}, {test::Solid(40, 20, qRgb(1, 2, 3)), 100}}, 0);
    WebPPlayer player;
    ASSERT_TRUE(player.LoadAnimated(std::span<const std::uint8_t>(animation)));

    const Result<QImage> first = LoadWebPFirstFrame(animation);
    ASSERT_TRUE(first.ok()) << first.error().message;
    EXPECT_EQ(first.value(), player.frame());
    EXPECT_EQ(first.value(), sprite);

    const Result<QImage> scaled = LoadWebPFirstFrameScaled(animation, 20, 10);
    ASSERT_TRUE(scaled.ok()) << scaled.error().message;
    ASSERT_EQ(scaled.value().size(), QSize(20, 10));
    // Halving averages 2 x 2 blocks in either scaler, up to rounding.
    const QImage expected = sprite.scaled(20, 10, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    int worst = 0;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            const QRgb a = scaled.value().pixel(x, y), b = expected.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
        }
    EXPECT_LE(worst, 8);
    EXPECT_EQ(qAlpha(scaled.value().pixel(3, 2)), 0) << "outside the sprite";
    EXPECT_EQ(LoadWebPFirstFrameScaled(test::EncodeStillWebP(sprite), 20, 10).value().size(), QSize(20, 10))
        << "a still picture too";
}

// Found by decoder_fuzz: a 136-byte animation whose header names a canvas of half a billion
// pixels made libwebp allocate two 2 GB canvases.
TEST(WebPBridge, AnimationCanvasPastThePixelBoundIsRefusedBeforeDecoding)
{
    std::vector<std::uint8_t> huge = TwoFrameAnimation();
    ASSERT_EQ(std::string(huge.begin() + 12, huge.begin() + 16), "VP8X");
    for (const std::size_t field : {24u, 27u}) {  // canvas width - 1, height - 1: 24-bit little-endian
        huge[field] = 0x00;
        huge[field + 1] = 0x40;  // 16385 × 16385 is just past 2^28 pixels
        huge[field + 2] = 0x00;
    }
    const Result<QImage> first = LoadWebPFirstFrame(huge);
    ASSERT_FALSE(first.ok());
    EXPECT_EQ(first.error().kind, ErrorKind::Unsupported);
    WebPPlayer player;
    EXPECT_FALSE(player.LoadAnimated(std::span<const std::uint8_t>(huge)));
}

TEST(WebPBridge, DamagedInputIsAnErrorEverywhere)
{
    const auto still = test::EncodeStillWebP(Gradient(16, 16));
    const auto animated = TwoFrameAnimation();
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"empty", {}},
        {"random", test::PseudoRandomBytes(300)},
        {"riff header only", {still.begin(), still.begin() + 12}},
        {"still cut in half", {still.begin(), still.begin() + static_cast<long>(still.size() / 2)}},
        {"still without last byte", {still.begin(), still.end() - 1}},
        {"animation cut in half", {animated.begin(), animated.begin() + static_cast<long>(animated.size() / 2)}},
        {"text", test::Bytes("RIFF....WEBPVP8 not really")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(LoadWebPToBitmap(std::span(c.bytes)).ok());
        EXPECT_FALSE(LoadWebPFirstFrame(c.bytes).ok());
        EXPECT_FALSE(LoadWebPScaled(c.bytes, 4, 4).ok());
    }
    test::TempDir dir;
    const Result<QImage> missing = LoadWebPToBitmap(dir / "none.webp");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().kind, ErrorKind::Io);
    EXPECT_FALSE(LoadWebPToBitmap(dir.path()).ok()) << "a folder is no file";
}

TEST(WebPBridge, ScaledDecodingGivesTheAskedSize)
{
    QImage source(40, 20, QImage::Format_ARGB32);
    source.fill(qRgba(0, 0, 255, 255));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            source.setPixel(x, y, qRgba(255, 0, 0, 255));
    const auto bytes = test::EncodeStillWebP(source);

    const Result<QImage> scaled = LoadWebPScaled(bytes, 10, 5);
    ASSERT_TRUE(scaled.ok()) << scaled.error().message;
    ASSERT_EQ(scaled.value().size(), QSize(10, 5));
    EXPECT_EQ(scaled.value().format(), QImage::Format_ARGB32);
    EXPECT_EQ(scaled.value().pixel(1, 2), qRgba(255, 0, 0, 255)) << "left half red";
    EXPECT_EQ(scaled.value().pixel(8, 2), qRgba(0, 0, 255, 255)) << "right half blue";

    EXPECT_EQ(LoadWebPScaled(bytes, 80, 40).value().size(), QSize(80, 40)) << "enlarging works too";
    EXPECT_FALSE(LoadWebPScaled(bytes, 0, 5).ok());
    EXPECT_FALSE(LoadWebPScaled(bytes, 10, -1).ok());
    EXPECT_FALSE(LoadWebPScaled(TwoFrameAnimation(), 3, 2).ok());
}

TEST(WebPBridge, SizeFromTheHeader)
{
    int w = -1, h = -1;
    ASSERT_TRUE(WebPSize(test::EncodeStillWebP(Gradient(9, 4)), w, h));
    EXPECT_EQ(QSize(w, h), QSize(9, 4));
    ASSERT_TRUE(WebPSize(TwoFrameAnimation(), w, h));
    EXPECT_EQ(QSize(w, h), QSize(6, 4)) << "the canvas of an animation";
    w = h = -1;
    EXPECT_FALSE(WebPSize(test::PseudoRandomBytes(64), w, h));
    EXPECT_FALSE(WebPSize({}, w, h));
    EXPECT_EQ(QSize(w, h), QSize(-1, -1)) << "untouched on failure";
}

TEST(WebPBridge, AnimationIsAnyAnimByteRunInFileOrBuffer)
{
    const auto anim = test::Bytes("ANIM");
    auto at = [&](std::size_t size, std::size_t pos) {
        auto bytes = test::PseudoRandomBytes(size, 3);
        std::copy(anim.begin(), anim.end(), bytes.begin() + static_cast<long>(pos));
        return bytes;
    };
    // The file is read in 64 KiB pieces, so matches across a piece boundary matter.
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool animated;
    } cases[] = {
        {"animated webp", TwoFrameAnimation(), true},
        {"still webp", test::EncodeStillWebP(Gradient(4, 4)), false},
        {"empty", {}, false},
        {"three bytes", test::Bytes("ANI"), false},
        {"exactly ANIM", anim, true},
        {"at the end", at(1000, 996), true},
        {"across the piece boundary", at(200000, 65534), true},
        {"just before the boundary", at(200000, 65532), true},
        {"in the second piece's end", at(131075, 131071), true},
        {"lower case", test::Bytes("xxanimxx"), false},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsAnimatedBytes(c.bytes), c.animated);
        const std::string path = dir / "f.webp";
        test::WriteFile(path, c.bytes);
        EXPECT_EQ(IsAnimatedFile(path), c.animated);
    }
    EXPECT_FALSE(IsAnimatedFile(dir / "missing.webp"));
}

}  // namespace
}  // namespace quillix::imaging
