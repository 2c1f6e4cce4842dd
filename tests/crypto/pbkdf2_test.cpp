#include "crypto/hashes.h"
#include "crypto/sha256_compress.h"
#include "support/hex.h"

#include <gcrypt.h>
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace quillix::crypto {
namespace {

using test::ToHex;

std::vector<std::uint8_t> RandomBytes(std::mt19937& random, std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

std::string Ours(const std::vector<std::uint8_t>& password, const std::vector<std::uint8_t>& salt,
                 std::uint32_t iterations, std::size_t size)
{
    std::vector<std::uint8_t> out(size);
    Pbkdf2HmacSha256(password, salt, iterations, out);
    return ToHex(out);
}

std::string Libgcrypt(const std::vector<std::uint8_t>& password, const std::vector<std::uint8_t>& salt,
                      std::uint32_t iterations, std::size_t size)
{
    static const std::uint8_t none = 0;  // libgcrypt refuses a null password pointer
    std::vector<std::uint8_t> out(size);
    const gcry_error_t error =
        gcry_kdf_derive(password.empty() ? &none : password.data(), password.size(), GCRY_KDF_PBKDF2, GCRY_MD_SHA256,
                        salt.data(), salt.size(), iterations, out.size(), out.data());
    return error == 0 ? ToHex(out) : "libgcrypt failed";
}

// Runs every case with PBKDF2 pinned to one SHA-256 implementation.
class Pbkdf2ByImpl : public testing::TestWithParam<Sha256Impl> {
protected:
    void SetUp() override
    {
        if (!Sha256ImplSupported(GetParam())) GTEST_SKIP() << "this processor lacks the SHA extensions";
        pin_.emplace(GetParam());
    }
    void TearDown() override { pin_.reset(); }

private:
    std::optional<Sha256ImplPin> pin_;
};

TEST_P(Pbkdf2ByImpl, AgreesWithLibgcryptAcrossBoundaries)
{
    std::mt19937 random(7);
    // Passwords either side of the HMAC block, where long ones are hashed first; outputs
    // either side of one, two and three blocks, where blocks are derived singly or paired;
    // salts whose inner hash does or does not spill into a further padding block.
    const std::size_t passwords[] = {0, 1, 32, 63, 64, 65, 130};
    const std::size_t outputs[] = {1, 31, 32, 33, 48, 63, 64, 65, 96};
    const std::size_t salts[] = {1, 16, 40, 51, 52, 59, 60, 64, 124};
    std::size_t next = 0;
    for (std::size_t pwLen : passwords) {
        for (std::size_t outLen : outputs) {
            const auto password = RandomBytes(random, pwLen);
            const auto salt = RandomBytes(random, salts[next++ % std::size(salts)]);
            const auto iterations = static_cast<std::uint32_t>(1 + random() % 500);
            EXPECT_EQ(Ours(password, salt, iterations, outLen), Libgcrypt(password, salt, iterations, outLen))
                << "pw " << pwLen << " salt " << salt.size() << " c " << iterations << " out " << outLen;
        }
    }
}

TEST_P(Pbkdf2ByImpl, AgreesWithLibgcryptOnRandomInputs)
{
    std::mt19937 random(11);
    for (int round = 0; round < 60; ++round) {
        const auto password = RandomBytes(random, random() % 131);
        const auto salt = RandomBytes(random, 1 + random() % 40);
        const auto iterations = static_cast<std::uint32_t>(1 + random() % 500);
        const std::size_t outLen = 1 + random() % 96;
        EXPECT_EQ(Ours(password, salt, iterations, outLen), Libgcrypt(password, salt, iterations, outLen))
            << "pw " << password.size() << " salt " << salt.size() << " c " << iterations << " out " << outLen;
    }
}

std::string ImplName(const testing::TestParamInfo<Sha256Impl>& param)
{
    return param.param == Sha256Impl::ShaNi ? "ShaNi" : "Portable";
}

INSTANTIATE_TEST_SUITE_P(Impls, Pbkdf2ByImpl, testing::Values(Sha256Impl::Portable, Sha256Impl::ShaNi), ImplName);

// libgcrypt takes no empty salt, so there the implementations are held to each other.
TEST(Pbkdf2HmacSha256, EmptySaltSameOnEveryImpl)
{
    if (!Sha256ImplSupported(Sha256Impl::ShaNi)) GTEST_SKIP() << "only one implementation here";
    std::mt19937 random(3);
    for (std::size_t pwLen : {0, 5, 64, 100}) {
        const auto password = RandomBytes(random, pwLen);
        for (std::uint32_t iterations : {0u, 1u, 2u, 37u}) {
            std::string portable, shaNi;
            {
                Sha256ImplPin pin(Sha256Impl::Portable);
                portable = Ours(password, {}, iterations, 80);
            }
            {
                Sha256ImplPin pin(Sha256Impl::ShaNi);
                shaNi = Ours(password, {}, iterations, 80);
            }
            EXPECT_EQ(portable, shaNi) << "pw " << pwLen << " c " << iterations;
        }
    }
}

}  // namespace
}  // namespace quillix::crypto
