#include "browse/folder_scan.h"

#include "common/paths.h"
#include "common/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iterator>
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

// Which of kImageExtensions `name` ends in; -1 for none.
int ExtensionIndex(std::string_view name)
{
    for (std::size_t i = 0; i < std::size(kImageExtensions); ++i)
        if (HasExtension(name, kImageExtensions[i])) return static_cast<int>(i);
    return -1;
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
    // Grouped in pattern order, as the unsorted mode shows them; each group in the order the file
    // system returns its entries.
    std::array<FileList, std::size(kImageExtensions)> groups;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0) return ReadError(folder, errno);
            break;
        }
        const std::string_view name = entry->d_name;
        const int group = ExtensionIndex(name);
        if (group < 0 || name == "." || name == "..") continue;
        // Follows links: a link to a file is listed like the file, one to a folder is not.
        if (entry->d_type != DT_REG) {
            struct stat st {};
            if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
        }
        groups[static_cast<std::size_t>(group)].push_back(prefix + entry->d_name);
    }
    FileList files;
    for (FileList& group : groups)
        files.insert(files.end(), std::make_move_iterator(group.begin()), std::make_move_iterator(group.end()));
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
