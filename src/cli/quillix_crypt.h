#pragma once

#include "container/file_ops.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>

namespace quillix::cli {

// Exit statuses other tools rely on.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // one or more files failed; the others were processed
inline constexpr int kExitUsage = 2;   // bad command line or unreadable password file

// Where the command line's defaults come from.
struct Defaults {
    container::FileOptions options;
    std::string settingsFile;  // the Quillix.ini they were read from (it need not exist)
};

// The outside world the tool talks to; tests replace the terminal and the settings.
struct Environment {
    std::istream* in = nullptr;   // for "--password-file -" and `cat`-free input
    std::ostream* out = nullptr;  // results, and the plain bytes of `cat`
    std::ostream* err = nullptr;  // diagnostics
    // Asks for the password on the terminal without echo; nothing when there is no terminal.
    std::function<std::optional<std::string>(const std::string& prompt)> askTerminal;
    // Reads the defaults from `settingsFile`, or from the program's own Quillix.ini when empty.
    std::function<Defaults(const std::string& settingsFile)> loadDefaults;
    // Standard error is a terminal: a run over files keeps one progress line there.
    bool progressOnErr = false;
    // The width of that terminal in columns.
    std::function<std::size_t()> terminalWidth;
};

// The defaults the program's settings give (quillix::settings), from `settingsFile` or from
// the program's own Quillix.ini when it is empty.
Defaults LoadDefaults(const std::string& settingsFile);

// The real terminal, standard streams and settings.
Environment ProcessEnvironment();

// What a file's line says about why it failed.
std::string FailureReason(const Error& error);

// Runs the command line `args` (without the program name); returns the exit status.
int RunQuillixCrypt(std::span<const std::string> args, const Environment& env);

}  // namespace quillix::cli
