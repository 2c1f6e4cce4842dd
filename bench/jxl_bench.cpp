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

double MedianMs(int runs, const std::function<void()>& work)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
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
    std::printf("libjxl alone, 1 thread:           %8.1f ms\n",
                MedianMs(runs, [&] { (void)LibjxlAlone(bytes, rgba); }));
    for (const int threads : {1, 2, JxlViewerThreads()})
        std::printf("DecodeJxl, %2d thread(s):          %8.1f ms\n", threads,
                    MedianMs(runs, [&] { (void)DecodeJxl(bytes, threads).value(); }));
    for (const int threads : {1, JxlViewerThreads()}) {
        const double ms = MedianMs(runs, [&] {
            std::vector<std::thread> pool;
            for (int i = 0; i < cores; ++i)
                pool.emplace_back([&] { (void)DecodeJxl(bytes, threads).value(); });
            for (std::thread& t : pool)
                t.join();
        });
        std::printf("%d pictures at once, %2d thread(s) each: %8.1f ms (%.1f ms a picture)\n", cores, threads, ms,
                    ms / cores);
    }
    return 0;
}
