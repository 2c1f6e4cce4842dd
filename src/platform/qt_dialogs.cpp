#include "platform/qt_dialogs.h"

#include "platform/password_dialog.h"

#include <QInputDialog>
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

std::optional<std::string> QtDialogs::AskPassword()
{
    PasswordDialog dialog(owner_);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return S(dialog.typedText());
}

MessageAnswer QtDialogs::ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon,
                                     MessageButtons buttons)
{
    QMessageBox box(ToQt(icon), Q(caption), Q(text), ToQt(buttons), owner_);
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
    const QString text = QInputDialog::getText(owner_, Q(caption), Q(prompt), QLineEdit::Normal, Q(initial), &ok);
    if (!ok) return std::nullopt;
    return S(text);
}

}  // namespace quillix::platform
