#include "cli/quillix_crypt.h"

#include "settings/app_options.h"

namespace quillix::cli {

Defaults LoadDefaults(const std::string& settingsFile)
{
    settings::SettingsStore appSettings;
    if (settingsFile.empty()) {
        settings::ConfigureAppSettings(appSettings, settings::IniFolder());
    } else {
        const std::size_t slash = settingsFile.find_last_of('/');
        appSettings.IniFileDir = slash == std::string::npos ? std::string() : settingsFile.substr(0, slash + 1);
        appSettings.IniFileName = slash == std::string::npos ? settingsFile : settingsFile.substr(slash + 1);
    }
    appSettings.LoadFromFile();
    settings::AppOptions options;
    settings::ReadSecurityAndMouseOptions(options, appSettings);

    Defaults defaults;
    defaults.settingsFile = appSettings.FilePath();
    defaults.options = settings::FileOptionsOf(options);
    return defaults;
}

}  // namespace quillix::cli
