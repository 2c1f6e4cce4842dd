#pragma once

#include "common/result.h"
#include "container/container_format.h"
#include "crypto/hashes.h"
#include "crypto/secure.h"

#include <cstdint>
#include <memory>
#include <span>

// The container's use of the ciphers and the MAC. Knows the chunking rule, not the header
// fields beyond what it is handed.
namespace quillix::container {

// The encrypted region is XORed chunk by chunk, each chunk with the keystream restarted from
// the nonce.
inline constexpr std::size_t kChunkSize = 8192;

// Since every chunk takes the same keystream, the 8192 bytes are made once per container and
// reused; the result is the same as running the cipher afresh for each chunk.
class ContainerKeystream {
public:
    // `key` holds CipherKeyLength(alg) bytes. Fails for an unknown cipher or a key the cipher
    // cannot use.
    static Result<ContainerKeystream> Make(int alg, std::span<const std::uint8_t> key,
                                           std::span<const std::uint8_t, 16> nonce);

    // XORs the keystream into `bytes`, which lie at `bodyOffset` in the body; only body bytes
    // below `encryptedLength` are touched.
    void Apply(std::span<std::uint8_t> bytes, std::uint64_t bodyOffset, std::uint64_t encryptedLength) const;

private:
    std::unique_ptr<crypto::SecretBytes<kChunkSize>> stream_;
};

// HMAC-SHA-256 over the header with its tag zeroed, then the stored body bytes in order. The
// trailer marker is not included.
class ContainerMac {
public:
    ContainerMac(std::span<const std::uint8_t, 32> macKey, const ContainerHeader& header);
    void Update(std::span<const std::uint8_t> body);
    std::array<std::uint8_t, 32> Final();

private:
    crypto::HmacSha256Context context_;
};

}  // namespace quillix::container
