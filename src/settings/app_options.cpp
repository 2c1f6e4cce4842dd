#include "settings/app_options.h"
#include "settings/setting_keys.h"

#include "common/paths.h"
#include "crypto/hashes.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>

namespace quillix::settings {

std::string HashPin(const std::string& text)
{
    std::array<std::uint8_t, 16> digest{};
    if (!crypto::Md5({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, digest)) return {};
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : digest) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

std::string IniFolder()
{
    return IniFolderFor(AppDir());
}

bool IsSystemFolder(const std::string& folder)
{
    for (const char* root : {"/usr/", "/opt/", "/bin/", "/sbin/", "/lib/", "/snap/"})
        if (folder.rfind(root, 0) == 0) return true;
    return false;
}

std::string IniFolderFor(const std::string& appDir)
{
    // An installed program is shared by every user; root could write there, but each user's
    // settings are their own.
    if (!IsSystemFolder(WithSeparator(appDir)) && ::access(appDir.c_str(), W_OK) == 0) return appDir;
    const std::string registry = DefaultRegistryFile();  // .../quillix/registry.ini
    return registry.substr(0, registry.find_last_of('/') + 1);
}

void ConfigureAppSettings(SettingsStore& appSettings, const std::string& iniDir)
{
    appSettings.Programmname = "Brindle";
    appSettings.Firmenname = "Kestrel";
    appSettings.IniFileDir = iniDir;
    appSettings.IniFileName = kIniFileName;
}

void ConfigureRegeditSettings(SettingsStore& regeditSettings)
{
    regeditSettings.Programmname = "RegEdit";
    regeditSettings.Firmenname = "Microsoft";
}

int PassesInRange(int passes)
{
    return std::clamp(passes, kMinPasses, kMaxPasses);
}

void ReadSecurityAndMouseOptions(AppOptions& options, const SettingsStore& appSettings)
{
    options.FileNamePW = Read(appSettings, kFileNamePWSetting);
    options.Fast = Read(appSettings, kFastSetting);
    options.EncryptionAlg = Read(appSettings, kEncryptionAlgSetting);
    options.MaxKiB = std::int64_t{Read(appSettings, kMaxMiBSetting)} * 1024;
    // A file edited by hand, or written before the range was kept, may hold any number.
    options.Passes = PassesInRange(Read(appSettings, kPassesSetting));
    options.MouseRevert = Read(appSettings, kMouseRevertSetting);
    options.MouseOption = Read(appSettings, kMouseOptionSetting);
}

container::FileOptions FileOptionsOf(const AppOptions& options)
{
    container::FileOptions file;
    file.EncryptionAlg = options.EncryptionAlg;
    file.FileNamePW = options.FileNamePW;
    file.Fast = options.Fast;
    file.MaxKiB = options.MaxKiB;
    file.Passes = options.Passes;
    return file;
}

void LoadSettings(AppOptions& options, SettingsStore& appSettings, SettingsStore& regeditSettings,
                  const std::string& iniDir)
{
    appSettings.IniFileDir = iniDir;
    appSettings.IniFileName = kIniFileName;
    appSettings.LoadFromFile();
    regeditSettings.LoadFromRegistry();

    ReadSecurityAndMouseOptions(options, appSettings);
    options.NoPinHash = HashPin(std::to_string(kNoPinValue));
    options.PinHash = Read(regeditSettings, kPinHashSetting, options.NoPinHash);
    options.SortMode = Read(appSettings, kSortModeSetting);
    options.PinErrors = Read(regeditSettings, kPinErrorsSetting);
    options.ScaleToFit = Read(appSettings, kScaleToFitSetting);
    options.FitWidth = Read(appSettings, kFitWidthSetting);
}

void SaveSettings(const AppOptions& options, SettingsStore& appSettings, const std::string& iniDir)
{
    Write(appSettings, kScaleToFitSetting, options.ScaleToFit);
    Write(appSettings, kFitWidthSetting, options.FitWidth);
    appSettings.IniFileDir = iniDir;
    appSettings.IniFileName = kIniFileName;
    Write(appSettings, kSortModeSetting, options.SortMode);
    std::error_code ec;
    std::filesystem::create_directories(iniDir, ec);
    appSettings.SaveToFile();
}

}  // namespace quillix::settings
