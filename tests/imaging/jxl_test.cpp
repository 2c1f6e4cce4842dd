#include "imaging/jxl_codec.h"

#include "imaging/image_format.h"
#include "imaging/jxl_fixtures.h"
#include "imaging/orientation.h"
#include "imaging/secure_picture.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <QColorSpace>
#include <QColorTransform>

#include <cstdlib>

namespace quillix::imaging {
namespace {

// Every pixel differs from its neighbours in each channel, so a swapped channel, a mirrored
// column or a turned picture shows.
QImage Pattern(int width, int height, bool alpha)
{
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgba((x * 37 + y * 11) % 256, (y * 53 + x * 5) % 256, (x * y * 7 + 90) % 256,
                                 alpha ? (x * 29 + y * 61) % 256 : 255));
    return image;
}

// Colours as stored: a fully transparent pixel still keeps its red, green and blue.
void ExpectSamePixels(const QImage& got, const QImage& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (int y = 0; y < want.height(); ++y)
        for (int x = 0; x < want.width(); ++x)
            ASSERT_EQ(got.pixel(x, y), want.pixel(x, y)) << "at " << x << "," << y;
}

TEST(Jxl, LosslessColoursAndAlphaComeBackExactly)
{
    for (const bool alpha : {false, true}) {
        SCOPED_TRACE(alpha ? "alpha" : "opaque");
        const QImage source = Pattern(19, 7, alpha);
        const Result<QImage> decoded = DecodeJxl(test::EncodeJxlFixture(source, alpha));
        ASSERT_TRUE(decoded.ok()) << decoded.error().message;
        EXPECT_EQ(decoded.value().format(), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        EXPECT_FALSE(decoded.value().colorSpace().isValid()) << "sRGB stays untagged";
        ExpectSamePixels(decoded.value(), source);
    }
}

TEST(Jxl, GreyIsExpandedToRgb)
{
    test::JxlPlan plan;
    plan.frames = {{Pattern(9, 5, false), 0}};
    plan.grey = true;
    const Result<QImage> decoded = DecodeJxl(test::EncodeJxlFixture(plan));
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    EXPECT_EQ(decoded.value().format(), QImage::Format_RGB32);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x) {
            const int g = qGreen(plan.frames[0].image.pixel(x, y));
            ASSERT_EQ(decoded.value().pixel(x, y), qRgb(g, g, g)) << x << "," << y;
        }
}

TEST(Jxl, EveryOrientationIsAppliedAndSizedFromTheHeader)
{
    const QImage stored = Pattern(5, 3, false);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        test::JxlPlan plan;
        plan.frames = {{stored, 0}};
        plan.orientation = orientation;
        const std::vector<std::uint8_t> file = test::EncodeJxlFixture(plan);
        const QImage upright = Transformed(stored, FromExifOrientation(orientation));
        const Result<QSize> size = JxlSize(file);
        ASSERT_TRUE(size.ok()) << size.error().message;
        EXPECT_EQ(size.value(), upright.size());
        const Result<QImage> decoded = DecodeJxl(file);
        ASSERT_TRUE(decoded.ok()) << decoded.error().message;
        ExpectSamePixels(decoded.value(), upright);
    }
}

JxlColorEncoding Encoding(JxlPrimaries primaries, JxlTransferFunction curve, double gamma = 0)
{
    JxlColorEncoding c{};
    JxlColorEncodingSetToSRGB(&c, JXL_FALSE);
    c.primaries = primaries;
    c.transfer_function = curve;
    c.gamma = gamma;
    return c;
}

// Where `rgb` in `space` lands in sRGB, as the display path will put it.
QRgb InSrgb(const QColorSpace& space, QRgb rgb)
{
    return space.transformationToColorSpace(QColorSpace::SRgb).map(rgb);
}

