// Decoding speed of the still-picture and thumbnail paths. Without arguments: Google Benchmark
// over pictures generated in memory. With a mode, the helper of bench/imaging_compare.sh:
//   imaging_bench --write DIR COUNT     DIR/big.jpg (24 MP), DIR/jpeg/*.jpg (12 MP), DIR/png/*.png (1080p)
//   imaging_bench --decode FILE RUNS    median milliseconds of one full decode, file read included
//   imaging_bench --thumbnails OUT DIR... one thumbnail (box 104) per file, written as JPEG to OUT;
//                                       prints the seconds taken, as vipsthumbnail would be timed
#include "bench_pictures.h"
#include "imaging/exif_orientation.h"
#include "imaging/image_format.h"
#include "imaging/jpeg_codec.h"
#include "imaging/png_codec.h"
#include "imaging/still_decoder.h"
#include "imaging/thumbnail.h"
#include "support/exif_fixture.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace quillix::imaging;
using quillix::Result;

constexpr int kBox = 104;

using quillix::bench::PhotoLike;

std::vector<std::uint8_t> Jpeg(int width, int height, std::uint32_t seed = 1)
{
    return EncodeJpeg(PhotoLike(width, height, seed), 90).value();
}

std::vector<std::uint8_t> Png(int width, int height, std::uint32_t seed = 1)
{
    return EncodePng(PhotoLike(width, height, seed)).value();
}

void BM_DecodeJpeg24MP(benchmark::State& state)
{
    static const std::vector<std::uint8_t> bytes = Jpeg(6000, 4000);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeJpeg(bytes));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeJpeg24MP)->Unit(benchmark::kMillisecond);

void BM_ThumbnailJpeg12MP(benchmark::State& state)
{
    static const std::vector<std::uint8_t> bytes = Jpeg(4000, 3000);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeThumbnail(ImageFormat::Jpeg, bytes, kBox));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ThumbnailJpeg12MP)->Unit(benchmark::kMillisecond);

// A phone's EXIF block: IFD0 with the orientation, 30 camera entries, a 2 KB maker note and a
// 160 × 120 thumbnail, as libexif meets it in every JPEG a phone makes.
std::vector<std::uint8_t> CameraJpeg(int width, int height, int orientation)
{
    quillix::test::ExifPlan exif;
    exif.orientation = static_cast<std::uint16_t>(orientation);
    exif.exifEntries = 30;
    exif.makerNoteSize = 2048;
    exif.thumbnail = Jpeg(160, 120, 7);
    return quillix::test::WithExif(Jpeg(width, height), exif);
}

// Against BM_ThumbnailJpeg12MP: the cost of reading the EXIF orientation (argument 1) and of
// turning the reduced picture as well (argument 6).
void BM_ThumbnailJpeg12MPWithExif(benchmark::State& state)
{
    const std::vector<std::uint8_t> bytes = CameraJpeg(4000, 3000, static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeThumbnail(ImageFormat::Jpeg, bytes, kBox));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ThumbnailJpeg12MPWithExif)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

void BM_ExifOrientation(benchmark::State& state)
{
    static const std::vector<std::uint8_t> bytes = CameraJpeg(640, 480, 6);
    for (auto _ : state)
        benchmark::DoNotOptimize(ExifOrientation(bytes));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExifOrientation)->Unit(benchmark::kMicrosecond);

// Against BM_DecodeJpeg24MP: what the viewer pays to show a portrait stored on its side.
void BM_DecodeStillJpeg24MPOrientation6(benchmark::State& state)
{
    static const std::vector<std::uint8_t> bytes = CameraJpeg(6000, 4000, 6);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeStill(ImageFormat::Jpeg, bytes));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeStillJpeg24MPOrientation6)->Unit(benchmark::kMillisecond);

void BM_ThumbnailPng1080p(benchmark::State& state)
{
    static const std::vector<std::uint8_t> bytes = Png(1920, 1080);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeThumbnail(ImageFormat::Png, bytes, kBox));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ThumbnailPng1080p)->Unit(benchmark::kMillisecond);

void BM_DecodePng1080p(benchmark::State& state)
{
    static const std::vector<std::uint8_t> bytes = Png(1920, 1080);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodePng(bytes));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodePng1080p)->Unit(benchmark::kMillisecond);

bool Save(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

int Write(const std::filesystem::path& dir, int count)
{
    std::filesystem::create_directories(dir / "jpeg");
    std::filesystem::create_directories(dir / "png");
    if (!Save(dir / "big.jpg", Jpeg(6000, 4000))) return 1;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%03d", i);
        const auto seed = static_cast<std::uint32_t>(i + 1);
        if (!Save(dir / "jpeg" / (std::string(name) + ".jpg"), Jpeg(4000, 3000, seed))) return 1;
        if (!Save(dir / "png" / (std::string(name) + ".png"), Png(1920, 1080, seed))) return 1;
    }
    return 0;
}

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int DecodeRuns(const std::string& path, int runs)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        Result<std::vector<std::uint8_t>> bytes = ReadImageFile(path);
        if (!bytes || !DecodeJpeg(bytes.value())) return 1;
        ms.push_back(Seconds(start) * 1000);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%.1f\n", ms[ms.size() / 2]);
    return 0;
}

int Thumbnails(const std::filesystem::path& out, int argc, char** argv)
{
    std::filesystem::create_directories(out);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < argc; ++i) {
        const std::string path = argv[i];
        Result<std::vector<std::uint8_t>> bytes = ReadImageFile(path);
        if (!bytes) return 1;
        Result<QImage> thumb = DecodeThumbnail(FormatFromExtension(path), bytes.value(), kBox);
        if (!thumb) return 1;
        // vipsthumbnail writes each thumbnail too; so do we.
        if (!Save(out / (std::filesystem::path(path).stem().string() + ".jpg"), EncodeJpeg(thumb.value(), 75).value()))
            return 1;
    }
    std::printf("%.3f\n", Seconds(start));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--write") == 0) return Write(argv[2], std::atoi(argv[3]));
    if (argc == 4 && std::strcmp(argv[1], "--decode") == 0) return DecodeRuns(argv[2], std::atoi(argv[3]));
    if (argc >= 3 && std::strcmp(argv[1], "--thumbnails") == 0) return Thumbnails(argv[2], argc - 3, argv + 3);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
