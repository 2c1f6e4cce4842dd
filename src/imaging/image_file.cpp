#include "imaging/image_file.h"

#include "common/unique_fd.h"

#include <sys/stat.h>

namespace quillix::imaging {

Result<std::vector<std::uint8_t>> ReadImageFile(const std::string& path)
{
    constexpr std::uint64_t kMaxFileBytes = 512ull << 20;
    // Without blocking, so that a pipe with a picture's name is refused rather than waited on.
    const UniqueFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) return MakeError(ErrorKind::Io, "cannot open " + path);
    if (!S_ISREG(st.st_mode)) return MakeError(ErrorKind::Io, "not a regular file: " + path);
    if (static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes)
        return MakeError(ErrorKind::Unsupported, "file too large: " + path);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    const long long n = ReadAt(fd.get(), bytes, 0);
    if (n < 0) return MakeError(ErrorKind::Io, "cannot read " + path);
    bytes.resize(static_cast<std::size_t>(n));
    return bytes;
}

}  // namespace quillix::imaging
