#pragma once

#include "common/key_codes.h"
#include "gallery/selection.h"

#include <span>
#include <vector>

// The gallery window's keys as one table: which command a key starts, in the order the rows are
// tested. Key codes and modifier bits are Qt's (key_codes), as in the viewer's key map.
namespace quillix::gallery {

enum class GalleryCommand {
    None,
    Rename,         // F2: one file renamed, or several as a numbered batch
    ClipboardCopy,  // the folder box's text selection is cleared either way
    ClipboardCut,
    ClipboardPaste,
    ExitProgram,
    DeleteFiles,
    Encrypt,
    Decrypt,
    Rotate,          // argument: +1 clockwise, -1 counter-clockwise
    ForgetPassword,  // the password is forgotten and asked for again
    SelectAll,
    Refresh,
    ToggleSelection,
    OpenCurrent,
    Move,  // argument: the TileMove
};

struct GalleryKeyBinding {
    int key = 0;
    // All of these must be present in the state `source` names; any others are not examined.
    Modifiers required = kNoModifier;
    ModifierSource source = ModifierSource::Event;
    // Event modifiers that keep the row from matching (R without Shift turns clockwise).
    Modifiers excluded = kNoModifier;
    // Held modifiers the command needs to act once its row matched (Ctrl+C pressed, Ctrl
    // released by the time the key is handled: the row takes the key, nothing is copied).
    Modifiers heldToAct = kNoModifier;
    GalleryCommand command = GalleryCommand::None;
    int argument = 0;
    bool consumed = false;
    // The rows after this one are tested too once it acted.
    bool continues = false;
    // With no file listed the row matches nothing.
    bool needsFiles = false;
};

// The table in the order the rows are tested; the first matching row acts.
std::span<const GalleryKeyBinding> GalleryKeyMap();

struct GalleryKeyAction {
    GalleryCommand command = GalleryCommand::None;
    int argument = 0;
    // False when the row matched but the held modifiers it needs to act are missing.
    bool acts = true;

    bool operator==(const GalleryKeyAction&) const = default;
};

struct GalleryKeyResult {
    // What to do, in order; empty when no row matched.
    std::vector<GalleryKeyAction> actions;
    // The key is taken (not passed on to other widgets).
    bool consumed = false;
};

// The rows that match `key` with the event's `modifiers` and the keyboard state `held`, walking
// on past rows that continue. With `listEmpty` the rows that need files match nothing.
GalleryKeyResult GalleryCommandsForKey(int key, Modifiers modifiers, Modifiers held, bool listEmpty);

}  // namespace quillix::gallery
