#include "browse/folder_scan.h"

#include "common/paths.h"
#include "common/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace quillix::browse {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

Error ReadError(const std::string& folder, int error)
{
    return MakeError(ErrorKind::Io, "Cannot read folder " + folder + ": " + std::strerror(error));
}

// Appends the regular files of `dir` whose names end in `extension`; false on a read error.
bool AppendMatches(DIR* dir, const std::string& prefix, std::string_view extension, FileList& out)
{
    ::rewinddir(dir);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) return errno == 0;
        const std::string_view name = entry->d_name;
        if (name == "." || name == ".." || !HasExtension(name, extension)) continue;
        // Follows links: a link to a file is listed like the file, one to a folder is not.
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
        out.push_back(prefix + entry->d_name);
    }
}

FileTime ToFileTime(const statx_timestamp& t)
{
    return {t.tv_sec, t.tv_nsec};
}

}  // namespace

bool HasExtension(std::string_view name, std::string_view extension)
{
    if (name.size() < extension.size()) return false;
    const std::string_view tail = name.substr(name.size() - extension.size());
    return std::equal(tail.begin(), tail.end(), extension.begin(), extension.end(),
                      [](char a, char b) { return LowerAscii(a) == LowerAscii(b); });
}

Result<FileList> ListImageFiles(const std::string& folder)
{
    const std::string prefix = WithSeparator(folder);
    UniqueDir dir(::opendir(folder.c_str()));
    if (!dir) return ReadError(folder, errno);
    // One pass per extension keeps the files grouped in pattern order, as the unsorted mode shows them.
    FileList files;
    for (const std::string_view extension : kImageExtensions) {
        if (!AppendMatches(dir.get(), prefix, extension, files)) return ReadError(folder, errno);
    }
    return files;
}

FileTime FileSortTime(const std::string& path, bool newest)
{
    // Non-blocking, so a file swapped for a FIFO after listing cannot hang the sort.
    const UniqueFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
    if (!fd) return kUnreadableTime;
    struct statx st {};
    if (::statx(fd.get(), "", AT_EMPTY_PATH, STATX_BTIME | STATX_MTIME | STATX_CTIME, &st) != 0) return kUnreadableTime;
    const FileTime modified = ToFileTime(st.stx_mtime);
    const FileTime created =
        (st.stx_mask & STATX_BTIME) ? ToFileTime(st.stx_btime) : std::min(ToFileTime(st.stx_ctime), modified);
    // A birth time later than the modification time is the day the file was made from an older
    // one (a container, a decrypted picture, a copy that kept its date), which no program can
    // carry over: the picture's date is then the modification time.
    return newest ? modified : std::min(created, modified);
}

}  // namespace quillix::browse
