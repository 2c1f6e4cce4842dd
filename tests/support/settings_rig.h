#pragma once

#include "settings/app_options.h"
#include "settings/settings_store.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <QImage>

#include <filesystem>
#include <memory>
#include <string>

namespace quillix::test {

// The viewer's options and stores over a per-user folder of their own, and a marble picture
// whose every pixel tells where in the picture it is.
struct SettingsRig {
    TempDir dir;
    // Before the stores, which take the registry file's place from it.
    ScopedEnv xdg{"XDG_CONFIG_HOME", dir.path()};
    settings::SettingsStore app;
    settings::SettingsStore reg;
    settings::AppOptions options;
    QImage marble;

    SettingsRig()
    {
        settings::ConfigureAppSettings(app, IniDir());
        settings::ConfigureRegeditSettings(reg);
        Load();
        marble = QImage(56, 48, QImage::Format_RGB32);
        for (int y = 0; y < marble.height(); ++y)
            for (int x = 0; x < marble.width(); ++x)
                marble.setPixel(x, y, qRgb(x * 4, y * 5, 90));
    }
    std::string IniDir() const { return dir / "conf/"; }
    void Load() { settings::LoadSettings(options, app, reg, IniDir()); }
    void StoreRegistry(const std::string& name, const std::string& value)
    {
        reg.PushString(name, value);
        reg.SaveToRegistry();
        Load();
    }
    void StoreSetting(const std::string& key, int value)
    {
        app.PushInt(key, value);
        std::filesystem::create_directories(IniDir());
        app.SaveToFile();
        Load();
    }
    // What the files hold now, as a fresh start reads them.
    std::string StoredRegistry(const std::string& name) const
    {
        settings::SettingsStore fresh;
        settings::ConfigureRegeditSettings(fresh);
        fresh.LoadFromRegistry();
        return fresh.GetString(name, "(none)");
    }
    std::string StoredSetting(const std::string& key) const
    {
        settings::SettingsStore fresh;
        settings::ConfigureAppSettings(fresh, IniDir());
        fresh.LoadFromFile();
        return fresh.GetString(key, "(none)");
    }
    bool IniWritten() const { return std::filesystem::exists(IniDir() + "Quillix.ini"); }
};

}  // namespace quillix::test
