#pragma once

#include "crypto/secure_memory.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quillix::crypto {

// Decrypted bytes compared with the bytes a test expects; found through the buffer's allocator.
inline bool operator==(const SecureBytes& decrypted, const std::vector<std::uint8_t>& expected)
{
    return std::equal(decrypted.begin(), decrypted.end(), expected.begin(), expected.end());
}

}  // namespace quillix::crypto
