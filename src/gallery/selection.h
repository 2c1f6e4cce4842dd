#pragma once

#include "browse/folder_model.h"
#include "gallery/tile_layout.h"

#include <string>
#include <vector>

// The gallery's selection: which tiles the file commands act on, changed by clicks, Ctrl and
// Shift clicks, the rubber band and the keyboard, and restored by file names after a rebuild.
namespace quillix::gallery {

// The keys that move the current tile.
enum class TileMove { Left, Right, Up, Down, PageUp, PageDown };

// The index a key moves to from `current` (a negative one counts as 0): one tile sideways (running
// on across row ends), one row of `columns`, or `rowsPerPage` rows; limited to 0..count-1.
// -1 for an empty list.
int MoveTarget(TileMove move, int current, int columns, int rowsPerPage, int count);

// What clicks, the band and the keys do to a folder model's selection, anchor and current tile.
// Indices are positions: after a rebuild some may lie beyond the list, and every reader here
// skips those. The model must outlive this object.
class Selection {
public:
    explicit Selection(browse::FolderModel& model) : model_(model) {}

    bool IsSelected(int index) const;
    // Appends `index` unless it is selected already.
    void AddSelection(int index);
    void RemoveSelection(int index);
    // Removes `index` when selected, else appends it; it becomes the anchor either way.
    void ToggleSelection(int index);
    // The selection becomes anchor..index in ascending order (stopping at the list's end), the
    // anchor staying where it was, or becoming `index` when there was none.
    void SelectRange(int index);
    // The rubber band `band` (any corner order): when it has width and height, the selection
    // becomes every tile whose square or name strip overlaps it, in list order, and the result is
    // true; a band without area changes nothing and gives false. Touching along an edge is not
    // overlapping.
    bool SelectByRect(Rect band, const TileLayout& layout);

    // The paths of the selected entries in selection order; when none is listed, the current
    // entry's path alone; empty when there is no current entry either.
    std::vector<std::string> BuildSelectedFileList() const;

    // Paths to select after the next rebuild; ReselectByNames reads them and leaves them.
    std::vector<std::string> ReselectNames;
    void ClearReselectNames() { ReselectNames.clear(); }
    // The selection becomes the listed ReselectNames, in their order (paths compare exactly). The
    // current tile becomes the one of them that holds the picture of `formerCurrent` (the same
    // name, with or without the "$" of a container), else the first of them when it is listed;
    // without scrolling and without touching FocusPath or the anchor.
    void ReselectByNames(const std::string& formerCurrent = {});

    // Ctrl+A: every entry selected, entry 0 current when none was, the anchor on the current one.
    // False (nothing done) for an empty list.
    bool SelectAll();
    // Space: toggles the current tile. False when there is none.
    bool ToggleCurrent();
    // An arrow or page key: the current tile moves to MoveTarget (FocusTile, which scrolls, only when
    // it changes); with no current tile, whatever the key, tile `start` (clamped to the list)
    // becomes current instead. Then with Shift the range from the anchor to it is selected, with
    // Ctrl alone the selection stays, and otherwise it becomes the only selected tile and the
    // anchor. False for an empty list.
    bool MoveByKey(TileMove move, bool shift, bool ctrl, int columns, int rowsPerPage, int start = 0);

    browse::FolderModel& Model() { return model_; }
    const browse::FolderModel& Model() const { return model_; }

private:
    bool inRange(int index) const { return index >= 0 && index < model_.Count(); }

    browse::FolderModel& model_;
};

// Where the keys start when no tile is current: the first tile wholly in view, else the first of
// the top row in view; -1 for an empty list.
int FirstTileInView(const TileLayout& layout, const Viewport& view);

// The rubber band moves only after the pointer has left the press point by more than this on
// either axis; up to it, a press and release is a click.
inline constexpr int kDragThreshold = 3;

// The mouse gestures on the tile canvas: a press selects as a click (plain, Ctrl toggles, Shift
// extends; empty space clears and leaves no current tile), moving more than kDragThreshold pixels
// with the left button down draws a rubber band that replaces the selection, and the release ends
// it. Positions are canvas coordinates from the events. Each handler returns true when the canvas
// needs a repaint; scrolling a focused tile into view goes through the model's listener.
class TilePointer {
public:
    explicit TilePointer(Selection& selection) : selection_(selection) {}

    // The left button went down at `pos`. Ctrl wins over Shift.
    bool MouseDown(Point pos, bool ctrl, bool shift, const TileLayout& layout, const Viewport& view);
    // The pointer moved to `pos` (any buttons).
    bool MouseMove(Point pos, const TileLayout& layout);
    // The left button came up at `pos`. Ending a band keeps the current tile and the anchor; a
    // release off every tile without a band clears the selection but keeps the current tile.
    bool MouseUp(Point pos, const TileLayout& layout, const Viewport& view);

    // A double click at `pos`, the event's own position: the pointer may have moved since the last
    // move event, as a wheel scrolls the canvas under it. The tile there becomes current and the
    // only selected one, and its index is returned for opening; -1, with nothing changed, off
    // every tile.
    int DoubleClick(Point pos, const TileLayout& layout, const Viewport& view);

    // The band as drawn: ordered corners, empty when no band is active.
    Rect RubberBandRect() const;

    bool MouseTracking = false;
    Point DragStart;
    bool RubberBandActive = false;
    // DragStart and the latest pointer position, in that order; not ordered as a rectangle.
    Rect RubberBand;

private:
    Selection& selection_;
};

}  // namespace quillix::gallery
