#include "container/work_files.h"

#include "common/paths.h"
#include "common/temp_file.h"
#include "container/secure_delete.h"
#include "crypto/random.h"

#include <stdio.h>
#include <sys/file.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <random>

namespace quillix::container {
namespace {

constexpr std::string_view kPrefix = ".quillix-";
constexpr std::size_t kHexDigits = 16;
constexpr std::string_view kTempSuffix = ".tmp";
constexpr std::string_view kWipeSuffix = ".wipe";
constexpr int kNameAttempts = 100;

std::string NewWorkFileName(std::string_view suffix)
{
    std::array<std::uint8_t, kHexDigits / 2> bytes{};
    if (!crypto::RandomBytes(bytes)) {
        // The name only has to be unlikely to be taken; a taken one is simply tried again.
        std::random_device device;
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(device());
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name(kPrefix);
    for (const std::uint8_t b : bytes) {
        name += kHex[b >> 4];
        name += kHex[b & 15];
    }
    name += suffix;
    return name;
}

bool IsLowerHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

bool IsWorkFileName(const std::string& name)
{
    const std::string_view view(name);
    if (!view.starts_with(kPrefix) || view.size() < kPrefix.size() + kHexDigits) return false;
    const std::string_view digits = view.substr(kPrefix.size(), kHexDigits);
    for (const char c : digits)
        if (!IsLowerHex(c)) return false;
    const std::string_view suffix = view.substr(kPrefix.size() + kHexDigits);
    return suffix == kTempSuffix || suffix == kWipeSuffix;
}

bool LockFile(int fd)
{
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) return false;
    return true;
}

bool TryLockFile(int fd)
{
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        if (errno != EINTR) return false;
    return true;
}

bool NamesOpenFile(const std::string& path, int fd)
{
    struct stat named {};
    struct stat opened {};
    return ::lstat(path.c_str(), &named) == 0 && ::fstat(fd, &opened) == 0 && named.st_dev == opened.st_dev &&
           named.st_ino == opened.st_ino;
}

int RenameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    // EINVAL: this file system cannot rename without replacing; a link fails on a taken name.
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return error;
    }
    return 0;
}

int MoveToWipeName(const std::string& path, std::string& wipePath)
{
    const std::string folder = FolderOf(path);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string candidate = folder + NewWorkFileName(kWipeSuffix);
        const int error = RenameNoReplace(path, candidate);
        if (error == 0) {
            wipePath = candidate;
            return 0;
        }
        if (error != EEXIST) return error;
    }
    return EEXIST;
}

Result<WorkFile> WorkFile::Create(const std::string& folder, int wipePasses)
{
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string path = folder + NewWorkFileName(kTempSuffix);
        UniqueFd fd = OpenFile(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
        if (!fd) {
            if (errno == EEXIST) continue;
            return ErrnoError("cannot create a temporary file in " + (folder.empty() ? std::string(".") : folder));
        }
        // Another operation that met the new file before it was locked took it for a leftover
        // and removes it: take another name.
        if (!TryLockFile(fd.get()) || !NamesOpenFile(path, fd.get())) continue;
        return WorkFile(std::move(fd), std::move(path), wipePasses);
    }
    return MakeError(ErrorKind::Io, "no free temporary name in " + folder);
}

WorkFile::WorkFile(UniqueFd fd, std::string path, int wipePasses)
    : fd_(std::move(fd)), path_(std::move(path)), wipePasses_(ClampPasses(wipePasses))
{
}

WorkFile::WorkFile(WorkFile&& other) noexcept
    : fd_(std::move(other.fd_)), path_(std::move(other.path_)), wipePasses_(other.wipePasses_),
      committed_(other.committed_)
{
    other.committed_ = true;
}

WorkFile::~WorkFile()
{
    if (committed_ || !fd_) return;
    if (wipePasses_ > 0) {
        struct stat st {};
        // What cannot be overwritten now stays for a later operation, which finds it unlocked.
        if (::fstat(fd_.get(), &st) != 0 ||
            !OverwriteOpenFile(fd_.get(), static_cast<std::uint64_t>(st.st_size), wipePasses_).complete())
            return;
    }
    ::unlink(path_.c_str());
}

Result<void> WorkFile::CommitAs(const std::string& finalPath, mode_t mode)
{
    if (::fsync(fd_.get()) != 0) return ErrnoError("cannot flush " + path_);
    const int error = RenameNoReplace(path_, finalPath);
    if (error == EEXIST) return MakeError(ErrorKind::Exists, finalPath + " already exists");
    if (error == EPERM || error == EOPNOTSUPP)
        return MakeError(ErrorKind::Io, "cannot name " + finalPath +
                                            ": the file system can neither rename without replacing nor link, "
                                            "and an existing file must never be replaced");
    if (error != 0) return MakeError(ErrorKind::Io, "cannot rename to " + finalPath + ": " + std::strerror(error));
    committed_ = true;
    // Only now that it has its name may the file be readable by others; a file system that
    // keeps no permission bits refuses, which is fine.
    (void)::fchmod(fd_.get(), mode);
    if (!SyncFolderOf(finalPath)) return ErrnoError("cannot flush the folder of " + finalPath);
    return {};
}

}  // namespace quillix::container
