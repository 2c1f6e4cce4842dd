#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

namespace quillix {

// The names of the folders inside `folder`, in the order the file system lists them; "." and ".."
// are skipped. A link to a folder counts as a folder, since opening it shows that folder's files.
// Empty when `folder` cannot be read. Lives here rather than in the viewer because the dialogs
// list subfolders too, and they sit below the viewer.
inline std::vector<std::string> SubfolderNames(const std::string& folder)
{
    struct DirCloser {
        void operator()(DIR* dir) const { ::closedir(dir); }
    };
    std::vector<std::string> names;
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            isFolder = ::fstatat(::dirfd(dir.get()), entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (isFolder) names.push_back(name);
    }
    return names;
}

}  // namespace quillix
