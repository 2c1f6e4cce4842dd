#pragma once

#include "common/wheel_notches.h"

#include <optional>

// The tile grid of the gallery as arithmetic on sizes and indices: columns, canvas size, where a
// tile and its parts lie, the hit test, visibility, scrolling and the mouse wheel. Coordinates are
// canvas pixels (the canvas is as tall as all rows and scrolls inside a viewport).
namespace quillix::gallery {

struct Size {
    int width = 0;
    int height = 0;

    bool operator==(const Size&) const = default;
};

struct Point {
    int x = 0;
    int y = 0;

    bool operator==(const Point&) const = default;
};

// Left and top are inside, right and bottom just outside, so two rectangles that only share an
// edge do not overlap. A rectangle made from two corners may have left > right or top > bottom
// until NormalizeRect orders it.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

// `r` with left <= right and top <= bottom, the corners swapped where needed.
Rect NormalizeRect(Rect r);

// True when the two ordered rectangles share at least one pixel; touching along an edge or at a
// corner is not enough, and an empty rectangle overlaps nothing.
bool Intersects(const Rect& a, const Rect& b);

inline constexpr int kTileMargin = 12;       // top margin of the grid, and the least gap between columns
inline constexpr int kTileInset = 12;        // from a tile's edge to its thumbnail well
inline constexpr int kNameStripHeight = 18;  // the file name under each tile
inline constexpr int kRowGap = 12;           // from a name strip to the next row

// Tile sizes: what a stored TILE_SIZE may be, what the wheel keeps to, and the first start's size.
inline constexpr int kMinStoredTileSize = 32;
inline constexpr int kMaxStoredTileSize = 800;
inline constexpr int kMinWheelTileSize = 64;
inline constexpr int kMaxWheelTileSize = 512;
inline constexpr int kTileSizeStep = 16;
inline constexpr int kFirstStartTileSize = 128;

// T pixels square tiles, `Columns` to a row, `Count` of them. `ColumnGap` is both the left margin
// and the gap between columns: the viewport's spare width shared out evenly, so that wide tiles
// leave no wide empty strip at the right.
struct TileLayout {
    int TileSize = kFirstStartTileSize;
    int Columns = 1;
    int Count = 0;
    int ColumnGap = kTileMargin;
};

// Distance between the left edges of neighbouring columns: T + ColumnGap.
int ColumnPitch(const TileLayout& layout);
// Distance between the tops of neighbouring rows: T + 30 (tile, name strip, gap).
int RowPitch(int tileSize);

// The layout for `count` tiles of edge `tileSize` in a viewport `viewportWidth` wide: one column
// when W - 12 < T, else W div (T + 12), at least 1. What is left of the width once every column
// has its 12-pixel gap and the right margin its 12 is split evenly among the left margin, the gaps
// between columns and the right margin (C + 1 parts); the few pixels the split leaves over go to
// the right margin.
TileLayout UpdateLayout(int viewportWidth, int tileSize, int count);

// Rows of the canvas: ceil(Count / Columns), at least 1 (an empty list still has a row's height).
int RowCount(const TileLayout& layout);

// The canvas height: rows × (T + 18) + (rows - 1) × 12 + 22, so T + 40 for an empty list. The
// canvas is as wide as the viewport.
int CanvasHeight(const TileLayout& layout);

// The top-left corner of tile `index` (row index div Columns, column index mod Columns).
Point TileOrigin(const TileLayout& layout, int index);
// The tile's square, T × T.
Rect TileRect(const TileLayout& layout, int index);
// The edge of the square a thumbnail is made to fit: T - 24, the well's.
int ThumbnailBox(int tileSize);
// The thumbnail well: the square shrunk by kTileInset on every side, ThumbnailBox square.
Rect WellRect(const TileLayout& layout, int index);
// The name strip under the square, T × 18.
Rect NameStripRect(const TileLayout& layout, int index);
// The square with its name strip, T × (T + 18): what a click or a rubber band hits.
Rect TileWithNameRect(const TileLayout& layout, int index);

// The visible part of the canvas: the scroll position and the viewport's client size.
struct Viewport {
    int scrollX = 0;
    int scrollY = 0;
    int width = 0;
    int height = 0;
};

// Undoes the 16-bit wrap of pointer positions on a canvas larger than 32767 pixels: y is moved by
// 65536 towards the viewport while it lies more than 2000 pixels above its top or below its bottom,
// and x likewise. Positions that never wrapped are returned unchanged.
Point RestoreWrappedPoint(Point p, const Viewport& view);

// The index of the tile (square or name strip) under canvas point `p`, after RestoreWrappedPoint;
// -1 in the margins, the gaps between tiles, right of the last column and beyond the last tile.
int TileIndexAt(const TileLayout& layout, Point p, const Viewport& view);

// True when tile `index`'s square and name strip lie wholly inside the viewport's rows, and for any
// index outside the list (there is nothing to scroll to).
bool IsIndexVisible(const TileLayout& layout, int index, const Viewport& view);

// The largest vertical scroll position: the canvas height minus the viewport height, at least 0.
int MaxScrollY(const TileLayout& layout, int viewportHeight);

// The scroll position that brings tile `index`'s row, with the margin above it, to the top of the
// viewport (or as far as the canvas allows); nothing for an empty list or an index outside it.
std::optional<int> ScrollToIndex(const TileLayout& layout, int index, int viewportHeight);

// The tile size after `notches` turns with Ctrl or Shift held: 16 pixels larger per notch towards
// the user (negative), smaller away from the user, the other way round with `mouseRevert`; limited
// to 64..512, so one notch from a stored 32 or 800 lands inside that range.
int WheelTileSize(int tileSize, int notches, bool mouseRevert);

// The scroll position after `notches` plain wheel turns: 3/4 of a row pitch per notch, up for
// positive notches, limited to 0..MaxScrollY.
int WheelScrollY(const TileLayout& layout, int scrollY, int notches, int viewportHeight);

enum class WheelAction {
    None,      // nothing changes; the window still consumes the event, so nothing else scrolls
    TileSize,  // lay out again with TileSize, repaint, store TILE_SIZE and save the settings
    Scroll,    // scroll to ScrollY
};

struct WheelEffect {
    WheelAction action = WheelAction::None;
    int TileSize = 0;
    int ScrollY = 0;
};

struct WheelTurn {
    int delta = 0;             // angleDelta().y()
    bool ctrlOrShift = false;  // read from the keyboard when the event arrives
    bool mouseRevert = false;  // MOUSECTRL_REVERT
};

// One wheel event on the gallery: Ctrl or Shift held steps the tile size, otherwise the canvas
// scrolls. An action is reported only when the size or the position actually changes.
WheelEffect HandleGalleryWheel(WheelNotches& notches, const WheelTurn& turn, const TileLayout& layout,
                               const Viewport& view);

// Rows of the viewport for Page Up and Page Down: the viewport height div (T + 30), at least 1.
int RowsPerPage(int viewportHeight, int tileSize);

}  // namespace quillix::gallery
