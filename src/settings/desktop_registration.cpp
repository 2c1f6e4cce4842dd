#include "settings/desktop_registration.h"

#include "common/paths.h"
#include "common/text.h"
#include "settings/text_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace quillix::settings {
namespace {

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return ".";
}

std::string XdgFolder(const char* variable, const std::string& fallback)
{
    const char* value = std::getenv(variable);
    return value && *value == '/' ? std::string(value) : HomeFolder() + "/" + fallback;
}

// The general escapes of a desktop entry's string values.
std::string EscapeDesktopString(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

// `text` in single quotes for a POSIX shell (and for GLib's shell parser).
std::string ShellQuote(const std::string& text)
{
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// Nemo reads "%" as the start of one of its tokens; "%%" is a percent sign.
std::string NemoPercents(const std::string& text)
{
    std::string out;
    for (const char c : text)
        out += c == '%' ? std::string("%%") : std::string(1, c);
    return out;
}

std::string MimeTypeList()
{
    std::string list;
    for (const std::string& type : RegisteredMimeTypes())
        list += type + ";";
    return list;
}

std::string KeyOf(const std::string& line)
{
    const std::size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : TrimBlanksAndControls(line.substr(0, eq));
}

bool IsSectionLine(const std::string& line)
{
    const std::string t = TrimBlanksAndControls(line);
    return !t.empty() && t.front() == '[';
}

// The desktop file ids of an association line's value, in order.
std::vector<std::string> SplitIds(const std::string& value)
{
    std::vector<std::string> ids;
    std::size_t start = 0;
    while (start <= value.size()) {
        const std::size_t semicolon = value.find(';', start);
        const std::string id = TrimBlanksAndControls(
            value.substr(start, semicolon == std::string::npos ? std::string::npos : semicolon - start));
        if (!id.empty()) ids.push_back(id);
        if (semicolon == std::string::npos) break;
        start = semicolon + 1;
    }
    return ids;
}

std::string JoinIds(const std::vector<std::string>& ids)
{
    std::string value;
    for (const std::string& id : ids)
        value += id + ";";
    return value;
}

std::string JoinLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// The first line of the [Added Associations] section and the line after its end; npos when the
// file has none.
std::pair<std::size_t, std::size_t> AddedAssociations(const std::vector<std::string>& lines)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (TrimBlanksAndControls(lines[i]) != "[Added Associations]") continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !IsSectionLine(lines[end]))
            ++end;
        return {i, end};
    }
    return {std::string::npos, std::string::npos};
}

enum class Written { Unchanged, Changed, Failed };

// Puts `content` at `path` unless it is there already, making the folders on the way.
Written WriteIfChanged(const std::string& path, const std::string& content, bool executable)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const TextFile existing = ReadTextFile(path);
    Written outcome = Written::Unchanged;
    if (existing.status != ReadStatus::Ok || existing.text != content) {
        if (!ReplaceTextFile(path, content, executable ? 0755 : 0644)) return Written::Failed;
        outcome = Written::Changed;
    }
    if (executable) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return Written::Failed;
        const mode_t mode = st.st_mode & 07777;
        const mode_t wanted = mode | ((mode & 0444) >> 2);  // executable wherever readable
        if (wanted != mode && ::chmod(path.c_str(), wanted) != 0) return Written::Failed;
    }
    return outcome;
}

bool RemoveFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace

const std::vector<std::string>& RegisteredMimeTypes()
{
    static const std::vector<std::string> types = {"image/jpeg", "image/png",  "image/gif",  "image/bmp",  "image/webp",
                                                   "image/heic", "image/heif", "image/avif", "image/tiff", "image/jxl"};
    return types;
}

const std::vector<int>& IconSizes()
{
    static const std::vector<int> sizes = {16, 22, 24, 32, 48, 64, 128, 256};
    return sizes;
}

DesktopPlaces DesktopPlaces::FromEnvironment()
{
    return {XdgFolder("XDG_DATA_HOME", ".local/share"), XdgFolder("XDG_CONFIG_HOME", ".config")};
}

std::string DesktopPlaces::ApplicationsFolder() const
{
    return dataHome + "/applications";
}

std::string DesktopPlaces::DesktopEntry() const
{
    return ApplicationsFolder() + "/" + kDesktopId;
}

std::string DesktopPlaces::MimeAppsList() const
{
    return configHome + "/mimeapps.list";
}

std::string DesktopPlaces::DolphinServiceMenu() const
{
    return dataHome + "/kio/servicemenus/quillix.desktop";
}

