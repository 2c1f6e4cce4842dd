#pragma once

#include "common/paths.h"
#include "common/result.h"
#include "common/unique_fd.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace quillix {

inline Error ErrnoError(const std::string& what)
{
    return MakeError(ErrorKind::Io, what + ": " + std::strerror(errno));
}

// Flushes the folder entry of `filePath`, so a rename into it survives a crash.
inline bool SyncFolderOf(const std::string& filePath)
{
    const std::string folder = FolderOf(filePath);
    const UniqueFd fd = OpenFile(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
    return fd && ::fsync(fd.get()) == 0;
}

// A new file next to its final name that disappears again unless committed. Its name is never
// one that already exists: a user's own "X.tmp" is left alone.
class TempFile {
public:
    static Result<TempFile> CreateFor(const std::string& finalPath, mode_t mode)
    {
        for (int attempt = 0; attempt < 1000; ++attempt) {
            std::string path = finalPath + ".tmp";
            if (attempt > 0) path.append(1, '.').append(std::to_string(attempt));
            UniqueFd fd = OpenFile(path, O_RDWR | O_CREAT | O_EXCL, mode);
            if (fd) return TempFile(std::move(fd), std::move(path));
            if (errno != EEXIST) return ErrnoError("cannot create " + path);
        }
        return MakeError(ErrorKind::Io, "no free temporary name next to " + finalPath);
    }

    TempFile(TempFile&& other) noexcept
        : fd_(std::move(other.fd_)), path_(std::move(other.path_)), committed_(other.committed_)
    {
        other.committed_ = true;
    }
    TempFile& operator=(TempFile&&) = delete;
    ~TempFile()
    {
        if (!committed_) ::unlink(path_.c_str());
    }

    int fd() const { return fd_.get(); }

    // Flushes the data, renames the file over `finalPath` in one step and flushes the folder,
    // so after a crash either the old file or the complete new one is there.
    Result<void> CommitAs(const std::string& finalPath)
    {
        if (::fsync(fd_.get()) != 0) return ErrnoError("cannot flush " + path_);
        fd_.reset();
        if (::rename(path_.c_str(), finalPath.c_str()) != 0) return ErrnoError("cannot rename to " + finalPath);
        committed_ = true;
        if (!SyncFolderOf(finalPath)) return ErrnoError("cannot flush the folder of " + finalPath);
        return {};
    }

private:
    TempFile(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

    UniqueFd fd_;
    std::string path_;
    bool committed_ = false;
};

// Replaces the file at `path` with `content` through a TempFile; the old file stays on failure.
inline Result<void> WriteFileAtomically(const std::string& path, const std::string& content, mode_t mode = 0644)
{
    Result<TempFile> temp = TempFile::CreateFor(path, mode);
    if (!temp) return temp.error();
    if (!WriteAll(temp.value().fd(), std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size())))
        return ErrnoError("cannot write " + path);
    return temp.value().CommitAs(path);
}

}  // namespace quillix
