#pragma once

#include <cstdint>
#include <memory>
#include <span>

struct gcry_md_handle;

namespace quillix::crypto {

struct MdHandleCloser {
    void operator()(gcry_md_handle* handle) const;
};
using MdHandle = std::unique_ptr<gcry_md_handle, MdHandleCloser>;

struct Sha256Context {
    MdHandle handle;
};

struct HmacSha256Context {
    MdHandle handle;
};

// SHA-256 (FIPS 180-4). Update ignores empty input; Final may be called once per Init.
void Sha256Init(Sha256Context& context);
void Sha256Update(Sha256Context& context, std::span<const std::uint8_t> data);
void Sha256Final(Sha256Context& context, std::span<std::uint8_t, 32> digest);

// HMAC-SHA-256 (RFC 2104); a key longer than 64 bytes is hashed first, an empty key is valid.
void HmacSha256Init(HmacSha256Context& context, std::span<const std::uint8_t> key);
void HmacSha256Update(HmacSha256Context& context, std::span<const std::uint8_t> data);
void HmacSha256Final(HmacSha256Context& context, std::span<std::uint8_t, 32> mac);
void HmacSha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message,
                std::span<std::uint8_t, 32> mac);

// PBKDF2-HMAC-SHA-256 (RFC 8018). An iteration count of 0 counts as 1 (U1 alone); an empty
// password or salt is allowed; an empty output is nothing to do.
void Pbkdf2HmacSha256(std::span<const std::uint8_t> password, std::span<const std::uint8_t> salt,
                      std::uint32_t iterations, std::span<std::uint8_t> output);

// MD5 (RFC 1321); false only if libgcrypt cannot provide it.
bool Md5(std::span<const std::uint8_t> data, std::span<std::uint8_t, 16> digest);

}  // namespace quillix::crypto