std::string DesktopPlaces::NautilusScript() const
{
    return dataHome + "/nautilus/scripts/" + kViewWithQuillix;
}

std::string DesktopPlaces::NemoAction() const
{
    return dataHome + "/nemo/actions/quillix.nemo_action";
}

std::string DesktopPlaces::IconFile(int size) const
{
    const std::string edge = std::to_string(size);
    return dataHome + "/icons/hicolor/" + edge + "x" + edge + "/apps/" + kIconName + ".png";
}

std::string AppExecutable()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !IsRegularFile(exe.string())) return {};
    return exe.string();
}

void RunUpdateDesktopDatabase(const std::string& folder)
{
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) return;
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = "update-desktop-database", quiet = "-q", target = folder;
    char* argv[] = {program.data(), quiet.data(), target.data(), nullptr};
    pid_t child = 0;
    if (::posix_spawnp(&child, program.c_str(), &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ::posix_spawn_file_actions_destroy(&actions);
}

std::string DesktopExecArgument(const std::string& argument)
{
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        // A percent sign would start a field code.
        quoted += c == '%' ? std::string("%%") : std::string(1, c);
    }
    quoted += '"';
    return EscapeDesktopString(quoted);
}

std::string DesktopExecCommand(const std::string& executable)
{
    if (executable.find('%') == std::string::npos) return DesktopExecArgument(executable);
    // GLib looks the program up by the Exec line's first word before it turns "%%" into "%", and
    // drops an entry whose program it cannot find: a path holding "%" goes to sh, which GLib finds.
    return "/bin/sh -c " + DesktopExecArgument(R"(exec "$0" "$@")") + " " + DesktopExecArgument(executable);
}

std::string DesktopEntryText(const std::string& executable)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quillix\n"
           "GenericName=Image Viewer\n"
           "Comment=View pictures and keep private ones encrypted\n"
           "Exec=" +
           DesktopExecCommand(executable) +
           " %f\n"
           "Icon=" +
           std::string(kIconName) +
           "\n"
           "Terminal=false\n"
           "Categories=Graphics;Viewer;\n"
           "MimeType=" +
           MimeTypeList() + "\n";
}

std::string DolphinServiceMenuText(const std::string& executable)
{
    return "[Desktop Entry]\n"
           "Type=Service\n"
           "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
           "MimeType=all/allfiles;\n"
           "Actions=viewWithQuillix;\n"
           "X-KDE-Priority=TopLevel\n"
           "\n"
           "[Desktop Action viewWithQuillix]\n"
           "Name=" +
           std::string(kViewWithQuillix) +
           "\n"
           "Icon=" +
           std::string(kIconName) +
           "\n"
           "Exec=" +
           DesktopExecCommand(executable) + " %f\n";
}

std::string NautilusScriptText(const std::string& executable)
{
    return "#!/bin/sh\n"
           "# Written by Quillix at every start; \"quillix --unregister\" removes it.\n"
           "# Nautilus passes the selected files; Quillix shows the first.\n"
           "[ -n \"$1\" ] || exit 0\n"
           "exec " +
           ShellQuote(executable) + " \"$1\"\n";
}

std::string NemoActionText(const std::string& executable)
{
    return "[Nemo Action]\n"
           "Name=" +
           std::string(kViewWithQuillix) +
           "\n"
           "Comment=Show the file in Quillix\n"
           "Exec=" +
           EscapeDesktopString(NemoPercents(ShellQuote(executable))) +
           " %F\n"
           "Icon-Name=" +
           std::string(kIconName) +
           "\n"
           "Selection=s\n"
           "Extensions=nodirs;\n"
           "Quote=double\n";
}

std::string AddToMimeApps(const std::string& text)
{
    std::vector<std::string> lines = SplitLines(text);
    auto [begin, end] = AddedAssociations(lines);
    if (begin == std::string::npos) {
        if (!lines.empty() && !TrimBlanksAndControls(lines.back()).empty()) lines.emplace_back();
        lines.emplace_back("[Added Associations]");
        begin = lines.size() - 1;
        end = lines.size();
    }
    for (const std::string& type : RegisteredMimeTypes()) {
        bool found = false;
        for (std::size_t i = begin + 1; i < end; ++i) {
            if (KeyOf(lines[i]) != type) continue;
            found = true;
            std::vector<std::string> ids = SplitIds(lines[i].substr(lines[i].find('=') + 1));
            if (std::find(ids.begin(), ids.end(), kDesktopId) != ids.end()) break;
            ids.emplace_back(kDesktopId);
            lines[i] = type + "=" + JoinIds(ids);
            break;
        }
        if (found) continue;
        // After the section's last entry, before the blank lines that part it from the next.
        std::size_t at = end;
        while (at > begin + 1 && TrimBlanksAndControls(lines[at - 1]).empty())
            --at;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), type + "=" + kDesktopId + ";");
        ++end;
    }
    return JoinLines(lines);
}

