#include "browse/file_commands.h"

#include "common/paths.h"
#include "common/temp_file.h"
#include "common/unique_fd.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <span>
#include <system_error>
#include <vector>

namespace quillix::browse {
namespace {

// Any entry counts, a dangling link too: a link() onto it would fail all the same.
bool EntryExists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

Error ErrnoErrorOf(int error, const std::string& what)
{
    return MakeError(ErrorKind::Io, what + ": " + std::strerror(error));
}

// Unlinks a temporary name at scope end unless the file has moved on under another name.
struct RemoveOnExit {
    std::string path;
    ~RemoveOnExit()
    {
        if (!path.empty()) ::unlink(path.c_str());
    }
};

// Copies what is left of `in` to the end of `out`; false with errno set on a failure.
bool CopyBytes(int in, int out)
{
    std::vector<std::uint8_t> buffer(256 * 1024);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        errno = 0;
        if (!WriteAll(out, std::span(buffer.data(), static_cast<std::size_t>(n)))) {
            if (errno == 0) errno = EIO;
            return false;
        }
    }
}

bool CannotHardLink(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS;
}

// Gives the temporary file `temp` the name `target` unless something already has it: 0, or the
// errno of the failure (EEXIST when the name is taken). A link is tried first; file systems
// without hard links (FAT on memory cards) get a rename that refuses to replace instead.
int NameTempNoReplace(RemoveOnExit& temp, const std::string& target)
{
    if (::link(temp.path.c_str(), target.c_str()) == 0) return 0;
    if (!CannotHardLink(errno)) return errno;
    if (::renameat2(AT_FDCWD, temp.path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) return errno;
    temp.path.clear();
    return 0;
}

// Copies the regular file `source` into a new hidden file of `folder` (a name with no picture
// extension, so no listing shows the copy while it is written), flushed, with the source's
// permission bits; `temp` names it and removes it unless the caller takes it. With `target`, a
// target that is the source itself is refused: a cut deletes its source afterwards, and that
// would be the only copy.
Result<void> WriteHiddenCopy(const std::string& source, const std::string& folder, RemoveOnExit& temp,
                             const std::string* target)
{
    const UniqueFd in = OpenFile(source, O_RDONLY | O_NONBLOCK);
    if (!in) return ErrnoError("cannot open " + source);
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) return ErrnoError("cannot examine " + source);
    if (!S_ISREG(st.st_mode)) return MakeError(ErrorKind::Unsupported, source + " is not a regular file");
    struct stat existing {};
    if (target && ::stat(target->c_str(), &existing) == 0 && existing.st_dev == st.st_dev &&
        existing.st_ino == st.st_ino)
        return MakeError(ErrorKind::Unsupported, source + " and " + *target + " are the same file");

    temp.path = folder + ".quillix-copy-XXXXXX";
    const UniqueFd out(::mkostemp(temp.path.data(), O_CLOEXEC));
    if (!out) {
        const int error = errno;
        temp.path.clear();
        return ErrnoErrorOf(error, "cannot create a file in " + folder);
    }
    // The permission bits without set-id and sticky; file systems that keep none refuse, which is fine.
    ::fchmod(out.get(), st.st_mode & 0777);
    const std::string where = target ? " to " + *target : " into " + folder;
    if (!CopyBytes(in.get(), out.get())) return ErrnoError("cannot copy " + source + where);
    // A copy keeps the picture's date, as file managers keep it, so sorting by date does not change.
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    (void)::futimens(out.get(), times);
    if (::fsync(out.get()) != 0) return ErrnoError("cannot flush the copy of " + source);
    return {};
}

std::string TrimSpaces(const std::string& text)
{
    const std::size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

}  // namespace

std::string UniqueTargetName(const std::string& targetFolder, const std::string& fileName)
{
    const std::string folder = WithSeparator(targetFolder);
    const std::size_t dot = fileName.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string base = hasExtension ? fileName.substr(0, dot) : fileName;
    const std::string extension = hasExtension ? fileName.substr(dot) : std::string();

    std::string candidate = folder + fileName;
    for (unsigned long long n = 1; EntryExists(candidate); ++n)
        candidate = folder + base + std::to_string(n) + extension;
    return candidate;
}

Result<std::string> CopyIntoFolder(const std::string& source, const std::string& targetFolder, bool createFolder,
                                   const container::NameChangeKey& key)
{
    const std::string folder = WithSeparator(targetFolder);
    if (createFolder) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) return MakeError(ErrorKind::Io, "cannot create " + folder + ": " + ec.message());
    }

    const bool container = container::IsContainerFile(source);
    RemoveOnExit temp;
    bool written = false;
    const std::string fileName = FileNameOf(source);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string target = UniqueTargetName(folder, fileName);
        if (container && container::PlainNameOf(target) != container::PlainNameOf(source)) {
            const Result<container::NameChange> given =
                container::GiveContainerName(source, target, key, container::NameChangeMode::Copy);
            if (!given && given.error().kind == ErrorKind::Exists) continue;
            if (!given) return given.error();
            return target;
        }
        if (!written) {
            if (Result<void> copied = WriteHiddenCopy(source, folder, temp, nullptr); !copied) return copied.error();
            written = true;
        }
        const int error = NameTempNoReplace(temp, target);
        if (error == EEXIST) continue;  // taken since the name was chosen: choose again
        if (error != 0) return ErrnoErrorOf(error, "cannot copy " + source + " to " + target);
        // The copy is complete under its name; a folder that cannot be flushed is no reason to
        // take it back.
        SyncFolderOf(target);
        return target;
    }
    return MakeError(ErrorKind::Io, "no free name for " + fileName + " in " + folder);
}

