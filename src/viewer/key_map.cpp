#include "viewer/key_map.h"

namespace quillix::viewer {
namespace {

using C = ViewerCommand;
using enum ModifierSource;
using enum Precondition;

// Rows without required modifiers match whatever is held: Ctrl+R rotates as R does.
constexpr KeyBinding kKeyMap[] = {
    {.key = keys::kF2, .command = C::Rename, .needs = ShownFile, .repaint = true},
    {.key = keys::k0, .command = C::CopyToChosenSubfolder, .needs = ShownFile, .repaint = true},
    {.key = keys::k1, .lastKey = keys::k9, .command = C::CopyToNumberedSubfolder, .needs = ShownFile, .repaint = true},
    // The clipboard shows nothing in the viewer, so no repaint.
    {.key = keys::kC, .required = kControl, .command = C::ClipboardCopy, .needs = SingleFile},
    {.key = keys::kX, .required = kControl, .command = C::ClipboardCut, .needs = SingleFile},
    {.key = keys::kF, .command = C::ToggleSpeed, .repaint = true},
    {.key = keys::kS, .command = C::ToggleSpeed, .repaint = true},
    {.key = keys::kF5, .command = C::Reload, .repaint = true},
    // The reload after a new password comes from its own timer.
    {.key = keys::kP, .required = kControl | kShift, .source = Held, .command = C::ForgetPassword},
    {.key = keys::kR, .command = C::Rotate, .needs = ShownFile, .repaint = true},
    {.key = keys::kE, .command = C::Encrypt, .needs = ShownFile, .repaint = true},
    {.key = keys::kD, .command = C::Decrypt, .needs = ShownFile, .repaint = true},
    {.key = keys::kSpace, .command = C::TogglePause, .needs = PlayingAnimation, .repaint = true},
    // Qt reports the keypad's Enter as a key of its own; both Enter keys return to the gallery.
    {.key = keys::kReturn, .command = C::BackToGallery},
    {.key = keys::kEnter, .command = C::BackToGallery},
    {.key = keys::kEscape, .command = C::BackOrQuit},
    {.key = keys::kDelete, .command = C::Delete, .needs = ShownFile, .repaint = true},
    {.key = keys::kRight, .command = C::StepFile, .argument = +1, .needs = ListNotEmpty, .repaint = true},
    {.key = keys::kPageDown, .command = C::StepFile, .argument = +1, .needs = ListNotEmpty, .repaint = true},
    {.key = keys::kUp, .command = C::StepFile, .argument = +1, .needs = ListNotEmpty, .repaint = true},
    {.key = keys::kLeft, .command = C::StepFile, .argument = -1, .needs = ListNotEmpty, .repaint = true},
    {.key = keys::kPageUp, .command = C::StepFile, .argument = -1, .needs = ListNotEmpty, .repaint = true},
    {.key = keys::kDown, .command = C::StepFile, .argument = -1, .needs = ListNotEmpty, .repaint = true},
};

bool IsDigit(int key)
{
    return key >= keys::k0 && key <= keys::k9;
}

bool Matches(const KeyBinding& row, int key)
{
    return row.lastKey == 0 ? key == row.key : key >= row.key && key <= row.lastKey;
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
        if (!Matches(row, key)) continue;
        const Modifiers state = row.source == ModifierSource::Held ? held : modifiers;
        if ((state & row.required) != row.required) continue;
        const int argument = row.lastKey == 0 ? row.argument : key - keys::k0;
        return {row.command, argument, row.needs, row.repaint};
    }
    return {};
}

}  // namespace quillix::viewer
