#pragma once

#include "common/unique_fd.h"
#include "crypto/secure.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

// Looking for a secret in this process's own memory, through /proc/self/mem, which a process may
// read even when it is not dumpable.
namespace quillix::test {

// A byte string looked for in memory. The test keeps it in two halves and never joins them
// except to hand it to the program, so that its own copies are never found.
struct Needle {
    std::string first;
    std::string second;

    std::size_t size() const { return first.size() + second.size(); }
};

// A random number for each run, so that no needle is left over from another.
inline std::uint64_t Nonce()
{
    std::random_device device;
    return (std::uint64_t{device()} << 32) | device();
}

// Eight pixels of distinct colours as a 32-bit picture holds them (blue, green, red, 0xFF). Red
// and blue differ, so the rows a decoder keeps in file order (red first) do not match.
inline Needle PixelRun(std::uint64_t nonce)
{
    Needle needle;
    for (int i = 0; i < 8; ++i) {
        std::string& half = i < 4 ? needle.first : needle.second;
        half += static_cast<char>(0x10 + ((nonce >> (i * 8)) & 0x7F));
        half += static_cast<char>(0x90 + i);
        half += static_cast<char>(0x20 + 13 * i);
        half += static_cast<char>(0xFF);
    }
    return needle;
}

// Where a needle was found: in memory locked against swapping, and elsewhere.
struct MemoryHits {
    int locked = 0;
    int unlocked = 0;
    bool readable = true;  // false when /proc/self/mem could not be read at all

    int total() const { return locked + unlocked; }
};

// Every place in this process's readable memory where `needle.first` is directly followed by
// `needle.second`. The mappings and their flags come from /proc/self/smaps; the memory is read
// in pieces that overlap by the needle's length, into a buffer of its own left out of the search.
inline MemoryHits FindInMemory(const Needle& needle)
{
    MemoryHits hits;
    const std::size_t length = needle.size();
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    void* mapped = ::mmap(nullptr, kPiece, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED || length == 0) return {0, 0, false};
    auto* buffer = static_cast<char*>(mapped);
    const auto own = reinterpret_cast<std::uintptr_t>(buffer);

    std::string smaps;
    {
        std::ifstream in("/proc/self/smaps");
        std::stringstream text;
        text << in.rdbuf();
        smaps = text.str();
    }
    const UniqueFd mem(::open("/proc/self/mem", O_RDONLY | O_CLOEXEC));
    hits.readable = static_cast<bool>(mem);

    // Scans one mapping; called once its VmFlags line tells whether it is locked.
    const auto scan = [&](std::uintptr_t begin, std::uintptr_t end, bool locked) {
        for (std::uintptr_t at = begin; at < end;) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uintptr_t>(kPiece, end - at));
            const ssize_t got = ::pread(mem.get(), buffer, want, static_cast<off_t>(at));
            if (got <= 0) break;  // unreadable from here on (a device mapping, say)
            const auto size = static_cast<std::size_t>(got);
            for (std::size_t i = 0; i + length <= size; ++i) {
                const void* hit = std::memchr(buffer + i, needle.first[0], size - length - i + 1);
                if (!hit) break;
                i = static_cast<std::size_t>(static_cast<const char*>(hit) - buffer);
                if (std::memcmp(buffer + i, needle.first.data(), needle.first.size()) == 0 &&
                    std::memcmp(buffer + i + needle.first.size(), needle.second.data(), needle.second.size()) == 0)
                    ++(locked ? hits.locked : hits.unlocked);
            }
            if (size < want || at + size >= end) break;
            at += size - (length - 1);
        }
    };

    std::istringstream lines(smaps);
    std::string line;
    std::uintptr_t begin = 0, end = 0;
    bool wanted = false;
    while (mem && std::getline(lines, line)) {
        std::uintptr_t b = 0, e = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &b, &e, perms) == 3) {
            begin = b;
            end = e;
            wanted = perms[0] == 'r' && line.find("[vvar") == std::string::npos &&
                     line.find("[vsyscall]") == std::string::npos && !(begin <= own && own < end);
        } else if (line.starts_with("VmFlags:") && wanted) {
            scan(begin, end, (line + " ").find(" lo ") != std::string::npos);
            wanted = false;
        }
    }
    crypto::SecureWipe(buffer, kPiece);
    ::munmap(mapped, kPiece);
    return hits;
}

inline int CountInMemory(const Needle& needle)
{
    const MemoryHits hits = FindInMemory(needle);
    return hits.readable ? hits.total() : -1;
}

// The VmFlags of the mapping that holds `address` ("rd wr mr mw me lo ac dd", say); empty when
// none does.
inline std::string MappingFlags(const void* address)
{
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream in("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        std::uintptr_t begin = 0, end = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &begin, &end) == 2 && line.find(' ') != std::string::npos &&
            line.find('-') < line.find(' ')) {
            inside = begin <= at && at < end;
        } else if (inside && line.starts_with("VmFlags:")) {
            return line.substr(8) + " ";
        }
    }
    return {};
}

// AddressSanitizer turns mlock into a call that does nothing, and maps terabytes of shadow that a
// scan would read page by page, besides keeping freed blocks back: tests scan only without it.
#ifdef __SANITIZE_ADDRESS__
inline constexpr bool kLocksHonoured = false;
inline constexpr bool kCanScan = false;
#else
inline constexpr bool kLocksHonoured = true;
inline constexpr bool kCanScan = true;
#endif

// Whether `address` lies in memory locked against swapping (where locks are honoured) and left
// out of core dumps.
inline bool InGuardedMemory(const void* address)
{
    const std::string flags = MappingFlags(address);
    return (!kLocksHonoured || flags.find(" lo ") != std::string::npos) && flags.find(" dd ") != std::string::npos;
}

}  // namespace quillix::test
