#include "container/container_format.h"
#include "container/sealed_container.h"
#include "fuzz_driver.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using namespace quillix::container;

constexpr const char* kPassword = "fuzz";

const std::vector<std::uint8_t>& PlainBytes()
{
    static const std::vector<std::uint8_t> plain = [] {
        std::mt19937 rng(20261210);
        std::vector<std::uint8_t> bytes(3000);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(rng());
        return bytes;
    }();
    return plain;
}

// One genuine container per cipher, the first KiB encrypted and the rest only authenticated.
const std::vector<std::uint8_t>& Genuine(int alg)
{
    static const std::array<std::vector<std::uint8_t>, 4> sealed = [] {
        std::array<std::vector<std::uint8_t>, 4> made;
        for (int a = 0; a < 4; ++a) {
            auto result = SealContainer(PlainBytes(), kPassword, "f.jpg", {a, true, 1});
            if (!result) __builtin_trap();
            made[static_cast<std::size_t>(a)] = std::move(result.value());
        }
        return made;
    }();
    return sealed[static_cast<std::size_t>(alg)];
}

// The input as an edit of a genuine container: byte 0 picks the cipher (low two bits) and how
// many bytes to cut from the end (the rest), then each three bytes XOR one byte at a 16-bit
// offset. The iteration count is left alone: the MAC covers it like any other header byte,
// and a changed one only makes the run slow.
std::vector<std::uint8_t> Forge(std::span<const std::uint8_t> edits, int& alg)
{
    alg = edits[0] & 3;
    std::vector<std::uint8_t> forged = Genuine(alg);
    forged.resize(forged.size() - (edits[0] >> 2));
    for (std::size_t i = 1; i + 3 <= edits.size(); i += 3) {
        const std::size_t at = (std::size_t{edits[i]} << 8 | edits[i + 1]) % forged.size();
        if (at >= 8 && at < 12) continue;
        forged[at] ^= edits[i + 2];
    }
    return forged;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    // Any bytes as a container: parsing and serialising a header give back the same bytes, and
    // opening one never crashes.
    if (size >= kHeaderSize) {
        const HeaderBytes again = SerializeContainerHeader(ParseContainerHeader(input.first<kHeaderSize>()));
        if (!std::equal(again.begin(), again.end(), data)) __builtin_trap();
    }
    (void)OpenContainer({input.begin(), input.end()}, kPassword);

    // The same bytes as a forgery of a genuine container: whatever opens is the genuine header
    // and body, so no changed byte under the MAC ever passes it.
    if (size == 0) return 0;
    int alg = 0;
    const std::vector<std::uint8_t> forged = Forge(input, alg);
    const auto opened = OpenContainer(forged, kPassword);
    const std::vector<std::uint8_t>& genuine = Genuine(alg);
    const std::size_t covered = kHeaderSize + PlainBytes().size();
    const bool untouched =
        forged.size() >= covered && std::equal(genuine.begin(), genuine.begin() + covered, forged.begin());
    if (opened.ok() && (!untouched || opened.value() != PlainBytes())) __builtin_trap();
    // The genuine container itself must open, or the check above would hold for nothing.
    if (!opened.ok() && forged == genuine) __builtin_trap();
    return 0;
}

#ifndef QUILLIX_LIBFUZZER
namespace {

std::vector<std::vector<std::uint8_t>> Seeds()
{
    std::vector<std::vector<std::uint8_t>> seeds;
    for (int alg = 0; alg < 4; ++alg) {
        seeds.push_back(Genuine(alg));
        seeds.push_back({static_cast<std::uint8_t>(alg), 0x00, 0x60, 0x01});  // one flipped tag bit
    }
    return seeds;
}

}  // namespace

int main(int argc, char** argv)
{
    if (quillix::test::WriteSeeds(argc, argv, Seeds())) return 0;
    if (quillix::test::ReplayFiles(argc, argv)) return 0;

    // Seeded mutations of real containers (flips, cuts and splices around the header fields),
    // then random forgeries of one to four bytes.
    std::mt19937 rng(20261210);
    for (int alg = 0; alg < 4; ++alg) {
        const std::vector<std::uint8_t>& base = Genuine(alg);
        for (int round = 0; round < 300; ++round) {
            const std::vector<std::uint8_t> m = quillix::test::Mutate(base, rng, 84);
            LLVMFuzzerTestOneInput(m.data(), m.size());
        }
        LLVMFuzzerTestOneInput(base.data(), base.size());
        for (int round = 0; round < 300; ++round) {
            std::vector<std::uint8_t> edits{static_cast<std::uint8_t>(alg | (rng() % 4 == 0 ? (rng() % 64) << 2 : 0))};
            for (std::size_t n = 1 + rng() % 4; n > 0; --n) {
                const std::size_t at = rng() % base.size();
                edits.insert(edits.end(), {static_cast<std::uint8_t>(at >> 8), static_cast<std::uint8_t>(at),
                                           static_cast<std::uint8_t>(1 + rng() % 255)});
            }
            LLVMFuzzerTestOneInput(edits.data(), edits.size());
        }
    }
    std::puts("container_fuzz: all inputs handled");
    return 0;
}
#endif
