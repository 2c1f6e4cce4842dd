#include "fuzz_driver.h"
#include "imaging/heif_codec.h"
#include "imaging/heif_fixtures.h"

#include <QColorSpace>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

using namespace quillix::imaging;

// Every entry that reads a HEIF file; only crashes, leaks and sanitizer reports count as findings.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    (void)HeifSize(bytes);
    (void)DecodeHeif(bytes);
    (void)DecodeHeifThumbnail(bytes, 24);
    return 0;
}

#ifndef QUILLIX_LIBFUZZER
namespace {

QImage Sample(int width, int height, bool alpha)
{
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 7, y * 11, (x ^ y) * 5, alpha ? 120 + x : 255));
    return image;
}

// One small file of each kind the decoder meets: HEVC and AV1, a cropped grid, alpha, 10 bits,
// a turn and a mirror, colour profiles, and thumbnails of the same and of other proportions.
std::vector<std::vector<std::uint8_t>> Seeds()
{
    using quillix::test::EncodeHeif;
    using quillix::test::HeifPlan;
    std::vector<std::vector<std::uint8_t>> seeds;
    HeifPlan plan;
    plan.quality = 50;
    plan.picture = Sample(32, 24, false);
    seeds.push_back(EncodeHeif(plan));
    plan.codec = heif_compression_AV1;
    seeds.push_back(EncodeHeif(plan));
    plan.bitDepth = 10;
    seeds.push_back(EncodeHeif(plan));
    plan.bitDepth = 8;
    plan.picture = Sample(21, 13, true);
    plan.primaries = heif_color_primaries_SMPTE_EG_432_1;
    seeds.push_back(EncodeHeif(plan));
    plan.codec = heif_compression_HEVC;
    plan.bitDepth = 10;
    plan.orientation = heif_orientation_rotate_90_cw_then_flip_horizontally;
    seeds.push_back(EncodeHeif(plan));
    plan = HeifPlan{};
    plan.quality = 50;
    plan.picture = Sample(80, 60, false);
    plan.thumbnailBox = 16;
    plan.icc = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    seeds.push_back(EncodeHeif(plan));
    plan.thumbnailBox = 0;
    plan.icc.clear();
    plan.foreignThumbnail = Sample(16, 9, false);
    seeds.push_back(EncodeHeif(plan));
    return seeds;
}

}  // namespace

int main(int argc, char** argv)
{
    // The boxes that describe the picture come first; poke them most.
    return quillix::test::RunSeedsAndMutations(argc, argv, Seeds(), "heif_fuzz", 100, 20261211u, 700);
}
#endif
