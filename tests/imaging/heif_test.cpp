#include "imaging/heif_codec.h"
#include "imaging/heif_fixtures.h"
#include "imaging/image_format.h"
#include "imaging/orientation.h"
#include "imaging/secure_picture.h"
#include "imaging/thumbnail.h"
#include "support/memory_peak.h"

#include <gtest/gtest.h>

#include <QColorSpace>

#include <cstdlib>
#include <string>
#include <vector>

namespace quillix::imaging {
namespace {

using test::EncodeHeif;
using test::HeifPlan;

constexpr QRgb kQuadrants[4] = {qRgb(220, 40, 40), qRgb(40, 200, 60), qRgb(50, 60, 210), qRgb(235, 235, 235)};

// Four flat quarters, all different: any turn, mirror or swapped channel shows at their centres.
QImage Quarters(int width, int height, const int alphas[4] = nullptr)
{
    QImage image(width, height, alphas ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int q = (y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0);
            const QRgb c = kQuadrants[q];
            image.setPixel(x, y, qRgba(qRed(c), qGreen(c), qBlue(c), alphas ? alphas[q] : 255));
        }
    return image;
}

// The colour at the centre of each quarter of `image`.
std::vector<QRgb> QuarterCentres(const QImage& image)
{
    const int w = image.width(), h = image.height();
    return {image.pixel(w / 4, h / 4), image.pixel(3 * w / 4, h / 4), image.pixel(w / 4, 3 * h / 4),
            image.pixel(3 * w / 4, 3 * h / 4)};
}

int Distance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b)),
                     std::abs(qAlpha(a) - qAlpha(b))});
}

// Flat areas survive these codecs at high quality within a few levels.
constexpr int kTolerance = 8;

void ExpectSameQuarters(const QImage& actual, const QImage& expected)
{
    const std::vector<QRgb> got = QuarterCentres(actual), want = QuarterCentres(expected);
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_LE(Distance(got[i], want[i]), kTolerance)
            << "quarter " << i << ": got " << std::hex << got[i] << ", want " << want[i];
}

struct CodecCase {
    const char* name;
    heif_compression_format codec;
    int bitDepth;
};

const CodecCase kCodecs[] = {
    {"HEVC 8-bit", heif_compression_HEVC, 8},
    {"HEVC 10-bit", heif_compression_HEVC, 10},
    {"AV1 8-bit", heif_compression_AV1, 8},
    {"AV1 10-bit", heif_compression_AV1, 10},
};

TEST(Heif, EachCodecAndDepthGivesTheColoursAsEightBitPixels)
{
    // libheif stores a picture whose sides are not whole coding blocks as a cropped grid of one
    // tile, as phones store theirs as grids.
    for (const QSize size : {QSize(64, 48), QSize(61, 45)}) {
        const QImage picture = Quarters(size.width(), size.height());
        for (const CodecCase& c : kCodecs) {
            SCOPED_TRACE(std::string(c.name) + " " + std::to_string(size.width()));
            HeifPlan plan;
            plan.picture = picture;
            plan.codec = c.codec;
            plan.bitDepth = c.bitDepth;
            const std::vector<std::uint8_t> bytes = EncodeHeif(plan);
            Result<QImage> decoded = DecodeHeif(bytes);
            ASSERT_TRUE(decoded) << decoded.error().message;
            EXPECT_EQ(decoded.value().format(), QImage::Format_RGB32);
            EXPECT_EQ(decoded.value().size(), size);
            ExpectSameQuarters(decoded.value(), picture);
            Result<QSize> shown = HeifSize(bytes);
            ASSERT_TRUE(shown);
            EXPECT_EQ(shown.value(), size);
            EXPECT_EQ(SniffFormat(bytes), ImageFormat::Heif);
        }
    }
}

TEST(Heif, AlphaIsKeptStraight)
{
    const int alphas[4] = {255, 128, 0, 200};
    const QImage picture = Quarters(64, 48, alphas);
    for (const CodecCase& c : kCodecs) {
        // aom, as libheif 1.15 drives it, cannot write a deep alpha plane.
        if (c.codec == heif_compression_AV1 && c.bitDepth > 8) continue;
        SCOPED_TRACE(c.name);
        HeifPlan plan;
        plan.picture = picture;
        plan.codec = c.codec;
        plan.bitDepth = c.bitDepth;
        Result<QImage> decoded = DecodeHeif(EncodeHeif(plan));
        ASSERT_TRUE(decoded) << decoded.error().message;
        EXPECT_EQ(decoded.value().format(), QImage::Format_ARGB32);
        const std::vector<QRgb> got = QuarterCentres(decoded.value());
        for (int q : {0, 1, 3})  // the transparent quarter's colour is anything
            EXPECT_LE(Distance(got[static_cast<std::size_t>(q)], picture.pixel(q % 2 ? 48 : 16, q / 2 ? 36 : 12)),
                      kTolerance)
                << "quarter " << q;
        EXPECT_LE(qAlpha(got[2]), 4);
    }
}

