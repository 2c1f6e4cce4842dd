// One key derivation of the strong container next to libsodium's crypto_pwhash alone with the
// same parameters (Argon2id v1.3, 3 passes, 64 MiB, 32 bytes). The two take turns, so that both
// meet the same load on a shared machine. Prints both medians in milliseconds.
//   argon2_median [RUNS]   (default 9)
#include "container/strong_keys.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kPasses = 3;
constexpr std::uint32_t kMemoryKiB = 65536;

double Median(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

template <typename Work> double Milliseconds(Work&& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = std::max(1, argc > 1 ? std::atoi(argv[1]) : 9);
    if (sodium_init() < 0) return 1;
    const std::string password = "correct horse";
    const std::array<std::uint8_t, 16> salt{1, 2, 3};
    std::array<std::uint8_t, 32> ours{}, theirs{};
    bool ok = true;
    const auto quillix = [&] {
        ok = quillix::container::DeriveStrongKey(password, salt, kPasses, kMemoryKiB, ours) && ok;
    };
    const auto sodium = [&] {
        ok = crypto_pwhash(theirs.data(), theirs.size(), password.data(), password.size(), salt.data(), kPasses,
                           std::size_t{kMemoryKiB} * 1024, crypto_pwhash_ALG_ARGON2ID13) == 0 &&
             ok;
    };
    std::vector<double> oursMs, theirsMs;
    for (int r = 0; r < runs; ++r) {
        if (r % 2 == 0) {
            oursMs.push_back(Milliseconds(quillix));
            theirsMs.push_back(Milliseconds(sodium));
        } else {
            theirsMs.push_back(Milliseconds(sodium));
            oursMs.push_back(Milliseconds(quillix));
        }
    }
    if (!ok || ours != theirs) {
        std::fprintf(stderr, "argon2_median: the derivations failed or differ\n");
        return 1;
    }
    std::printf("%.3f %.3f\n", Median(oursMs), Median(theirsMs));
    return 0;
}
