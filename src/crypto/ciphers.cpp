#include "crypto/ciphers.h"

#include "crypto/gcrypt_init.h"
#include "crypto/secure.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>

namespace quillix::crypto {
namespace {

CipherHandle OpenCipher(int algo, int mode, std::span<const std::uint8_t> key)
{
    EnsureGcrypt();
    gcry_cipher_hd_t raw = nullptr;
    if (gcry_cipher_open(&raw, algo, mode, 0) != 0) return nullptr;
    CipherHandle handle(raw);
    // libgcrypt refuses about one Blowfish key in 33,000 as weak (an S-box entry repeats) and
    // leaves the handle without a key unless told to allow it. The standard cipher takes every
    // key, containers under such keys exist, and a fast-mode salt would make the refusal
    // permanent for that password and file name.
    if (algo == GCRY_CIPHER_BLOWFISH && gcry_cipher_ctl(raw, GCRYCTL_SET_ALLOW_WEAK_KEY, nullptr, 1) != 0)
        return nullptr;
    const gcry_error_t err = gcry_cipher_setkey(raw, key.data(), key.size());
    // With weak keys allowed, setkey still reports one as weak, but the handle is keyed.
    if (err != 0 && !(algo == GCRY_CIPHER_BLOWFISH && gcry_err_code(err) == GPG_ERR_WEAK_KEY)) return nullptr;
    return handle;
}

bool XorCounterStream(gcry_cipher_hd_t handle, std::span<std::uint8_t> data, std::span<const std::uint8_t> counter)
{
    if (gcry_cipher_setctr(handle, counter.data(), counter.size()) != 0) return false;
    return gcry_cipher_encrypt(handle, data.data(), data.size(), nullptr, 0) == 0;
}

std::uint32_t LoadBe32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

void CipherHandleCloser::operator()(gcry_cipher_handle* handle) const
{
    gcry_cipher_close(handle);
}

int CipherKeyLength(int cipher)
{
    return cipher == CipherChaCha20 ? 32 : 16;
}

bool Aes128Ctr(std::span<std::uint8_t> data, std::span<const std::uint8_t, 16> key,
               std::span<const std::uint8_t, 16> nonce)
{
    if (data.empty()) return true;
    CipherHandle handle = OpenCipher(GCRY_CIPHER_AES128, GCRY_CIPHER_MODE_CTR, key);
    if (!handle) return false;

    // libgcrypt counts all 128 bits; the container's counter is only bytes 12..15, so the
    // stream is split where those wrap and resumed with the low word at zero.
    SecretBytes<16> counter;
    std::copy(nonce.begin(), nonce.end(), counter.begin());
    std::size_t done = 0;
    while (done < data.size()) {
        const std::uint64_t blocksToWrap = (std::uint64_t{1} << 32) - LoadBe32(counter.data() + 12);
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(data.size() - done, blocksToWrap * 16));
        if (!XorCounterStream(handle.get(), data.subspan(done, n), counter)) return false;
        done += n;
        std::fill(counter.begin() + 12, counter.end(), 0);
    }
    return true;
}

void BlowfishInit(BlowfishContext& context, std::span<const std::uint8_t> key)
{
    if (key.empty()) return;
    // Blowfish takes key bytes cyclically into the 18 P-words; handing libgcrypt that 72-byte
    // cycle gives every key length the same schedule the cyclic rule gives.
    SecretBytes<72> cycled;
    for (std::size_t i = 0; i < cycled.size(); ++i)
        cycled[i] = key[i % key.size()];
    context.handle = OpenCipher(GCRY_CIPHER_BLOWFISH, GCRY_CIPHER_MODE_CTR, cycled);
}

bool BlowfishCtr(BlowfishContext& context, std::span<std::uint8_t> data, std::span<const std::uint8_t, 16> nonce)
{
    if (data.empty()) return true;
    if (!context.keyed()) return false;
    // The 8-byte block is the counter, so libgcrypt's own increment is the 64-bit one wanted.
    return XorCounterStream(context.handle.get(), data, nonce.first<8>());
}

void TwofishInit(TwofishContext& context, std::span<const std::uint8_t> key)
{
    context.handle.reset();
    if (key.size() == 16)
        context.handle = OpenCipher(GCRY_CIPHER_TWOFISH128, GCRY_CIPHER_MODE_CTR, key);
    else if (key.size() == 32)
        context.handle = OpenCipher(GCRY_CIPHER_TWOFISH, GCRY_CIPHER_MODE_CTR, key);
}

bool TwofishCtr(TwofishContext& context, std::span<std::uint8_t> data, std::span<const std::uint8_t, 16> nonce)
{
    if (data.empty()) return true;
    if (!context.keyed()) return false;
    return XorCounterStream(context.handle.get(), data, nonce);
}

bool ChaCha20Xor(std::span<std::uint8_t> data, std::span<const std::uint8_t, 32> key,
                 std::span<const std::uint8_t, 16> nonce)
{
    if (data.empty()) return true;
    SecretBytes<32> blockKey;
    std::copy(key.begin(), key.begin() + 16, blockKey.begin());
    std::copy(nonce.begin(), nonce.end(), blockKey.begin() + 16);
    CipherHandle handle = OpenCipher(GCRY_CIPHER_CHACHA20, GCRY_CIPHER_MODE_STREAM, blockKey);
    if (!handle) return false;
    // A 12-byte IV is the RFC 8439 nonce with the block counter at 0.
    if (gcry_cipher_setiv(handle.get(), nonce.data(), 12) != 0) return false;
    return gcry_cipher_encrypt(handle.get(), data.data(), data.size(), nullptr, 0) == 0;
}

bool ChaCha20Block(std::span<std::uint8_t, 64> out, std::span<const std::uint8_t, 32> key, std::uint32_t counter,
                   std::span<const std::uint8_t, 12> nonce)
{
    CipherHandle handle = OpenCipher(GCRY_CIPHER_CHACHA20, GCRY_CIPHER_MODE_STREAM, key);
    if (!handle) return false;
    // A 16-byte IV sets state words 12..15 directly: the counter, then the nonce, little-endian.
    std::array<std::uint8_t, 16> iv{};
    for (int i = 0; i < 4; ++i)
        iv[i] = static_cast<std::uint8_t>(counter >> (8 * i));
    std::copy(nonce.begin(), nonce.end(), iv.begin() + 4);
    if (gcry_cipher_setiv(handle.get(), iv.data(), iv.size()) != 0) return false;
    std::fill(out.begin(), out.end(), 0);
    return gcry_cipher_encrypt(handle.get(), out.data(), out.size(), nullptr, 0) == 0;
}

}  // namespace quillix::crypto
