#include "container/container_file.h"
#include "container/key_derivation.h"
#include "container/keystream.h"
#include "container/sealed_container.h"
#include "crypto/ciphers.h"
#include "support/hex.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace quillix::container {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Seal(const Bytes& plain, int alg, bool fast = true, std::int64_t maxKiB = 0, const std::string& text = "pw")
{
    auto made = SealContainer(plain, text, "/pics/a.jpg", {alg, fast, maxKiB});
    EXPECT_TRUE(made.ok());
    return made.ok() ? made.value() : Bytes{};
}

TEST(SealedContainer, RoundTripEveryCipherAndMode)
{
    const Bytes plain = test::PseudoRandomBytes(20000);
    for (int alg = 0; alg < 4; ++alg) {
        for (bool fast : {true, false}) {
            SCOPED_TRACE(testing::Message() << "alg " << alg << " fast " << fast);
            const Bytes sealed = Seal(plain, alg, fast);
            ASSERT_EQ(sealed.size(), kHeaderSize + plain.size() + (alg == 0 ? 0 : 7));
            const ContainerHeader h = ParseContainerHeader(std::span(sealed).first<kHeaderSize>());
            EXPECT_EQ(h.alg, alg);
            EXPECT_EQ(h.iters, fast ? 20000u : 200000u);
            EXPECT_EQ(h.encBytes, 0u);
            EXPECT_EQ(MarkerKindOf(sealed), alg);
            EXPECT_NE(Bytes(sealed.begin() + kHeaderSize, sealed.begin() + kHeaderSize + 100),
                      Bytes(plain.begin(), plain.begin() + 100));

            const auto opened = OpenContainer(sealed, "pw");
            ASSERT_TRUE(opened.ok()) << opened.error().message;
            EXPECT_EQ(opened.value(), plain);
            const auto wrong = OpenContainer(sealed, "pW");
            ASSERT_FALSE(wrong.ok());
            EXPECT_EQ(wrong.error().kind, ErrorKind::WrongPassword);
        }
    }
}

// The region is cut into 8192-byte chunks, each XORed with the keystream started afresh from the
// nonce: computed here chunk by chunk with the cipher itself, as a reader without the
// precomputed stream would.
TEST(SealedContainer, PartialRegionChunksRestartTheKeystream)
{
    const Bytes plain = test::PseudoRandomBytes(300000);
    const Bytes sealed = Seal(plain, 3, true, 100);  // 100 KiB: encBytes 102400
    const ContainerHeader h = ParseContainerHeader(std::span(sealed).first<kHeaderSize>());
    ASSERT_EQ(h.encBytes, 102400u);

    std::array<std::uint8_t, 16> enc{};
    std::array<std::uint8_t, 32> mac{};
    ASSERT_TRUE(DeriveKeysCached("pw", h.salt, h.iters, enc, mac));
    crypto::TwofishContext tf;
    crypto::TwofishInit(tf, enc);

    Bytes expected = plain;
    std::size_t chunks = 0;
    for (std::size_t at = 0; at < h.encBytes; at += kChunkSize, ++chunks) {
        const std::size_t n = std::min<std::size_t>(kChunkSize, h.encBytes - at);
        ASSERT_TRUE(crypto::TwofishCtr(tf, std::span(expected).subspan(at, n), h.nonce));
    }
    EXPECT_EQ(chunks, 13u) << "12 full chunks and one of 4096";
    const Bytes body(sealed.begin() + kHeaderSize, sealed.end() - 7);
    EXPECT_EQ(body, expected);
    EXPECT_TRUE(std::equal(plain.begin() + h.encBytes, plain.end(), body.begin() + h.encBytes))
        << "after the region the body is stored plain";

    // The MAC covers the plain tail too.
    Bytes tampered = sealed;
    tampered[kHeaderSize + 250000] ^= 1;
    EXPECT_EQ(OpenContainer(tampered, "pw").error().kind, ErrorKind::WrongPassword);
    EXPECT_EQ(OpenContainer(sealed, "pw").value(), plain);
}

