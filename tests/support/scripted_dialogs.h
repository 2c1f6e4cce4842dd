#pragma once

#include "common/dialogs.h"

#include <deque>
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

    std::deque<std::optional<std::string>> passwords;  // nullopt = cancelled
    std::deque<MessageAnswer> answers;                 // default: Ok
    std::deque<std::optional<std::string>> inputs;
    std::deque<std::optional<std::string>> subfolders;  // nullopt = cancelled
    int passwordPrompts = 0;
    int subfolderPrompts = 0;
    std::vector<std::string> subfolderFolders;  // the folder of each "Select folder"
    std::vector<Shown> messages;

    std::optional<std::string> AskPassword() override
    {
        ++passwordPrompts;
        if (passwords.empty()) return std::nullopt;
        auto answer = passwords.front();
        passwords.pop_front();
        return answer;
    }

    MessageAnswer ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon,
                              MessageButtons buttons) override
    {
        messages.push_back({caption, text, icon, buttons});
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
