#include "session/session.h"

#include "settings/setting_keys.h"

namespace quillix::session {

Session::Session(SessionEnvironment environment)
    : environment_(std::move(environment)),
      crypto_(*environment_.dialogs, container::FileCrypto::Hooks{[this] { return settings::FileOptionsOf(options_); },
                                                                  [this] {
                                                                      if (events_.passwordEntered)
                                                                          events_.passwordEntered();
                                                                  },
                                                                  [this] {
                                                                      if (events_.processPendingEvents)
                                                                          events_.processPendingEvents();
                                                                  },
                                                                  [this] {
                                                                      if (events_.passwordForgotten)
                                                                          events_.passwordForgotten();
                                                                  }}),
      model_(fileList_, options_)
{
    if (environment_.pool) {
        pool_ = environment_.pool;
    } else {
        ownPool_ = std::make_unique<workers::WorkerPool>();
        pool_ = ownPool_.get();
    }
    settings::ConfigureAppSettings(appSettings_, environment_.iniDir);
    settings::ConfigureRegeditSettings(regeditSettings_);
    settings::LoadSettings(options_, appSettings_, regeditSettings_, environment_.iniDir);
}

Session::~Session() = default;

void Session::SaveSettings()
{
    settings::SaveSettings(options_, appSettings_, environment_.iniDir);
}

std::string Session::LastDir() const
{
    return settings::Read(appSettings_, settings::kLastDirSetting);
}

void Session::RememberLastDir(const std::string& folder)
{
    // Each step within a folder would rewrite (and flush) an unchanged file.
    if (LastDir() == folder) return;
    settings::Write(appSettings_, settings::kLastDirSetting, folder);
    SaveSettings();
}

void Session::RememberSortMode(int mode)
{
    options_.SortMode = mode;
    if (settings::Read(appSettings_, settings::kSortModeSetting) == mode) return;
    settings::Write(appSettings_, settings::kSortModeSetting, mode);
    SaveSettings();
}

void Session::RememberTileSize(int tileSize)
{
    settings::Write(appSettings_, settings::kTileSizeSetting, tileSize);
    SaveSettings();
}

}  // namespace quillix::session
