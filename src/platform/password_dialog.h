#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace quillix::platform {

// The small "Password" dialog: a notice line when there is one, the masked edit under its label
// "Password:", "OK" (default) and "Abbrechen" (Esc). Opened `twice` (before encrypting), it has a
// second masked edit for the repetition, labelled alike.
class PasswordDialog : public QDialog {
    Q_OBJECT

public:
    explicit PasswordDialog(QWidget* parent = nullptr, bool twice = false, const QString& notice = {});

    QString typedText() const;
    // The second field's text; empty when the dialog has one field.
    QString repeatedText() const;
    QLabel* notice() const { return notice_; }
    QLabel* label() const { return label_; }
    QLineEdit* edit() const { return edit_; }
    QLineEdit* repeatEdit() const { return repeat_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* notice_;
    QLabel* label_;
    QLineEdit* edit_;
    QLineEdit* repeat_ = nullptr;
    QPushButton* ok_;
    QPushButton* cancel_;
};

}  // namespace quillix::platform
