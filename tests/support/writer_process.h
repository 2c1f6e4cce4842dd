#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace quillix::test {

// Another program writing a file: a child process that opens it for appending, appends what it
// is sent, and keeps it open until told to close. The child only opens, reads, writes and
// exits, which a child of a threaded process may do.
class WriterProcess {
public:
    enum class Opening {
        Now,  // the file is open for writing when Start returns
        // Start returns once the child has tried to open the file without waiting, which begins
        // to break a lease held on it; the child then opens it for real, waiting for the lease
        // to be let go (WaitOpened tells when it has).
        AfterLease,
    };

    // Empty when the child could not be started or could not open the file.
    static WriterProcess Start(const std::string& path, Opening opening)
    {
        WriterProcess writer;
        // A socket rather than pipes, so that telling a child that died raises no SIGPIPE.
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return writer;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(ends[0]);
            Child(path, opening, ends[1]);
        }
        ::close(ends[1]);
        writer.pid_ = pid;
        writer.socket_ = ends[0];
        const char first = writer.Answer();
        writer.leaseBroken_ = first == 'B';
        writer.opened_ = first == 'O';
        if (first != 'O' && first != 'B') writer.Close();
        return writer;
    }

    WriterProcess() = default;
    WriterProcess(WriterProcess&& other) noexcept { *this = std::move(other); }
    WriterProcess& operator=(WriterProcess&& other) noexcept
    {
        std::swap(pid_, other.pid_);
        std::swap(socket_, other.socket_);
        std::swap(opened_, other.opened_);
        std::swap(leaseBroken_, other.leaseBroken_);
        return *this;
    }
    ~WriterProcess() { Close(); }

    bool started() const { return pid_ > 0 && (opened_ || leaseBroken_); }
    // The first open found a lease on the file and began to break it.
    bool leaseBroken() const { return leaseBroken_; }

    // With Opening::AfterLease: waits until the child has the file open; false when it failed.
    bool WaitOpened()
    {
        if (!opened_ && pid_ > 0) opened_ = Answer() == 'O';
        return opened_;
    }

    // Appends `text` to the file and waits until it is written.
    bool Append(const std::string& text)
    {
        if (!WaitOpened()) return false;
        const std::uint32_t size = static_cast<std::uint32_t>(text.size());
        std::string message = "A";
        message.append(reinterpret_cast<const char*>(&size), sizeof size);
        message += text;
        return Send(message) && Answer() == 'W';
    }

    // Closes the file and ends the child.
    void Close()
    {
        if (pid_ <= 0) return;
        ::close(socket_);  // the child reads the end and closes the file
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

private:
    bool Send(const std::string& message) const
    {
        for (std::size_t done = 0; done < message.size();) {
            const ssize_t n = ::send(socket_, message.data() + done, message.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    static bool WriteAll(int fd, const char* data, std::size_t size)
    {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    static bool ReadAll(int fd, char* data, std::size_t size)
    {
        while (size > 0) {
            const ssize_t n = ::read(fd, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    char Answer() const
    {
        char c = 0;
        return ReadAll(socket_, &c, 1) ? c : 0;
    }

    [[noreturn]] static void Child(const std::string& path, Opening opening, int channel)
    {
        const int commands = channel, answers = channel;
        int fd = -1;
        if (opening == Opening::AfterLease) {
            // Reading does not break a read lease. The file is then reopened for writing through
            // the reading descriptor, so the writer reaches it whatever name it has by then, as
            // a program that opened it before it was moved would.
            const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (reader < 0) ::_exit(1);
            char self[32] = "/proc/self/fd/";
            char digits[12];
            int n = 0;
            for (int v = reader; n == 0 || v > 0; v /= 10)
                digits[n++] = static_cast<char>('0' + v % 10);
            std::size_t at = 14;
            while (n > 0)
                self[at++] = digits[--n];
            self[at] = 0;
            fd = ::open(self, O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0 && errno == EWOULDBLOCK) {
                (void)WriteAll(answers, "B", 1);
                while ((fd = ::open(self, O_WRONLY | O_APPEND | O_CLOEXEC)) < 0 && errno == EINTR) {
                }
            }
        } else {
            fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        }
        if (fd < 0) ::_exit(1);
        (void)WriteAll(answers, "O", 1);
        char command = 0;
        static char piece[1 << 16];
        while (ReadAll(commands, &command, 1) && command == 'A') {
            std::uint32_t size = 0;
            if (!ReadAll(commands, reinterpret_cast<char*>(&size), sizeof size) || size > sizeof piece) break;
            if (!ReadAll(commands, piece, size) || !WriteAll(fd, piece, size)) break;
            (void)WriteAll(answers, "W", 1);
        }
        ::close(fd);
        ::_exit(0);
    }

    pid_t pid_ = -1;
    int socket_ = -1;
    bool opened_ = false;
    bool leaseBroken_ = false;
};

}  // namespace quillix::test
