#include "gallery/gallery_settings.h"

#include "gallery/tile_layout.h"
#include "settings/setting_keys.h"

#include <algorithm>
#include <string>

namespace quillix::gallery {

namespace {

constexpr const char* kTileSizeKey = settings::kTileSizeSetting.name;
constexpr const char* kStateKey = "Form2.WindowState";
constexpr const char* kLeftKey = "Form2.Left";
constexpr const char* kTopKey = "Form2.Top";
constexpr const char* kWidthKey = "Form2.Width";
constexpr const char* kHeightKey = "Form2.Height";
// How much of a restored window stays on the screen at the right and at the bottom.
constexpr int kVisibleEdge = 50;

bool IsStoredTileSize(int size)
{
    return size >= kMinStoredTileSize && size <= kMaxStoredTileSize;
}

// Pushes `value` under `key` unless the store holds that text already; true when it pushed.
bool PushChanged(settings::SettingsStore& store, const char* key, int value)
{
    const std::string text = std::to_string(value);
    if (store.Exist(key) && store.GetString(key) == text) return false;
    store.PushString(key, text);
    return true;
}

}  // namespace

TileSizeChoice LoadTileSize(settings::SettingsStore& store, int current)
{
    TileSizeChoice choice{current, false};
    const int stored = store.GetInt(kTileSizeKey, current);
    if (IsStoredTileSize(stored)) choice.TileSize = stored;
    if (!IsStoredTileSize(choice.TileSize)) {
        choice.TileSize = kFirstStartTileSize;
        store.PushInt(kTileSizeKey, choice.TileSize);
        choice.stored = true;
    }
    return choice;
}

WindowBounds ClampToScreen(WindowBounds bounds, const WindowBounds& screen)
{
    if (screen.width > 0 && screen.height > 0) {
        bounds.width = std::clamp(bounds.width, std::min(kMinRestoredWidth, screen.width), screen.width);
        bounds.height = std::clamp(bounds.height, std::min(kMinRestoredHeight, screen.height), screen.height);
    }
    bounds.left = std::max(std::min(bounds.left, screen.left + screen.width - kVisibleEdge), screen.left);
    bounds.top = std::max(std::min(bounds.top, screen.top + screen.height - kVisibleEdge), screen.top);
    return bounds;
}

std::optional<WindowPlacement> LoadWindowPlacement(const settings::SettingsStore& store, const WindowBounds& current,
                                                   const WindowBounds& screen)
{
    const std::string state = store.GetString(kStateKey);
    if (state.empty()) return std::nullopt;
    WindowPlacement placement;
    placement.state = settings::StrToInt(state, 0) == 2 ? WindowState::Maximized : WindowState::Normal;
    placement.bounds = ClampToScreen({store.GetInt(kLeftKey, current.left), store.GetInt(kTopKey, current.top),
                                      store.GetInt(kWidthKey, current.width), store.GetInt(kHeightKey, current.height)},
                                     screen);
    return placement;
}

bool SaveWindowPlacement(settings::SettingsStore& store, WindowState state, const WindowBounds& bounds, int tileSize)
{
    bool changed = PushChanged(store, kStateKey, static_cast<int>(state));
    changed |= PushChanged(store, kTileSizeKey, tileSize);
    if (state == WindowState::Normal) {
        changed |= PushChanged(store, kLeftKey, bounds.left);
        changed |= PushChanged(store, kTopKey, bounds.top);
        changed |= PushChanged(store, kWidthKey, bounds.width);
        changed |= PushChanged(store, kHeightKey, bounds.height);
    }
    return changed;
}

}  // namespace quillix::gallery
