#pragma once

#include "settings/app_options.h"
#include "settings/settings_form.h"
#include "settings/settings_store.h"

#include <QDialog>
#include <QImage>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace quillix::platform {

// "Settings": security, mouse wheel and parental PIN. It edits the viewer's options and stores;
// Apply saves them at once, "CLR" removes the PIN from the next start on.
class SettingsDialog : public QDialog {
    Q_OBJECT

public:
    SettingsDialog(settings::AppOptions& options, settings::SettingsStore& appSettings,
                   settings::SettingsStore& regeditSettings, const QImage& marble, QWidget* parent = nullptr);

    // Apply: stores the controls and closes with the OK result.
    void applyAndClose();
    // One step of the timer that keeps "Full File" and "Max Bytes :" in step.
    void keepFullFileInStep();

    QLineEdit* passesEdit() const { return passesEdit_; }
    QLineEdit* maxBytesEdit() const { return maxBytesEdit_; }
    QCheckBox* fullFileBox() const { return fullFileBox_; }
    // AES, Blowfish, ChaCha20, Twofish, Strong: the CipherId is the index.
    QRadioButton* algorithmButton(int cipherId) const;
    QCheckBox* fileNamePasswordBox() const { return fileNamePasswordBox_; }
    QCheckBox* fastBox() const { return fastBox_; }
    // By the MOUSECTRL_OPT each stores: 0 "Toogle w/ RMouse", 1, 2.
    QRadioButton* mouseButton(int mouseOption) const;
    QCheckBox* revertZoomBox() const { return revertZoomBox_; }
    QLineEdit* pinEdit() const { return pinEdit_; }
    QPushButton* clearPinButton() const { return clearPinButton_; }
    QPushButton* applyButton() const { return applyButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QLabel* marbleStrip() const { return marbleStrip_; }
    QTimer* fullFileTimer() const { return fullFileTimer_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showSettings();
    settings::SettingsFormState formState() const;
    void clearPin();

    settings::AppOptions& options_;
    settings::SettingsStore& appSettings_;
    settings::SettingsStore& regeditSettings_;
    QImage marble_;

    QLineEdit* passesEdit_;
    QLineEdit* maxBytesEdit_;
    QCheckBox* fullFileBox_;
    QButtonGroup* algorithms_;
    QCheckBox* fileNamePasswordBox_;
    QCheckBox* fastBox_;
    QButtonGroup* mouseOptions_;
    QCheckBox* revertZoomBox_;
    QLineEdit* pinEdit_;
    QPushButton* clearPinButton_;
    QLabel* marbleStrip_;
    QPushButton* applyButton_;
    QPushButton* cancelButton_;
    QTimer* fullFileTimer_;
};

// Shows the settings dialog of `owner` modally; the one dialog is made at the first call and kept,
// so the PIN field keeps what was typed into it.
void ShowSettingsDialog(QWidget* owner, settings::AppOptions& options, settings::SettingsStore& appSettings,
                        settings::SettingsStore& regeditSettings, const QImage& marble);

}  // namespace quillix::platform
