#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string.h>  // explicit_bzero
#include <string>

namespace quillix::crypto {

// Zeroes memory in a way the optimiser may not drop.
inline void SecureWipe(void* data, std::size_t size)
{
    if (data && size) explicit_bzero(data, size);
}

inline void SecureWipe(std::string& text)
{
    SecureWipe(text.data(), text.size());
    text.clear();
}

// Fixed-size key material that is wiped when it goes out of scope.
template <std::size_t N> struct SecretBytes : std::array<std::uint8_t, N> {
    SecretBytes() : std::array<std::uint8_t, N>{} {}
    SecretBytes(const SecretBytes&) = default;
    SecretBytes& operator=(const SecretBytes&) = default;
    ~SecretBytes() { SecureWipe(this->data(), N); }

    std::span<std::uint8_t, N> span() { return std::span<std::uint8_t, N>(this->data(), N); }
    std::span<const std::uint8_t, N> span() const { return std::span<const std::uint8_t, N>(this->data(), N); }
};

inline std::span<const std::uint8_t> AsBytes(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace quillix::crypto
