#pragma once

#include <cstdint>
#include <memory>
#include <span>

struct gcry_cipher_handle;

namespace quillix::crypto {

// The cipher of a container, stored as one header byte and as the EncryptionAlg setting.
enum CipherId : int {
    CipherAes = 0,
    CipherBlowfish = 1,
    CipherChaCha20 = 2,
    CipherTwofish = 3,
    // Not a cipher of the compatible container: the strong container (Argon2id and the
    // XChaCha20-Poly1305 secret stream).
    CipherStrong = 4,
};

// Number of cipher-key bytes derived for a container: 32 for ChaCha20, 16 for any other value.
int CipherKeyLength(int cipher);

struct CipherHandleCloser {
    void operator()(gcry_cipher_handle* handle) const;
};
using CipherHandle = std::unique_ptr<gcry_cipher_handle, CipherHandleCloser>;

// A keyed cipher schedule, built once per file and reused for every chunk. An empty context
// (no key, or a key the cipher refuses) holds no schedule and encrypts nothing.
struct BlowfishContext {
    CipherHandle handle;
    bool keyed() const { return handle != nullptr; }
};

struct TwofishContext {
    CipherHandle handle;
    bool keyed() const { return handle != nullptr; }
};

// Counter-mode functions XOR their keystream into `data` in place, so the same call encrypts
// and decrypts. Each call starts afresh from `nonce`; the caller's nonce is never changed.
// They return false when the keystream could not be applied (no key schedule, or libgcrypt
// failed), and the data must then be treated as garbage; empty data is nothing to do.

// AES-128; the counter is the 16 nonce bytes, of which only bytes 12..15 count up (big-endian,
// wrapping without carry into byte 11).
[[nodiscard]] bool Aes128Ctr(std::span<std::uint8_t> data, std::span<const std::uint8_t, 16> key,
                             std::span<const std::uint8_t, 16> nonce);

// Builds a Blowfish schedule from a key of any length; key bytes are used cyclically, so only
// the first 72 count. An empty key leaves the context untouched.
void BlowfishInit(BlowfishContext& context, std::span<const std::uint8_t> key);

// Blowfish; the counter is nonce bytes 0..7 as a big-endian 64-bit number. Bytes 8..15 unused.
[[nodiscard]] bool BlowfishCtr(BlowfishContext& context, std::span<std::uint8_t> data,
                               std::span<const std::uint8_t, 16> nonce);

// Builds a Twofish schedule from a 16- or 32-byte key. Any other length leaves an empty
// context: libgcrypt has no 192-bit Twofish, and containers only ever use 16 bytes.
void TwofishInit(TwofishContext& context, std::span<const std::uint8_t> key);

// Twofish; the counter is all 16 nonce bytes as a big-endian 128-bit number.
[[nodiscard]] bool TwofishCtr(TwofishContext& context, std::span<std::uint8_t> data,
                              std::span<const std::uint8_t, 16> nonce);

// ChaCha20 as containers use it: the block key is key bytes 0..15 followed by the 16 nonce
// bytes, the block nonce is nonce bytes 0..11, the block counter starts at 0. Key bytes 16..31
// are never read.
[[nodiscard]] bool ChaCha20Xor(std::span<std::uint8_t> data, std::span<const std::uint8_t, 32> key,
                               std::span<const std::uint8_t, 16> nonce);

// The RFC 8439 block function: 64 keystream bytes for one block counter value.
[[nodiscard]] bool ChaCha20Block(std::span<std::uint8_t, 64> out, std::span<const std::uint8_t, 32> key,
                                 std::uint32_t counter, std::span<const std::uint8_t, 12> nonce);

}  // namespace quillix::crypto
