#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace quillix::platform {

// The small "Password" dialog: a masked edit, "OK" (default) and "Abbrechen" (Esc).
class PasswordDialog : public QDialog {
    Q_OBJECT

public:
    explicit PasswordDialog(QWidget* parent = nullptr);

    QString typedText() const;
    QLineEdit* edit() const { return edit_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

private:
    QLineEdit* edit_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

}  // namespace quillix::platform
