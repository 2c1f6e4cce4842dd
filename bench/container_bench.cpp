#include "container/file_ops.h"
#include "container/key_derivation.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

using namespace quillix;

// Decrypting an 8 MB container into memory once its key is cached: what showing a large
// encrypted picture costs after the first time.
void BM_DecryptToStream8MB(benchmark::State& state)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "quillix-bench";
    std::filesystem::create_directories(dir);
    const std::string plain = (dir / "big.jpg").string();
    {
        std::vector<char> bytes(8 * 1000 * 1000);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 131);
        std::ofstream(plain, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    container::FileOptions options;
    options.EncryptionAlg = static_cast<int>(state.range(0));
    options.MaxKiB = 0;
    const auto sealed = container::EncryptToContainer(plain, "pw", options);
    if (!sealed) {
        state.SkipWithError(sealed.error().message.c_str());
        return;
    }
    std::vector<std::uint8_t> stream;
    for (auto _ : state) {
        if (!container::DecryptToStream(sealed.value(), "pw", true, stream)) state.SkipWithError("decryption failed");
        benchmark::DoNotOptimize(stream.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 8'000'000);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DecryptToStream8MB)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
