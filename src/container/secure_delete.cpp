#include "container/secure_delete.h"

#include "common/unique_fd.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <random>

namespace quillix::container {
namespace {

constexpr std::size_t kBufferSize = 32768;

// The overwrite bytes carry no secret and need no cryptographic quality, only to differ from
// what was there; one generator per thread, seeded from the clock, so that threads never share one.
std::minstd_rand& Generator()
{
    thread_local std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
    return generator;
}

bool WritePass(const std::string& path, std::uint64_t length, std::array<std::uint8_t, kBufferSize>& buffer)
{
    // Not truncated first: writing over the existing blocks is what reaches the old bytes on
    // file systems that overwrite in place; truncating would hand those blocks back unwiped.
    const UniqueFd fd = OpenFile(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (!fd) return false;
    std::minstd_rand& generator = Generator();
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(kBufferSize, length - done));
        for (std::size_t i = 0; i < piece; ++i)
            buffer[i] = static_cast<std::uint8_t>(generator());
        if (!WriteAll(fd.get(), std::span(buffer).first(piece))) return false;
        done += piece;
    }
    // Without a flush the page cache would fold all passes into the last one.
    return ::fsync(fd.get()) == 0;
}

}  // namespace

bool SecureDeleteFile(const std::string& path, int passes)
{
    if (path.empty()) return false;
    std::uint64_t length = kMinOverwriteLength;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        // Only a plain file is ours to overwrite: a link or device path could lead the passes
        // onto another file or a whole disk.
        if (!S_ISREG(st.st_mode)) return false;
        length = std::max(length, static_cast<std::uint64_t>(st.st_size));
    }

    std::array<std::uint8_t, kBufferSize> buffer{};
    for (int pass = 0; pass < passes; ++pass) {
        if (!WritePass(path, length, buffer)) return false;
    }
    (void)::unlink(path.c_str());
    return true;
}

}  // namespace quillix::container
