#include "settings/settings_store.h"

#include "common/text.h"
#include "settings/registry_file.h"
#include "settings/text_file.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace quillix::settings {
namespace {

bool HasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return ".";
}

}  // namespace

std::string AppDir()
{
    std::string exe(4096, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
        if (n <= 0) return "./";
        if (static_cast<std::size_t>(n) < exe.size()) {
            exe.resize(static_cast<std::size_t>(n));
            break;
        }
        exe.resize(exe.size() * 2);  // readlink truncates silently
    }
    const std::size_t slash = exe.find_last_of('/');
    return slash == std::string::npos ? "./" : exe.substr(0, slash + 1);
}

std::string DefaultRegistryFile()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const std::string base = xdg && *xdg == '/' ? std::string(xdg) : HomeFolder() + "/.config";
    return base + "/quillix/registry.ini";
}

std::string GetDataKey(const std::string& line)
{
    const std::size_t eq = line.find('=');
    return eq == std::string::npos ? line : line.substr(0, eq);
}

std::string GetDataValue(const std::string& line)
{
    const std::size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

std::string BuildData(const std::string& key, const std::string& value)
{
    return key + "=" + value;
}

int StrToInt(const std::string& text, int def)
{
    const std::string t = TrimBlanksAndControls(text);
    if (t.empty()) return def;
    const char* begin = t.data();
    if (*begin == '+' && t.size() > 1 && t[1] != '-') ++begin;
    int value = 0;
    const auto [end, ec] = std::from_chars(begin, t.data() + t.size(), value);
    return ec == std::errc() && end == t.data() + t.size() ? value : def;
}

std::string ExtractFolderName(const std::string& line)
{
    bool inside = false, closed = false, invalid = false;
    std::string name;
    for (const char c : line) {
        if (c == '[') {
            if (closed)
                invalid = true;
            else
                inside = true;
        } else if (c == ']') {
            inside = false;
            closed = true;
        } else if (inside) {
            name += c;
        } else if (c != ' ') {
            invalid = true;
        }
    }
    return invalid ? std::string() : name;
}

std::string EncodeText(const std::string& text, const std::string& marker)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            out += marker;
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string DecodeText(const std::string& text, const std::string& marker)
{
    if (marker.empty()) return text;
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, marker.size(), marker) == 0) {
            out += "\r\n";
            i += marker.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

int SettingsStore::GetIndex(const std::string& key, const std::string& folder) const
{
    for (std::size_t i = 0; i < Keys.size(); ++i)
        if (Keys[i] == key && Folders[i] == folder) return static_cast<int>(i);
    return -1;
}

bool SettingsStore::Exist(const std::string& key, const std::string& folder) const
{
    return GetIndex(key, folder) != -1;
}

void SettingsStore::Add(const std::string& key, const std::string& value, const std::string& folder)
{
    Delete(key, folder);
    Keys.push_back(key);
    Values.push_back(value);
    Folders.push_back(folder);
}

bool SettingsStore::Delete(const std::string& key, const std::string& folder)
{
    const int i = GetIndex(key, folder);
    if (i < 0) return false;
    Keys.erase(Keys.begin() + i);
    Values.erase(Values.begin() + i);
    Folders.erase(Folders.begin() + i);
    return true;
}

void SettingsStore::Clear()
{
    Keys.clear();
    Values.clear();
    Folders.clear();
}

void SettingsStore::PushString(const std::string& key, const std::string& value, const std::string& folder)
{
    Add(key, value, folder);
}

std::string SettingsStore::GetString(const std::string& key, const std::string& def, const std::string& folder) const
{
    const int i = GetIndex(key, folder);
    return i < 0 ? def : ValueAt(i);
}

void SettingsStore::PushInt(const std::string& key, int value, const std::string& folder)
{
    Add(key, std::to_string(value), folder);
}

int SettingsStore::GetInt(const std::string& key, int def, const std::string& folder) const
{
    const int i = GetIndex(key, folder);
    return i < 0 ? def : StrToInt(ValueAt(i), def);
}

void SettingsStore::PushBool(const std::string& key, bool value, const std::string& folder)
{
    Add(key, value ? "1" : "0", folder);
}

bool SettingsStore::GetBool(const std::string& key, bool def, const std::string& folder) const
{
    switch (GetInt(key, -1, folder)) {
    case 0: return false;
    case 1: return true;
    default: return def;
    }
}

std::string SettingsStore::FilePath() const
{
    if (IniFileDir.empty()) return IniFileName;
    return IniFileDir.back() == '/' ? IniFileDir + IniFileName : IniFileDir + "/" + IniFileName;
}

bool SettingsStore::SaveToFile() const
{
    std::vector<std::string> folderOrder = {std::string()};
    for (const std::string& f : Folders)
        if (std::find(folderOrder.begin(), folderOrder.end(), f) == folderOrder.end()) folderOrder.push_back(f);

    bool everyRow = true;
    std::string text;
    for (const std::string& folder : folderOrder) {
        // A line break would turn the rest of the row into lines of its own, even section
        // lines or other settings when read back.
        if (HasLineBreak(folder)) {
            everyRow = false;
            continue;
        }
        text += "\r\n";
        if (!folder.empty()) text += "[" + folder + "]\r\n";
        for (std::size_t i = 0; i < Keys.size(); ++i) {
            if (Folders[i] != folder) continue;
            if (HasLineBreak(Keys[i]) || HasLineBreak(Values[i])) {
                everyRow = false;
                continue;
            }
            text += BuildData(Keys[i], Values[i]) + "\r\n";
        }
    }
    return ReplaceTextFile(FilePath(), text, 0644) && everyRow;
}

bool SettingsStore::RawLoadFromFile()
{
    const TextFile file = ReadTextFile(FilePath());
    if (file.status != ReadStatus::Ok) return false;
    std::string folder;
    for (const std::string& line : SplitLines(file.text)) {
        if (std::string named = ExtractFolderName(line); !named.empty()) {
            folder = std::move(named);
            continue;
        }
        const std::string key = TrimBlanksAndControls(GetDataKey(line));
        if (!key.empty()) Add(key, GetDataValue(line), folder);
    }
    return true;
}

bool SettingsStore::LoadFromFile()
{
    Clear();
    return RawLoadFromFile();
}

bool SettingsStore::AppendFromFile()
{
    return RawLoadFromFile();
}

bool SettingsStore::ClearFile() const
{
    const std::string path = FilePath();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    ::unlink(path.c_str());
    return ::lstat(path.c_str(), &st) != 0;
}

std::string SettingsStore::BaseKey() const
{
    return Firmenname.empty() ? "Software\\" + Programmname : "Software\\" + Firmenname + "\\" + Programmname;
}

bool SettingsStore::SaveToRegistry() const
{
    std::optional<RegistryFile> registry = RegistryFile::Load(RegistryPath);
    if (!registry) return false;
    bool ok = true;
    for (std::size_t i = 0; i < Keys.size(); ++i) {
        const std::string key = Folders[i].empty() ? BaseKey() : BaseKey() + "\\" + Folders[i];
        ok = registry->SetValue(key, Keys[i], Values[i]) && ok;
    }
    return registry->Save(RegistryPath) && ok;
}

bool SettingsStore::RawLoadAllFoldersFromRegistry()
{
    const std::optional<RegistryFile> registry = RegistryFile::Load(RegistryPath);
    if (!registry || !registry->KeyExists(BaseKey())) return false;
    for (const auto& [name, text] : registry->ValuesOf(BaseKey()))
        Add(name, text, {});
    for (const std::string& sub : registry->SubkeysOf(BaseKey()))
        for (const auto& [name, text] : registry->ValuesOf(BaseKey() + "\\" + sub))
            Add(name, text, sub);
    return true;
}

bool SettingsStore::LoadFromRegistry()
{
    Clear();
    return RawLoadAllFoldersFromRegistry();
}

bool SettingsStore::AppendFromRegistry()
{
    return RawLoadAllFoldersFromRegistry();
}

bool SettingsStore::ClearRegistry() const
{
    std::optional<RegistryFile> registry = RegistryFile::Load(RegistryPath);
    if (!registry || !registry->KeyExists(BaseKey())) return false;
    registry->DeleteKey(BaseKey());
    return registry->Save(RegistryPath);
}

}  // namespace quillix::settings
