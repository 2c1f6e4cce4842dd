#pragma once

#include "gallery/tile_layout.h"

#include <functional>
#include <string>

// What painting the tile canvas decides without a window: which rows to paint, where a thumbnail
// is drawn in its well, and how a file name is cut to fit its strip.
namespace quillix::gallery {

// Rows first..last inclusive; empty when first > last.
struct RowSpan {
    int first = 0;
    int last = -1;

    bool empty() const { return first > last; }
    bool operator==(const RowSpan&) const = default;
};

// The rows a paint must draw for the clip rectangle's rows clipTop (inside) to clipBottom (just
// outside): from the row whose band holds clipTop to the one whose band holds clipBottom - 1,
// limited to the rows that hold tiles. Empty for an empty list.
RowSpan RowsTouched(const TileLayout& layout, int clipTop, int clipBottom);

// Where a thumbnail of size `thumbnail` is drawn in `well`: scaled to fit the well, 4 pixels
// smaller on each axis, centred (an odd remainder going right and down). A 104 × 52 thumbnail in a
// 104 × 104 well is drawn 100 × 48, 2 pixels in from the sides and 28 from the top. Each side is
// at least 1 pixel; an empty rectangle when the thumbnail or the well has no area.
Rect ThumbnailDrawRect(const Rect& well, Size thumbnail);

// The left edge of a name strip's text: 3 pixels in.
inline constexpr int kNameIndent = 3;

// The width a name strip's text may take: T - 6.
int NameWidthLimit(int tileSize);

// The vertical offset of a name's text in its strip for a font whose "W" is `textHeight` tall.
int NameTextOffset(int textHeight);

// `name` when `measure` says it fits in `maxWidth` pixels; otherwise the longest leading part of it
// that fits together with "...", followed by "...", or "..." alone when not even the first
// character fits. `name` is UTF-8 and is cut only between whole characters.
std::string FitNameToWidth(const std::string& name, int maxWidth,
                           const std::function<int(const std::string&)>& measure);

}  // namespace quillix::gallery