TEST(Jxl, DeclaredColourSpacesTagThePicture)
{
    struct Case {
        const char* name;
        test::JxlPlan plan;
        QColorSpace expected;
    };
    std::vector<Case> cases(4);
    cases[0] = {"Display P3", {}, QColorSpace(QColorSpace::DisplayP3)};
    cases[0].plan.colour = Encoding(JXL_PRIMARIES_P3, JXL_TRANSFER_FUNCTION_SRGB);
    cases[1] = {"linear BT.2020",
                {},
                QColorSpace(QPointF(0.3127, 0.3290), QPointF(0.708, 0.292), QPointF(0.170, 0.797),
                            QPointF(0.131, 0.046), QColorSpace::TransferFunction::Linear)};
    cases[1].plan.colour = Encoding(JXL_PRIMARIES_2100, JXL_TRANSFER_FUNCTION_LINEAR);
    cases[2] = {"sRGB primaries, gamma 2.2", {}, QColorSpace(QColorSpace::Primaries::SRgb, 2.2f)};
    cases[2].plan.colour = Encoding(JXL_PRIMARIES_SRGB, JXL_TRANSFER_FUNCTION_GAMMA, 1 / 2.2);
    cases[3] = {"embedded Adobe RGB profile", {}, QColorSpace(QColorSpace::AdobeRgb)};
    cases[3].plan.icc = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    const QImage source = Pattern(6, 4, false);
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.plan.frames = {{source, 0}};
        const Result<QImage> decoded = DecodeJxl(test::EncodeJxlFixture(c.plan));
        ASSERT_TRUE(decoded.ok()) << decoded.error().message;
        const QColorSpace tag = decoded.value().colorSpace();
        ASSERT_TRUE(tag.isValid());
        ExpectSamePixels(decoded.value(), source);
        // The same colours once shown, whatever way Qt spells the space.
        for (const QRgb probe : {qRgb(250, 20, 30), qRgb(20, 200, 40), qRgb(128, 128, 128)}) {
            const QRgb got = InSrgb(tag, probe), want = InSrgb(c.expected, probe);
            EXPECT_LE(std::abs(qRed(got) - qRed(want)) + std::abs(qGreen(got) - qGreen(want)) +
                          std::abs(qBlue(got) - qBlue(want)),
                      3)
                << std::hex << probe;
        }
    }
}

TEST(Jxl, LossyPicturesWithAnIccProfileComeOutInSrgb)
{
    // Kept in XYB, such a picture has no pixels in its own profile: libjxl converts to sRGB,
    // not to 8-bit linear light.
    test::JxlPlan plan;
    const QImage source = test::Gradient(32, 32).convertToFormat(QImage::Format_RGB32);
    plan.frames = {{source, 0}};
    plan.lossless = false;
    const QColorSpace adobe(QColorSpace::AdobeRgb);
    plan.icc = adobe.iccProfile();
    const Result<QImage> decoded = DecodeJxl(test::EncodeJxlFixture(plan));
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    EXPECT_FALSE(decoded.value().colorSpace().isValid());
    QImage tagged = source;
    tagged.setColorSpace(adobe);
    const QImage expected = tagged.convertedToColorSpace(QColorSpace::SRgb).convertToFormat(QImage::Format_RGB32);
    EXPECT_LT(test::MeanAbsoluteError(decoded.value(), expected), 4.0);
}

TEST(Jxl, AnimationFramesDelaysAndLoops)
{
    const QImage a = Pattern(7, 5, true), b = Pattern(7, 5, false), c = test::Gradient(7, 5);
    struct LoopCase {
        std::uint32_t numLoops;
        int loopCount;
    };
    // GifAnimation's loop count is the repeats after the first pass, and -1 one pass only.
    for (const LoopCase loops : {LoopCase{0, 0}, LoopCase{1, -1}, LoopCase{2, 1}, LoopCase{5, 4}}) {
        SCOPED_TRACE(loops.numLoops);
        test::JxlPlan plan;
        plan.frames = {{a, 100}, {b, 250}, {c.convertToFormat(QImage::Format_ARGB32), 40}};
        plan.alpha = true;
        plan.numLoops = loops.numLoops;
        const std::vector<std::uint8_t> file = test::EncodeJxlFixture(plan);
        EXPECT_TRUE(IsAnimatedJxl(file));
        const Result<GifAnimation> animation = DecodeJxlAnimation(file);
        ASSERT_TRUE(animation.ok()) << animation.error().message;
        EXPECT_EQ(animation.value().loopCount, loops.loopCount);
        ASSERT_EQ(animation.value().frames.size(), 3u);
        const int delays[] = {100, 250, 40};
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(animation.value().frames[i].delayMs, delays[i]);
            EXPECT_EQ(animation.value().frames[i].image.format(), QImage::Format_ARGB32);
            ExpectSamePixels(animation.value().frames[i].image, plan.frames[i].image);
        }
        const Result<QImage> still = DecodeJxl(file);
        ASSERT_TRUE(still.ok()) << still.error().message;
        ExpectSamePixels(still.value(), a);
    }
}

TEST(Jxl, StillPicturesAreNoAnimationButDecodeAsOneFrame)
{
    const std::vector<std::uint8_t> file = test::EncodeJxlFixture(Pattern(4, 4, false));
    EXPECT_FALSE(IsAnimatedJxl(file));
    const Result<GifAnimation> animation = DecodeJxlAnimation(file);
    ASSERT_TRUE(animation.ok()) << animation.error().message;
    ASSERT_EQ(animation.value().frames.size(), 1u);
    EXPECT_EQ(animation.value().loopCount, -1);
}

