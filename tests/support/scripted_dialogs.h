#pragma once

#include "common/dialogs.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace quillix::test {

// Answers dialogs from a script and records what was shown.
class ScriptedDialogs : public Dialogs {
public:
    struct Shown {
        std::string caption;
        std::string text;
        MessageIcon icon;
        MessageButtons buttons;
    };

    std::deque<std::optional<std::string>> passwords;  // one per password prompt; nullopt = cancelled
    // The second field of the dialog opened for encryption; while this is empty, the user types
    // the same text into both.
    std::deque<std::string> repeats;
    std::vector<PasswordPrompt> passwordRequests;
    std::vector<std::string> passwordNotices;
    std::deque<MessageAnswer> answers;  // default: Ok
    std::deque<std::optional<std::string>> inputs;
    std::deque<std::optional<std::string>> subfolders;  // nullopt = cancelled
    int passwordPrompts = 0;
    int subfolderPrompts = 0;
    std::vector<std::string> subfolderFolders;  // the folder of each "Select folder"
    std::vector<Shown> messages;
    // Called as each message box is shown, before it is answered.
    std::function<void(const Shown&)> onMessage;

    std::optional<TypedPassword> AskPassword(PasswordPrompt prompt, const std::string& notice) override
    {
        ++passwordPrompts;
        passwordRequests.push_back(prompt);
        passwordNotices.push_back(notice);
        if (passwords.empty()) return std::nullopt;
        const std::optional<std::string> answer = passwords.front();
        passwords.pop_front();
        if (!answer) return std::nullopt;
        TypedPassword typed{*answer, {}};
        if (prompt == PasswordPrompt::EnterTwice) {
            typed.repeated = repeats.empty() ? *answer : repeats.front();
            if (!repeats.empty()) repeats.pop_front();
        }
        return typed;
    }

    MessageAnswer ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon,
                              MessageButtons buttons) override
    {
        messages.push_back({caption, text, icon, buttons});
        if (onMessage) onMessage(messages.back());
        if (answers.empty()) return MessageAnswer::Ok;
        const MessageAnswer a = answers.front();
        answers.pop_front();
        return a;
    }

    struct Asked {
        std::string caption;
        std::string prompt;
        std::string initial;
    };
    std::vector<Asked> inputsAsked;

    std::optional<std::string> InputText(const std::string& caption, const std::string& prompt,
                                         const std::string& initial) override
    {
        inputsAsked.push_back({caption, prompt, initial});
        if (inputs.empty()) return std::nullopt;
        auto answer = inputs.front();
        inputs.pop_front();
        return answer;
    }

    std::optional<std::string> SelectSubfolder(const std::string& folder) override
    {
        ++subfolderPrompts;
        subfolderFolders.push_back(folder);
        if (subfolders.empty()) return std::nullopt;
        auto answer = subfolders.front();
        subfolders.pop_front();
        return answer;
    }
};

}  // namespace quillix::test
