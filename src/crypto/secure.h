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

// Wipes the whole buffer, not just the text: a string that once held a longer text keeps its
// tail beyond size(), and a short one lives in the object itself.
inline void SecureWipe(std::string& text)
{
    text.resize(text.capacity());
    SecureWipe(text.data(), text.size());
    text.clear();
}

// A text that holds a secret, wiped when it goes. Build it with reserve() first: a string that
// grows leaves its old buffer behind, unwiped, in the allocator's free lists.
struct SecretText {
    std::string text;
    SecretText() = default;
    explicit SecretText(std::string value) : text(std::move(value)) {}
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText() { SecureWipe(text); }
};

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
