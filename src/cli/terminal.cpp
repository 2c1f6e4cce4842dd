#include "cli/terminal.h"

#include "crypto/secure.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace quillix::cli {

std::optional<std::string> ReadPasswordFromTerminal(const std::string& prompt)
{
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0) return std::nullopt;
    (void)!::write(tty, prompt.data(), prompt.size());

    termios saved{};
    const bool isTerminal = ::tcgetattr(tty, &saved) == 0;
    if (isTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    std::string line;
    bool gotLine = false;
    for (char c;;) {
        const ssize_t n = ::read(tty, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (c == '\n') {
            gotLine = true;
            break;
        }
        line += c;
    }
    if (isTerminal) ::tcsetattr(tty, TCSAFLUSH, &saved);
    ::close(tty);
    if (!gotLine && line.empty()) return std::nullopt;
    return line;
}

}  // namespace quillix::cli
