#pragma once

#include <string>
#include <vector>

// A small persistent key/value store: rows of (key, value, folder) kept in insertion order,
// saved to an ini-style file or to the per-user registry file.
namespace quillix::settings {

// The folder of the running executable, ending in "/".
std::string AppDir();

// The per-user registry file: $XDG_CONFIG_HOME/quillix/registry.ini (~/.config when unset).
std::string DefaultRegistryFile();

// Line helpers of the ini format.
std::string GetDataKey(const std::string& line);    // before the first "=", or the whole line
std::string GetDataValue(const std::string& line);  // after the first "=", or empty
std::string BuildData(const std::string& key, const std::string& value);
// Trims blanks and control characters, then a signed decimal 32-bit number; else `def`.
int StrToInt(const std::string& text, int def);
// The folder a section line names ("[Main]", blanks around allowed), or empty.
std::string ExtractFolderName(const std::string& line);

// Line breaks (CR LF, lone CR, lone LF) to `marker` and back (as CR LF). `marker` is not empty.
std::string EncodeText(const std::string& text, const std::string& marker);
std::string DecodeText(const std::string& text, const std::string& marker);

class SettingsStore {
public:
    std::string Programmname;
    std::string Firmenname;
    std::string IniFileName = "config.ini";
    std::string IniFileDir = AppDir();
    std::string RegistryPath = DefaultRegistryFile();  // where the registry backend keeps its keys

    // Rows: at most one per (key, folder), compared byte for byte; "" is the root folder.
    int GetIndex(const std::string& key, const std::string& folder = {}) const;
    bool Exist(const std::string& key, const std::string& folder = {}) const;
    // Removes the row of (key, folder) if any and appends the new one at the end.
    void Add(const std::string& key, const std::string& value, const std::string& folder);
    bool Delete(const std::string& key, const std::string& folder = {});
    void Clear();
    int Count() const { return static_cast<int>(Keys.size()); }
    const std::string& KeyAt(int i) const { return Keys[static_cast<std::size_t>(i)]; }
    const std::string& ValueAt(int i) const { return Values[static_cast<std::size_t>(i)]; }
    const std::string& FolderAt(int i) const { return Folders[static_cast<std::size_t>(i)]; }

    void PushString(const std::string& key, const std::string& value, const std::string& folder = {});
    std::string GetString(const std::string& key, const std::string& def = {}, const std::string& folder = {}) const;
    void PushInt(const std::string& key, int value, const std::string& folder = {});
    int GetInt(const std::string& key, int def = 0, const std::string& folder = {}) const;
    void PushBool(const std::string& key, bool value, const std::string& folder = {});
    // Only the numbers 0 and 1 count; anything else gives `def`.
    bool GetBool(const std::string& key, bool def = false, const std::string& folder = {}) const;

    // IniFileDir + "/" (unless empty or present) + IniFileName.
    std::string FilePath() const;
    // Writes every row, root folder first, replacing the file whole; the old file stays if
    // writing fails or it is read-only. A row holding a line break cannot be written: it is
    // left out and the result is false.
    bool SaveToFile() const;
    // Clears the rows, then reads the file; false (store empty) when it is missing or unreadable.
    bool LoadFromFile();
    // Reads the file over the current rows; false (rows untouched) when it is missing or unreadable.
    bool AppendFromFile();
    // True only if the file existed and is gone.
    bool ClearFile() const;

    // "Software\" [+ Firmenname + "\"] + Programmname.
    std::string BaseKey() const;
    // Writes every row as a value; values removed from the store stay in the registry, and
    // other keys of the file are kept. A row holding a line break, or whose key has "=" or
    // starts with "[", is not written and the result is false.
    bool SaveToRegistry() const;
    // False (store left empty) when the base key is missing.
    bool LoadFromRegistry();
    bool AppendFromRegistry();
    // Deletes the base key with its subkeys; true if it existed and is gone.
    bool ClearRegistry() const;

private:
    bool RawLoadFromFile();
    bool RawLoadAllFoldersFromRegistry();

    std::vector<std::string> Keys;
    std::vector<std::string> Values;
    std::vector<std::string> Folders;
};

}  // namespace quillix::settings
