#include "imaging/bmp_codec.h"
#include "imaging/bmp_transform.h"
#include "imaging/gif_codec.h"
#include "imaging/jpeg_codec.h"
#include "imaging/png_codec.h"
#include "imaging/still_decoder.h"
#include "imaging/thumbnail.h"
#include "imaging/webp_bridge.h"
#include "imaging/webp_player.h"
#include "support/hostile_files.h"
#include "support/memory_peak.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quillix::imaging {
namespace {

// Every way the program reads the pixels of a file of `format`, each tried: the viewer's, the
// thumbnail's, a turn's, and for animations the player's. How many of them went ahead.
int Readings(ImageFormat format, std::span<const std::uint8_t> bytes)
{
    int read = static_cast<int>(DecodeStill(format, bytes).ok()) + DecodeThumbnail(format, bytes, 104).ok();
    switch (format) {
    case ImageFormat::Bmp: read += TransformBmp(bytes, PixelTransform::Rotate90).ok(); break;
    case ImageFormat::Png: read += TransformPng(bytes, PixelTransform::Rotate90).ok(); break;
    // A JPEG turn starts from the layout; a lossless one then reads every block.
    case ImageFormat::Jpeg: read += ReadJpegLayout(bytes).ok(); break;
    case ImageFormat::Gif: read += DecodeGif(bytes).ok(); break;
    case ImageFormat::WebP: {
        read += LoadWebPFirstFrame(bytes).ok();
        WebPPlayer player;
        read += player.LoadFromBytes(bytes);
        break;
    }
    case ImageFormat::Heif:
    case ImageFormat::Tiff:
    case ImageFormat::Jxl:
    case ImageFormat::Unknown: break;
    }
    return read;
}

TEST(HostileSize, DeclaredSizesTheDataCannotFillAreRefusedBeforeAllocating)
{
    for (const test::HostileFile& file : test::HostileFiles()) {
        SCOPED_TRACE(file.name);
        EXPECT_LT(file.bytes.size(), 1000u);
        EXPECT_GE(file.claimedPixels, std::int64_t{1} << 27);
        const bool residentMeasured = test::ResetResidentPeak();
        const long resident = test::StatusKib("VmRSS:"), addressSpace = test::StatusKib("VmPeak:");
        EXPECT_EQ(Readings(file.format, file.bytes), 0);
        // Half a gigabyte or more had the claim been believed: allocated, and filled by some decoders.
        EXPECT_LT(test::StatusKib("VmPeak:") - addressSpace, 256 * 1024) << "a canvas was allocated";
        if (residentMeasured) {
            EXPECT_LT(test::StatusKib("VmHWM:") - resident, 32 * 1024) << "a canvas was filled";
        }
    }
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

std::vector<std::uint8_t> LossyWebP(const QImage& image, int quality)
{
    std::uint8_t* out = nullptr;
    const std::size_t n = WebPEncodeBGRA(image.constBits(), image.width(), image.height(),
                                         static_cast<int>(image.bytesPerLine()), static_cast<float>(quality), &out);
    std::vector<std::uint8_t> bytes(out, out + n);
    WebPFree(out);
    return bytes;
}

// The bounds are the formats' densest encodings, so the smallest files real encoders write for
// large flat pictures stay accepted; and whatever the data, a picture up to a megapixel is.
TEST(HostileSize, FlatPicturesAndSmallCanvasesStayAccepted)
{
    QImage white(4000, 4000, QImage::Format_RGB32);
    white.fill(Qt::white);
    test::PngPlan bitPlan;
    bitPlan.width = bitPlan.height = 4000;
    bitPlan.colorType = PNG_COLOR_TYPE_GRAY;
    bitPlan.bitDepth = 1;
    bitPlan.sample = [](int, int, int) { return 1; };
    test::GifFixture flatGif;
    flatGif.width = 4000;
    flatGif.height = 3000;
    flatGif.globalColours = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    flatGif.frames = {test::FilledGifFrame(0, 0, 4000, 3000, 1)};
    const struct {
        const char* name;
        ImageFormat format;
        std::vector<std::uint8_t> bytes;
        QSize size;
    } cases[] = {
        {"RLE8 4000 x 3000 of runs", ImageFormat::Bmp, FlatRle8(4000, 3000), {4000, 3000}},
        {"RLE8 1000 x 1000 of one end of bitmap",
         ImageFormat::Bmp,
         test::RleBmpFixture(8, 1000, 1000, {qRgb(0, 0, 0)}, {0, 1}),
         {1000, 1000}},
        {"PNG 4000 x 4000 by libpng", ImageFormat::Png, EncodePng(white).value(), {4000, 4000}},
        {"PNG 1-bit grey 4000 x 4000 by libpng", ImageFormat::Png, test::PngFixture(bitPlan), {4000, 4000}},
        {"GIF 4000 x 3000 by giflib", ImageFormat::Gif, test::EncodeGif(flatGif), {4000, 3000}},
        {"GIF 1 x 1 frame on a 1000 x 1000 screen",
         ImageFormat::Gif,
         test::hostile::Gif(1000, 1000, false),
         {1000, 1000}},
        {"JPEG 4000 x 4000 by libjpeg", ImageFormat::Jpeg, test::JpegFixture(white, 10), {4000, 4000}},
        {"progressive JPEG 4000 x 4000 by libjpeg",
         ImageFormat::Jpeg,
         test::JpegFixture(white, 10, test::JpegKind::Progressive),
         {4000, 4000}},
        {"lossy WebP 4000 x 4000 by libwebp", ImageFormat::WebP, LossyWebP(white, 0), {4000, 4000}},
        {"WebP animation of 1 x 1 frames on a 1000 x 1000 canvas",
         ImageFormat::WebP,
         test::hostile::AnimatedWebP(1000),
         {1000, 1000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<QImage> picture =
            c.format == ImageFormat::WebP ? LoadWebPFirstFrame(c.bytes) : DecodeStill(c.format, c.bytes);
        ASSERT_TRUE(picture) << picture.error().message;
        EXPECT_EQ(picture.value().size(), c.size);
        EXPECT_TRUE(DecodeThumbnail(c.format, c.bytes, 104)) << "the thumbnail too";
    }
}

}  // namespace
}  // namespace quillix::imaging
