#include "container/container_format.h"
#include "container/keystream.h"
#include "container/sealed_container.h"
#include "crypto/ciphers.h"
#include "support/hex.h"
#include "support/reference_blowfish.h"
#include "support/temp_dir.h"

#include <gcrypt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

// One container per cipher, made once by quillix-crypt and kept in tests/container/data (see its
// README): a change of the format made on both the writing and the reading side still fails here.
namespace quillix::container {
namespace {

constexpr const char* kPassword = "known answer";
constexpr std::size_t kChunk = 8192;

struct Known {
    const char* file;
    const char* madeFrom;  // the plain file's name, which gave the fast mode's salt
    int alg;
    const char* marker;
};
const Known kKnown[] = {
    {"known-aes.qlx", "known-aes.bin", crypto::CipherAes, ""},
    {"known-blowfish.qlx", "known-blowfish.bin", crypto::CipherBlowfish, "$$$B$$$"},
    {"known-chacha20.qlx", "known-chacha20.bin", crypto::CipherChaCha20, "$$$C$$$"},
    {"known-twofish.qlx", "known-twofish.bin", crypto::CipherTwofish, "$$$T$$$"},
};

// Plain byte i is (i × 7) mod 251; 9000 bytes, so that the keystream restarts once.
std::vector<std::uint8_t> KnownPlain()
{
    std::vector<std::uint8_t> plain(9000);
    for (std::size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<std::uint8_t>(i * 7 % 251);
    return plain;
}

std::vector<std::uint8_t> Stored(const Known& known)
{
    return test::ReadFile(std::string(QUILLIX_KNOWN_ANSWERS) + "/" + known.file);
}

ContainerHeader HeaderOf(const std::vector<std::uint8_t>& container)
{
    return ParseContainerHeader(std::span(container).first<kHeaderSize>());
}

// A block cipher of libgcrypt in ECB, applied to counter blocks as the format counts them.
std::vector<std::uint8_t> EcbCounterStream(int algo, std::span<const std::uint8_t> key,
                                           std::span<const std::uint8_t, 16> nonce, bool lowWordOnly)
{
    gcry_cipher_hd_t handle = nullptr;
    std::vector<std::uint8_t> stream(kChunk);
    if (gcry_cipher_open(&handle, algo, GCRY_CIPHER_MODE_ECB, 0) != 0) return {};
    std::array<std::uint8_t, 16> counter{};
    std::copy(nonce.begin(), nonce.end(), counter.begin());
    bool ok = gcry_cipher_setkey(handle, key.data(), key.size()) == 0;
    for (std::size_t at = 0; ok && at < kChunk; at += 16) {
        ok = gcry_cipher_encrypt(handle, stream.data() + at, 16, counter.data(), 16) == 0;
        // Big-endian increment over the last 4 bytes, or over all 16.
        for (std::size_t i = 16; i-- > (lowWordOnly ? 12u : 0u);)
            if (++counter[i] != 0) break;
    }
    gcry_cipher_close(handle);
    return ok ? stream : std::vector<std::uint8_t>{};
}

// The 8192 keystream bytes every chunk of the body is XORed with, computed apart from the program.
std::vector<std::uint8_t> ReferenceStream(int alg, std::span<const std::uint8_t> key,
                                          std::span<const std::uint8_t, 16> nonce)
{
    switch (alg) {
    case crypto::CipherAes: return EcbCounterStream(GCRY_CIPHER_AES128, key, nonce, true);
    case crypto::CipherTwofish: return EcbCounterStream(GCRY_CIPHER_TWOFISH128, key, nonce, false);
    case crypto::CipherBlowfish: {
        std::vector<std::uint8_t> stream(kChunk);
        test::ReferenceBlowfish(key).XorCounterStream(stream, nonce.first(8));
        return stream;
    }
    case crypto::CipherChaCha20: {
        // RFC 8439 ChaCha20 keyed by the first half of the derived key and the whole nonce, with
        // the first 12 nonce bytes as its nonce.
        std::array<std::uint8_t, 32> chachaKey{};
        std::copy_n(key.begin(), 16, chachaKey.begin());
        std::copy(nonce.begin(), nonce.end(), chachaKey.begin() + 16);
        gcry_cipher_hd_t handle = nullptr;
        std::vector<std::uint8_t> stream(kChunk);
        if (gcry_cipher_open(&handle, GCRY_CIPHER_CHACHA20, GCRY_CIPHER_MODE_STREAM, 0) != 0) return {};
        const bool ok = gcry_cipher_setkey(handle, chachaKey.data(), chachaKey.size()) == 0 &&
                        gcry_cipher_setiv(handle, nonce.data(), 12) == 0 &&
                        gcry_cipher_encrypt(handle, stream.data(), stream.size(), nullptr, 0) == 0;
        gcry_cipher_close(handle);
        return ok ? stream : std::vector<std::uint8_t>{};
    }
    default: return {};
    }
}

TEST(KnownAnswerContainers, EachCipherOpensToTheKnownBytes)
{
    for (const Known& known : kKnown) {
        SCOPED_TRACE(known.file);
        const std::vector<std::uint8_t> stored = Stored(known);
        const std::size_t markerLength = std::strlen(known.marker);
        ASSERT_EQ(stored.size(), kHeaderSize + 9000 + markerLength);
        const ContainerHeader header = HeaderOf(stored);
        EXPECT_EQ(std::string(header.magic.begin(), header.magic.end()), "QLX1");
        EXPECT_EQ(header.version, 2);
        EXPECT_EQ(header.alg, known.alg);
        EXPECT_EQ(header.iters, 20000u);
        EXPECT_EQ(header.encBytes, 0u) << "the whole file";
        EXPECT_EQ(header.headerSize, kHeaderSize);
        EXPECT_EQ(std::string(stored.end() - static_cast<std::ptrdiff_t>(markerLength), stored.end()), known.marker);

        const Result<std::vector<std::uint8_t>> opened = OpenContainer(stored, kPassword);
        ASSERT_TRUE(opened.ok()) << opened.error().message;
        EXPECT_EQ(opened.value(), KnownPlain());
        std::vector<std::uint8_t> changed = stored;
        changed[kHeaderSize + 8500] ^= 1;
        EXPECT_FALSE(OpenContainer(changed, kPassword).ok());
    }
}

// The stored files are what the format says, recomputed with libgcrypt's PBKDF2, HMAC and block
// ciphers and the reference Blowfish: the keys, the MAC over the header with a zero tag and the
// body, and the keystream that restarts at every chunk.
TEST(KnownAnswerContainers, IndependentRecomputationAgrees)
{
    for (const Known& known : kKnown) {
        SCOPED_TRACE(known.file);
        const std::vector<std::uint8_t> stored = Stored(known);
        const ContainerHeader header = HeaderOf(stored);
        const std::size_t keyLength = known.alg == crypto::CipherChaCha20 ? 32 : 16;
        std::vector<std::uint8_t> derived(keyLength + 32);
        ASSERT_EQ(gcry_kdf_derive(kPassword, std::strlen(kPassword), GCRY_KDF_PBKDF2, GCRY_MD_SHA256,
                                  header.salt.data(), header.salt.size(), header.iters, derived.size(), derived.data()),
                  0u);
        const std::span<const std::uint8_t> key = std::span(derived).first(keyLength);
        const std::span<const std::uint8_t> macKey = std::span(derived).subspan(keyLength);

        const std::size_t bodyLength = stored.size() - kHeaderSize - std::strlen(known.marker);
        const std::span<const std::uint8_t> body(stored.data() + kHeaderSize, bodyLength);
        std::vector<std::uint8_t> zeroTag(stored.begin(), stored.begin() + kHeaderSize);
        std::fill(zeroTag.begin() + 48, zeroTag.begin() + 80, 0);
        gcry_md_hd_t hmac = nullptr;
        ASSERT_EQ(gcry_md_open(&hmac, GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC), 0u);
        ASSERT_EQ(gcry_md_setkey(hmac, macKey.data(), macKey.size()), 0u);
        gcry_md_write(hmac, zeroTag.data(), zeroTag.size());
        gcry_md_write(hmac, body.data(), body.size());
        const std::vector<std::uint8_t> tag(gcry_md_read(hmac, GCRY_MD_SHA256),
                                            gcry_md_read(hmac, GCRY_MD_SHA256) + 32);
        gcry_md_close(hmac);
        EXPECT_EQ(test::ToHex(tag), test::ToHex(header.tag));

        const std::vector<std::uint8_t> stream = ReferenceStream(known.alg, key, header.nonce);
        ASSERT_EQ(stream.size(), kChunk);
        std::vector<std::uint8_t> plain(body.begin(), body.end());
        for (std::size_t i = 0; i < plain.size(); ++i)
            plain[i] ^= stream[i % kChunk];
        EXPECT_EQ(plain, KnownPlain());
    }
}

// A new container cannot be asked for a given nonce (it comes from the random source), so the
// writing side is checked in two halves: sealing the known bytes gives the stored header but for
// the nonce and tag, and the sealing steps given the stored nonce give the stored file exactly.
TEST(KnownAnswerContainers, WritingTheKnownBytesGivesTheStoredFile)
{
    const std::vector<std::uint8_t> plain = KnownPlain();
    for (const Known& known : kKnown) {
        SCOPED_TRACE(known.file);
        const std::vector<std::uint8_t> stored = Stored(known);
        SealOptions options;
        options.alg = known.alg;
        options.fast = true;
        const Result<std::vector<std::uint8_t>> sealed =
            SealContainer(plain, kPassword, std::string("/elsewhere/") + known.madeFrom, options);
        ASSERT_TRUE(sealed.ok());
        ASSERT_EQ(sealed.value().size(), stored.size());
        ContainerHeader fresh = HeaderOf(sealed.value());
        const ContainerHeader header = HeaderOf(stored);
        EXPECT_NE(fresh.nonce, header.nonce);
        fresh.nonce = header.nonce;
        fresh.tag = header.tag;
        EXPECT_EQ(fresh, header) << "the salt follows the name and the password";
        EXPECT_TRUE(
            std::equal(stored.begin() + kHeaderSize + 9000, stored.end(), sealed.value().begin() + kHeaderSize + 9000));

        const ContainerKeys keys = DeriveContainerKeys(header, kPassword);
        Result<ContainerKeystream> keystream = ContainerKeystream::Make(header.alg, keys.cipherKey(), header.nonce);
        ASSERT_TRUE(keystream.ok());
        std::vector<std::uint8_t> body = plain;
        keystream.value().Apply(body, 0, body.size());
        ContainerMac mac(keys.macKey.span(), header);
        mac.Update(body);
        ContainerHeader rewritten = header;
        rewritten.tag = mac.Final();
        const HeaderBytes headerBytes = SerializeContainerHeader(rewritten);
        std::vector<std::uint8_t> again(headerBytes.begin(), headerBytes.end());
        again.insert(again.end(), body.begin(), body.end());
        const std::span<const std::uint8_t> marker = MarkerBytes(header.alg);
        again.insert(again.end(), marker.begin(), marker.end());
        EXPECT_EQ(again, stored);
    }
}

}  // namespace
}  // namespace quillix::container
