#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillix::settings {

// The per-user registry kept as a text file: one "[key\path]" section per registry key, its
// values as "name=text" lines. Key paths are below HKEY_CURRENT_USER and compared exactly.
class RegistryFile {
public:
    using Values = std::vector<std::pair<std::string, std::string>>;

    // Reads `path`; a missing file is an empty registry. Nothing when it cannot be read.
    static std::optional<RegistryFile> Load(const std::string& path);
    // Writes the whole registry in one atomic replace, creating the folder when needed.
    bool Save(const std::string& path) const;

    // A key exists when it was created, or when any key below it was.
    bool KeyExists(const std::string& key) const;
    void CreateKey(const std::string& key);
    // The values of `key`; empty when it has none or does not exist.
    Values ValuesOf(const std::string& key) const;
    // Creates the key when missing; false for a name or text the file cannot hold.
    bool SetValue(const std::string& key, const std::string& name, const std::string& text);
    // Names of the keys directly below `key`, in file order.
    std::vector<std::string> SubkeysOf(const std::string& key) const;
    // Removes `key` and everything below it.
    void DeleteKey(const std::string& key);

private:
    // Sets the value of an existing key, adding it at the end when the name is new.
    void Put(const std::string& key, const std::string& name, const std::string& text);

    struct Key {
        std::string path;
        Values values;
    };
    std::vector<Key> keys_;
};

}  // namespace quillix::settings
