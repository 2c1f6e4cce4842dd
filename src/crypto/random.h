#pragma once

#include <cstdint>
#include <span>

namespace quillix::crypto {

// Fills `buffer` from libgcrypt's strong generator; false (buffer untouched) when it is empty.
bool RandomBytes(std::span<std::uint8_t> buffer);

// Compares every byte pair whatever the earlier ones held, so the time taken tells nothing
// about where two MACs first differ. Spans of different sizes are unequal.
bool ConstantTimeEqual(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

}  // namespace quillix::crypto
