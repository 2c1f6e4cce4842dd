#pragma once

#include "settings/settings_store.h"

#include <optional>

// The gallery's own settings: the tile size and the window's placement, read from and written to
// a settings store that the caller loads before and saves after (only when told something changed).
namespace quillix::gallery {

struct TileSizeChoice {
    int TileSize = 0;
    bool stored = false;  // TILE_SIZE was written into the store: save the settings
};

// LoadTileSize: the stored TILE_SIZE when it lies in 32..800; else `current` when that does; else
// the first start's 128, which is then pushed as TILE_SIZE.
TileSizeChoice LoadTileSize(settings::SettingsStore& store, int current);

// A window's outer position and size in screen pixels.
struct WindowBounds {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    bool operator==(const WindowBounds&) const = default;
};

enum class WindowState { Normal = 0, Minimized = 1, Maximized = 2 };

struct WindowPlacement {
    WindowState state = WindowState::Normal;
    WindowBounds bounds;
};

// The smallest window a restored placement may make, so that a damaged value cannot hide it.
inline constexpr int kMinRestoredWidth = 200;
inline constexpr int kMinRestoredHeight = 150;

// `bounds` kept on `screen`: left at most 50 pixels short of the screen's right edge and top of its
// bottom edge, neither before the screen's left or top; width and height at most the screen's and
// at least kMinRestoredWidth × kMinRestoredHeight. A screen with no area leaves the size alone.
WindowBounds ClampToScreen(WindowBounds bounds, const WindowBounds& screen);

// LoadWindowPlacement: nothing when Form2.WindowState is missing or empty (the window keeps its
// bounds). Otherwise its number (0 when it is none) gives the state, 2 maximized and any other
// value normal, and Form2.Left, .Top, .Width and .Height give the bounds, each falling back to
// `current`'s when missing or not a number, then ClampToScreen.
std::optional<WindowPlacement> LoadWindowPlacement(const settings::SettingsStore& store, const WindowBounds& current,
                                                   const WindowBounds& screen);

// SaveWindowPlacement: pushes Form2.WindowState (0, 1 or 2), TILE_SIZE and, for a normal window
// only, the four bounds, so that the bounds of a normal window outlast a maximized spell. Only
// values that differ from the store's are pushed; true when any was, and the caller saves then.
bool SaveWindowPlacement(settings::SettingsStore& store, WindowState state, const WindowBounds& bounds, int tileSize);

}  // namespace quillix::gallery
