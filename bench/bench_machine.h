#pragma once

#include <sys/statfs.h>

#include <cstdio>
#include <string>

namespace quillix::bench {

// The file system a folder lives on, to print beside figures that depend on it.
inline std::string FileSystemOf(const std::string& dir)
{
    struct statfs info {};
    if (::statfs(dir.c_str(), &info) != 0) return "unknown";
    switch (info.f_type) {
    case 0xEF53: return "ext4";
    case 0x01021994: return "tmpfs";
    case 0x9123683E: return "btrfs";
    case 0x58465342: return "xfs";
    case 0x794c7630: return "overlayfs";
    default: {
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(info.f_type));
        return hex;
    }
    }
}

}  // namespace quillix::bench
