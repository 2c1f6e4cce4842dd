#include "gallery/thumbnail_maker.h"

#include "container/file_ops.h"
#include "imaging/colour_fixtures.h"
#include "imaging/heif_fixtures.h"
#include "imaging/jpeg_codec.h"
#include "imaging/jxl_fixtures.h"
#include "imaging/tiff_fixtures.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <QColorSpace>
#include <QColorTransform>
#include <QImage>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quillix::gallery {
namespace {

using test::TempDir;

constexpr const char* kPassword = "correct horse";

// A red top-left block on grey: stored 60 × 40, shown turned clockwise (40 × 60, red top-right)
// by the orientation each file carries.
QImage Stored()
{
    QImage image(60, 40, QImage::Format_RGB32);
    image.fill(qRgb(128, 128, 128));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            image.setPixel(x, y, qRgb(200, 40, 40));
    return image;
}

std::vector<std::uint8_t> Heif(heif_compression_format codec)
{
    test::HeifPlan plan;
    plan.picture = Stored();
    plan.codec = codec;
    plan.orientation = heif_orientation_rotate_90_cw;
    return test::EncodeHeif(plan);
}

std::vector<std::uint8_t> TwoPageTiff()
{
    test::TiffPage first;
    first.picture = Stored();
    first.orientation = 6;
    first.compression = COMPRESSION_LZW;
    test::TiffPage second;
    second.picture = test::Filled(8, 8, qRgb(0, 0, 255));
    test::TiffPlan plan;
    plan.pages = {first, second};
    return test::TiffFixture(plan);
}

std::vector<std::uint8_t> Jxl()
{
    test::JxlPlan plan;
    plan.frames = {{Stored(), 0}};
    plan.orientation = 6;
    return test::EncodeJxlFixture(plan);
}

// A Display P3 JPEG, upright: its red block is shown as the same colour in sRGB, which differs.
std::vector<std::uint8_t> DisplayP3Jpeg()
{
    const std::vector<std::uint8_t> jpeg = imaging::EncodeJpeg(Stored(), 95).value();
    test::ExifPlan exif;
    exif.orientation = 6;
    return test::JpegWithProfile(test::WithExif(jpeg, exif),
                                 test::Bytes(QColorSpace(QColorSpace::DisplayP3).iccProfile()));
}

QRgb P3InSrgb(QRgb colour)
{
    return QColorSpace(QColorSpace::DisplayP3).transformationToColorSpace(QColorSpace::SRgb).map(colour);
}

std::string Place(const TempDir& dir, const std::string& name, const std::vector<std::uint8_t>& bytes, bool encrypt)
{
    const std::string path = dir / name;
    test::WriteFile(path, bytes);
    if (!encrypt) return path;
    container::FileOptions options;
    options.Passes = 0;
    Result<std::string> sealed = container::EncryptToContainer(path, kPassword, options);
    EXPECT_TRUE(sealed) << sealed.error().message;
    return sealed ? sealed.value() : std::string();
}

// Each format a phone or camera writes gets its tile, plain and from a container, turned as its
// file says and in sRGB colours.
TEST(PhoneFormats, ThumbnailsTurnedAndInTheirColoursPlainAndEncrypted)
{
    struct Row {
        const char* name;
        std::function<std::vector<std::uint8_t>()> make;
        QRgb red;  // the block's colour as shown
        int tolerance;
    };
    const Row rows[] = {
        {"phone.heic", [] { return Heif(heif_compression_HEVC); }, qRgb(200, 40, 40), 12},
        {"web.avif", [] { return Heif(heif_compression_AV1); }, qRgb(200, 40, 40), 12},
        {"scan.tiff", TwoPageTiff, qRgb(200, 40, 40), 3},
        {"new.jxl", Jxl, qRgb(200, 40, 40), 3},
        {"p3.jpg", DisplayP3Jpeg, P3InSrgb(qRgb(200, 40, 40)), 8},
    };
    for (const Row& row : rows) {
        for (const bool encrypt : {false, true}) {
            SCOPED_TRACE(testing::Message() << row.name << (encrypt ? " encrypted" : " plain"));
            TempDir dir;
            const Thumbnail made =
                MakeThumbnail({Place(dir, row.name, row.make(), encrypt), encrypt ? kPassword : "", true, 128});
            ASSERT_EQ(made.kind, ThumbnailKind::Picture);
            ASSERT_EQ(made.image.size(), QSize(69, 104));
            const QRgb topRight = made.image.pixel(60, 10), topLeft = made.image.pixel(8, 10);
            EXPECT_LE(test::ChannelDistance(topRight, row.red), row.tolerance) << std::hex << topRight;
            EXPECT_LE(test::ChannelDistance(topLeft, qRgb(128, 128, 128)), row.tolerance) << std::hex << topLeft;
        }
    }
    EXPECT_GT(test::ChannelDistance(P3InSrgb(qRgb(200, 40, 40)), qRgb(200, 40, 40)), 8)
        << "the profile must make a difference";
}

}  // namespace
}  // namespace quillix::gallery
