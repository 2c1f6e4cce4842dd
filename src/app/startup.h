#pragma once

#include <functional>
#include <string>

namespace quillix::app {

// The first command-line argument without the blanks and quotes a shell or a launcher left
// around it.
std::string TrimArgument(const std::string& argument);

enum class StartMode { Standalone, Gallery };

struct StartPlan {
    StartMode mode = StartMode::Gallery;
    // Standalone: the picture to show. Gallery: the folder to open, ending in "/".
    std::string path;
    // For the gallery's status line: the argument named a file that does not exist.
    std::string notice;
};

// How the program starts for `argument` (already trimmed): an existing file is shown on its own; a
// folder opens the gallery there; anything else opens the gallery at `lastDir`, or at
// `currentDir` when that is no folder, and a path that names nothing is reported as
// "File not found: " and the path. Relative paths are taken from `currentDir`.
StartPlan PlanStart(const std::string& argument, const std::string& lastDir, const std::string& currentDir);

// The start-up duties. Either may be empty.
struct StartupHooks {
    // Asks for the parental PIN when one is set: false when the program is to end.
    std::function<bool()> checkPin;
    // Writes the desktop registration of the program.
    std::function<void()> registerDesktop;
};

// The PIN first, before any window of the program is on screen; then the registration, whatever
// the PIN's outcome: at once when the program is to end, otherwise handed to `later`, which runs
// it once the first window is up. False when the program is to end.
bool RunStartupDuties(const StartupHooks& hooks, const std::function<void(std::function<void()>)>& later);

}  // namespace quillix::app
