#include "common/unique_fd.h"
#include "container/strong_container.h"
#include "container/strong_format.h"
#include "container/strong_keys.h"
#include "fuzz_driver.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using namespace quillix::container;
using quillix::Result;

constexpr const char* kPassword = "fuzz";

// Three messages: two full chunks and a short final one.
const std::vector<std::uint8_t>& PlainBytes()
{
    static const std::vector<std::uint8_t> plain = [] {
        std::mt19937 rng(20261211);
        std::vector<std::uint8_t> bytes(2 * kStrongChunkSize + 8928);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(rng());
        return bytes;
    }();
    return plain;
}

quillix::UniqueFd FileHolding(std::span<const std::uint8_t> bytes)
{
    quillix::UniqueFd fd(::memfd_create("strong-fuzz", 0));
    if (!fd || ::write(fd.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) __builtin_trap();
    return fd;
}

// The fewest passes and the least memory a header may ask for: every forgery that reaches the key
// derivation costs microseconds, not a 64 MiB Argon2id run.
const std::vector<std::uint8_t>& Genuine()
{
    static const std::vector<std::uint8_t> sealed = [] {
        Result<StrongHeader> header = NewStrongHeader(kPassword);
        if (!header) __builtin_trap();
        header.value().passes = kStrongMinPasses;
        header.value().memoryKiB = kStrongMinMemoryKiB;
        Result<StrongKey> key = StrongKeyOf(header.value(), kPassword);
        if (!key) __builtin_trap();
        const quillix::UniqueFd in = FileHolding(PlainBytes());
        const quillix::UniqueFd out(::memfd_create("strong-fuzz-out", 0));
        if (!WriteStrongContainer(in.get(), PlainBytes().size(), out.get(), header.value(), key.value(), nullptr,
                                  "plain", "sealed"))
            __builtin_trap();
        std::vector<std::uint8_t> bytes(StrongContainerLength(PlainBytes().size()));
        if (::pread(out.get(), bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) __builtin_trap();
        return bytes;
    }();
    return sealed;
}

// Whether `bytes` open as a strong container under the password, and what they give.
bool Opens(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& plain)
{
    const quillix::UniqueFd fd = FileHolding(bytes);
    Result<StrongLayout> layout = ReadStrongHeader(fd.get());
    if (!layout) return false;
    Result<StrongKey> key = StrongKeyOf(layout.value().header, kPassword);
    if (!key) return false;
    // A forged salt is a new cache entry: keep the cache from growing over a long run.
    ClearStrongKeys();
    plain.resize(static_cast<std::size_t>(layout.value().plainLength));
    return ReadStrongBodyInto(fd.get(), layout.value(), key.value(), plain).ok();
}

// The input as an edit of the genuine container: byte 0 cuts bytes from its end (the high bit
// in steps that reach every message boundary), then each four bytes XOR one byte at a 24-bit
// offset. Passes and memory are left alone: the stream authenticates them like any header
// byte, and changed ones only make the run slow.
std::vector<std::uint8_t> Forge(std::span<const std::uint8_t> edits)
{
    std::vector<std::uint8_t> forged = Genuine();
    const std::size_t cut = std::size_t{edits[0] & 0x7fu} * ((edits[0] & 0x80u) ? 1117 : 1);
    forged.resize(forged.size() - std::min(cut, forged.size()));
    if (forged.empty()) return forged;
    for (std::size_t i = 1; i + 4 <= edits.size(); i += 4) {
        const std::size_t at =
            (std::size_t{edits[i]} << 16 | std::size_t{edits[i + 1]} << 8 | edits[i + 2]) % forged.size();
        if (at >= 8 && at < 16) continue;
        forged[at] ^= edits[i + 3];
    }
    return forged;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    // Any bytes as a strong container: checking them never crashes and allocates nothing they
    // ask for; a header parses and serialises back to the same bytes.
    (void)ValidateStrongContainer(size, input.first(std::min(size, kStrongHeaderSize)));
    if (size >= kStrongHeaderSize) {
        const auto head = input.first<kStrongHeaderSize>();
        const StrongHeaderBytes again = SerializeStrongHeader(ParseStrongHeader(head));
        if (!std::equal(again.begin(), again.end(), data)) __builtin_trap();
        (void)StrongHeaderInfoText(head);
    }

    // The same bytes as a forgery of the genuine container: only the genuine bytes open, and
    // they give the genuine plain bytes.
    if (size == 0) return 0;
    const std::vector<std::uint8_t> forged = Forge(input);
    std::vector<std::uint8_t> plain;
    const bool opened = Opens(forged, plain);
    if (opened && (forged != Genuine() || plain != PlainBytes())) __builtin_trap();
    if (!opened && forged == Genuine()) __builtin_trap();
    return 0;
}

#ifndef QUILLIX_LIBFUZZER
int main(int argc, char** argv)
{
    const std::vector<std::vector<std::uint8_t>> seeds = {
        Genuine(), {0x00, 0x00, 0x00, 0x40, 0x01}, {0x81}, {0x00, 0x00, 0x00, 0x05, 0x02}};
    if (quillix::test::WriteSeeds(argc, argv, seeds)) return 0;
    if (quillix::test::ReplayFiles(argc, argv)) return 0;

    // Seeded mutations of a real container, then random forgeries of one to four bytes and cuts
    // at and around each message boundary.
    std::mt19937 rng(20261211);
    const std::vector<std::uint8_t>& base = Genuine();
    for (int round = 0; round < 300; ++round) {
        const std::vector<std::uint8_t> m = quillix::test::Mutate(base, rng, kStrongHeaderSize);
        LLVMFuzzerTestOneInput(m.data(), m.size());
    }
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> edits{static_cast<std::uint8_t>(rng() % 4 == 0 ? rng() : 0)};
        for (std::size_t n = 1 + rng() % 4; n > 0; --n) {
            const std::size_t at = rng() % base.size();
            edits.insert(edits.end(), {static_cast<std::uint8_t>(at >> 16), static_cast<std::uint8_t>(at >> 8),
                                       static_cast<std::uint8_t>(at), static_cast<std::uint8_t>(1 + rng() % 255)});
        }
        LLVMFuzzerTestOneInput(edits.data(), edits.size());
    }
    std::puts("strong_fuzz: all inputs handled");
    return 0;
}
#endif
