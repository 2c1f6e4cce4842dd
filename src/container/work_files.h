#pragma once

#include "common/result.h"
#include "common/unique_fd.h"

#include <sys/stat.h>

#include <string>

// The files an in-place operation makes next to the picture: a temporary file that becomes the
// result, and the source while it is being wiped. Both get short marked names in the picture's
// folder and stay locked (flock) for as long as their owner works on them, so that a later
// operation in that folder can tell the leftovers of a killed run from files still in use.
namespace quillix::container {

// ".quillix-" + 16 hex digits + ".tmp" or ".wipe": short, so that every name that fits the file
// system can be worked on; hidden and without a picture extension, so no listing shows them.
bool IsWorkFileName(const std::string& name);

// An exclusive flock on the open file. It belongs to the open file description, so it also
// keeps two threads of one process apart, and it goes when its owner dies. LockFile waits;
// TryLockFile is false at once when someone else holds the lock.
bool LockFile(int fd);
bool TryLockFile(int fd);

// True when `path` (a link not followed) names the file open as `fd`.
bool NamesOpenFile(const std::string& path, int fd);

// Gives `from` the name `to` unless something has that name already: renameat2 without
// replacing or, where the file system cannot do that, link then unlink. 0, or the errno of the
// failure: EEXIST when the name is taken (it is never replaced), EPERM or EOPNOTSUPP when the
// file system can do neither.
int RenameNoReplace(const std::string& from, const std::string& to);

// Renames the file at `path` to a fresh wipe name in its folder, which goes to `wipePath`.
// 0, or the errno of the failure.
int MoveToWipeName(const std::string& path, std::string& wipePath);

// A new temporary file in `folder` (empty: the current folder), mode 0600 and locked for as
// long as this object lives. Unless committed it is removed again, overwritten first when it
// was made with `wipePasses` (a file that holds plain bytes).
class WorkFile {
public:
    static Result<WorkFile> Create(const std::string& folder, int wipePasses);

    WorkFile(WorkFile&& other) noexcept;
    WorkFile& operator=(WorkFile&&) = delete;
    ~WorkFile();

    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }

    // Flushes the data, gives the file the name `finalPath` without replacing anything, then
    // the permission bits `mode`, and flushes the folder. ErrorKind::Exists when the name is
    // taken; the file is then still the temporary one. The lock is kept until this object goes.
    Result<void> CommitAs(const std::string& finalPath, mode_t mode);

private:
    WorkFile(UniqueFd fd, std::string path, int wipePasses);

    UniqueFd fd_;
    std::string path_;
    int wipePasses_ = 0;
    bool committed_ = false;
};

}  // namespace quillix::container
