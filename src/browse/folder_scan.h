#pragma once

#include "common/result.h"

#include <compare>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

// The file-system side of the gallery's folder model: listing a folder's image files and
// reading the times the date sort orders by.
namespace quillix::browse {

using FileList = std::vector<std::string>;

// The listing patterns' extensions, in listing order.
inline constexpr std::string_view kImageExtensions[] = {".jpg",  ".jpeg", ".png",  ".bmp", ".gif",  ".webp", ".heic",
                                                        ".heif", ".hif",  ".avif", ".tif", ".tiff", ".jxl"};

// True when `name` ends in `extension` ("." included), ignoring ASCII case.
bool HasExtension(std::string_view name, std::string_view extension);

// The folder's image files as folder-with-separator + name, grouped by extension in the order of
// kImageExtensions, each group in the order the file system returns its entries. Entries
// that are (or link to) regular files are listed, hidden ones included; folders, dangling links
// and other kinds are not. Fails with an Io error, and an empty list, when the folder cannot be read.
Result<FileList> ListImageFiles(const std::string& folder);

// A file time; ordered oldest first.
struct FileTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
    auto operator<=>(const FileTime&) const = default;
};

// Older than any time a file can carry, so a file whose times cannot be read sorts as the oldest.
inline constexpr FileTime kUnreadableTime{std::numeric_limits<std::int64_t>::min(), 0};

// The birth time when the file system reports it, else the earlier of change and modification time.
// The later of that and the modification time when `newest`, else the earlier; a birth time later
// than the modification time does not count (the file was made from an older one that kept its
// date), so `newest` gives the modification time. kUnreadableTime when the file is missing or
// cannot be opened for reading.
FileTime FileSortTime(const std::string& path, bool newest);

}  // namespace quillix::browse
