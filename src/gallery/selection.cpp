#include "gallery/selection.h"

#include "common/paths.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <utility>

namespace quillix::gallery {

int MoveTarget(TileMove move, int current, int columns, int rowsPerPage, int count)
{
    if (count <= 0) return -1;
    const std::int64_t from = std::max(current, 0);
    const std::int64_t row = std::max(columns, 1);
    const std::int64_t page = std::max(rowsPerPage, 1) * row;
    std::int64_t to = from;
    switch (move) {
    case TileMove::Left: to = from - 1; break;
    case TileMove::Right: to = from + 1; break;
    case TileMove::Up: to = from - row; break;
    case TileMove::Down: to = from + row; break;
    case TileMove::PageUp: to = from - page; break;
    case TileMove::PageDown: to = from + page; break;
    }
    return static_cast<int>(std::clamp<std::int64_t>(to, 0, count - 1));
}

bool Selection::IsSelected(int index) const
{
    return model_.IsSelected(index);
}

void Selection::AddSelection(int index)
{
    model_.AddToSelection(index);
}

void Selection::RemoveSelection(int index)
{
    model_.RemoveFromSelection(index);
}

void Selection::ToggleSelection(int index)
{
    if (IsSelected(index))
        RemoveSelection(index);
    else
        AddSelection(index);
    model_.AnchorAt(index);
}

void Selection::SelectRange(int index)
{
    if (model_.AnchorIndex() < 0) model_.AnchorAt(index);
    std::vector<int> selected;
    const int first = std::max(std::min(index, model_.AnchorIndex()), 0);
    const int last = std::min(std::max(index, model_.AnchorIndex()), model_.Count() - 1);
    for (int i = first; i <= last; ++i)
        selected.push_back(i);
    model_.Select(std::move(selected));
}

bool Selection::SelectByRect(Rect band, const TileLayout& layout)
{
    const Rect r = NormalizeRect(band);
    if (r.width() == 0 || r.height() == 0) return false;
    std::vector<int> selected;
    const int count = std::min(layout.Count, model_.Count());
    for (int i = 0; i < count; ++i) {
        if (Intersects(TileWithNameRect(layout, i), r)) selected.push_back(i);
    }
    model_.Select(std::move(selected));
    return true;
}

std::vector<std::string> Selection::BuildSelectedFileList() const
{
    std::vector<std::string> paths;
    for (const int i : model_.SelectedIndices()) {
        if (inRange(i)) paths.push_back(model_.Files()[static_cast<std::size_t>(i)]);
    }
    if (paths.empty() && inRange(model_.CurrentIndex()))
        paths.push_back(model_.Files()[static_cast<std::size_t>(model_.CurrentIndex())]);
    return paths;
}

namespace {

// The same picture in the same folder, plain or encrypted.
bool SamePicture(const std::string& a, const std::string& b)
{
    const std::string nameA = FileNameOf(a);
    const std::string nameB = FileNameOf(b);
    return FolderOf(a) == FolderOf(b) && browse::PictureNameOf(nameA) == browse::PictureNameOf(nameB);
}

}  // namespace

void Selection::ReselectByNames(const std::string& formerCurrent)
{
    std::vector<int> selected;
    int current = -1;
    for (const std::string& path : ReselectNames) {
        const int index = model_.IndexOfFile(path);
        if (index < 0) continue;
        selected.push_back(index);
        if (current < 0 && !formerCurrent.empty() && SamePicture(path, formerCurrent)) current = index;
    }
    model_.Select(std::move(selected));
    if (current < 0 && !ReselectNames.empty()) current = model_.IndexOfFile(ReselectNames.front());
    if (current >= 0) model_.MakeCurrent(current);
}

bool Selection::SelectAll()
{
    if (model_.Count() == 0) return false;
    std::vector<int> selected(static_cast<std::size_t>(model_.Count()));
    std::iota(selected.begin(), selected.end(), 0);
    model_.Select(std::move(selected));
    if (model_.CurrentIndex() < 0) model_.MakeCurrent(0);
    model_.AnchorAt(model_.CurrentIndex());
    return true;
}

bool Selection::ToggleCurrent()
{
    if (!inRange(model_.CurrentIndex())) return false;
    ToggleSelection(model_.CurrentIndex());
    return true;
}

bool Selection::MoveByKey(TileMove move, bool shift, bool ctrl, int columns, int rowsPerPage, int start)
{
    if (model_.Count() == 0) return false;
    int to = 0;
    if (inRange(model_.CurrentIndex())) {
        to = MoveTarget(move, model_.CurrentIndex(), columns, rowsPerPage, model_.Count());
        if (to != model_.CurrentIndex()) model_.FocusTile(to);
    } else {
        // Stepping from a tile nobody sees, or the key's way from tile 0, would pick a file the
        // user never looked at.
        to = std::clamp(start, 0, model_.Count() - 1);
        model_.FocusTile(to);
    }
    if (shift) {
        SelectRange(to);
    } else if (!ctrl) {
        model_.ChooseOnly(to);
    }
    return true;
}

int FirstTileInView(const TileLayout& layout, const Viewport& view)
{
    if (layout.Count <= 0) return -1;
    const int columns = std::max(layout.Columns, 1);
    const int pitch = RowPitch(layout.TileSize);
    const int topRow = std::clamp((view.scrollY - kTileMargin) / std::max(pitch, 1), 0, (layout.Count - 1) / columns);
    const int top = topRow * columns;
    if (IsIndexVisible(layout, top, view)) return top;
    const int next = top + columns;
    return next < layout.Count && IsIndexVisible(layout, next, view) ? next : top;
}

bool TilePointer::MouseDown(Point pos, bool ctrl, bool shift, const TileLayout& layout, const Viewport& view)
{
    MouseTracking = true;
    DragStart = pos;
    RubberBandActive = false;
    RubberBand = {};
    browse::FolderModel& model = selection_.Model();
    const int index = TileIndexAt(layout, pos, view);
    if (index >= 0 && index < model.Count()) {
        model.FocusTile(index);
        if (ctrl) {
            selection_.ToggleSelection(index);
        } else if (shift) {
            selection_.SelectRange(index);
        } else {
            model.ChooseOnly(index);
        }
    } else {
        model.ClearSelection();
        model.MakeCurrent(-1);
    }
    return true;
}

bool TilePointer::MouseMove(Point pos, const TileLayout& layout)
{
    if (!MouseTracking) return false;
    if (RubberBandActive) {
        RubberBand.right = pos.x;
        RubberBand.bottom = pos.y;
    } else if (std::abs(pos.x - DragStart.x) > kDragThreshold || std::abs(pos.y - DragStart.y) > kDragThreshold) {
        RubberBandActive = true;
        RubberBand = {DragStart.x, DragStart.y, pos.x, pos.y};
    } else {
        return false;
    }
    selection_.SelectByRect(RubberBand, layout);
    // The band itself moved, so the canvas is repainted even when the selection did not change.
    return true;
}

bool TilePointer::MouseUp(Point pos, const TileLayout& layout, const Viewport& view)
{
    browse::FolderModel& model = selection_.Model();
    if (RubberBandActive) {
        RubberBand.right = pos.x;
        RubberBand.bottom = pos.y;
        selection_.SelectByRect(RubberBand, layout);
        RubberBandActive = false;
    } else if (TileIndexAt(layout, pos, view) < 0) {
        model.ClearSelection();
    }
    MouseTracking = false;
    return true;
}

int TilePointer::DoubleClick(Point pos, const TileLayout& layout, const Viewport& view)
{
    browse::FolderModel& model = selection_.Model();
    const int index = TileIndexAt(layout, pos, view);
    if (index < 0 || index >= model.Count()) return -1;
    model.SetCurrentIndex(index);
    return index;
}

Rect TilePointer::RubberBandRect() const
{
    return RubberBandActive ? NormalizeRect(RubberBand) : Rect{};
}

}  // namespace quillix::gallery
