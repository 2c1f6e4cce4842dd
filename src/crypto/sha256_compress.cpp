#include "crypto/sha256_compress.h"

#include "crypto/secure.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <optional>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define QUILLIX_HAVE_SHA_NI 1
#endif

namespace quillix::crypto {
namespace {

// FIPS 180-4 4.2.2. Aligned for SHA-NI, which loads four at a time.
alignas(16) constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

void CompressPortable(Sha256State& state, const Sha256Block& block)
{
    // Sixteen words of schedule are live at any time, so the array wraps instead of holding 64.
    // Unrolled, the ring's indices are constants and the a..h shuffle is register renaming
    // (about 15% faster).
    std::array<std::uint32_t, 16> w = block;
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
#pragma GCC unroll 64
    for (int t = 0; t < 64; ++t) {
        if (t >= 16) {
            const std::uint32_t w15 = w[(t - 15) & 15], w2 = w[(t - 2) & 15];
            const std::uint32_t s0 = std::rotr(w15, 7) ^ std::rotr(w15, 18) ^ (w15 >> 3);
            const std::uint32_t s1 = std::rotr(w2, 17) ^ std::rotr(w2, 19) ^ (w2 >> 10);
            w[t & 15] += s0 + w[(t - 7) & 15] + s1;
        }
        const std::uint32_t t1 =
            h + (std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[t] + w[t & 15];
        const std::uint32_t t2 =
            (std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
    SecureWipe(w.data(), sizeof w);
}

#ifdef QUILLIX_HAVE_SHA_NI

// The instructions keep the state as {A,B,E,F} and {C,D,G,H}, highest lane first.
[[gnu::target("sha,sse4.1")]] inline void ShaNiLoadState(const Sha256State& state, __m128i& abef, __m128i& cdgh)
{
    const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xb1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1b);
    abef = _mm_alignr_epi8(cdab, efgh, 8);
    cdgh = _mm_blend_epi16(efgh, cdab, 0xf0);
}

[[gnu::target("sha,sse4.1")]] inline void ShaNiStoreState(__m128i abef, __m128i cdgh, Sha256State& state)
{
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1b);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xb1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xf0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}

// N independent compressions with their rounds interleaved. Step g does rounds 4g..4g+3; its
// four message words come from the four groups before, kept in a ring that stays in registers
// only if the loops unroll.
template <std::size_t N>
[[gnu::target("sha,sse4.1")]] void CompressShaNi(const std::array<Sha256State*, N>& states,
                                                 const std::array<const Sha256Block*, N>& blocks)
{
    __m128i abef[N], cdgh[N], abefIn[N], cdghIn[N], w[N][4];
    for (std::size_t i = 0; i < N; ++i) {
        ShaNiLoadState(*states[i], abef[i], cdgh[i]);
        abefIn[i] = abef[i];
        cdghIn[i] = cdgh[i];
    }
#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
        const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(&kRound[4 * g]));
        for (std::size_t i = 0; i < N; ++i) {
            __m128i& cur = w[i][g & 3];
            if (g < 4) {
                cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks[i]->data() + 4 * g));
            } else {
                const __m128i last = w[i][(g + 3) & 3];
                const __m128i w7 = _mm_alignr_epi8(last, w[i][(g + 2) & 3], 4);
                cur = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(cur, w[i][(g + 1) & 3]), w7), last);
            }
            const __m128i wk = _mm_add_epi32(cur, k);
            cdgh[i] = _mm_sha256rnds2_epu32(cdgh[i], abef[i], wk);
            abef[i] = _mm_sha256rnds2_epu32(abef[i], cdgh[i], _mm_shuffle_epi32(wk, 0x0e));
        }
    }
    for (std::size_t i = 0; i < N; ++i)
        ShaNiStoreState(_mm_add_epi32(abef[i], abefIn[i]), _mm_add_epi32(cdgh[i], cdghIn[i]), *states[i]);
}

bool CpuHasShaNi()
{
    // Asked of the processor directly: clang's __builtin_cpu_supports does not know "sha".
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool sse41 = (ecx & bit_SSE4_1) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return sse41 && (ebx & bit_SHA) != 0;
}

#else

bool CpuHasShaNi()
{
    return false;
}

#endif

std::optional<Sha256Impl> pinned;