std::string RemoveFromMimeApps(const std::string& text)
{
    std::vector<std::string> lines = SplitLines(text);
    auto [begin, end] = AddedAssociations(lines);
    if (begin == std::string::npos) return text;
    const std::vector<std::string>& types = RegisteredMimeTypes();
    for (std::size_t i = end; i-- > begin + 1;) {
        const std::string key = KeyOf(lines[i]);
        if (std::find(types.begin(), types.end(), key) == types.end()) continue;
        std::vector<std::string> ids = SplitIds(lines[i].substr(lines[i].find('=') + 1));
        const auto kept = std::remove(ids.begin(), ids.end(), kDesktopId);
        if (kept == ids.end()) continue;
        ids.erase(kept, ids.end());
        if (ids.empty()) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            --end;
        } else {
            lines[i] = key + "=" + JoinIds(ids);
        }
    }
    // A section left with nothing in it goes too, with the blank line before it.
    const bool empty = std::all_of(lines.begin() + static_cast<std::ptrdiff_t>(begin + 1),
                                   lines.begin() + static_cast<std::ptrdiff_t>(end),
                                   [](const std::string& line) { return TrimBlanksAndControls(line).empty(); });
    if (empty) {
        std::size_t from = begin;
        if (from > 0 && TrimBlanksAndControls(lines[from - 1]).empty()) --from;
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(from),
                    lines.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return JoinLines(lines);
}

bool RegisterDesktop(const DesktopPlaces& places, const DesktopRegistration& registration)
{
    const std::string& exe = registration.executable;
    if (exe.empty()) return false;
    bool ok = true;
    const Written entry = WriteIfChanged(places.DesktopEntry(), DesktopEntryText(exe), false);
    ok &= entry != Written::Failed;
    const TextFile mimeApps = ReadTextFile(places.MimeAppsList());
    if (mimeApps.status == ReadStatus::Failed)
        ok = false;
    else
        ok &= WriteIfChanged(places.MimeAppsList(), AddToMimeApps(mimeApps.text), false) != Written::Failed;
    ok &= WriteIfChanged(places.DolphinServiceMenu(), DolphinServiceMenuText(exe), true) != Written::Failed;
    ok &= WriteIfChanged(places.NautilusScript(), NautilusScriptText(exe), true) != Written::Failed;
    ok &= WriteIfChanged(places.NemoAction(), NemoActionText(exe), false) != Written::Failed;
    for (const IconImage& icon : registration.icons)
        ok &= WriteIfChanged(places.IconFile(icon.size), icon.png, false) != Written::Failed;
    if (entry == Written::Changed) {
        if (registration.updateDatabase)
            registration.updateDatabase(places.ApplicationsFolder());
        else
            RunUpdateDesktopDatabase(places.ApplicationsFolder());
    }
    return ok;
}

bool UnregisterDesktop(const DesktopPlaces& places,
                       const std::function<void(const std::string& folder)>& updateDatabase)
{
    bool ok = RemoveFile(places.DesktopEntry());
    const TextFile mimeApps = ReadTextFile(places.MimeAppsList());
    if (mimeApps.status == ReadStatus::Failed) {
        ok = false;
    } else if (mimeApps.status == ReadStatus::Ok) {
        const std::string without = RemoveFromMimeApps(mimeApps.text);
        if (without != mimeApps.text) ok &= ReplaceTextFile(places.MimeAppsList(), without, 0644);
    }
    ok &= RemoveFile(places.DolphinServiceMenu());
    ok &= RemoveFile(places.NautilusScript());
    ok &= RemoveFile(places.NemoAction());
    for (const int size : IconSizes())
        ok &= RemoveFile(places.IconFile(size));
    if (updateDatabase)
        updateDatabase(places.ApplicationsFolder());
    else if (IsFolder(places.ApplicationsFolder()))
        RunUpdateDesktopDatabase(places.ApplicationsFolder());
    return ok;
}

}  // namespace quillix::settings