TEST(SealedContainer, KeystreamApplyAtAnyOffset)
{
    std::array<std::uint8_t, 16> key{}, nonce{};
    key[0] = 7;
    auto ks = ContainerKeystream::Make(0, key, nonce);
    ASSERT_TRUE(ks.ok());
    Bytes whole(20000);
    ks.value().Apply(whole, 0, 15000);
    for (std::size_t split :
         {std::size_t{1}, std::size_t{8191}, std::size_t{8192}, std::size_t{8193}, std::size_t{15001}}) {
        Bytes parts(20000);
        ks.value().Apply(std::span(parts).first(split), 0, 15000);
        ks.value().Apply(std::span(parts).subspan(split), split, 15000);
        EXPECT_EQ(parts, whole) << "split at " << split;
    }
    EXPECT_TRUE(std::all_of(whole.begin() + 15000, whole.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(whole.begin() + 8192, whole.begin() + 15000, whole.begin()))
        << "every chunk takes the same keystream";
    EXPECT_FALSE(ContainerKeystream::Make(4, key, nonce).ok());
    EXPECT_FALSE(ContainerKeystream::Make(2, key, nonce).ok()) << "ChaCha20 needs 32 key bytes";
}

TEST(SealedContainer, TamperingTable)
{
    const Bytes plain = test::PseudoRandomBytes(5000);
    const Bytes blowfish = Seal(plain, 1);
    struct Row {
        const char* what;
        std::function<void(Bytes&)> change;
        bool opens;
        ErrorKind kind;
    };
    const auto flip = [](std::size_t at) { return [at](Bytes& b) { b[at] ^= 0x01; }; };
    const auto replaceMarker = [](const char* marker) {
        return [marker](Bytes& b) { std::memcpy(b.data() + b.size() - 7, marker, 7); };
    };
    const std::vector<Row> rows = {
        {"unchanged", [](Bytes&) {}, true, {}},
        {"first body byte", flip(kHeaderSize), false, ErrorKind::WrongPassword},
        {"last body byte", flip(kHeaderSize + plain.size() - 1), false, ErrorKind::WrongPassword},
        {"reserved byte", flip(6), false, ErrorKind::WrongPassword},
        {"iteration count", flip(8), false, ErrorKind::WrongPassword},
        {"salt", flip(12), false, ErrorKind::WrongPassword},
        {"nonce", flip(43), false, ErrorKind::WrongPassword},
        {"encBytes", flip(44), false, ErrorKind::WrongPassword},
        {"first tag byte", flip(48), false, ErrorKind::WrongPassword},
        {"last tag byte", flip(79), false, ErrorKind::WrongPassword},
        {"magic", flip(0), false, ErrorKind::BadHeader},
        {"version", flip(4), false, ErrorKind::BadHeader},
        {"cipher 1 to 0", flip(5), false, ErrorKind::WrongPassword},
        {"header size", flip(80), false, ErrorKind::BadHeader},
        {"marker removed", [](Bytes& b) { b.resize(b.size() - 7); }, true, {}},
        {"marker says ChaCha20", replaceMarker("$$$C$$$"), true, {}},
        {"marker says Twofish", replaceMarker("$$$T$$$"), true, {}},
        {"marker replaced by other bytes", replaceMarker("1234567"), false, ErrorKind::WrongPassword},
        {"cut inside the body", [](Bytes& b) { b.resize(kHeaderSize + 100); }, false, ErrorKind::WrongPassword},
        {"cut after the header", [](Bytes& b) { b.resize(kHeaderSize); }, false, ErrorKind::Truncated},
        {"cut inside the tag", [](Bytes& b) { b.resize(60); }, false, ErrorKind::Truncated},
        {"cut inside the salt", [](Bytes& b) { b.resize(20); }, false, ErrorKind::Truncated},
        {"empty", [](Bytes& b) { b.clear(); }, false, ErrorKind::Truncated},
    };
    for (const Row& row : rows) {
        Bytes b = blowfish;
        row.change(b);
        const auto opened = OpenContainer(b, "pw");
        EXPECT_EQ(opened.ok(), row.opens) << row.what;
        if (row.opens && opened.ok()) {
            EXPECT_EQ(opened.value(), plain) << row.what;
        }
        if (!row.opens && !opened.ok()) {
            EXPECT_EQ(opened.error().kind, row.kind) << row.what;
        }
    }
}

TEST(SealedContainer, EmptyPlainFileMakesAnUnreadableContainer)
{
    for (int alg : {0, 2}) {
        const Bytes sealed = Seal({}, alg);
        EXPECT_EQ(sealed.size(), alg == 0 ? 84u : 91u);
        EXPECT_EQ(OpenContainer(sealed, "pw").error().kind, ErrorKind::Truncated);
    }
}

TEST(SealedContainer, NoncesDifferSaltsFollowTheMode)
{
    const Bytes plain = test::PseudoRandomBytes(100);
    const auto header = [](const Bytes& b) { return ParseContainerHeader(std::span(b).first<kHeaderSize>()); };
    const ContainerHeader f1 = header(Seal(plain, 0, true)), f2 = header(Seal(plain, 0, true));
    EXPECT_NE(f1.nonce, f2.nonce);
    EXPECT_EQ(f1.salt, f2.salt) << "fast mode: the salt comes from the name";
    const ContainerHeader n1 = header(Seal(plain, 0, false)), n2 = header(Seal(plain, 0, false));
    EXPECT_NE(n1.nonce, n2.nonce);
    EXPECT_NE(n1.salt, n2.salt);
}

TEST(SealedContainer, FileNameInThePasswordBindsTheName)
{
    const Bytes plain = test::PseudoRandomBytes(300);
    const std::string text = BuildPasswordText("/p/$a.jpg", "pw", true);
    const Bytes sealed = Seal(plain, 2, true, 0, text);
    EXPECT_TRUE(OpenContainer(sealed, BuildPasswordText("/p/$a.jpg", "pw", true)).ok());
    EXPECT_EQ(OpenContainer(sealed, BuildPasswordText("/p/$b.jpg", "pw", true)).error().kind, ErrorKind::WrongPassword)
        << "renamed container";
    EXPECT_FALSE(OpenContainer(sealed, BuildPasswordText("/p/$a.jpg", "pw", false)).ok()) << "option switched";
}

TEST(SealedContainer, OpeningTwiceDerivesOnce)
{
    const Bytes sealed = Seal(test::PseudoRandomBytes(300), 0, true);
    ClearKeyCache();
    const std::uint64_t before = KeyDerivationCount();
    ASSERT_TRUE(OpenContainer(sealed, "pw").ok());
    ASSERT_TRUE(OpenContainer(sealed, "pw").ok());
    EXPECT_EQ(KeyDerivationCount() - before, 1u);
    ClearKeyCache();
    ASSERT_TRUE(OpenContainer(sealed, "pw").ok());
    EXPECT_EQ(KeyDerivationCount() - before, 2u);
}

}  // namespace
}  // namespace quillix::container
