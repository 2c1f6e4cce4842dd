#include "gallery/gallery_keys.h"

#include <array>

namespace quillix::gallery {
namespace {

using C = GalleryCommand;
using enum ModifierSource;

constexpr GalleryKeyBinding Row(int key, C command, bool consumed)
{
    return {key, kNoModifier, Event, kNoModifier, kNoModifier, command, consumed, false};
}

// Rows without required modifiers match whatever is held: Ctrl+E encrypts as E does.
constexpr std::array kGalleryKeyMap = {
    Row(keys::kF2, C::Rename, true),
    GalleryKeyBinding{keys::kC, kControl, Event, kNoModifier, kControl, C::ClipboardCopy, true, false},
    GalleryKeyBinding{keys::kX, kControl, Event, kNoModifier, kControl, C::ClipboardCut, true, false},
    GalleryKeyBinding{keys::kV, kControl, Event, kNoModifier, kControl, C::ClipboardPaste, true, false},
    Row(keys::kEscape, C::ExitProgram, false),
    GalleryKeyBinding{keys::kDelete, kNoModifier, Event, kNoModifier, kNoModifier, C::DeleteFiles, false, true},
    Row(keys::kE, C::Encrypt, true),
    Row(keys::kD, C::Decrypt, true),
    GalleryKeyBinding{keys::kR, kNoModifier, Event, kShift, kNoModifier, C::RotateClockwise, true, false},
    GalleryKeyBinding{keys::kR, kShift, Event, kNoModifier, kNoModifier, C::RotateCounterClockwise, true, false},
    GalleryKeyBinding{keys::kP, kControl | kShift, Held, kNoModifier, kNoModifier, C::ForgetPassword, false, true},
    GalleryKeyBinding{keys::kA, kControl, Held, kNoModifier, kNoModifier, C::SelectAll, true, false},
    Row(keys::kF5, C::Refresh, true),
    Row(kAnyKey, C::StopWhenListEmpty, false),
    Row(keys::kSpace, C::ToggleSelection, true),
    // Both Enter keys, the main one and the keypad's.
    Row(keys::kReturn, C::OpenCurrent, true),
    Row(keys::kEnter, C::OpenCurrent, true),
    Row(keys::kPageUp, C::MovePageUp, true),
    Row(keys::kPageDown, C::MovePageDown, true),
    Row(keys::kLeft, C::MoveLeft, true),
    Row(keys::kUp, C::MoveUp, true),
    Row(keys::kRight, C::MoveRight, true),
    Row(keys::kDown, C::MoveDown, true),
};

}  // namespace

std::span<const GalleryKeyBinding> GalleryKeyMap()
{
    return kGalleryKeyMap;
}

GalleryKeyResult GalleryCommandsForKey(int key, Modifiers modifiers, Modifiers held, bool listEmpty)
{
    GalleryKeyResult result;
    for (const GalleryKeyBinding& row : kGalleryKeyMap) {
        if (row.command == C::StopWhenListEmpty) {
            if (listEmpty) break;
            continue;
        }
        if (row.key != key) continue;
        const Modifiers state = row.source == Held ? held : modifiers;
        if ((state & row.required) != row.required || (modifiers & row.excluded) != 0) continue;
        result.actions.push_back({row.command, (held & row.heldToAct) == row.heldToAct});
        result.consumed = row.consumed;
        if (!row.continues) break;
    }
    return result;
}

}  // namespace quillix::gallery
