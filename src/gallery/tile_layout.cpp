#include "gallery/tile_layout.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace quillix::gallery {

namespace {

constexpr std::int64_t kWrap = 65536;
// How far outside the viewport a real pointer position may lie before it counts as wrapped.
constexpr std::int64_t kWrapSlack = 2000;
// More steps than this cross the whole wheel range anyway.
constexpr int kMaxWheelSteps = (kMaxStoredTileSize - kMinStoredTileSize) / kTileSizeStep + 1;

std::int64_t Unwrap(std::int64_t v, std::int64_t scroll, std::int64_t extent)
{
    const std::int64_t low = scroll - kWrapSlack;
    const std::int64_t high = scroll + extent + kWrapSlack;
    if (v < low) v += (low - v + kWrap - 1) / kWrap * kWrap;
    if (v > high) v -= (v - high + kWrap - 1) / kWrap * kWrap;
    return v;
}

int ClampToInt(std::int64_t v)
{
    return static_cast<int>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

bool InList(const TileLayout& layout, int index)
{
    return index >= 0 && index < layout.Count;
}

int Columns(const TileLayout& layout)
{
    return std::max(1, layout.Columns);
}

}  // namespace

Rect NormalizeRect(Rect r)
{
    if (r.left > r.right) std::swap(r.left, r.right);
    if (r.top > r.bottom) std::swap(r.top, r.bottom);
    return r;
}

bool Intersects(const Rect& a, const Rect& b)
{
    return std::max(a.left, b.left) < std::min(a.right, b.right) &&
           std::max(a.top, b.top) < std::min(a.bottom, b.bottom);
}

int ColumnPitch(const TileLayout& layout)
{
    return layout.TileSize + layout.ColumnGap;
}

int RowPitch(int tileSize)
{
    return tileSize + kNameStripHeight + kRowGap;
}

TileLayout UpdateLayout(int viewportWidth, int tileSize, int count)
{
    TileLayout layout;
    layout.TileSize = tileSize;
    layout.Count = std::max(0, count);
    layout.Columns = viewportWidth - kTileMargin < tileSize ? 1 : std::max(1, viewportWidth / (tileSize + kTileMargin));
    const std::int64_t spare = std::int64_t{viewportWidth} - kTileMargin -
                               std::int64_t{layout.Columns} * (std::int64_t{tileSize} + kTileMargin);
    if (spare > 0) layout.ColumnGap = kTileMargin + static_cast<int>(spare / (layout.Columns + 1));
    return layout;
}

int RowCount(const TileLayout& layout)
{
    const int columns = Columns(layout);
    return std::max(1, (layout.Count + columns - 1) / columns);
}

int CanvasHeight(const TileLayout& layout)
{
    const std::int64_t rows = RowCount(layout);
    return ClampToInt(rows * (layout.TileSize + kNameStripHeight) + (rows - 1) * kRowGap + 22);
}

Point TileOrigin(const TileLayout& layout, int index)
{
    const int columns = Columns(layout);
    const std::int64_t column = index % columns;
    const std::int64_t row = index / columns;
    return {ClampToInt(column * ColumnPitch(layout) + layout.ColumnGap),
            ClampToInt(row * RowPitch(layout.TileSize) + kTileMargin)};
}

Rect TileRect(const TileLayout& layout, int index)
{
    const Point p = TileOrigin(layout, index);
    return {p.x, p.y, p.x + layout.TileSize, p.y + layout.TileSize};
}

int ThumbnailBox(int tileSize)
{
    return tileSize - 2 * kTileInset;
}

Rect WellRect(const TileLayout& layout, int index)
{
    const Rect tile = TileRect(layout, index);
    return {tile.left + kTileInset, tile.top + kTileInset, tile.right - kTileInset, tile.bottom - kTileInset};
}

Rect NameStripRect(const TileLayout& layout, int index)
{
    const Rect tile = TileRect(layout, index);
    return {tile.left, tile.bottom, tile.right, tile.bottom + kNameStripHeight};
}

Rect TileWithNameRect(const TileLayout& layout, int index)
{
    const Rect tile = TileRect(layout, index);
    return {tile.left, tile.top, tile.right, tile.bottom + kNameStripHeight};
}

Point RestoreWrappedPoint(Point p, const Viewport& view)
{
    return {ClampToInt(Unwrap(p.x, view.scrollX, view.width)), ClampToInt(Unwrap(p.y, view.scrollY, view.height))};
}

int TileIndexAt(const TileLayout& layout, Point p, const Viewport& view)
{
    const Point q = RestoreWrappedPoint(p, view);
    if (q.x < layout.ColumnGap || q.y < kTileMargin) return -1;
    const int x = q.x - layout.ColumnGap;
    const int y = q.y - kTileMargin;
    const int column = x / ColumnPitch(layout);
    const std::int64_t row = y / RowPitch(layout.TileSize);
    if (column >= Columns(layout)) return -1;
    const std::int64_t index = row * Columns(layout) + column;
    if (index >= layout.Count) return -1;
    if (x % ColumnPitch(layout) >= layout.TileSize) return -1;
    if (y % RowPitch(layout.TileSize) >= layout.TileSize + kNameStripHeight) return -1;
    return static_cast<int>(index);
}

bool IsIndexVisible(const TileLayout& layout, int index, const Viewport& view)
{
    if (!InList(layout, index)) return true;
    const std::int64_t top = TileOrigin(layout, index).y;
    return top >= view.scrollY && top + layout.TileSize + kNameStripHeight <= std::int64_t{view.scrollY} + view.height;
}

int MaxScrollY(const TileLayout& layout, int viewportHeight)
{
    return std::max(0, CanvasHeight(layout) - viewportHeight);
}

std::optional<int> ScrollToIndex(const TileLayout& layout, int index, int viewportHeight)
{
    if (!InList(layout, index)) return std::nullopt;
    return std::min(TileOrigin(layout, index).y - kTileMargin, MaxScrollY(layout, viewportHeight));
}

int WheelTileSize(int tileSize, int notches, bool mouseRevert)
{
    // Towards the user (a negative turn) enlarges. Each notch is limited on its own, as separate
    // turns would be: from 32, two enlarging notches give 80, not 64.
    const int direction = (notches < 0) != mouseRevert ? 1 : -1;
    const int steps = std::min(std::abs(std::max(notches, -kMaxWheelSteps)), kMaxWheelSteps);
    for (int i = 0; i < steps; ++i)
        tileSize = std::clamp(tileSize + kTileSizeStep * direction, kMinWheelTileSize, kMaxWheelTileSize);
    return tileSize;
}

int WheelScrollY(const TileLayout& layout, int scrollY, int notches, int viewportHeight)
{
    if (notches == 0) return scrollY;
    const std::int64_t step = std::int64_t{RowPitch(layout.TileSize)} * 3 / 4;
    const std::int64_t target = scrollY - notches * step;
    return static_cast<int>(std::clamp<std::int64_t>(target, 0, MaxScrollY(layout, viewportHeight)));
}

WheelEffect HandleGalleryWheel(WheelNotches& notches, const WheelTurn& turn, const TileLayout& layout,
                               const Viewport& view)
{
    WheelEffect effect;
    effect.TileSize = layout.TileSize;
    effect.ScrollY = view.scrollY;
    const int turned = notches.Add(turn.delta, turn.ctrlOrShift);
    if (turned == 0) return effect;
    if (turn.ctrlOrShift) {
        effect.TileSize = WheelTileSize(layout.TileSize, turned, turn.mouseRevert);
        if (effect.TileSize != layout.TileSize) effect.action = WheelAction::TileSize;
    } else {
        effect.ScrollY = WheelScrollY(layout, view.scrollY, turned, view.height);
        if (effect.ScrollY != view.scrollY) effect.action = WheelAction::Scroll;
    }
    return effect;
}

int RowsPerPage(int viewportHeight, int tileSize)
{
    return std::max(1, viewportHeight / RowPitch(tileSize));
}

}  // namespace quillix::gallery
