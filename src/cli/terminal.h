#pragma once

#include <optional>
#include <string>

namespace quillix::cli {

// Asks on the controlling terminal with echo off; nothing when there is no terminal or on EOF.
std::optional<std::string> ReadPasswordFromTerminal(const std::string& prompt);

}  // namespace quillix::cli
