#pragma once

#include "common/result.h"
#include "container/container_format.h"
#include "crypto/secure.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Whole containers held in memory: the building blocks the file operations stream through,
// and the form a decrypted picture takes before it is decoded.
namespace quillix::container {

struct SealOptions {
    int alg = 0;              // CipherId of the new container
    bool fast = false;        // 20000 iterations and a salt derived from the file name
    std::int64_t maxKiB = 0;  // the MaxKiB option; 0 or less encrypts the whole file
};

// A fresh header for a plain file of `plainLength` bytes: salt (MakeSalt), random nonce,
// iteration count of the mode, encBytes from maxKiB, tag still zero.
Result<ContainerHeader> NewContainerHeader(const SealOptions& options, std::uint64_t plainLength,
                                           const std::string& passwordText, const std::string& sourcePath);

// The two keys of a container, wiped when they go out of scope.
struct ContainerKeys {
    crypto::SecretBytes<32> encKey;
    crypto::SecretBytes<32> macKey;
    std::size_t keyLen = 0;

    std::span<const std::uint8_t> cipherKey() const { return std::span(encKey).first(keyLen); }
};

// Keys for `header`'s cipher, salt and iteration count, through the key cache.
ContainerKeys DeriveContainerKeys(const ContainerHeader& header, const std::string& passwordText);

// Header, encrypted body and trailer marker of `plain`, keyed by `passwordText`. `sourcePath`
// names the plain file (its name feeds the fast-mode salt).
Result<std::vector<std::uint8_t>> SealContainer(std::span<const std::uint8_t> plain, const std::string& passwordText,
                                                const std::string& sourcePath, const SealOptions& options);

// Validates, authenticates and decrypts a whole container, in place in the buffer it is given.
// Nothing of the plain bytes is produced unless the MAC matches.
Result<std::vector<std::uint8_t>> OpenContainer(std::vector<std::uint8_t> container, const std::string& passwordText);

// The error text for a MAC mismatch: a wrong password and a damaged file cannot be told apart.
inline constexpr const char* kMacMismatch = "wrong password or damaged file";

}  // namespace quillix::container
