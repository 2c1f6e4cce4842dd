#pragma once

#include <optional>
#include <string>

namespace quillix {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

// What the "Password" dialog is opened for.
enum class PasswordPrompt {
    Enter,       // one masked field
    EnterTwice,  // before encrypting: a second masked field repeats the first
    Repeat,      // before encrypting with a password typed only once: one field to type it again
};

// The dialog's fields as typed, untrimmed; `repeated` is the second field of EnterTwice.
struct TypedPassword {
    std::string text;
    std::string repeated;
};

// The modal dialogs the core needs. The program shows real windows; tests script the answers.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // The "Password" dialog with `notice` above the field (empty the first time it is asked):
    // what was typed, or nothing when it was cancelled.
    virtual std::optional<TypedPassword> AskPassword(PasswordPrompt prompt, const std::string& notice) = 0;

    // A message box with exactly this caption, text, icon and buttons; the button pressed.
    virtual MessageAnswer ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon,
                                      MessageButtons buttons) = 0;

    // A one-line text input box; nothing when it was cancelled.
    virtual std::optional<std::string> InputText(const std::string& caption, const std::string& prompt,
                                                 const std::string& initial) = 0;

    // The "Select folder" dialog over the subfolders of `folder`: the chosen subfolder's name, or
    // nothing when it was cancelled or `folder` has no subfolders.
    virtual std::optional<std::string> SelectSubfolder(const std::string& folder) = 0;
};

}  // namespace quillix
