#include "crypto/hashes.h"

#include "crypto/gcrypt_init.h"
#include "crypto/secure.h"

#include <gcrypt.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quillix::crypto {
namespace {

MdHandle OpenMd(int algo, unsigned flags)
{
    EnsureGcrypt();
    gcry_md_hd_t raw = nullptr;
    // Opening SHA-256 only fails when libgcrypt is out of memory or in a broken state; carrying
    // on would hand out a wrong digest or key, so stop here.
    if (gcry_md_open(&raw, algo, flags) != 0) std::abort();
    return MdHandle(raw);
}

void CopyDigest(gcry_md_hd_t handle, std::span<std::uint8_t, 32> out)
{
    const unsigned char* digest = gcry_md_read(handle, GCRY_MD_SHA256);
    std::memcpy(out.data(), digest, 32);
}

}  // namespace

void MdHandleCloser::operator()(gcry_md_handle* handle) const { gcry_md_close(handle); }

void Sha256Init(Sha256Context& context) { context.handle = OpenMd(GCRY_MD_SHA256, 0); }

void Sha256Update(Sha256Context& context, std::span<const std::uint8_t> data)
{
    if (!data.empty()) gcry_md_write(context.handle.get(), data.data(), data.size());
}

void Sha256Final(Sha256Context& context, std::span<std::uint8_t, 32> digest)
{
    CopyDigest(context.handle.get(), digest);
    context.handle.reset();
}

void HmacSha256Init(HmacSha256Context& context, std::span<const std::uint8_t> key)
{
    context.handle = OpenMd(GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC);
    // HMAC pads the key with zeros to the block size, so an empty key equals one zero byte;
    // passing that keeps a null pointer away from libgcrypt.
    static const std::uint8_t zero = 0;
    const bool empty = key.empty();
    if (gcry_md_setkey(context.handle.get(), empty ? &zero : key.data(), empty ? 1 : key.size()) != 0)
        std::abort();
}

void HmacSha256Update(HmacSha256Context& context, std::span<const std::uint8_t> data)
{
    if (!data.empty()) gcry_md_write(context.handle.get(), data.data(), data.size());
}

void HmacSha256Final(HmacSha256Context& context, std::span<std::uint8_t, 32> mac)
{
    CopyDigest(context.handle.get(), mac);
    context.handle.reset();
}

void HmacSha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message,
                std::span<std::uint8_t, 32> mac)
{
    HmacSha256Context context;
    HmacSha256Init(context, key);
    HmacSha256Update(context, message);
    HmacSha256Final(context, mac);
}

void Pbkdf2HmacSha256(std::span<const std::uint8_t> password, std::span<const std::uint8_t> salt,
                      std::uint32_t iterations, std::span<std::uint8_t> output)
{
    if (output.empty()) return;
    HmacSha256Context hmac;
    HmacSha256Init(hmac, password);
    gcry_md_hd_t handle = hmac.handle.get();

    SecretBytes<32> u;
    SecretBytes<32> t;
    for (std::uint32_t block = 1; !output.empty(); ++block) {
        // gcry_md_reset on an HMAC handle restores the keyed inner state, so the password's
        // pads are computed once per derivation, not once per iteration.
        gcry_md_reset(handle);
        gcry_md_write(handle, salt.data(), salt.size());
        const std::uint8_t index[4] = {std::uint8_t(block >> 24), std::uint8_t(block >> 16),
                                       std::uint8_t(block >> 8), std::uint8_t(block)};
        gcry_md_write(handle, index, sizeof index);
        CopyDigest(handle, u.span());
        t = u;
        for (std::uint32_t i = 1; i < iterations; ++i) {
            gcry_md_reset(handle);
            gcry_md_write(handle, u.data(), u.size());
            CopyDigest(handle, u.span());
            for (std::size_t k = 0; k < t.size(); ++k) t[k] ^= u[k];
        }
        const std::size_t n = std::min<std::size_t>(output.size(), t.size());
        std::copy_n(t.begin(), n, output.begin());
        output = output.subspan(n);
    }
}

bool Md5(std::span<const std::uint8_t> data, std::span<std::uint8_t, 16> digest)
{
    EnsureGcrypt();
    if (gcry_md_test_algo(GCRY_MD_MD5) != 0) return false;
    gcry_md_hash_buffer(GCRY_MD_MD5, digest.data(), data.data(), data.size());
    return true;
}

}  // namespace quillix::crypto