void CompressBytes(Sha256Impl impl, Sha256State& state, std::span<const std::uint8_t, 64> bytes)
{
    Sha256Block block = Sha256LoadBlock(bytes);
    Sha256Compress(impl, state, block);
    SecureWipe(block.data(), sizeof block);
}

}  // namespace

bool Sha256ImplSupported(Sha256Impl impl)
{
    static const bool shaNi = CpuHasShaNi();
    return impl == Sha256Impl::Portable || (impl == Sha256Impl::ShaNi && shaNi);
}

Sha256Impl Sha256SelectedImpl()
{
    if (pinned) return *pinned;
    return Sha256ImplSupported(Sha256Impl::ShaNi) ? Sha256Impl::ShaNi : Sha256Impl::Portable;
}

Sha256ImplPin::Sha256ImplPin(Sha256Impl impl)
{
    // Running instructions the processor lacks would kill the process with SIGILL; better to
    // say so where the mistake is.
    if (!Sha256ImplSupported(impl)) std::abort();
    pinned = impl;
}

Sha256ImplPin::~Sha256ImplPin()
{
    pinned.reset();
}

void Sha256Compress(Sha256Impl impl, Sha256State& state, const Sha256Block& block)
{
#ifdef QUILLIX_HAVE_SHA_NI
    if (impl == Sha256Impl::ShaNi) return CompressShaNi<1>({&state}, {&block});
#endif
    (void)impl;
    CompressPortable(state, block);
}

void Sha256Compress2(Sha256Impl impl, Sha256State& state0, const Sha256Block& block0, Sha256State& state1,
                     const Sha256Block& block1)
{
#ifdef QUILLIX_HAVE_SHA_NI
    if (impl == Sha256Impl::ShaNi) return CompressShaNi<2>({&state0, &state1}, {&block0, &block1});
#endif
    (void)impl;
    CompressPortable(state0, block0);
    CompressPortable(state1, block1);
}

Sha256Block Sha256LoadBlock(std::span<const std::uint8_t, 64> bytes)
{
    Sha256Block block;
    for (std::size_t i = 0; i < block.size(); ++i) {
        const std::uint8_t* p = bytes.data() + 4 * i;
        block[i] = std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    }
    return block;
}

void Sha256StoreState(const Sha256State& state, std::span<std::uint8_t, 32> bytes)
{
    for (std::size_t i = 0; i < state.size(); ++i) {
        bytes[4 * i] = std::uint8_t(state[i] >> 24);
        bytes[4 * i + 1] = std::uint8_t(state[i] >> 16);
        bytes[4 * i + 2] = std::uint8_t(state[i] >> 8);
        bytes[4 * i + 3] = std::uint8_t(state[i]);
    }
}

Sha256Hasher::Sha256Hasher(Sha256Impl impl, const Sha256State& state, std::uint64_t absorbedBlocks)
    : impl_(impl), state_(state), length_(absorbedBlocks * 64)
{
}

Sha256Hasher::~Sha256Hasher()
{
    SecureWipe(state_.data(), sizeof state_);
    SecureWipe(buffer_.data(), sizeof buffer_);
}

void Sha256Hasher::Update(std::span<const std::uint8_t> data)
{
    std::size_t used = length_ % 64;
    length_ += data.size();
    if (used != 0) {
        const std::size_t n = std::min(data.size(), 64 - used);
        std::copy_n(data.begin(), n, buffer_.begin() + static_cast<std::ptrdiff_t>(used));
        data = data.subspan(n);
        if (used + n < 64) return;
        CompressBytes(impl_, state_, buffer_);
    }
    for (; data.size() >= 64; data = data.subspan(64))
        CompressBytes(impl_, state_, data.first<64>());
    std::copy(data.begin(), data.end(), buffer_.begin());
}

Sha256State Sha256Hasher::Final()
{
    const std::uint64_t bits = length_ * 8;
    std::size_t used = length_ % 64;
    buffer_[used++] = 0x80;
    if (used > 56) {
        std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(used), buffer_.end(), 0);
        CompressBytes(impl_, state_, buffer_);
        used = 0;
    }
    std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(used), buffer_.begin() + 56, 0);
    for (int i = 0; i < 8; ++i)
        buffer_[56 + static_cast<std::size_t>(i)] = std::uint8_t(bits >> (56 - 8 * i));
    CompressBytes(impl_, state_, buffer_);
    return state_;
}

}  // namespace quillix::crypto
