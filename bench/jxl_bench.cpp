// JPEG XL decoding of a 12 MP photo-like picture, to choose how many threads libjxl gets.
//   jxl_bench [RUNS]    medians in milliseconds of:
//     libjxl alone, one thread, into an RGBA buffer (the floor our decoder stands on);
//     DecodeJxl with 1, 2 and all threads (the viewer's case: one picture, a user waiting);
//     as many pictures at once as there are cores, each with 1 thread and each with all threads
//     (the gallery's case: thumbnails on a pool that keeps every core busy).
#include "bench_pictures.h"
#include "imaging/jxl_codec.h"
#include "imaging/jxl_fixtures.h"

#include <jxl/decode.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace quillix::imaging;

struct Timing {
    double wallMs, cpuMs;  // cpu: every thread of the process, steadier than wall time on a busy machine
};

double CpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

Timing Median(int runs, const std::function<void()>& work)
{
    std::vector<double> wall, cpu;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuMs();
        work();
        cpu.push_back(CpuMs() - cpuStart);
        wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

void Print(const char* what, Timing t)
{
    std::printf("%-40s wall %8.1f ms   cpu %8.1f ms\n", what, t.wallMs, t.cpuMs);
}

// libjxl's own decode of the picture into RGBA, nothing around it.
bool LibjxlAlone(const std::vector<std::uint8_t>& bytes, std::vector<std::uint8_t>& out)
{
    std::unique_ptr<JxlDecoder, void (*)(JxlDecoder*)> decoder(JxlDecoderCreate(nullptr), JxlDecoderDestroy);
    JxlDecoder* d = decoder.get();
    const JxlPixelFormat format = {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlDecoderSubscribeEvents(d, JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(d, bytes.data(), bytes.size());
    for (;;) {
        switch (JxlDecoderProcessInput(d)) {
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            std::size_t size = 0;
            JxlDecoderImageOutBufferSize(d, &format, &size);
            out.resize(size);
            JxlDecoderSetImageOutBuffer(d, &format, out.data(), size);
            break;
        }
        case JXL_DEC_FULL_IMAGE: return true;
        default: return false;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    quillix::test::JxlPlan plan;
    plan.frames = {{quillix::bench::PhotoLike(4000, 3000, 1)}};
    plan.lossless = false;
    plan.effort = 7;
    const std::vector<std::uint8_t> bytes = quillix::test::EncodeJxlFixture(plan);
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::printf("12 MP lossy JPEG XL, distance 1, effort 7: %zu bytes; %d cores; %d runs\n", bytes.size(), cores, runs);

    std::vector<std::uint8_t> rgba;
    Print("libjxl alone, 1 thread", Median(runs, [&] { (void)LibjxlAlone(bytes, rgba); }));
    char label[96];
    for (const int threads : {1, 2, JxlViewerThreads()}) {
        std::snprintf(label, sizeof label, "DecodeJxl, %d thread(s)", threads);
        Print(label, Median(runs, [&] { (void)DecodeJxl(bytes, threads).value(); }));
    }
    std::snprintf(label, sizeof label, "%d pictures at once, libjxl alone", cores);
    Print(label, Median(runs, [&] {
              std::vector<std::thread> pool;
              for (int i = 0; i < cores; ++i)
                  pool.emplace_back([&] {
                      std::vector<std::uint8_t> own;
                      (void)LibjxlAlone(bytes, own);
                  });
              for (std::thread& t : pool)
                  t.join();
          }));
    for (const int threads : {1, JxlViewerThreads()}) {
        std::snprintf(label, sizeof label, "%d pictures at once, %d thread(s) each", cores, threads);
        Print(label, Median(runs, [&] {
                  std::vector<std::thread> pool;
                  for (int i = 0; i < cores; ++i)
                      pool.emplace_back([&] { (void)DecodeJxl(bytes, threads).value(); });
                  for (std::thread& t : pool)
                      t.join();
              }));
    }
    return 0;
}
