#pragma once

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <system_error>

namespace quillix::test {

// Waits for what another process writes below a folder: the condition is looked at again each
// time the kernel tells of a change there, never on a clock. Folders made meanwhile are
// watched as they appear.
class TreeWatch {
public:
    explicit TreeWatch(std::filesystem::path root)
        : root_(std::move(root)), fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK))
    {
    }
    ~TreeWatch()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    TreeWatch(const TreeWatch&) = delete;
    TreeWatch& operator=(const TreeWatch&) = delete;

    // True once `done` holds; false when it still does not after `limit`, or when the folder
    // cannot be watched.
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
    {
        if (fd_ < 0) return false;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            // Watches first, then the look: a change after the look wakes the poll below, and one
            // in a folder whose watch came late is seen by the look.
            WatchAll();
            if (done()) return true;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd ready{fd_, POLLIN, 0};
            const int n = ::poll(&ready, 1, static_cast<int>(left.count()));
            if (n < 0 && errno != EINTR) return false;
            if (n > 0) Drain();
        }
    }

private:
    static constexpr std::uint32_t kChanges = IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY | IN_DELETE;

    void WatchAll()
    {
        std::error_code error;
        ::inotify_add_watch(fd_, root_.c_str(), kChanges);
        for (auto it = std::filesystem::recursive_directory_iterator(root_, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_directory(error)) ::inotify_add_watch(fd_, it->path().c_str(), kChanges);
        }
    }

    void Drain()
    {
        alignas(inotify_event) char events[8192];
        while (::read(fd_, events, sizeof events) > 0 || errno == EINTR) {
        }
    }

    std::filesystem::path root_;
    int fd_;
};

}  // namespace quillix::test
