#include "platform/password_dialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace quillix::platform {
namespace {

constexpr int kClientWidth = 320;
constexpr int kClientHeight = 120;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

}  // namespace

PasswordDialog::PasswordDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Password");
    setFixedSize(kClientWidth, kClientHeight);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto* label = new QLabel(this);
    label->move(12, 12);

    edit_ = new QLineEdit(this);
    edit_->setGeometry(12, 32, kClientWidth - 24, edit_->sizeHint().height());
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setStyleSheet("lineedit-password-character: 42");  // "*"

    ok_ = new QPushButton("OK", this);
    ok_->setGeometry(kClientWidth - 170, 72, kButtonWidth, kButtonHeight);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

    cancel_ = new QPushButton("Abbrechen", this);
    cancel_->setGeometry(kClientWidth - 90, 72, kButtonWidth, kButtonHeight);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    if (!parent) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->geometry().center() - rect().center());
    }
    edit_->setFocus();
}

QString PasswordDialog::typedText() const
{
    return edit_->text();
}

}  // namespace quillix::platform
