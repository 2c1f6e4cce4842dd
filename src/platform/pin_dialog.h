#pragma once

#include "settings/app_options.h"
#include "settings/pin_lock.h"
#include "settings/settings_store.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QTimer;

namespace quillix::platform {

// "PIN": the parental PIN asked at start, before any window of the program is on screen. Digits
// only, shown as stars in the field after "PIN:"; after failed starts it waits 7 s for each before
// it takes digits. Four wrong digits count a failure; they, and any close without the right
// digits, mean the program is to end.
class PinDialog : public QDialog {
    Q_OBJECT

public:
    PinDialog(settings::AppOptions& options, settings::SettingsStore& regeditSettings, QWidget* parent = nullptr);

    // True once the right digits were typed.
    bool unlocked() const { return unlocked_; }

    QLabel* pinLabel() const { return pinLabel_; }
    QLineEdit* field() const { return field_; }
    QLabel* waitLabel() const { return wait_; }
    QTimer* lockoutTimer() const { return lockoutTimer_; }
    // The end of the wait: digits are taken from now on.
    void endLockout();

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    settings::AppOptions& options_;
    settings::SettingsStore& regeditSettings_;
    settings::PinEntry entry_;
    bool unlocked_ = false;
    QLabel* pinLabel_;
    QLineEdit* field_;
    QLabel* wait_;
    QTimer* lockoutTimer_;
};

// Asks for the PIN when one is set: true when the program may go on (no PIN, or the right one),
// false when it is to end.
bool AskPinAtStart(settings::AppOptions& options, settings::SettingsStore& regeditSettings, QWidget* parent = nullptr);

}  // namespace quillix::platform
