#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace quillix::test {

// A fresh folder under the system temp folder, removed with everything in it at scope end.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillix-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteFile(const std::string& path, const std::string& text)
{
    WriteFile(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

inline std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string ReadText(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = ReadFile(path);
    return {bytes.begin(), bytes.end()};
}

// The names of everything in `dir`, to see that nothing was left behind or lost.
inline std::set<std::string> FileNames(const TempDir& dir)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.insert(entry.path().filename().string());
    return names;
}

// Bytes that look like a compressed picture: no structure a cipher bug could hide behind.
inline std::vector<std::uint8_t> PseudoRandomBytes(std::size_t n, std::uint32_t seed = 7)
{
    std::vector<std::uint8_t> b(n);
    for (auto& v : b) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<std::uint8_t>(seed >> 24);
    }
    return b;
}

// Permission bits do not stop root; tests of refused writes skip themselves there.
inline bool PermissionsAreEnforced()
{
    return ::geteuid() != 0;
}

}  // namespace quillix::test
