#include "crypto/random.h"

#include "crypto/gcrypt_init.h"

#include <gcrypt.h>

namespace quillix::crypto {

bool RandomBytes(std::span<std::uint8_t> buffer)
{
    if (buffer.empty()) return false;
    EnsureGcrypt();
    gcry_randomize(buffer.data(), buffer.size(), GCRY_STRONG_RANDOM);
    return true;
}

bool ConstantTimeEqual(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b)
{
    if (a.size() != b.size()) return false;
    volatile std::uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff = diff | (a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace quillix::crypto
