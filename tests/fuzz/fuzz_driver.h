#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
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

// With "--write-seeds DIR" as the arguments, writes every seed into DIR as a starting corpus for
// libFuzzer and returns true.
inline bool WriteSeeds(int argc, char** argv, const std::vector<std::vector<std::uint8_t>>& seeds)
{
    if (argc != 3 || std::string(argv[1]) != "--write-seeds") return false;
    const std::filesystem::path folder(argv[2]);
    std::filesystem::create_directories(folder);
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        std::ofstream out(folder / ("seed-" + std::to_string(i)), std::ios::binary);
        out.write(reinterpret_cast<const char*>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
    }
    return true;
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

// The plain program of a fuzz target whose smoke run mutates its seeds: writes the seeds or
// replays files when asked to, otherwise feeds each seed and `rounds` mutations of it (each
// poking within its first `headerBytes`, 0 meaning anywhere) to the fuzz entry.
// QUILLIX_FUZZ_ROUNDS and QUILLIX_FUZZ_SEED make a longer or different run by hand.
inline int RunSeedsAndMutations(int argc, char** argv, const std::vector<std::vector<std::uint8_t>>& seeds,
                                const char* name, int rounds, unsigned rngSeed, std::size_t headerBytes)
{
    if (WriteSeeds(argc, argv, seeds) || ReplayFiles(argc, argv)) return 0;
    if (const char* text = std::getenv("QUILLIX_FUZZ_ROUNDS")) rounds = std::atoi(text);
    if (const char* text = std::getenv("QUILLIX_FUZZ_SEED")) rngSeed = static_cast<unsigned>(std::atoi(text));
    std::mt19937 rng(rngSeed);
    for (const std::vector<std::uint8_t>& seed : seeds) {
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
        for (int round = 0; round < rounds; ++round) {
            const std::vector<std::uint8_t> m = Mutate(seed, rng, headerBytes == 0 ? seed.size() : headerBytes);
            LLVMFuzzerTestOneInput(m.data(), m.size());
        }
    }
    std::printf("%s: all inputs handled\n", name);
    return 0;
}

}  // namespace quillix::test
