#include "fuzz_driver.h"
#include "imaging/anim_fixtures.h"
#include "imaging/bmp_codec.h"
#include "imaging/bmp_transform.h"
#include "imaging/exif_orientation.h"
#include "imaging/gif_codec.h"
#include "imaging/jpeg_codec.h"
#include "imaging/jpeg_transform.h"
#include "imaging/png_codec.h"
#include "imaging/still_decoder.h"
#include "imaging/thumbnail.h"
#include "imaging/webp_bridge.h"
#include "imaging/webp_transform.h"
#include "support/exif_fixture.h"
#include "support/hostile_files.h"
#include "support/test_images.h"

#include <webp/encode.h>

#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

using namespace quillix::imaging;

// Every decoder entry that reads a user's file, on the same bytes; only crashes, leaks and
// sanitizer reports count as findings.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    (void)DecodeJpeg(bytes);
    (void)DecodePng(bytes);
    (void)DecodeBmp(bytes);
    (void)DecodeGif(bytes);
    (void)LoadWebPToBitmap(bytes);
    (void)LoadWebPFirstFrame(bytes);
    (void)LoadImageByContent(bytes);
    for (ImageFormat format : {ImageFormat::Jpeg, ImageFormat::Png, ImageFormat::Gif, ImageFormat::Bmp,
                               ImageFormat::WebP, ImageFormat::Heif, ImageFormat::Tiff, ImageFormat::Jxl})
        (void)DecodeThumbnail(format, bytes, 40);
    // A quarter turn reads the same files, and the JPEG one rewrites the EXIF block.
    (void)TurnJpeg(bytes, 1);
    (void)TransformPng(bytes, PixelTransform::Rotate90);
    (void)TransformBmp(bytes, PixelTransform::Transverse);
    (void)TransformWebP(bytes, PixelTransform::Rotate270);
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    (void)ResetExifOrientation(copy, PixelTransform::Rotate90, nullptr);
    copy.assign(bytes.begin(), bytes.end());
    (void)SetExifOrientation(copy, 6);
    return 0;
}

#ifndef QUILLIX_LIBFUZZER
namespace {

QImage Sample()
{
    QImage image(37, 23, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba(x * 7, y * 11, (x ^ y) * 5, 200 + x));
    return image;
}

std::vector<std::vector<std::uint8_t>> Seeds()
{
    const QImage image = Sample();
    std::vector<std::vector<std::uint8_t>> seeds = {EncodeJpeg(image, 80).value(), EncodePng(image).value(),
                                                    EncodeBmp(image).value()};
    quillix::test::ExifPlan exif;
    exif.orientation = 6;
    exif.exifEntries = 3;
    exif.thumbnail = EncodeJpeg(image.scaled(16, 16), 70).value();
    seeds.push_back(quillix::test::WithExif(EncodeJpeg(image, 80).value(), exif));
    const QImage bgra = image.convertToFormat(QImage::Format_ARGB32);
    std::uint8_t* webp = nullptr;
    const std::size_t n = WebPEncodeLosslessBGRA(bgra.constBits(), bgra.width(), bgra.height(),
                                                 static_cast<int>(bgra.bytesPerLine()), &webp);
    seeds.emplace_back(webp, webp + n);
    WebPFree(webp);
    const std::size_t lossy =
        WebPEncodeBGRA(bgra.constBits(), bgra.width(), bgra.height(), static_cast<int>(bgra.bytesPerLine()), 70, &webp);
    seeds.emplace_back(webp, webp + lossy);
    WebPFree(webp);
    quillix::test::GifFixture gif;
    gif.width = 8;
    gif.height = 6;
    gif.globalColours = {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    gif.loopCount = 2;
    gif.frames = {quillix::test::FilledGifFrame(0, 0, 8, 6, 1), quillix::test::FilledGifFrame(2, 1, 3, 3, 2)};
    seeds.push_back(quillix::test::EncodeGif(gif));
    // A first frame larger than the screen, an interlaced one reaching past it, and the same file
    // without any colour table.
    gif.frames = {quillix::test::FilledGifFrame(0, 0, 10, 7, 1), quillix::test::FilledGifFrame(6, 3, 9, 9, 2)};
    gif.frames[1].interlace = true;
    gif.frames[1].disposal = 2;
    gif.frames[1].transparent = 0;
    std::vector<std::uint8_t> outside = quillix::test::EncodeGif(gif);
    seeds.push_back(outside);
    outside[10] &= 0x7F;
    outside.erase(outside.begin() + 13, outside.begin() + 13 + 12);
    seeds.push_back(outside);
    // Run-length bitmaps with every escape: end of line, a delta, an odd absolute run with its
    // padding, a run past the row's end, end of bitmap.
    const std::vector<QRgb> colours = {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    seeds.push_back(quillix::test::RleBmpFixture(
        8, 6, 4, colours, {3, 1, 0, 0, 0, 2, 2, 1, 9, 2, 0, 0, 0, 3, 1, 2, 3, 0, 2, 3, 0, 0, 4, 1, 0, 1}));
    seeds.push_back(quillix::test::RleBmpFixture(
        4, 7, 4, colours, {5, 0x12, 0, 0, 0, 2, 1, 1, 0, 5, 0x01, 0x23, 0x10, 0, 0, 0, 9, 0x31, 0, 1}));
    seeds.push_back(quillix::test::EncodeAnimatedWebP(
        {{quillix::test::Solid(9, 7, qRgb(10, 20, 30)), 50}, {quillix::test::Solid(9, 7, qRgb(90, 20, 30)), 50}}, 0));
    // Headers claiming a gigabyte over a few bytes of data: each must be refused before allocating.
    for (quillix::test::HostileFile& hostile : quillix::test::HostileFiles())
        seeds.push_back(std::move(hostile.bytes));
    return seeds;
}

}  // namespace

int main(int argc, char** argv)
{
    // Seeded mutations of one valid file per format: flips, cuts, insertions and header pokes.
    return quillix::test::RunSeedsAndMutations(argc, argv, Seeds(), "decoder_fuzz", 150, 20261210u, 64);
}
#endif
