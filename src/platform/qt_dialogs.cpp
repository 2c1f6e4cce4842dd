#include "platform/qt_dialogs.h"

#include "common/subfolders.h"
#include "crypto/secure.h"
#include "platform/password_dialog.h"
#include "platform/subfolder_dialog.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace quillix::platform {
namespace {

QString Q(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string S(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return {utf8.constData(), static_cast<std::size_t>(utf8.size())};
}

QMessageBox::Icon ToQt(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQt(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::Ok: return QMessageBox::Ok;
    case MessageButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

}  // namespace

QWidget* QtDialogs::Owner() const
{
    // The window the user works in, so that a dialog never opens behind a full-screen viewer.
    if (QWidget* active = QApplication::activeWindow()) return active;
    return owner_;
}

namespace {

// The text of a password field, which is wiped and emptied: the field's own buffer, shared with
// the copy text() gives, and the UTF-8 copy made on the way.
std::string TakePassword(QLineEdit* edit)
{
    if (!edit) return {};
    const QString text = edit->text();
    QByteArray utf8 = text.toUtf8();
    std::string taken(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    crypto::SecureWipe(utf8.data(), static_cast<std::size_t>(utf8.size()));
    crypto::SecureWipe(const_cast<QChar*>(text.constData()), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    edit->clear();
    return taken;
}

}  // namespace

std::optional<TypedPassword> QtDialogs::AskPassword(PasswordPrompt prompt, const std::string& notice)
{
    PasswordDialog dialog(Owner(), prompt == PasswordPrompt::EnterTwice, Q(notice));
    const bool accepted = dialog.exec() == QDialog::Accepted;
    TypedPassword typed{TakePassword(dialog.edit()), TakePassword(dialog.repeatEdit())};
    if (accepted) return std::optional<TypedPassword>(std::move(typed));
    crypto::SecureWipe(typed.text);
    crypto::SecureWipe(typed.repeated);
    return std::nullopt;
}

MessageAnswer QtDialogs::ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon,
                                     MessageButtons buttons)
{
    QMessageBox box(ToQt(icon), Q(caption), Q(text), ToQt(buttons), Owner());
    switch (box.exec()) {
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    case QMessageBox::Cancel: return MessageAnswer::Cancel;
    default: return MessageAnswer::Ok;
    }
}

std::optional<std::string> QtDialogs::InputText(const std::string& caption, const std::string& prompt,
                                                const std::string& initial)
{
    bool ok = false;
    const QString text = QInputDialog::getText(Owner(), Q(caption), Q(prompt), QLineEdit::Normal, Q(initial), &ok);
    if (!ok) return std::nullopt;
    return S(text);
}

std::optional<std::string> QtDialogs::SelectSubfolder(const std::string& folder)
{
    const std::vector<std::string> names = SubfolderNames(folder);
    if (names.empty()) return std::nullopt;
    std::string chosen = SelectSubfolderDialog(names, Owner());
    if (chosen.empty()) return std::nullopt;
    return chosen;
}

}  // namespace quillix::platform
