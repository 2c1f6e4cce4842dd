#pragma once

#include "container/file_ops.h"
#include "container/secure_delete.h"
#include "settings/settings_store.h"

#include <cstdint>
#include <string>

namespace quillix::settings {

// The in-memory copy of the settings every part of the program reads.
struct AppOptions {
    int SortMode = 0;
    int EncryptionAlg = 0;
    bool FileNamePW = false;
    bool Fast = false;
    // The "mxb" setting (MiB) × 1024; 64 bits, so a large mxb cannot overflow.
    std::int64_t MaxKiB = container::kDefaultMaxKiB;
    int Passes = 7;
    bool MouseRevert = false;
    int MouseOption = 0;
    std::string PinHash;
    std::string NoPinHash;
    int PinErrors = 0;
    bool ScaleToFit = true;
    bool FitWidth = false;
    int TileSize = 0;
};

// The secure-delete passes the settings take. Fewer would delete without overwriting; more
// would only make a close in the middle of a wipe wait longer.
inline constexpr int kMinPasses = 1;
inline constexpr int kMaxPasses = container::kMaxPasses;
inline constexpr int kDefaultPasses = container::kDefaultPasses;
// `passes` brought into kMinPasses to kMaxPasses.
int PassesInRange(int passes);

// The PIN value that means "no PIN set".
inline constexpr int kNoPinValue = 7458;
inline constexpr const char* kIniFileName = "Quillix.ini";

// MD5 of the text's bytes as 32 lowercase hex digits; empty if MD5 is unavailable.
std::string HashPin(const std::string& text);

// Where "Quillix.ini" lives: the executable's folder when it is writable and no system folder (a
// portable install or a build tree), else $XDG_CONFIG_HOME/quillix/ (~/.config/quillix/), also
// for root. Ends in "/".
std::string IniFolder();
// The same rule for a program installed in `appDir`.
std::string IniFolderFor(const std::string& appDir);
// Below /usr, /opt and the other folders a package installs into.
bool IsSystemFolder(const std::string& folder);

// The two stores as the program configures them: the settings file and the per-user registry.
void ConfigureAppSettings(SettingsStore& appSettings, const std::string& iniDir);
void ConfigureRegeditSettings(SettingsStore& regeditSettings);

// The security and mouse fields from a loaded settings file.
void ReadSecurityAndMouseOptions(AppOptions& options, const SettingsStore& appSettings);

// What the file operations take from the options.
container::FileOptions FileOptionsOf(const AppOptions& options);

// Re-reads "Quillix.ini" from `iniDir` and the registry, and fills the options from them.
void LoadSettings(AppOptions& options, SettingsStore& appSettings, SettingsStore& regeditSettings,
                  const std::string& iniDir);

// Pushes the view and sort options and writes "Quillix.ini" to `iniDir` (creating the folder).
void SaveSettings(const AppOptions& options, SettingsStore& appSettings, const std::string& iniDir);

}  // namespace quillix::settings