TEST(Jxl, AnimationsBeyondTheirBoundAreRefusedForTheStillFrame)
{
    // 2^27 canvas pixels together: 128 frames of 1024 × 1024 would fit (half a gigabyte, too much
    // for a test to hold), a 129th does not. Each frame after the first is a one-pixel layer,
    // which keeps the file small and the encoder quick.
    QImage flat(1024, 1024, QImage::Format_RGB32);
    flat.fill(qRgb(10, 20, 30));
    QImage dot(1, 1, QImage::Format_RGB32);
    dot.fill(qRgb(200, 0, 0));
    test::JxlPlan plan;
    plan.frames = {{flat, 10}};
    for (int i = 1; i < 129; ++i)
        plan.frames.push_back({dot, 10, QPoint(i, 0)});
    const std::vector<std::uint8_t> file = test::EncodeJxlFixture(plan);
    EXPECT_TRUE(IsAnimatedJxl(file));
    const Result<GifAnimation> animation = DecodeJxlAnimation(file);
    ASSERT_FALSE(animation.ok());
    EXPECT_EQ(animation.error().kind, ErrorKind::Unsupported);
    const Result<QImage> still = DecodeJxl(file);
    ASSERT_TRUE(still.ok()) << still.error().message;
    EXPECT_EQ(still.value().size(), QSize(1024, 1024));
}

TEST(Jxl, CutOrDamagedFilesFailCleanly)
{
    const std::vector<std::uint8_t> file = test::EncodeJxlFixture(Pattern(23, 17, true), true);
    // Every prefix: headers cut mid-field, a picture cut mid-group; none may hang or succeed.
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        const std::span<const std::uint8_t> part(file.data(), cut);
        const Result<QImage> decoded = DecodeJxl(part);
        ASSERT_FALSE(decoded.ok()) << "cut at " << cut;
        EXPECT_TRUE(decoded.error().kind == ErrorKind::Truncated || decoded.error().kind == ErrorKind::BadHeader);
        EXPECT_FALSE(DecodeJxlAnimation(part).ok()) << "cut at " << cut;
    }
    EXPECT_EQ(DecodeJxl(std::span<const std::uint8_t>(file.data(), file.size() / 2)).error().kind,
              ErrorKind::Truncated);

    std::vector<std::uint8_t> notJxl = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0};
    EXPECT_EQ(DecodeJxl(notJxl).error().kind, ErrorKind::BadHeader);
    EXPECT_FALSE(JxlSize(notJxl).ok());
    EXPECT_FALSE(IsAnimatedJxl(notJxl));
    // A signature followed by nonsense.
    std::vector<std::uint8_t> garbage = {0xFF, 0x0A};
    for (int i = 0; i < 64; ++i)
        garbage.push_back(static_cast<std::uint8_t>(0xFF - i * 7));
    EXPECT_FALSE(DecodeJxl(garbage).ok());
}

TEST(Jxl, SizesBeyondTheBoundAreRefusedFromTheHeader)
{
    const std::vector<std::uint8_t> small = test::EncodeJxlFixture(Pattern(8, 8, false));
    const std::vector<std::uint8_t> hostile = test::JxlClaimingSize(small, 20000, 20000);
    const Result<QSize> size = JxlSize(hostile);
    ASSERT_FALSE(size.ok());
    EXPECT_EQ(size.error().kind, ErrorKind::Unsupported);
    for (const Result<QImage>& decoded : {DecodeJxl(hostile), DecodeJxl(hostile, 4)}) {
        ASSERT_FALSE(decoded.ok());
        EXPECT_EQ(decoded.error().kind, ErrorKind::Unsupported);
    }
    EXPECT_EQ(DecodeJxlAnimation(hostile).error().kind, ErrorKind::Unsupported);
    // The rewritten header itself is sound: a size within the bound reads back.
    const Result<QSize> fair = JxlSize(test::JxlClaimingSize(small, 300, 200));
    ASSERT_TRUE(fair.ok()) << fair.error().message;
    EXPECT_EQ(fair.value(), QSize(300, 200));
}

TEST(Jxl, ThreadedAndContainerDecodesGiveTheSamePixels)
{
    const QImage source = Pattern(300, 270, true);  // several 256-pixel groups
    const std::vector<std::uint8_t> file = test::EncodeJxlFixture(source, true);
    const Result<QImage> threaded = DecodeJxl(file, 3);
    ASSERT_TRUE(threaded.ok()) << threaded.error().message;
    ExpectSamePixels(threaded.value(), source);
    ContainerPixels secure;
    const Result<QImage> guarded = DecodeJxl(file);
    ASSERT_TRUE(guarded.ok()) << guarded.error().message;
    ExpectSamePixels(guarded.value(), source);
}

}  // namespace
}  // namespace quillix::imaging
