#include "app/startup.h"

#include "common/paths.h"

#include <sys/stat.h>

namespace quillix::app {
namespace {

std::string Absolute(const std::string& path, const std::string& currentDir)
{
    if (path.empty() || path.front() == '/' || currentDir.empty()) return path;
    return currentDir.back() == '/' ? currentDir + path : currentDir + "/" + path;
}

}  // namespace

std::string TrimArgument(const std::string& argument)
{
    const auto dropped = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"'; };
    std::size_t begin = 0, end = argument.size();
    while (begin < end && dropped(argument[begin]))
        ++begin;
    while (end > begin && dropped(argument[end - 1]))
        --end;
    return argument.substr(begin, end - begin);
}

StartPlan PlanStart(const std::string& argument, const std::string& lastDir, const std::string& currentDir)
{
    const std::string path = Absolute(argument, currentDir);
    if (IsRegularFile(path)) return {StartMode::Standalone, path, {}};
    if (IsFolder(path)) return {StartMode::Gallery, WithSeparator(path), {}};
    // The shell or a launcher asked for a file that is gone: say so rather than start as if
    // nothing had been asked.
    struct stat st {};
    const std::string notice = !path.empty() && ::stat(path.c_str(), &st) != 0 ? "File not found: " + path : "";
    if (IsFolder(lastDir)) return {StartMode::Gallery, WithSeparator(lastDir), notice};
    return {StartMode::Gallery, WithSeparator(currentDir), notice};
}

bool RunStartupDuties(const StartupHooks& hooks, const std::function<void(std::function<void()>)>& later)
{
    const bool goOn = !hooks.checkPin || hooks.checkPin();
    if (hooks.registerDesktop) {
        if (goOn && later)
            later(hooks.registerDesktop);
        else
            hooks.registerDesktop();
    }
    return goOn;
}

}  // namespace quillix::app