TEST(Heif, EveryOrientationIsAppliedOnceAndTheSizeFollows)
{
    const QImage picture = Quarters(48, 32);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        HeifPlan plan;
        plan.picture = picture;
        plan.orientation = static_cast<heif_orientation>(orientation);
        const std::vector<std::uint8_t> bytes = EncodeHeif(plan);
        const QImage expected = Transformed(picture, FromExifOrientation(orientation));
        Result<QImage> decoded = DecodeHeif(bytes);
        ASSERT_TRUE(decoded) << decoded.error().message;
        ASSERT_EQ(decoded.value().size(), expected.size());
        ExpectSameQuarters(decoded.value(), expected);
        Result<QSize> size = HeifSize(bytes);
        ASSERT_TRUE(size);
        EXPECT_EQ(size.value(), expected.size());
        Result<QImage> thumbnail = DecodeHeifThumbnail(bytes, 20);
        ASSERT_TRUE(thumbnail) << thumbnail.error().message;
        EXPECT_EQ(thumbnail.value().size(), ThumbnailSize(expected.width(), expected.height(), 20));
        ExpectSameQuarters(thumbnail.value(), expected.scaled(thumbnail.value().size()));
    }
}

TEST(Heif, TheColourSpaceOfTheColrBoxIsTagged)
{
    struct Case {
        const char* name;
        std::optional<heif_color_primaries> primaries;
        heif_transfer_characteristics transfer;
        QByteArray icc;
        bool tagged;
        QColorSpace::Primaries named;  // Custom: checked only for being valid
        QColorSpace::TransferFunction function;
    };
    const QColorSpace adobe(QColorSpace::AdobeRgb);
    const Case cases[] = {
        {"sRGB",
         heif_color_primaries_ITU_R_BT_709_5,
         heif_transfer_characteristic_IEC_61966_2_1,
         {},
         true,
         QColorSpace::Primaries::SRgb,
         QColorSpace::TransferFunction::SRgb},
        {"Display P3",
         heif_color_primaries_SMPTE_EG_432_1,
         heif_transfer_characteristic_IEC_61966_2_1,
         {},
         true,
         QColorSpace::Primaries::DciP3D65,
         QColorSpace::TransferFunction::SRgb},
        {"BT.709 curve",
         heif_color_primaries_ITU_R_BT_709_5,
         heif_transfer_characteristic_ITU_R_BT_709_5,
         {},
         true,
         QColorSpace::Primaries::SRgb,
         QColorSpace::TransferFunction::Custom},
        {"BT.2020 linear",
         heif_color_primaries_ITU_R_BT_2020_2_and_2100_0,
         heif_transfer_characteristic_linear,
         {},
         true,
         QColorSpace::Primaries::Custom,
         QColorSpace::TransferFunction::Linear},
        {"gamma 2.2",
         heif_color_primaries_ITU_R_BT_709_5,
         heif_transfer_characteristic_ITU_R_BT_470_6_System_M,
         {},
         true,
         QColorSpace::Primaries::SRgb,
         QColorSpace::TransferFunction::Gamma},
        {"PQ",
         heif_color_primaries_ITU_R_BT_2020_2_and_2100_0,
         heif_transfer_characteristic_ITU_R_BT_2100_0_PQ,
         {},
         false,
         {},
         {}},
        {"HLG",
         heif_color_primaries_ITU_R_BT_2020_2_and_2100_0,
         heif_transfer_characteristic_ITU_R_BT_2100_0_HLG,
         {},
         false,
         {},
         {}},
        {"ICC Adobe RGB",
         std::nullopt,
         {},
         adobe.iccProfile(),
         true,
         QColorSpace::Primaries::AdobeRgb,
         QColorSpace::TransferFunction::Gamma},
    };
    for (const Case& c : cases) {
        for (heif_compression_format codec : {heif_compression_HEVC, heif_compression_AV1}) {
            SCOPED_TRACE(std::string(c.name) + (codec == heif_compression_AV1 ? " AV1" : " HEVC"));
            HeifPlan plan;
            plan.picture = Quarters(16, 16);
            plan.codec = codec;
            plan.primaries = c.primaries;
            plan.transfer = c.transfer;
            plan.icc = c.icc;
            const std::vector<std::uint8_t> bytes = EncodeHeif(plan);
            Result<QImage> decoded = DecodeHeif(bytes);
            ASSERT_TRUE(decoded) << decoded.error().message;
            const QColorSpace space = decoded.value().colorSpace();
            ASSERT_EQ(space.isValid(), c.tagged);
            if (!c.tagged) continue;
            if (c.named != QColorSpace::Primaries::Custom) {
                EXPECT_EQ(space.primaries(), c.named);
            }
            EXPECT_EQ(space.transferFunction(), c.function);
            if (!c.icc.isEmpty()) {
                EXPECT_EQ(space, adobe);
            }
            // The thumbnail is tagged alike, so it is converted alike.
            Result<QImage> thumbnail = DecodeHeifThumbnail(bytes, 8);
            ASSERT_TRUE(thumbnail);
            EXPECT_EQ(thumbnail.value().colorSpace(), space);
        }
    }
}

