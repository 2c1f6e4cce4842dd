#include "gallery/gallery_keys.h"

namespace quillix::gallery {
namespace {

using C = GalleryCommand;
using enum ModifierSource;
using enum TileMove;

constexpr int Arg(TileMove move)
{
    return static_cast<int>(move);
}

// Rows without required modifiers match whatever is held: Ctrl+E encrypts as E does.
constexpr GalleryKeyBinding kGalleryKeyMap[] = {
    {.key = keys::kF2, .command = C::Rename, .consumed = true},
    {.key = keys::kC, .required = kControl, .heldToAct = kControl, .command = C::ClipboardCopy, .consumed = true},
    {.key = keys::kX, .required = kControl, .heldToAct = kControl, .command = C::ClipboardCut, .consumed = true},
    {.key = keys::kV, .required = kControl, .heldToAct = kControl, .command = C::ClipboardPaste, .consumed = true},
    {.key = keys::kEscape, .command = C::ExitProgram},
    {.key = keys::kDelete, .command = C::DeleteFiles, .continues = true},
    {.key = keys::kE, .command = C::Encrypt, .consumed = true},
    {.key = keys::kD, .command = C::Decrypt, .consumed = true},
    {.key = keys::kR, .excluded = kShift, .command = C::Rotate, .argument = +1, .consumed = true},
    {.key = keys::kR, .required = kShift, .command = C::Rotate, .argument = -1, .consumed = true},
    {.key = keys::kP, .required = kControl | kShift, .source = Held, .command = C::ForgetPassword, .continues = true},
    {.key = keys::kA, .required = kControl, .source = Held, .command = C::SelectAll, .consumed = true},
    {.key = keys::kF5, .command = C::Refresh, .consumed = true},
    {.key = keys::kSpace, .command = C::ToggleSelection, .consumed = true, .needsFiles = true},
    // Both Enter keys, the main one and the keypad's.
    {.key = keys::kReturn, .command = C::OpenCurrent, .consumed = true, .needsFiles = true},
    {.key = keys::kEnter, .command = C::OpenCurrent, .consumed = true, .needsFiles = true},
    {.key = keys::kPageUp, .command = C::Move, .argument = Arg(PageUp), .consumed = true, .needsFiles = true},
    {.key = keys::kPageDown, .command = C::Move, .argument = Arg(PageDown), .consumed = true, .needsFiles = true},
    {.key = keys::kLeft, .command = C::Move, .argument = Arg(Left), .consumed = true, .needsFiles = true},
    {.key = keys::kUp, .command = C::Move, .argument = Arg(Up), .consumed = true, .needsFiles = true},
    {.key = keys::kRight, .command = C::Move, .argument = Arg(Right), .consumed = true, .needsFiles = true},
    {.key = keys::kDown, .command = C::Move, .argument = Arg(Down), .consumed = true, .needsFiles = true},
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
        if (row.key != key || (row.needsFiles && listEmpty)) continue;
        const Modifiers state = row.source == Held ? held : modifiers;
        if ((state & row.required) != row.required || (modifiers & row.excluded) != 0) continue;
        result.actions.push_back({row.command, row.argument, (held & row.heldToAct) == row.heldToAct});
        result.consumed = row.consumed;
        if (!row.continues) break;
    }
    return result;
}

}  // namespace quillix::gallery
