#include "crypto/sha256_compress.h"
#include "support/hex.h"

#include <gcrypt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

namespace quillix::crypto {
namespace {

using test::ToHex;

// A fixed seed, so that a failing case comes back on the next run.
std::mt19937 MakeRandom()
{
    return std::mt19937(20240611);
}

template <std::size_t N> std::array<std::uint32_t, N> RandomWords(std::mt19937& random)
{
    std::array<std::uint32_t, N> words{};
    for (std::uint32_t& w : words)
        w = static_cast<std::uint32_t>(random());
    return words;
}

std::vector<std::uint8_t> RandomBytes(std::mt19937& random, std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

std::string Digest(Sha256State state)
{
    std::array<std::uint8_t, 32> bytes{};
    Sha256StoreState(state, bytes);
    return ToHex(bytes);
}

class Sha256ByImpl : public testing::TestWithParam<Sha256Impl> {
protected:
    void SetUp() override
    {
        if (!Sha256ImplSupported(GetParam())) GTEST_SKIP() << "this processor lacks the SHA extensions";
    }
};

TEST_P(Sha256ByImpl, AgreesWithPortableOnRandomStatesAndBlocks)
{
    std::mt19937 random = MakeRandom();
    for (int round = 0; round < 200; ++round) {
        const Sha256Block block = RandomWords<16>(random);
        Sha256State ours = RandomWords<8>(random);
        Sha256State reference = ours;
        Sha256Compress(GetParam(), ours, block);
        Sha256Compress(Sha256Impl::Portable, reference, block);
        ASSERT_EQ(ours, reference) << "round " << round;
    }
}

TEST_P(Sha256ByImpl, PairedCompressionKeepsTheTwoApart)
{
    std::mt19937 random = MakeRandom();
    for (int round = 0; round < 50; ++round) {
        const Sha256Block block0 = RandomWords<16>(random), block1 = RandomWords<16>(random);
        Sha256State paired0 = RandomWords<8>(random), paired1 = RandomWords<8>(random);
        Sha256State single0 = paired0, single1 = paired1;
        Sha256Compress2(GetParam(), paired0, block0, paired1, block1);
        Sha256Compress(GetParam(), single0, block0);
        Sha256Compress(GetParam(), single1, block1);
        ASSERT_EQ(paired0, single0) << "round " << round;
        ASSERT_EQ(paired1, single1) << "round " << round;
    }
}

TEST_P(Sha256ByImpl, HasherMatchesLibgcryptAroundBlockAndPaddingEdges)
{
    std::mt19937 random = MakeRandom();
    // Every length up to three blocks covers a padding that fits, one that spills into a
    // further block (56..63 bytes over a block) and whole blocks.
    for (std::size_t size = 0; size <= 200; ++size) {
        const std::vector<std::uint8_t> message = RandomBytes(random, size);
        std::array<std::uint8_t, 32> expected{};
        gcry_md_hash_buffer(GCRY_MD_SHA256, expected.data(), message.data(), message.size());

        Sha256Hasher whole(GetParam());
        whole.Update(message);
        EXPECT_EQ(Digest(whole.Final()), ToHex(expected)) << "size " << size;

        // Uneven pieces exercise the partial-buffer path.
        Sha256Hasher pieces(GetParam());
        for (std::size_t at = 0; at < size;) {
            const std::size_t n = std::min<std::size_t>(size - at, 1 + random() % 70);
            pieces.Update(std::span(message).subspan(at, n));
            at += n;
        }
        EXPECT_EQ(Digest(pieces.Final()), ToHex(expected)) << "size " << size << " in pieces";

        // Resuming after the first block must count that block in the length.
        if (size >= 64) {
            Sha256State state = kSha256InitialState;
            Sha256Compress(GetParam(), state, Sha256LoadBlock(std::span(message).first<64>()));
            Sha256Hasher resumed(GetParam(), state, 1);
            resumed.Update(std::span(message).subspan(64));
            EXPECT_EQ(Digest(resumed.Final()), ToHex(expected)) << "size " << size << " resumed";
        }
    }
}

std::string ImplName(const testing::TestParamInfo<Sha256Impl>& param)
{
    return param.param == Sha256Impl::ShaNi ? "ShaNi" : "Portable";
}

INSTANTIATE_TEST_SUITE_P(Impls, Sha256ByImpl, testing::Values(Sha256Impl::Portable, Sha256Impl::ShaNi), ImplName);

TEST(Sha256Selection, FollowsThePin)
{
    const Sha256Impl fastest = Sha256ImplSupported(Sha256Impl::ShaNi) ? Sha256Impl::ShaNi : Sha256Impl::Portable;
    EXPECT_EQ(Sha256SelectedImpl(), fastest);
    {
        Sha256ImplPin pin(Sha256Impl::Portable);
        EXPECT_EQ(Sha256SelectedImpl(), Sha256Impl::Portable);
    }
    EXPECT_EQ(Sha256SelectedImpl(), fastest);
}

}  // namespace
}  // namespace quillix::crypto
