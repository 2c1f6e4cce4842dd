#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

// A plain Blowfish written from the published description, for checking the library the
// program uses: its tables are computed here as the hexadecimal digits of pi, so nothing of it
// comes from libgcrypt. Slow and not constant-time; tests only.
namespace quillix::test {

// The first `words` 32-bit words of pi's fractional part, from Machin's formula
// pi = 16 atan(1/5) - 4 atan(1/239) in fixed point with two guard words.
inline std::vector<std::uint32_t> PiFractionWords(std::size_t words)
{
    const std::size_t n = words + 3;  // word 0 holds the integer part
    using Fixed = std::vector<std::uint32_t>;
    const auto divide = [](Fixed& x, std::uint32_t d) {
        std::uint64_t rest = 0;
        for (std::uint32_t& w : x) {
            const std::uint64_t cur = rest << 32 | w;
            w = static_cast<std::uint32_t>(cur / d);
            rest = cur % d;
        }
    };
    const auto addScaled = [](Fixed& acc, const Fixed& x, std::uint32_t factor, bool subtract) {
        std::uint64_t carry = 0;
        for (std::size_t i = x.size(); i-- > 0;) {
            const std::uint64_t product = std::uint64_t{x[i]} * factor + carry;
            const std::uint32_t low = static_cast<std::uint32_t>(product);
            carry = product >> 32;
            if (!subtract) {
                const std::uint64_t sum = std::uint64_t{acc[i]} + low;
                acc[i] = static_cast<std::uint32_t>(sum);
                carry += sum >> 32;
            } else {
                const bool borrow = acc[i] < low;
                acc[i] -= low;
                carry += borrow ? 1 : 0;
            }
        }
    };
    const auto isZero = [](const Fixed& x) {
        for (const std::uint32_t w : x)
            if (w != 0) return false;
        return true;
    };
    Fixed pi(n, 0);
    // factor * atan(1/x) = factor * sum (-1)^k / ((2k+1) x^(2k+1))
    const auto addArctan = [&](std::uint32_t x, std::uint32_t factor, bool subtract) {
        Fixed power(n, 0);
        power[0] = 1;
        divide(power, x);
        for (std::uint32_t k = 0; !isZero(power); ++k) {
            Fixed term = power;
            divide(term, 2 * k + 1);
            addScaled(pi, term, factor, subtract != (k % 2 == 1));
            divide(power, x * x);
        }
    };
    addArctan(5, 16, false);
    addArctan(239, 4, true);
    return {pi.begin() + 1, pi.begin() + 1 + static_cast<std::ptrdiff_t>(words)};
}

class ReferenceBlowfish {
public:
    explicit ReferenceBlowfish(std::span<const std::uint8_t> key)
    {
        static const std::vector<std::uint32_t> pi = PiFractionWords(18 + 4 * 256);
        std::copy(pi.begin(), pi.begin() + 18, p_.begin());
        for (std::size_t box = 0; box < 4; ++box)
            std::copy_n(pi.begin() + 18 + static_cast<std::ptrdiff_t>(256 * box), 256, s_[box].begin());
        std::size_t at = 0;
        for (std::uint32_t& word : p_) {
            std::uint32_t k = 0;
            for (int i = 0; i < 4; ++i)
                k = k << 8 | key[at++ % key.size()];
            word ^= k;
        }
        std::uint32_t left = 0, right = 0;
        for (std::size_t i = 0; i < p_.size(); i += 2) {
            Encrypt(left, right);
            p_[i] = left;
            p_[i + 1] = right;
        }
        for (auto& box : s_) {
            for (std::size_t i = 0; i < box.size(); i += 2) {
                Encrypt(left, right);
                box[i] = left;
                box[i + 1] = right;
            }
        }
    }

    void Encrypt(std::uint32_t& left, std::uint32_t& right) const
    {
        for (std::size_t round = 0; round < 16; ++round) {
            left ^= p_[round];
            right ^= F(left);
            std::swap(left, right);
        }
        std::swap(left, right);
        right ^= p_[16];
        left ^= p_[17];
    }

    // What libgcrypt calls a weak key: some S-box holds one value twice.
    bool HasRepeatedSboxEntry() const
    {
        for (const auto& box : s_)
            for (std::size_t i = 0; i < box.size(); ++i)
                for (std::size_t j = i + 1; j < box.size(); ++j)
                    if (box[i] == box[j]) return true;
        return false;
    }

    // Counter mode as containers use it: the counter is nonce bytes 0..7, big-endian halves,
    // incremented as one big-endian 64-bit number; the keystream is XORed into `data`.
    void XorCounterStream(std::span<std::uint8_t> data, std::span<const std::uint8_t> nonce8) const
    {
        std::uint64_t counter = 0;
        for (int i = 0; i < 8; ++i)
            counter = counter << 8 | nonce8[static_cast<std::size_t>(i)];
        for (std::size_t at = 0; at < data.size(); at += 8, ++counter) {
            std::uint32_t left = static_cast<std::uint32_t>(counter >> 32), right = static_cast<std::uint32_t>(counter);
            Encrypt(left, right);
            const std::uint64_t block = std::uint64_t{left} << 32 | right;
            for (std::size_t i = 0; i < 8 && at + i < data.size(); ++i)
                data[at + i] ^= static_cast<std::uint8_t>(block >> (56 - 8 * i));
        }
    }

private:
    std::uint32_t F(std::uint32_t x) const
    {
        return ((s_[0][x >> 24] + s_[1][(x >> 16) & 255]) ^ s_[2][(x >> 8) & 255]) + s_[3][x & 255];
    }

    std::array<std::uint32_t, 18> p_{};
    std::array<std::array<std::uint32_t, 256>, 4> s_{};
};

}  // namespace quillix::test
