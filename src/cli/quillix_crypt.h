#pragma once

#include <iosfwd>
#include <span>
#include <string>

namespace quillix::cli {

// Exit statuses other tools rely on.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // one or more files failed; the others were processed
inline constexpr int kExitUsage = 2;

// Runs the command line `args` (without the program name), writing results to `out` and
// diagnostics to `err`; returns the exit status.
int RunQuillixCrypt(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace quillix::cli
