#include "container/key_derivation.h"
#include "container/keystream.h"
#include "crypto/gcrypt_init.h"
#include "crypto/hashes.h"
#include "crypto/sha256_compress.h"

#include <gcrypt.h>

#include <benchmark/benchmark.h>

#include <array>
#include <string>
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
BENCHMARK(BM_DeriveKeys)
    ->Args({200000, 16})
    ->Args({200000, 32})
    ->Args({20000, 16})
    ->Args({20000, 32})
    ->Unit(benchmark::kMillisecond);

// libgcrypt's PBKDF2 on the same inputs, for comparison.
void BM_GcryKdfDerive(benchmark::State& state)
{
    crypto::EnsureGcrypt();
    const std::string password = "photo.jpg|correct horse";
    const std::array<std::uint8_t, 16> salt{1, 2, 3};
    std::vector<std::uint8_t> out(static_cast<std::size_t>(state.range(1)) + 32);
    for (auto _ : state) {
        if (gcry_kdf_derive(password.data(), password.size(), GCRY_KDF_PBKDF2, GCRY_MD_SHA256, salt.data(), salt.size(),
                            static_cast<unsigned long>(state.range(0)), out.size(), out.data()) != 0) {
            state.SkipWithError("gcry_kdf_derive failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_GcryKdfDerive)->Args({200000, 16})->Args({200000, 32})->Unit(benchmark::kMillisecond);

// arg: 0 portable, 1 SHA-NI. Each compression waits on the one before, as in a PBKDF2 chain;
// a derivation of two output blocks at 200000 iterations is 800000 of these.
void BM_Sha256Compress(benchmark::State& state)
{
    const auto impl = static_cast<crypto::Sha256Impl>(state.range(0));
    state.SetLabel(impl == crypto::Sha256Impl::ShaNi ? "sha-ni" : "portable");
    if (!crypto::Sha256ImplSupported(impl)) {
        state.SkipWithError("not supported on this processor");
        return;
    }
    crypto::Sha256State chain = crypto::kSha256InitialState;
    const crypto::Sha256Block block{0x61626380, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 24};
    for (auto _ : state) {
        crypto::Sha256Compress(impl, chain, block);
        benchmark::DoNotOptimize(chain);
    }
}
BENCHMARK(BM_Sha256Compress)->Arg(0)->Arg(1);

// Two chains per call, as PBKDF2 runs its two output blocks.
void BM_Sha256Compress2(benchmark::State& state)
{
    const auto impl = static_cast<crypto::Sha256Impl>(state.range(0));
    state.SetLabel(impl == crypto::Sha256Impl::ShaNi ? "sha-ni" : "portable");
    if (!crypto::Sha256ImplSupported(impl)) {
        state.SkipWithError("not supported on this processor");
        return;
    }
    crypto::Sha256State chain0 = crypto::kSha256InitialState, chain1 = crypto::kSha256InitialState;
    const crypto::Sha256Block block{0x61626380, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 24};
    for (auto _ : state) {
        crypto::Sha256Compress2(impl, chain0, block, chain1, block);
        benchmark::DoNotOptimize(chain0);
        benchmark::DoNotOptimize(chain1);
    }
}
BENCHMARK(BM_Sha256Compress2)->Arg(0)->Arg(1);

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
