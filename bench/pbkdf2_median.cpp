// Median time of one key derivation (48 bytes of PBKDF2 output), printed in milliseconds, the
// same way bench/peers measure OpenSSL and libgcrypt.
#include "container/key_derivation.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    const auto iterations = static_cast<std::uint32_t>(argc > 1 ? std::atoi(argv[1]) : 200000);
    const int runs = argc > 2 ? std::atoi(argv[2]) : 9;
    const std::array<std::uint8_t, 16> salt{1, 2, 3};
    std::array<std::uint8_t, 16> enc{};
    std::array<std::uint8_t, 32> mac{};
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        quillix::container::DeriveKeys("photo.jpg|correct horse", salt, iterations, enc, mac);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%.3f\n", ms[ms.size() / 2]);
    return 0;
}
