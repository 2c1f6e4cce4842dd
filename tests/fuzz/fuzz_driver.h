#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace quillix::test {

// Feeds every file named on the command line to the fuzz entry; false when none was named.
inline bool ReplayFiles(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    return argc > 1;
}

// One random change to a valid `seed`: a flipped byte, a cut, a byte poked within its first
// `headerBytes`, or an inserted byte.
inline std::vector<std::uint8_t> Mutate(const std::vector<std::uint8_t>& seed, std::mt19937& rng,
                                        std::size_t headerBytes)
{
    std::vector<std::uint8_t> m = seed;
    if (m.empty()) return m;
    switch (rng() % 4) {
    case 0: m[rng() % m.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255); break;
    case 1: m.resize(rng() % m.size()); break;
    case 2: m[rng() % std::min(m.size(), headerBytes)] = static_cast<std::uint8_t>(rng()); break;
    default: m.insert(m.begin() + static_cast<long>(rng() % m.size()), static_cast<std::uint8_t>(rng())); break;
    }
    return m;
}

}  // namespace quillix::test
