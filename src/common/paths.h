#pragma once

#include <sys/stat.h>

#include <string>

namespace quillix {

// The file name of `path`, without its folder.
inline std::string FileNameOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder part of `path` including its final "/", or empty for a bare name.
inline std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// `folder` with a "/" appended when it does not end in one; empty stays empty.
inline std::string WithSeparator(const std::string& folder)
{
    if (folder.empty() || folder.back() == '/') return folder;
    return folder + '/';
}

// What `path` names, links followed; false for an empty path or one that cannot be examined.
inline bool IsFolder(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

inline bool IsRegularFile(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace quillix
