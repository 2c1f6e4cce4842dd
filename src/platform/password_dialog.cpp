#include "platform/password_dialog.h"

#include <QGuiApplication>
#include <QKeyEvent>
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
// The repetition's label and field push the buttons down by this much.
constexpr int kRepeatHeight = 48;
// A notice takes a line above the first field's label.
constexpr int kNoticeHeight = 20;

QLineEdit* MaskedEdit(QWidget* parent, int top)
{
    auto* edit = new QLineEdit(parent);
    edit->setGeometry(12, top, kClientWidth - 24, edit->sizeHint().height());
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet("lineedit-password-character: 42");  // "*"
    return edit;
}

}  // namespace

PasswordDialog::PasswordDialog(QWidget* parent, bool twice, const QString& notice) : QDialog(parent)
{
    const int top = notice.isEmpty() ? 0 : kNoticeHeight;
    const int extra = top + (twice ? kRepeatHeight : 0);
    setWindowTitle("Password");
    setFixedSize(kClientWidth, kClientHeight + extra);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    notice_ = new QLabel(notice, this);
    notice_->setGeometry(12, 12, kClientWidth - 24, notice_->fontMetrics().height());
    notice_->setVisible(!notice.isEmpty());

    label_ = new QLabel("Password:", this);
    label_->setGeometry(12, 12 + top, kClientWidth - 24, label_->fontMetrics().height());
    edit_ = MaskedEdit(this, 32 + top);
    label_->setBuddy(edit_);
    if (twice) {
        auto* repeatLabel = new QLabel("Repeat the password:", this);
        repeatLabel->setGeometry(12, 62 + top, kClientWidth - 24, repeatLabel->fontMetrics().height());
        repeat_ = MaskedEdit(this, 80 + top);
        repeatLabel->setBuddy(repeat_);
    }

    ok_ = new QPushButton("OK", this);
    ok_->setGeometry(kClientWidth - 170, 72 + extra, kButtonWidth, kButtonHeight);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

    cancel_ = new QPushButton("Abbrechen", this);
    cancel_->setGeometry(kClientWidth - 90, 72 + extra, kButtonWidth, kButtonHeight);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    if (!parent) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->geometry().center() - rect().center());
    }
    edit_->setFocus();
}

void PasswordDialog::keyPressEvent(QKeyEvent* event)
{
    // Enter after the first field goes on to the repetition rather than closing half-filled.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && repeat_ && focusWidget() == edit_ && repeat_->text().isEmpty()) {
        repeat_->setFocus();
        return;
    }
    QDialog::keyPressEvent(event);
}

QString PasswordDialog::typedText() const
{
    return edit_->text();
}

QString PasswordDialog::repeatedText() const
{
    return repeat_ ? repeat_->text() : QString();
}

}  // namespace quillix::platform
