#pragma once

#include "container/file_ops.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillix::test {

// 2001-09-09 01:46:40 UTC with a nanosecond part, a date no file made by a test run has.
inline constexpr struct timespec kOldTime = {1'000'000'000, 123'456'789};

inline void SetOldTime(const std::string& path)
{
    const struct timespec times[2] = {kOldTime, kOldTime};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

inline bool HasOldTime(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && st.st_mtim.tv_sec == kOldTime.tv_sec &&
           st.st_mtim.tv_nsec == kOldTime.tv_nsec;
}

// The file at `path` encrypted into its container beside it as the program's defaults do (the
// name in the key unless told otherwise), and the plain file removed without overwriting.
// The container's path.
inline std::string EncryptInPlace(const std::string& path, const std::string& password, bool withName = true)
{
    container::FileOptions options;
    options.Passes = 0;
    options.FileNamePW = withName;
    const Result<std::string> sealed = container::EncryptToContainer(path, password, options);
    if (!sealed) throw std::runtime_error("encrypting a fixture failed: " + sealed.error().message);
    std::filesystem::remove(path);
    return sealed.value();
}

// The container of `bytes` as "$" + `plainName` in `folder` (ending in "/" or not), under
// `password` with or without the name in its key; dated kOldTime. Its path.
inline std::string MakeContainer(const std::string& folder, const std::string& plainName,
                                 const std::vector<std::uint8_t>& bytes, const std::string& password, bool withName,
                                 int alg = 1)
{
    const std::string plain = (folder.ends_with('/') ? folder : folder + "/") + plainName;
    WriteFile(plain, bytes);
    container::FileOptions options;
    options.EncryptionAlg = alg;
    options.FileNamePW = withName;
    const Result<std::string> sealed = container::EncryptToContainer(plain, password, options);
    std::filesystem::remove(plain);
    if (!sealed) throw std::runtime_error("encrypting a fixture failed: " + sealed.error().message);
    SetOldTime(sealed.value());
    return sealed.value();
}

// The plain bytes of the container at `path`, opened with its own name in the key or without;
// empty when it does not open.
inline std::vector<std::uint8_t> OpenedBytes(const std::string& path, const std::string& password, bool withName)
{
    Result<crypto::SecureBytes> plain = container::DecryptContainerFile(path, password, withName);
    return plain ? std::vector<std::uint8_t>(plain.value().begin(), plain.value().end()) : std::vector<std::uint8_t>{};
}

}  // namespace quillix::test
