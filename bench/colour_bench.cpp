// What showing a wide-gamut photo in sRGB costs next to decoding it: a 24-megapixel photo-like
// JPEG carrying a Display P3 profile, decoded as the viewer decodes it (DecodeStillTagged), then
// converted (ShowInSrgb). Prints the medians and their ratio against the target of 0.15.
//   colour_bench [RUNS]   (default 9)
#include "bench_pictures.h"
#include "imaging/colour_profile.h"
#include "imaging/jpeg_codec.h"
#include "imaging/still_decoder.h"
#include "support/exif_fixture.h"

#include <QColorSpace>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

using namespace quillix::imaging;
using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Milliseconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const QByteArray profile = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    constexpr std::string_view kSignature{"ICC_PROFILE\0\1\1", 14};
    std::vector<std::uint8_t> app2(kSignature.begin(), kSignature.end());
    app2.insert(app2.end(), profile.begin(), profile.end());
    const std::vector<std::uint8_t> jpeg =
        quillix::test::WithSegment(EncodeJpeg(quillix::bench::PhotoLike(6000, 4000, 1), 90).value(), 0xE2, app2);

    std::vector<double> decode, convert;
    for (int run = 0; run < runs; ++run) {
        const Clock::time_point start = Clock::now();
        quillix::Result<QImage> picture = DecodeStillTagged(ImageFormat::Jpeg, jpeg);
        const Clock::time_point decoded = Clock::now();
        if (!picture || picture.value().colorSpace() != QColorSpace(QColorSpace::DisplayP3)) {
            std::fprintf(stderr, "the picture did not decode with its profile\n");
            return 1;
        }
        ShowInSrgb(picture.value());
        const Clock::time_point shown = Clock::now();
        decode.push_back(Milliseconds(start, decoded));
        convert.push_back(Milliseconds(decoded, shown));
    }
    const double ratio = Median(convert) / Median(decode);
    std::printf("24 MP Display P3 JPEG, %d runs: decode %.1f ms, conversion to sRGB %.1f ms (medians), "
                "ratio %.3f (target <= 0.15) %s\n",
                runs, Median(decode), Median(convert), ratio, ratio <= 0.15 ? "met" : "NOT met");
    return 0;
}
