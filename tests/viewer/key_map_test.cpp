#include "viewer/key_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace quillix::viewer {
namespace {

using C = ViewerCommand;

// What a key does; what the command waits for is the row's own column, shown by the window tests.
struct Does {
    C command = C::None;
    int argument = 0;
    bool repaint = false;

    bool operator==(const Does&) const = default;
};

struct Case {
    int key;
    Modifiers modifiers;
    bool keypad;
    Modifiers held;
    Does expected;
};

constexpr Does kNone{};
constexpr Modifiers kCtrlShift = kControl | kShift;

TEST(KeyMapTest, KeyEventsToCommands)
{
    const Case cases[] = {
        {keys::kF2, kNoModifier, false, kNoModifier, {C::Rename, 0, true}},
        {keys::kF2, kShift, false, kShift, {C::Rename, 0, true}},
        {keys::k0, kNoModifier, false, kNoModifier, {C::CopyToChosenSubfolder, 0, true}},
        {keys::k0, kNoModifier, true, kNoModifier, kNone},
        {keys::k0, kKeypad, false, kNoModifier, kNone},
        {keys::k1, kNoModifier, false, kNoModifier, {C::CopyToNumberedSubfolder, 1, true}},
        {keys::k9, kNoModifier, false, kNoModifier, {C::CopyToNumberedSubfolder, 9, true}},
        {keys::k1 + 2, kControl, false, kControl, {C::CopyToNumberedSubfolder, 3, true}},
        {keys::k1 + 4, kNoModifier, true, kNoModifier, kNone},
        {keys::k9, kKeypad, false, kNoModifier, kNone},
        // Ctrl is required from the event; other modifiers are not examined.
        {keys::kC, kControl, false, kControl, {C::ClipboardCopy, 0, false}},
        {keys::kC, kCtrlShift, false, kCtrlShift, {C::ClipboardCopy, 0, false}},
        {keys::kC, kControl, false, kNoModifier, {C::ClipboardCopy, 0, false}},
        {keys::kC, kNoModifier, false, kControl, kNone},
        {keys::kC, kShift | kAlt, false, kShift | kAlt, kNone},
        {keys::kX, kControl | kAlt, false, kControl | kAlt, {C::ClipboardCut, 0, false}},
        {keys::kX, kNoModifier, false, kNoModifier, kNone},
        {keys::kF, kNoModifier, false, kNoModifier, {C::ToggleSpeed, 0, true}},
        {keys::kS, kControl, false, kControl, {C::ToggleSpeed, 0, true}},
        {keys::kF5, kAlt, false, kAlt, {C::Reload, 0, true}},
        // Ctrl and Shift both held at the time; the event's own state does not count.
        {keys::kP, kCtrlShift, false, kCtrlShift, {C::ForgetPassword, 0, false}},
        {keys::kP, kCtrlShift | kAlt, false, kCtrlShift | kAlt, {C::ForgetPassword, 0, false}},
        {keys::kP, kNoModifier, false, kCtrlShift, {C::ForgetPassword, 0, false}},
        {keys::kP, kCtrlShift, false, kNoModifier, kNone},
        {keys::kP, kControl, false, kControl, kNone},
        {keys::kP, kShift, false, kShift, kNone},
        {keys::kP, kNoModifier, false, kNoModifier, kNone},
        {keys::kR, kNoModifier, false, kNoModifier, {C::Rotate, 0, true}},
        {keys::kR, kControl, false, kControl, {C::Rotate, 0, true}},
        {keys::kR, kShift, false, kShift, {C::Rotate, 0, true}},
        {keys::kE, kNoModifier, false, kNoModifier, {C::Encrypt, 0, true}},
        {keys::kD, kControl, false, kControl, {C::Decrypt, 0, true}},
        {keys::kSpace, kNoModifier, false, kNoModifier, {C::TogglePause, 0, true}},
        {keys::kReturn, kNoModifier, false, kNoModifier, {C::BackToGallery, 0, false}},
        {keys::kEnter, kKeypad, true, kNoModifier, {C::BackToGallery, 0, false}},
        {keys::kEscape, kShift, false, kShift, {C::BackOrQuit, 0, false}},
        {keys::kDelete, kNoModifier, false, kNoModifier, {C::Delete, 0, true}},
        {keys::kDelete, kKeypad, true, kNoModifier, {C::Delete, 0, true}},
        {keys::kRight, kNoModifier, false, kNoModifier, {C::StepFile, +1, true}},
        {keys::kPageDown, kNoModifier, false, kNoModifier, {C::StepFile, +1, true}},
        {keys::kUp, kKeypad, true, kNoModifier, {C::StepFile, +1, true}},
        {keys::kLeft, kControl, false, kControl, {C::StepFile, -1, true}},
        {keys::kPageUp, kNoModifier, false, kNoModifier, {C::StepFile, -1, true}},
        {keys::kDown, kNoModifier, false, kNoModifier, {C::StepFile, -1, true}},
        // Keys outside the map, including the neighbours of the digit and letter ranges.
        {0, kNoModifier, false, kNoModifier, kNone},
        {keys::k0 - 1, kNoModifier, false, kNoModifier, kNone},
        {keys::k9 + 1, kNoModifier, false, kNoModifier, kNone},
        {0x41, kControl, false, kControl, kNone},                 // Ctrl+A
        {keys::kF2 - 1, kNoModifier, false, kNoModifier, kNone},  // F1
    };
    for (const Case& c : cases) {
        const KeyAction a = CommandForKey(c.key, c.modifiers, c.keypad, c.held);
        EXPECT_EQ((Does{a.command, a.argument, a.repaint}), c.expected)
            << std::hex << "key 0x" << c.key << " modifiers 0x" << c.modifiers << " keypad " << c.keypad << " held 0x"
            << c.held;
    }
}

TEST(KeyMapTest, ThreeArgumentFormReadsHeldFromTheEvent)
{
    EXPECT_EQ(CommandForKey(keys::kP, kCtrlShift, false).command, C::ForgetPassword);
    EXPECT_EQ(CommandForKey(keys::kP, kControl, false).command, C::None);
    EXPECT_EQ(CommandForKey(keys::kC, kControl, false).command, C::ClipboardCopy);
    EXPECT_EQ(CommandForKey(keys::k1 + 6, kNoModifier, true).command, C::None);
}

TEST(KeyMapTest, EveryDigitNamesItsSubfolder)
{
    for (int d = 1; d <= 9; ++d) {
        const KeyAction a = CommandForKey(keys::k0 + d, kNoModifier, false);
        EXPECT_EQ(a.command, C::CopyToNumberedSubfolder) << d;
        EXPECT_EQ(a.argument, d);
    }
}

// A later row for the same key and modifiers could never act: it would hide a mistake in the table.
TEST(KeyMapTest, EveryRowCanActAndEveryCommandHasAKey)
{
    std::set<C> commands;
    const auto map = KeyMap();
    for (std::size_t i = 0; i < map.size(); ++i) {
        const KeyBinding& row = map[i];
        EXPECT_NE(row.command, C::None) << "row " << i;
        for (int key = row.key; key <= std::max(row.key, row.lastKey); ++key) {
            const KeyAction a = CommandForKey(key, row.required, false, row.required);
            EXPECT_EQ(a.command, row.command) << "row " << i << " is shadowed";
            EXPECT_EQ(a.needs, row.needs) << "row " << i;
            EXPECT_EQ(a.repaint, row.repaint) << "row " << i;
        }
        commands.insert(row.command);
    }
    EXPECT_EQ(commands.size(), static_cast<std::size_t>(C::StepFile));
}

}  // namespace
}  // namespace quillix::viewer
