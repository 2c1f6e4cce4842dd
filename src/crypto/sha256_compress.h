#pragma once

#include <array>
#include <cstdint>
#include <span>

// The SHA-256 block function (FIPS 180-4 6.2.2) on its own, for loops such as PBKDF2 that
// reuse intermediate states and so cannot go through a whole-message hash interface.
namespace quillix::crypto {

enum class Sha256Impl {
    Portable,
    ShaNi,  // x86 SHA extensions
};

using Sha256State = std::array<std::uint32_t, 8>;
// A message block read as sixteen big-endian words, so that a digest can be fed back as
// message words without going through bytes.
using Sha256Block = std::array<std::uint32_t, 16>;

inline constexpr Sha256State kSha256InitialState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// Whether this processor can run `impl`; Portable always can.
bool Sha256ImplSupported(Sha256Impl impl);

// The implementation used where the caller names none: the fastest supported one, unless a
// Sha256ImplPin is alive.
Sha256Impl Sha256SelectedImpl();

// Makes Sha256SelectedImpl return `impl` while it lives, so tests can run whole algorithms over
// each implementation. `impl` must be supported. Pins do not nest and are not thread-safe.
class Sha256ImplPin {
public:
    explicit Sha256ImplPin(Sha256Impl impl);
    ~Sha256ImplPin();
    Sha256ImplPin(const Sha256ImplPin&) = delete;
    Sha256ImplPin& operator=(const Sha256ImplPin&) = delete;
};

// Compresses one block into `state`. `impl` must be supported.
void Sha256Compress(Sha256Impl impl, Sha256State& state, const Sha256Block& block);

// Two independent compressions. Each SHA-NI round waits on the one before, so interleaving two
// chains fills the gaps and costs little more than one.
void Sha256Compress2(Sha256Impl impl, Sha256State& state0, const Sha256Block& block0, Sha256State& state1,
                     const Sha256Block& block1);

// Big-endian loading and storing between bytes and words.
Sha256Block Sha256LoadBlock(std::span<const std::uint8_t, 64> bytes);
void Sha256StoreState(const Sha256State& state, std::span<std::uint8_t, 32> bytes);

// Whole-message SHA-256 over one implementation, able to resume from a state that has already
// absorbed whole blocks (an HMAC pad, say). Wipes its buffer and state when it goes.
class Sha256Hasher {
public:
    explicit Sha256Hasher(Sha256Impl impl) : Sha256Hasher(impl, kSha256InitialState, 0) {}
    // `absorbedBlocks` blocks went into `state` already; they count towards the length.
    Sha256Hasher(Sha256Impl impl, const Sha256State& state, std::uint64_t absorbedBlocks);
    ~Sha256Hasher();
    Sha256Hasher(const Sha256Hasher&) = delete;
    Sha256Hasher& operator=(const Sha256Hasher&) = delete;

    void Update(std::span<const std::uint8_t> data);
    // Pads and returns the digest as state words; call once.
    Sha256State Final();

private:
    Sha256Impl impl_;
    Sha256State state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::uint64_t length_;
};

}  // namespace quillix::crypto
