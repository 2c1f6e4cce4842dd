#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace quillix::test {

// A folder that refuses new files while this lives: its write permission is taken away, and
// for root, whom permission bits do not stop, the file system's immutable flag is set too (ext4,
// XFS and btrfs keep it). Both are undone at the end, so that the folder can be removed.
class UnwritableFolder {
public:
    explicit UnwritableFolder(std::string path) : path_(std::move(path))
    {
        ::chmod(path_.c_str(), 0555);
        if (::geteuid() == 0) immutable_ = SetImmutable(true);
    }
    ~UnwritableFolder()
    {
        if (immutable_) SetImmutable(false);
        ::chmod(path_.c_str(), 0755);
    }
    UnwritableFolder(const UnwritableFolder&) = delete;
    UnwritableFolder& operator=(const UnwritableFolder&) = delete;

    // Whether creating a file in it fails now; tests skip what they cannot set up.
    bool refusesWrites() const
    {
        const std::string probe = path_ + "/.write-probe";
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) return true;
        ::close(fd);
        ::unlink(probe.c_str());
        return false;
    }

private:
    bool SetImmutable(bool on) const
    {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }

    std::string path_;
    bool immutable_ = false;
};

}  // namespace quillix::test
