#include "settings/registry_file.h"

#include "settings/text_file.h"

#include <algorithm>
#include <filesystem>

namespace quillix::settings {
namespace {

bool IsBelow(const std::string& path, const std::string& key)
{
    return path.size() > key.size() + 1 && path.compare(0, key.size(), key) == 0 && path[key.size()] == '\\';
}

bool Representable(const std::string& text)
{
    return text.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

std::optional<RegistryFile> RegistryFile::Load(const std::string& path)
{
    const TextFile file = ReadTextFile(path);
    if (file.status == ReadStatus::Failed) return std::nullopt;
    // A hand-edited file may repeat a key or a value name; like the registry, each is kept once,
    // the later text winning.
    RegistryFile registry;
    std::string current;
    bool inKey = false;
    for (const std::string& line : SplitLines(file.text)) {
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            current = line.substr(1, line.size() - 2);
            registry.CreateKey(current);
            inKey = true;
        } else if (inKey && !line.empty()) {
            const std::size_t eq = line.find('=');
            registry.Put(current, line.substr(0, eq), eq == std::string::npos ? "" : line.substr(eq + 1));
        }
    }
    return registry;
}

bool RegistryFile::Save(const std::string& path) const
{
    std::string text;
    for (const Key& key : keys_) {
        text += "[" + key.path + "]\n";
        for (const auto& [name, value] : key.values)
            text += name + "=" + value + "\n";
        text += "\n";
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    // The PIN lives here: private to the user, replaced whole or not at all.
    return ReplaceTextFile(path, text, 0600);
}

bool RegistryFile::KeyExists(const std::string& key) const
{
    return std::any_of(keys_.begin(), keys_.end(), [&](const Key& k) { return k.path == key || IsBelow(k.path, key); });
}

void RegistryFile::CreateKey(const std::string& key)
{
    if (std::none_of(keys_.begin(), keys_.end(), [&](const Key& k) { return k.path == key; }))
        keys_.push_back({key, {}});
}

RegistryFile::Values RegistryFile::ValuesOf(const std::string& key) const
{
    for (const Key& k : keys_)
        if (k.path == key) return k.values;
    return {};
}

bool RegistryFile::SetValue(const std::string& key, const std::string& name, const std::string& text)
{
    // A name with "=" or a leading "[", or any line break, would read back as something else.
    if (name.empty() || name.front() == '[' || name.find('=') != std::string::npos || !Representable(name) ||
        !Representable(text) || !Representable(key))
        return false;
    CreateKey(key);
    Put(key, name, text);
    return true;
}

void RegistryFile::Put(const std::string& key, const std::string& name, const std::string& text)
{
    for (Key& k : keys_) {
        if (k.path != key) continue;
        for (auto& [n, v] : k.values) {
            if (n == name) {
                v = text;
                return;
            }
        }
        k.values.emplace_back(name, text);
        return;
    }
}

std::vector<std::string> RegistryFile::SubkeysOf(const std::string& key) const
{
    std::vector<std::string> subkeys;
    for (const Key& k : keys_) {
        if (!IsBelow(k.path, key)) continue;
        const std::string rest = k.path.substr(key.size() + 1);
        const std::string name = rest.substr(0, rest.find('\\'));
        if (std::find(subkeys.begin(), subkeys.end(), name) == subkeys.end()) subkeys.push_back(name);
    }
    return subkeys;
}

void RegistryFile::DeleteKey(const std::string& key)
{
    std::erase_if(keys_, [&](const Key& k) { return k.path == key || IsBelow(k.path, key); });
}

}  // namespace quillix::settings