TEST(Heif, TheEmbeddedThumbnailIsUsedOnlyWhenLargeEnoughAndOfTheSameProportions)
{
    // The primary image is red and its thumbnails green, so the result shows which was decoded.
    struct Case {
        const char* name;
        QSize thumbnail;
        int box;
        bool used;
    };
    const Case cases[] = {
        {"same proportions, large enough", {64, 48}, 40, true},
        {"same proportions, exactly the size", {64, 48}, 64, true},
        {"same proportions, too small", {64, 48}, 100, false},
        {"rounded proportions", {43, 32}, 40, true},
        {"cropped by an editor", {64, 40}, 40, false},
        {"turned without its primary", {48, 64}, 40, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeifPlan plan;
        plan.picture = QImage(256, 192, QImage::Format_RGB32);
        plan.picture.fill(qRgb(220, 30, 30));
        plan.foreignThumbnail = QImage(c.thumbnail, QImage::Format_RGB32);
        plan.foreignThumbnail.fill(qRgb(30, 200, 30));
        Result<QImage> thumbnail = DecodeHeifThumbnail(EncodeHeif(plan), c.box);
        ASSERT_TRUE(thumbnail) << thumbnail.error().message;
        EXPECT_EQ(thumbnail.value().size(), ThumbnailSize(256, 192, c.box));
        const QRgb centre = thumbnail.value().pixel(thumbnail.value().width() / 2, thumbnail.value().height() / 2);
        EXPECT_EQ(qGreen(centre) > qRed(centre), c.used) << std::hex << centre;
    }
}

TEST(Heif, ThumbnailsFromTheEncoderAndOfContainersHaveTheExactSize)
{
    HeifPlan plan;
    plan.picture = Quarters(300, 200);
    plan.thumbnailBox = 64;
    const std::vector<std::uint8_t> bytes = EncodeHeif(plan);
    for (int box : {1, 20, 64, 96, 500}) {
        SCOPED_TRACE(box);
        Result<QImage> plain = DecodeHeifThumbnail(bytes, box);
        ASSERT_TRUE(plain) << plain.error().message;
        EXPECT_EQ(plain.value().size(), ThumbnailSize(300, 200, box));
        const ContainerPixels secure;
        Result<QImage> guarded = DecodeHeifThumbnail(bytes, box);
        ASSERT_TRUE(guarded);
        EXPECT_EQ(guarded.value().size(), plain.value().size());
    }
    plan.picture = Quarters(300, 2);
    plan.thumbnailBox = 0;
    Result<QImage> thin = DecodeHeifThumbnail(EncodeHeif(plan), 64);
    ASSERT_FALSE(thin);
    EXPECT_EQ(thin.error().kind, ErrorKind::Unsupported);
}

TEST(Heif, DamagedFilesGiveErrors)
{
    HeifPlan plan;
    plan.picture = Quarters(64, 48);
    plan.thumbnailBox = 32;
    const std::vector<std::uint8_t> good = EncodeHeif(plan);
    std::vector<std::vector<std::uint8_t>> damaged = {{}, {0, 0, 0, 12, 'f', 't', 'y', 'p'}};
    for (std::size_t cut : {std::size_t{16}, std::size_t{40}, good.size() / 3, good.size() / 2, good.size() - 40})
        damaged.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    for (const std::vector<std::uint8_t>& bytes : damaged) {
        SCOPED_TRACE(bytes.size());
        Result<QImage> decoded = DecodeHeif(bytes);
        ASSERT_FALSE(decoded);
        EXPECT_FALSE(decoded.error().message.empty());
        EXPECT_FALSE(DecodeHeifThumbnail(bytes, 40));
    }
    // Bytes changed anywhere: an error or some picture, never a crash.
    for (std::size_t at = 0; at < good.size(); at += 7) {
        std::vector<std::uint8_t> bytes = good;
        bytes[at] ^= 0x5A;
        (void)DecodeHeif(bytes);
        (void)DecodeHeifThumbnail(bytes, 24);
        (void)HeifSize(bytes);
    }
}

TEST(Heif, ClaimedSizesBeyondThePixelBoundAreRefusedBeforeDecoding)
{
    HeifPlan plan;
    plan.picture = Quarters(64, 48);
    for (heif_compression_format codec : {heif_compression_HEVC, heif_compression_AV1}) {
        plan.codec = codec;
        const std::vector<std::uint8_t> small = EncodeHeif(plan);
        for (const QSize claim : {QSize(20000, 20000), QSize(1 << 20, 300), QSize(16384, 16385)}) {
            SCOPED_TRACE(std::to_string(claim.width()) + "x" + std::to_string(claim.height()));
            const std::vector<std::uint8_t> bytes = test::WithClaimedSize(
                small, static_cast<std::uint32_t>(claim.width()), static_cast<std::uint32_t>(claim.height()));
            const long addressSpace = test::StatusKib("VmPeak:");
            Result<QImage> decoded = DecodeHeif(bytes);
            ASSERT_FALSE(decoded);
            EXPECT_FALSE(DecodeHeifThumbnail(bytes, 40));
            EXPECT_LT(test::StatusKib("VmPeak:") - addressSpace, 256 * 1024) << "a canvas was allocated";
        }
    }
}

}  // namespace
}  // namespace quillix::imaging
