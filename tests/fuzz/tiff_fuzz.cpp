#include "fuzz_driver.h"
#include "imaging/tiff_codec.h"
#include "imaging/tiff_fixtures.h"

#include <QColorSpace>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

using namespace quillix::imaging;

// Every TIFF entry on the same bytes, and the decoder again on what a turn wrote; only crashes,
// leaks and sanitizer reports count as findings.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    (void)DecodeTiff(bytes);
    (void)TiffPageCount(bytes);
    (void)TiffSize(bytes);
    const quillix::Result<std::vector<std::uint8_t>> turned = TurnTiff(bytes, PixelTransform::Rotate90);
    if (turned.ok()) (void)DecodeTiff(turned.value());
    return 0;
}

#ifndef QUILLIX_LIBFUZZER
namespace {

using quillix::test::TiffAlpha;
using quillix::test::TiffPage;
using quillix::test::TiffPlan;

QImage Sample(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(x * 13, y * 17, (x ^ y) * 9, 130 + x * 3));
    return image;
}

TiffPage Page(std::uint16_t photometric, std::uint16_t bits, std::uint16_t compression,
              TiffAlpha alpha = TiffAlpha::None)
{
    TiffPage page;
    page.picture = Sample(photometric == PHOTOMETRIC_PALETTE ? 4 : 19, photometric == PHOTOMETRIC_PALETTE ? 4 : 13);
    page.photometric = photometric;
    page.bits = bits;
    page.compression = compression;
    page.alpha = alpha;
    return page;
}

std::vector<std::vector<std::uint8_t>> Seeds()
{
    using quillix::test::TiffFixture;
    std::vector<std::vector<std::uint8_t>> seeds = {
        TiffFixture(Page(PHOTOMETRIC_RGB, 8, COMPRESSION_NONE)),
        TiffFixture(Page(PHOTOMETRIC_RGB, 16, COMPRESSION_LZW, TiffAlpha::Unassociated)),
        TiffFixture(Page(PHOTOMETRIC_MINISBLACK, 8, COMPRESSION_PACKBITS, TiffAlpha::Associated)),
        TiffFixture(Page(PHOTOMETRIC_MINISBLACK, 1, COMPRESSION_ADOBE_DEFLATE)),
        TiffFixture(Page(PHOTOMETRIC_PALETTE, 8, COMPRESSION_LZW)),
        TiffFixture(Page(PHOTOMETRIC_SEPARATED, 8, COMPRESSION_NONE)),
    };
    TiffPage jpeg = Page(PHOTOMETRIC_YCBCR, 8, COMPRESSION_JPEG);
    jpeg.picture = Sample(16, 16);
    seeds.push_back(TiffFixture(jpeg));
    // Tiles with an orientation and a profile; three pages, BigTIFF and big-endian.
    TiffPage tiled = Page(PHOTOMETRIC_RGB, 8, COMPRESSION_ADOBE_DEFLATE, TiffAlpha::Associated);
    tiled.tiled = true;
    tiled.orientation = 6;
    tiled.icc = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    seeds.push_back(TiffFixture(tiled));
    TiffPlan pages;
    pages.pages = {Page(PHOTOMETRIC_RGB, 8, COMPRESSION_LZW), Page(PHOTOMETRIC_MINISBLACK, 8, COMPRESSION_NONE),
                   Page(PHOTOMETRIC_RGB, 8, COMPRESSION_PACKBITS)};
    pages.pages[1].orientation = 3;
    pages.bigTiff = true;
    pages.bigEndian = true;
    seeds.push_back(TiffFixture(pages));
    return seeds;
}

}  // namespace

int main(int argc, char** argv)
{
    // Directories lie at the end of libtiff's files, so a poke may land anywhere.
    return quillix::test::RunSeedsAndMutations(argc, argv, Seeds(), "tiff_fuzz", 150, 20261211u, 0);
}
#endif
