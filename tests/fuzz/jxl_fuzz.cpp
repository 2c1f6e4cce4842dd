#include "fuzz_driver.h"
#include "imaging/jxl_codec.h"
#include "imaging/jxl_fixtures.h"

#include <QColorSpace>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

using namespace quillix::imaging;

// Every JPEG XL entry that reads a user's file, on the same bytes; only crashes, leaks and
// sanitizer reports count as findings.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    (void)JxlSize(bytes);
    (void)DecodeJxl(bytes);
    if (IsAnimatedJxl(bytes)) (void)DecodeJxlAnimation(bytes);
    return 0;
}

#ifndef QUILLIX_LIBFUZZER
namespace {

QImage Sample(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 7 + seed, y * 11, (x ^ y) * 5, 200 + x));
    return image;
}

std::vector<std::vector<std::uint8_t>> Seeds()
{
    using quillix::test::EncodeJxlFixture;
    using quillix::test::JxlPlan;
    std::vector<std::vector<std::uint8_t>> seeds;
    const QImage image = Sample(37, 23, 0);
    seeds.push_back(EncodeJxlFixture(image, false));
    seeds.push_back(EncodeJxlFixture(image, true));
    JxlPlan plan;
    plan.frames = {{image}};
    plan.grey = true;
    plan.orientation = 6;
    seeds.push_back(EncodeJxlFixture(plan));
    plan = JxlPlan{};
    plan.frames = {{image}};
    plan.lossless = false;
    plan.icc = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    seeds.push_back(EncodeJxlFixture(plan));
    plan = JxlPlan{};
    plan.frames = {{image}};
    plan.lossless = false;
    plan.orientation = 7;
    seeds.push_back(EncodeJxlFixture(plan));
    // An animation with a whole frame, a one-pixel layer and a looping count.
    plan = JxlPlan{};
    plan.frames = {{Sample(9, 7, 0), 50}, {Sample(9, 7, 90), 30}, {Sample(2, 1, 40), 20, QPoint(3, 4)}};
    plan.alpha = true;
    plan.numLoops = 3;
    seeds.push_back(EncodeJxlFixture(plan));
    // A header claiming a picture beyond the bound over a few bytes of data.
    seeds.push_back(quillix::test::JxlClaimingSize(seeds.front(), 20000, 20000));
    return seeds;
}

}  // namespace

int main(int argc, char** argv)
{
    // Seeded mutations of each seed: flips, cuts, insertions and header pokes.
    return quillix::test::RunSeedsAndMutations(argc, argv, Seeds(), "jxl_fuzz", 150, 20261211u, 48);
}
#endif
