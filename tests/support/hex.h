#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillix::test {

// "00 1f a2" or "001fa2" to bytes; spaces are ignored.
inline std::vector<std::uint8_t> FromHex(std::string_view hex)
{
    std::vector<std::uint8_t> out;
    int high = -1;
    for (const char c : hex) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

inline std::string ToHex(const std::uint8_t* data, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

template <typename Bytes> std::string ToHex(const Bytes& bytes)
{
    return ToHex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

inline std::vector<std::uint8_t> Bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

}  // namespace quillix::test
