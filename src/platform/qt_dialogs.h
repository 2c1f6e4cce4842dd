#pragma once

#include "common/dialogs.h"

#include <QPointer>
#include <QWidget>

namespace quillix::platform {

// The real dialogs, modal over `owner` (the viewer window) when there is one.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }

    std::optional<TypedPassword> AskPassword(PasswordPrompt prompt, const std::string& notice) override;
    MessageAnswer ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon,
                              MessageButtons buttons) override;
    std::optional<std::string> InputText(const std::string& caption, const std::string& prompt,
                                         const std::string& initial) override;
    std::optional<std::string> SelectSubfolder(const std::string& folder) override;

private:
    QWidget* Owner() const;

    QPointer<QWidget> owner_;
};

}  // namespace quillix::platform
