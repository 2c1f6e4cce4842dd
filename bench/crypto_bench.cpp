#include "container/key_derivation.h"
#include "container/keystream.h"
#include "crypto/hashes.h"

#include <benchmark/benchmark.h>

#include <array>
#include <vector>

namespace {

using namespace quillix;

// args: iterations, cipher-key length (16 for 48 output bytes, 32 for 64)
void BM_DeriveKeys(benchmark::State& state)
{
    const std::array<std::uint8_t, 16> salt{1, 2, 3};
    std::array<std::uint8_t, 32> enc{}, mac{};
    const auto keyLen = static_cast<std::size_t>(state.range(1));
    for (auto _ : state) {
        container::DeriveKeys("photo.jpg|correct horse", salt, static_cast<std::uint32_t>(state.range(0)),
                              std::span(enc).first(keyLen), mac);
        benchmark::DoNotOptimize(mac);
    }
}
BENCHMARK(BM_DeriveKeys)->Args({200000, 16})->Args({200000, 32})->Args({20000, 16})->Args({20000, 32})
    ->Unit(benchmark::kMillisecond);

// One chunk's keystream, per cipher.
void BM_ChunkKeystream(benchmark::State& state)
{
    const int alg = static_cast<int>(state.range(0));
    std::vector<std::uint8_t> key(static_cast<std::size_t>(alg == 2 ? 32 : 16), 7);
    const std::array<std::uint8_t, 16> nonce{9};
    for (auto _ : state) {
        auto ks = container::ContainerKeystream::Make(alg, key, nonce);
        benchmark::DoNotOptimize(ks);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 8192);
}
BENCHMARK(BM_ChunkKeystream)->DenseRange(0, 3);

void BM_HmacChunk(benchmark::State& state)
{
    const std::vector<std::uint8_t> chunk(8192, 3);
    const std::array<std::uint8_t, 32> key{};
    std::array<std::uint8_t, 32> mac{};
    for (auto _ : state) {
        crypto::HmacSha256(key, chunk, mac);
        benchmark::DoNotOptimize(mac);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 8192);
}
BENCHMARK(BM_HmacChunk);

}  // namespace

BENCHMARK_MAIN();
