#pragma once

#include "browse/folder_model.h"
#include "common/dialogs.h"
#include "container/file_crypto.h"
#include "settings/app_options.h"
#include "settings/settings_store.h"
#include "workers/worker_pool.h"

#include <functional>
#include <memory>
#include <string>

// What both windows share for the whole run: the options and their stores, the password of the
// run, the worker pool, the listed files with the current one and the selection. Built once in
// main before the windows, which it outlives; neither window owns it.
namespace quillix::session {

// What the session takes from the program around it; tests pass their own.
struct SessionEnvironment {
    Dialogs* dialogs = nullptr;
    // Where "Quillix.ini" is read and written.
    std::string iniDir;
    // The program's worker pool; the session makes its own when this is empty.
    workers::WorkerPool* pool = nullptr;
};

// What the password of the run tells the windows. Each is empty until a window sets it, and a
// window that goes clears what it set.
struct CryptoEvents {
    // A password was entered: the shown picture is decoded again with it.
    std::function<void()> passwordEntered;
    // A long operation is about to block the window thread: repaint once first.
    std::function<void()> processPendingEvents;
    // The password was forgotten: whatever was decrypted with it goes.
    std::function<void()> passwordForgotten;
};

class Session {
public:
    // Loads the settings from `environment.iniDir` and the registry file.
    explicit Session(SessionEnvironment environment);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    settings::AppOptions& Options() { return options_; }
    const settings::AppOptions& Options() const { return options_; }
    settings::SettingsStore& AppSettings() { return appSettings_; }
    settings::SettingsStore& RegeditSettings() { return regeditSettings_; }
    const std::string& IniDir() const { return environment_.iniDir; }
    // Pushes the view options and writes "Quillix.ini".
    void SaveSettings();

    // The folder stored as the last one (LastDir); empty when none is.
    std::string LastDir() const;
    // Stores `folder` as LastDir and writes the settings, unless it is stored already.
    void RememberLastDir(const std::string& folder);
    // Makes `mode` the options' sort mode; stores it and writes the settings unless it is stored
    // already.
    void RememberSortMode(int mode);
    // Stores the gallery's tile size and writes the settings.
    void RememberTileSize(int tileSize);

    Dialogs& dialogs() { return *environment_.dialogs; }
    container::FileCrypto& Crypto() { return crypto_; }
    CryptoEvents& cryptoEvents() { return events_; }
    workers::WorkerPool& Pool() { return *pool_; }

    // The listed files, in the gallery's order, with the current one and the selection.
    browse::FolderModel& Model() { return model_; }
    const browse::FolderModel& Model() const { return model_; }
    browse::FileList& FileList() { return fileList_; }

private:
    SessionEnvironment environment_;
    settings::AppOptions options_;
    settings::SettingsStore appSettings_;
    settings::SettingsStore regeditSettings_;
    CryptoEvents events_;
    container::FileCrypto crypto_;
    std::unique_ptr<workers::WorkerPool> ownPool_;
    workers::WorkerPool* pool_ = nullptr;
    browse::FileList fileList_;
    browse::FolderModel model_;
};

}  // namespace quillix::session
