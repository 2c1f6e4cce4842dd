// Decoding speed of HEIC pictures, next to libheif's own tools on the same file:
//   heif_bench [DIR [RUNS]]
// writes DIR/photo.heic and DIR/photo-thumb.heic (12 MP, photo-like; the second with a 320-pixel
// thumbnail item) unless they are there already, then prints the median milliseconds of
//   DecodeHeif (file read included),
//   libheif alone: read the file and heif_decode_image to interleaved RGB, nothing copied,
//   heif-convert FILE out.y4m (libheif-examples; writes the decoded planes without turning them
//     into RGB, so it does less than a PPM writer would),
//   DecodeHeifThumbnail at box 128 without and with the thumbnail item,
// and the ratios the budget is checked against.
#include "bench_pictures.h"
#include "imaging/heif_codec.h"
#include "imaging/heif_fixtures.h"

#include <libheif/heif.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

double MedianMs(int runs, const std::function<bool()>& step)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const Clock::time_point start = Clock::now();
        if (!step()) {
            std::fprintf(stderr, "a run failed\n");
            std::exit(1);
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Write(const std::string& path, int thumbnailBox)
{
    if (std::filesystem::exists(path)) return;
    std::printf("encoding %s ...\n", path.c_str());
    std::fflush(stdout);
    quillix::test::HeifPlan plan;
    plan.picture = quillix::bench::PhotoLike(4000, 3000, 7);
    plan.quality = 85;
    plan.thumbnailBox = thumbnailBox;
    const std::vector<std::uint8_t> bytes = quillix::test::EncodeHeif(plan);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool LibheifOnly(const std::string& path)
{
    std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(), heif_context_free);
    if (heif_context_read_from_file(context.get(), path.c_str(), nullptr).code != heif_error_Ok) return false;
    heif_image_handle* handle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &handle).code != heif_error_Ok) return false;
    std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)> owned(handle, heif_image_handle_release);
    heif_image* image = nullptr;
    const heif_error error =
        heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr);
    std::unique_ptr<heif_image, void (*)(const heif_image*)> decoded(image, heif_image_release);
    return error.code == heif_error_Ok;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string dir =
        argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string() + "/quillix-heif-bench";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    std::filesystem::create_directories(dir);
    const std::string plain = dir + "/photo.heic", withThumb = dir + "/photo-thumb.heic";
    Write(plain, 0);
    Write(withThumb, 320);

    const double ours = MedianMs(runs, [&] { return quillix::imaging::DecodeHeif(ReadFile(plain)).ok(); });
    const double library = MedianMs(runs, [&] { return LibheifOnly(plain); });
    const bool haveConvert = std::system("command -v heif-convert >/dev/null 2>&1") == 0;
    const std::string command = "heif-convert --quiet '" + plain + "' '" + dir + "/out.y4m' >/dev/null 2>&1";
    const double convert = haveConvert ? MedianMs(runs, [&] { return std::system(command.c_str()) == 0; }) : 0;
    const double thumbDecoded =
        MedianMs(runs, [&] { return quillix::imaging::DecodeHeifThumbnail(ReadFile(plain), 128).ok(); });
    const double thumbEmbedded =
        MedianMs(runs, [&] { return quillix::imaging::DecodeHeifThumbnail(ReadFile(withThumb), 128).ok(); });

    std::printf("12 MP HEIC (4000 x 3000, x265), median of %d runs, ms:\n", runs);
    std::printf("  DecodeHeif                         %8.1f\n", ours);
    std::printf("  libheif decode only (RGB)          %8.1f   ours / it = %.2f\n", library, ours / library);
    if (haveConvert)
        std::printf("  heif-convert to .y4m               %8.1f   ours / it = %.2f\n", convert, ours / convert);
    else
        std::printf("  heif-convert: not installed (libheif-examples)\n");
    std::printf("  DecodeHeifThumbnail 128, decoded   %8.1f\n", thumbDecoded);
    std::printf("  DecodeHeifThumbnail 128, item used %8.2f   %.0f x faster\n", thumbEmbedded,
                thumbDecoded / thumbEmbedded);
    return 0;
}
