#include "crypto/hashes.h"
#include "crypto/random.h"
#include "support/hex.h"

#include <gcrypt.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace quillix::crypto {
namespace {

using test::Bytes;
using test::FromHex;
using test::ToHex;

std::vector<std::uint8_t> Repeat(std::uint8_t b, std::size_t n)
{
    return std::vector<std::uint8_t>(n, b);
}

std::string Sha256Hex(const std::vector<std::uint8_t>& data, std::size_t piece)
{
    Sha256Context c;
    Sha256Init(c);
    for (std::size_t at = 0; at < data.size(); at += piece)
        Sha256Update(c, std::span(data).subspan(at, std::min(piece, data.size() - at)));
    std::array<std::uint8_t, 32> d{};
    Sha256Final(c, d);
    return ToHex(d);
}

TEST(Sha256, FipsVectorsWholeAndInPieces)
{
    struct Row {
        std::vector<std::uint8_t> message;
        const char* digest;
    };
    const Row rows[] = {
        // FIPS 180-4 examples (NIST CSRC)
        {Bytes(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {Bytes("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {Repeat('a', 1000000), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Row& row : rows) {
        for (std::size_t piece : {std::size_t{1000000}, std::size_t{1}, std::size_t{63}, std::size_t{64}})
            EXPECT_EQ(Sha256Hex(row.message, piece), row.digest) << "piece " << piece;
    }
}

TEST(HmacSha256, Rfc4231)
{
    struct Row {
        const char* source;
        std::vector<std::uint8_t> key;
        std::vector<std::uint8_t> data;
        const char* mac;
    };
    const Row rows[] = {
        {"RFC 4231 4.2", Repeat(0x0b, 20), Bytes("Hi There"),
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"RFC 4231 4.3", Bytes("Jefe"), Bytes("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {"RFC 4231 4.4", Repeat(0xaa, 20), Repeat(0xdd, 50),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {"RFC 4231 4.5", FromHex("0102030405060708090a0b0c0d0e0f10111213141516171819"), Repeat(0xcd, 50),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {"RFC 4231 4.7", Repeat(0xaa, 131), Bytes("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {"RFC 4231 4.8", Repeat(0xaa, 131),
         Bytes("This is a test using a larger than block-size key and a larger than block-size data. The key "
               "needs to be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const Row& row : rows) {
        std::array<std::uint8_t, 32> mac{};
        HmacSha256(row.key, row.data, mac);
        EXPECT_EQ(ToHex(mac), row.mac) << row.source;

        // The same through the incremental interface, one byte at a time.
        HmacSha256Context c;
        HmacSha256Init(c, row.key);
        for (std::uint8_t b : row.data)
            HmacSha256Update(c, std::span(&b, 1));
        HmacSha256Final(c, mac);
        EXPECT_EQ(ToHex(mac), row.mac) << row.source << " incremental";
    }
}

TEST(HmacSha256, EmptyKeyIsTheZeroPaddedKey)
{
    std::array<std::uint8_t, 32> empty{}, zero{};
    HmacSha256({}, Bytes("message"), empty);
    HmacSha256(Repeat(0, 64), Bytes("message"), zero);
    EXPECT_EQ(ToHex(empty), ToHex(zero));
    // HMAC-SHA-256("", "") as published by common references.
    HmacSha256({}, {}, empty);
    EXPECT_EQ(ToHex(empty), "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
}

std::string Pbkdf2Hex(const std::vector<std::uint8_t>& password, const std::vector<std::uint8_t>& salt,
                      std::uint32_t iterations, std::size_t length)
{
    std::vector<std::uint8_t> out(length);
    Pbkdf2HmacSha256(password, salt, iterations, out);
    return ToHex(out);
}

TEST(Pbkdf2HmacSha256, PublishedVectors)
{
    struct Row {
        const char* source;
        std::vector<std::uint8_t> password;
        std::vector<std::uint8_t> salt;
        std::uint32_t iterations;
        const char* output;
    };
    const Row rows[] = {
        {"RFC 7914 11", Bytes("passwd"), Bytes("salt"), 1,
         "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
         "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
        {"RFC 7914 11", Bytes("Password"), Bytes("NaCl"), 80000,
         "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
         "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
        {"RFC 6070 shape, SHA-256", Bytes("password"), Bytes("salt"), 1,
         "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
        {"RFC 6070 shape, SHA-256", Bytes("password"), Bytes("salt"), 2,
         "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"},
        {"RFC 6070 shape, SHA-256", Bytes("password"), Bytes("salt"), 4096,
         "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
        {"RFC 6070 shape, SHA-256", Bytes("passwordPASSWORDpassword"), Bytes("saltSALTsaltSALTsaltSALTsaltSALTsalt"),
         4096, "348c89dbcbd32b2f32d814b8116e84cf2b17347ebc1800181c4e2a1fb8dd53e1c635518c7dac47e9"},
        {"RFC 6070 shape, SHA-256", FromHex("7061737300776f7264"), FromHex("7361006c74"), 4096,
         "89b69d0516f829893c696226650a8687"},
    };
    for (const Row& row : rows) {
        const std::string expected = row.output;
        EXPECT_EQ(Pbkdf2Hex(row.password, row.salt, row.iterations, expected.size() / 2), expected)
            << row.source << " c=" << row.iterations;
    }
}

TEST(Pbkdf2HmacSha256, EdgeInputs)
{
    const auto password = Bytes("pw");
    const auto salt = Bytes("0123456789abcdef");
    EXPECT_EQ(Pbkdf2Hex(password, salt, 0, 48), Pbkdf2Hex(password, salt, 1, 48)) << "0 iterations is U1";

    // U1 alone is HMAC(password, salt ‖ 00 00 00 01); with no salt it is HMAC(password, INT(1)).
    std::array<std::uint8_t, 32> u1{};
    HmacSha256(password, FromHex("00000001"), u1);
    EXPECT_EQ(Pbkdf2Hex(password, {}, 1, 32), ToHex(u1));

    // A shorter output is a prefix of a longer one; an empty output touches nothing.
    EXPECT_EQ(Pbkdf2Hex(password, salt, 3, 96).substr(0, 2 * 48), Pbkdf2Hex(password, salt, 3, 48));
    Pbkdf2HmacSha256(password, salt, 3, {});
}

TEST(Pbkdf2HmacSha256, AgreesWithLibgcrypt)
{
    std::array<std::uint8_t, 160> random{};
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(RandomBytes(random));
        const std::size_t pwLen = random[0] % 80;  // includes empty passwords and ones over a block
        const std::size_t saltLen = 1 + random[1] % 40;
        const std::uint32_t iterations = 1 + random[2] % 300;
        const std::size_t outLen = 1 + random[3] % 96;
        const std::vector<std::uint8_t> pw(random.begin() + 4, random.begin() + 4 + static_cast<long>(pwLen));
        const std::vector<std::uint8_t> salt(random.begin() + 100, random.begin() + 100 + static_cast<long>(saltLen));

        std::vector<std::uint8_t> theirs(outLen);
        static const std::uint8_t none = 0;  // libgcrypt refuses a null password pointer
        ASSERT_EQ(gcry_kdf_derive(pw.empty() ? &none : pw.data(), pw.size(), GCRY_KDF_PBKDF2, GCRY_MD_SHA256,
                                  salt.data(), salt.size(), iterations, theirs.size(), theirs.data()),
                  0u);
        EXPECT_EQ(Pbkdf2Hex(pw, salt, iterations, outLen), ToHex(theirs))
            << "pw " << pwLen << " salt " << saltLen << " c " << iterations << " out " << outLen;
    }
}

TEST(Md5, Rfc1321Suite)
{
    const std::pair<const char*, const char*> rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    };
    for (const auto& [text, digest] : rows) {
        std::array<std::uint8_t, 16> d{};
        ASSERT_TRUE(Md5(Bytes(text), d));
        EXPECT_EQ(ToHex(d), digest) << text;
    }
}

TEST(RandomAndCompare, Behaviour)
{
    std::array<std::uint8_t, 32> a{}, b{};
    EXPECT_FALSE(RandomBytes(std::span<std::uint8_t>{})) << "a count of 0 is refused";
    ASSERT_TRUE(RandomBytes(a));
    ASSERT_TRUE(RandomBytes(b));
    EXPECT_NE(a, b);

    EXPECT_TRUE(ConstantTimeEqual(a, a));
    EXPECT_TRUE(ConstantTimeEqual({}, {}));
    for (std::size_t at : {std::size_t{0}, std::size_t{17}, std::size_t{31}}) {
        auto c = a;
        c[at] ^= 0x01;
        EXPECT_FALSE(ConstantTimeEqual(a, c)) << "differs at " << at;
    }
    EXPECT_FALSE(ConstantTimeEqual(std::span(a).first(31), a)) << "different lengths are unequal";
}

}  // namespace
}  // namespace quillix::crypto
