#pragma once

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

}  // namespace quillix
