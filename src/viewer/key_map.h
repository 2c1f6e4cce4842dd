#pragma once

#include "common/key_codes.h"

#include <span>

namespace quillix::viewer {

enum class ViewerCommand {
    None,
    Rename,
    CopyToChosenSubfolder,
    CopyToNumberedSubfolder,  // argument: the subfolder's digit, 1 to 9
    ClipboardCopy,
    ClipboardCut,
    ToggleSpeed,
    Reload,
    ForgetPassword,
    Rotate,
    Encrypt,
    Decrypt,
    TogglePause,
    BackToGallery,
    BackOrQuit,
    Delete,
    StepFile,  // argument: +1 to the next file, -1 to the previous one
};

// What a command waits for before it acts; without it the command does nothing.
enum class Precondition {
    None,
    ShownFile,         // CurrentPath is not empty
    SingleFile,        // the clipboard commands act only with one file shown
    PlayingAnimation,  // the player plays an animation it loaded as animated
    ListNotEmpty,      // the gallery's file list
};

struct KeyBinding {
    int key = 0;
    // A row for the keys key..lastKey, the digits: its argument is the digit pressed.
    int lastKey = 0;
    Modifiers required = kNoModifier;  // all of these must be present; any others are not examined
    ModifierSource source = ModifierSource::Event;
    ViewerCommand command = ViewerCommand::None;
    int argument = 0;
    Precondition needs = Precondition::None;
    bool repaint = false;  // the shown image or a notice may change, so the window repaints after acting
};

// The key map in the order the rows are tested; the first matching row acts.
std::span<const KeyBinding> KeyMap();

struct KeyAction {
    ViewerCommand command = ViewerCommand::None;
    int argument = 0;
    Precondition needs = Precondition::None;
    bool repaint = false;

    bool operator==(const KeyAction&) const = default;
};

// The first row of KeyMap() that matches, or ViewerCommand::None. A digit from the numeric keypad
// (isKeypad, or kKeypad among the modifiers) matches nothing; other keypad keys count as their main
// keys. `held` is the keyboard state at the time for rows that read it.
KeyAction CommandForKey(int key, Modifiers modifiers, bool isKeypad, Modifiers held);

// For callers without a separate keyboard state: the event's modifiers stand for what is held.
inline KeyAction CommandForKey(int key, Modifiers modifiers, bool isKeypad)
{
    return CommandForKey(key, modifiers, isKeypad, modifiers);
}

}  // namespace quillix::viewer
