#include "gallery/gallery_keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace quillix::gallery {
namespace {

using C = GalleryCommand;

constexpr Modifiers kCtrlShift = kControl | kShift;

constexpr int Arg(TileMove move)
{
    return static_cast<int>(move);
}

struct Case {
    const char* what;
    int key;
    Modifiers modifiers;  // the key event's
    Modifiers held;       // the keyboard's at the time
    bool listEmpty;
    std::vector<GalleryKeyAction> actions;
    bool consumed;
};

TEST(GalleryKeysTest, KeysToCommandsInTableOrder)
{
    const Case cases[] = {
        {"F2", keys::kF2, kNoModifier, kNoModifier, false, {{C::Rename}}, true},
        {"F2 on an empty list", keys::kF2, kNoModifier, kNoModifier, true, {{C::Rename}}, true},
        {"Ctrl+C", keys::kC, kControl, kControl, false, {{C::ClipboardCopy}}, true},
        {"Ctrl+X", keys::kX, kControl, kControl, false, {{C::ClipboardCut}}, true},
        {"Ctrl+V", keys::kV, kControl | kAlt, kControl | kAlt, false, {{C::ClipboardPaste}}, true},
        // The event had Ctrl, the keyboard no longer has it: the key is taken, nothing copied.
        {"Ctrl+C released", keys::kC, kControl, kNoModifier, false, {{C::ClipboardCopy, 0, false}}, true},
        {"C held Ctrl only", keys::kC, kNoModifier, kControl, false, {}, false},
        {"plain C", keys::kC, kNoModifier, kNoModifier, false, {}, false},
        {"Esc", keys::kEscape, kNoModifier, kNoModifier, true, {{C::ExitProgram}}, false},
        // Delete goes on to the later rows, which take nothing.
        {"Delete", keys::kDelete, kNoModifier, kNoModifier, false, {{C::DeleteFiles}}, false},
        {"E", keys::kE, kNoModifier, kNoModifier, false, {{C::Encrypt}}, true},
        {"Ctrl+E", keys::kE, kControl, kControl, false, {{C::Encrypt}}, true},
        {"Shift+D", keys::kD, kShift, kShift, false, {{C::Decrypt}}, true},
        {"E on an empty list", keys::kE, kNoModifier, kNoModifier, true, {{C::Encrypt}}, true},
        {"R", keys::kR, kNoModifier, kNoModifier, false, {{C::Rotate, +1}}, true},
        {"Ctrl+R", keys::kR, kControl, kControl, false, {{C::Rotate, +1}}, true},
        {"Shift+R", keys::kR, kShift, kShift, false, {{C::Rotate, -1}}, true},
        {"Ctrl+Shift+R", keys::kR, kCtrlShift, kCtrlShift, false, {{C::Rotate, -1}}, true},
        // Shift counts from the event for R: held alone does not turn the other way.
        {"R, Shift held late", keys::kR, kNoModifier, kShift, false, {{C::Rotate, +1}}, true},
        // Ctrl+Shift+P reads the keyboard and then lets the later rows test the key.
        {"Ctrl+Shift+P", keys::kP, kCtrlShift, kCtrlShift, false, {{C::ForgetPassword}}, false},
        {"P, Ctrl+Shift held", keys::kP, kNoModifier, kCtrlShift, false, {{C::ForgetPassword}}, false},
        {"Ctrl+Shift+P released", keys::kP, kCtrlShift, kNoModifier, false, {}, false},
        {"Ctrl+P", keys::kP, kControl, kControl, false, {}, false},
        {"Ctrl+A", keys::kA, kControl, kControl, false, {{C::SelectAll}}, true},
        {"A, Ctrl held", keys::kA, kNoModifier, kControl, false, {{C::SelectAll}}, true},
        {"Ctrl+A released", keys::kA, kControl, kNoModifier, false, {}, false},
        {"F5 on an empty list", keys::kF5, kNoModifier, kNoModifier, true, {{C::Refresh}}, true},
        {"Space", keys::kSpace, kNoModifier, kNoModifier, false, {{C::ToggleSelection}}, true},
        {"Space on an empty list", keys::kSpace, kNoModifier, kNoModifier, true, {}, false},
        {"Enter", keys::kReturn, kNoModifier, kNoModifier, false, {{C::OpenCurrent}}, true},
        {"keypad Enter", keys::kEnter, kNoModifier, kNoModifier, false, {{C::OpenCurrent}}, true},
        {"Enter on an empty list", keys::kReturn, kNoModifier, kNoModifier, true, {}, false},
        {"Page Up", keys::kPageUp, kNoModifier, kNoModifier, false, {{C::Move, Arg(TileMove::PageUp)}}, true},
        {"Page Down", keys::kPageDown, kNoModifier, kNoModifier, false, {{C::Move, Arg(TileMove::PageDown)}}, true},
        {"Shift+Left", keys::kLeft, kShift, kShift, false, {{C::Move, Arg(TileMove::Left)}}, true},
        {"Ctrl+Up", keys::kUp, kControl, kControl, false, {{C::Move, Arg(TileMove::Up)}}, true},
        {"Right", keys::kRight, kNoModifier, kNoModifier, false, {{C::Move, Arg(TileMove::Right)}}, true},
        {"Down", keys::kDown, kNoModifier, kNoModifier, false, {{C::Move, Arg(TileMove::Down)}}, true},
        {"Down on an empty list", keys::kDown, kNoModifier, kNoModifier, true, {}, false},
        {"Home", 0x01000010, kNoModifier, kNoModifier, false, {}, false},
    };
    for (const Case& c : cases) {
        const GalleryKeyResult result = GalleryCommandsForKey(c.key, c.modifiers, c.held, c.listEmpty);
        EXPECT_EQ(result.actions, c.actions) << c.what;
        EXPECT_EQ(result.consumed, c.consumed) << c.what;
    }
}

// A row that an earlier one always takes first could never act: it would hide a mistake in the
// table. Every command has a row, and the rows that need files match nothing without them.
TEST(GalleryKeysTest, EveryRowCanActAndEveryCommandHasAKey)
{
    std::set<C> commands;
    const auto map = GalleryKeyMap();
    for (std::size_t i = 0; i < map.size(); ++i) {
        const GalleryKeyBinding& row = map[i];
        EXPECT_NE(row.command, C::None) << "row " << i;
        const Modifiers held = row.required | row.heldToAct;
        const GalleryKeyAction own{row.command, row.argument, true};
        const GalleryKeyResult result = GalleryCommandsForKey(row.key, row.required, held, false);
        EXPECT_NE(std::find(result.actions.begin(), result.actions.end(), own), result.actions.end())
            << "row " << i << " is shadowed";
        const GalleryKeyResult empty = GalleryCommandsForKey(row.key, row.required, held, true);
        EXPECT_EQ(std::find(empty.actions.begin(), empty.actions.end(), own) != empty.actions.end(), !row.needsFiles)
            << "row " << i;
        commands.insert(row.command);
    }
    EXPECT_EQ(commands.size(), static_cast<std::size_t>(C::Move));
}

}  // namespace
}  // namespace quillix::gallery