Result<void> CopyFileAs(const std::string& source, const std::string& target, bool replace)
{
    const std::string folder = FolderOf(target).empty() ? std::string("./") : FolderOf(target);
    RemoveOnExit temp;
    if (Result<void> copied = WriteHiddenCopy(source, folder, temp, &target); !copied) return copied.error();
    if (replace) {
        if (::rename(temp.path.c_str(), target.c_str()) != 0)
            return ErrnoError("cannot copy " + source + " to " + target);
        temp.path.clear();
    } else if (const int error = NameTempNoReplace(temp, target); error != 0) {
        Error failure = ErrnoErrorOf(error, "cannot copy " + source + " to " + target);
        if (error == EEXIST) failure.kind = ErrorKind::Exists;
        return failure;
    }
    SyncFolderOf(target);
    return {};
}

Result<void> RenameNoReplace(const std::string& from, const std::string& to)
{
    const std::string what = "cannot rename " + from + " to " + to;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    // EINVAL: this file system has no renaming without replacing.
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return ErrnoError(what);
    if (::link(from.c_str(), to.c_str()) != 0) return ErrnoError(what);
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return ErrnoErrorOf(error, what);
    }
    return {};
}

Result<container::NameChange> RenameFileAs(const std::string& from, const std::string& to,
                                           const container::NameChangeKey& key)
{
    if (container::PlainNameOf(from) != container::PlainNameOf(to) && container::IsContainerFile(from))
        return container::GiveContainerName(from, to, key, container::NameChangeMode::Move);
    Result<void> renamed = RenameNoReplace(from, to);
    if (!renamed) {
        Error error = renamed.error();
        if (EntryExists(to)) error.kind = ErrorKind::Exists;
        return error;
    }
    return container::NameChange{};
}

std::string RefusedNameChangeText(const std::string& path, const std::string& done, const Error& error)
{
    return FileNameOf(path) + " was not " + done + ": " + error.message;
}

RenamePlan PlanRename(const std::string& currentPath, const std::string& answer)
{
    std::string name = TrimSpaces(answer);
    if (name.empty()) return {};
    // A rename stays in the folder: a path typed as a name would move the file elsewhere.
    if (name.find('/') != std::string::npos || name == "." || name == "..") return {RenamePlan::Action::Invalid, {}};
    name = container::KeepContainerMark(FileNameOf(currentPath), name);
    if (name == FileNameOf(currentPath)) return {};
    if (name == "$") return {RenamePlan::Action::Invalid, {}};
    std::string newPath = FolderOf(currentPath) + name;
    const RenamePlan::Action action = EntryExists(newPath) ? RenamePlan::Action::Exists : RenamePlan::Action::Rename;
    return {action, std::move(newPath)};
}

}  // namespace quillix::browse
