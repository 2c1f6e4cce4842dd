#include "viewer/key_map.h"

#include <array>

namespace quillix::viewer {
namespace {

using C = ViewerCommand;
using enum ModifierSource;

// Rows without required modifiers match whatever is held: Ctrl+R rotates as R does.
constexpr std::array kKeyMap = {
    KeyBinding{keys::kF2, kNoModifier, Event, C::Rename, true},
    KeyBinding{keys::k0, kNoModifier, Event, C::CopyToChosenSubfolder, true},
    KeyBinding{keys::k1, kNoModifier, Event, C::CopyToNumberedSubfolder, true},
    KeyBinding{keys::k1 + 1, kNoModifier, Event, C::CopyToNumberedSubfolder, true},
    KeyBinding{keys::k1 + 2, kNoModifier, Event, C::CopyToNumberedSubfolder, true},
    KeyBinding{keys::k1 + 3, kNoModifier, Event, C::CopyToNumberedSubfolder, true},
    KeyBinding{keys::k1 + 4, kNoModifier, Event, C::CopyToNumberedSubfolder, true},
    KeyBinding{keys::k1 + 5, kNoModifier, Event, C::CopyToNumberedSubfolder, true},
    KeyBinding{keys::k1 + 6, kNoModifier, Event, C::CopyToNumberedSubfolder, true},
    KeyBinding{keys::k1 + 7, kNoModifier, Event, C::CopyToNumberedSubfolder, true},
    KeyBinding{keys::k9, kNoModifier, Event, C::CopyToNumberedSubfolder, true},
    // The clipboard shows nothing in the viewer, so no repaint.
    KeyBinding{keys::kC, kControl, Event, C::ClipboardCopy, false},
    KeyBinding{keys::kX, kControl, Event, C::ClipboardCut, false},
    KeyBinding{keys::kF, kNoModifier, Event, C::ToggleSpeed, true},
    KeyBinding{keys::kS, kNoModifier, Event, C::ToggleSpeed, true},
    KeyBinding{keys::kF5, kNoModifier, Event, C::Reload, true},
    // The reload after a new password comes from its own timer.
    KeyBinding{keys::kP, kControl | kShift, Held, C::ForgetPassword, false},
    KeyBinding{keys::kR, kNoModifier, Event, C::Rotate, true},
    KeyBinding{keys::kE, kNoModifier, Event, C::Encrypt, true},
    KeyBinding{keys::kD, kNoModifier, Event, C::Decrypt, true},
    KeyBinding{keys::kSpace, kNoModifier, Event, C::TogglePause, true},
    // Qt reports the keypad's Enter as a key of its own; both Enter keys return to the gallery.
    KeyBinding{keys::kReturn, kNoModifier, Event, C::BackToGallery, false},
    KeyBinding{keys::kEnter, kNoModifier, Event, C::BackToGallery, false},
    KeyBinding{keys::kEscape, kNoModifier, Event, C::BackOrQuit, false},
    KeyBinding{keys::kDelete, kNoModifier, Event, C::Delete, true},
    KeyBinding{keys::kRight, kNoModifier, Event, C::NextFile, true},
    KeyBinding{keys::kPageDown, kNoModifier, Event, C::NextFile, true},
    KeyBinding{keys::kUp, kNoModifier, Event, C::NextFile, true},
    KeyBinding{keys::kLeft, kNoModifier, Event, C::PrevFile, true},
    KeyBinding{keys::kPageUp, kNoModifier, Event, C::PrevFile, true},
    KeyBinding{keys::kDown, kNoModifier, Event, C::PrevFile, true},
};

bool IsDigit(int key)
{
    return key >= keys::k0 && key <= keys::k9;
}

}  // namespace

std::span<const KeyBinding> KeyMap()
{
    return kKeyMap;
}

KeyAction CommandForKey(int key, Modifiers modifiers, bool isKeypad, Modifiers held)
{
    if (IsDigit(key) && (isKeypad || (modifiers & kKeypad) != 0)) return {};
    for (const KeyBinding& row : kKeyMap) {
        if (row.key != key) continue;
        const Modifiers state = row.source == ModifierSource::Held ? held : modifiers;
        if ((state & row.required) != row.required) continue;
        const int subfolder = row.command == C::CopyToNumberedSubfolder ? key - keys::k0 : 0;
        return {row.command, subfolder, row.repaint};
    }
    return {};
}

Precondition PreconditionOf(ViewerCommand command)
{
    switch (command) {
    case C::Rename:
    case C::CopyToChosenSubfolder:
    case C::CopyToNumberedSubfolder:
    case C::Rotate:
    case C::Encrypt:
    case C::Decrypt:
    case C::Delete: return Precondition::ShownFile;
    case C::ClipboardCopy:
    case C::ClipboardCut: return Precondition::SingleFile;
    case C::TogglePause: return Precondition::PlayingAnimation;
    case C::NextFile:
    case C::PrevFile: return Precondition::ListNotEmpty;
    case C::None:
    case C::ToggleSpeed:
    case C::Reload:
    case C::ForgetPassword:
    case C::BackToGallery:
    case C::BackOrQuit: return Precondition::None;
    }
    return Precondition::None;
}

}  // namespace quillix::viewer
