#include "gallery/selection.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace quillix::gallery {
namespace {

using Indices = std::vector<int>;

class ScrollListener : public browse::FolderModelListener {
public:
    void ensureVisible(int index) override { scrolledTo.push_back(index); }
    std::vector<int> scrolledTo;
};

std::string PathOf(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "/pics/f%02d.jpg", i);
    return name;
}

// `count` tiles of 128 pixels, four to a row, in a viewport showing three rows.
struct Grid {
    explicit Grid(int count)
    {
        for (int i = 0; i < count; ++i)
            files.push_back(PathOf(i));
        layout = UpdateLayout(4 * 140, 128, count);
    }
    Grid(const Grid&) = delete;
    Grid& operator=(const Grid&) = delete;

    // A point well inside tile i's square.
    Point Inside(int i) const
    {
        const Rect tile = TileRect(layout, i);
        return {tile.left + 40, tile.top + 40};
    }
    void Press(Point p, bool ctrl = false, bool shift = false) { pointer.MouseDown(p, ctrl, shift, layout, view); }
    void Move(Point p) { pointer.MouseMove(p, layout); }
    void Release(Point p) { pointer.MouseUp(p, layout, view); }
    void Click(int i, bool ctrl = false, bool shift = false)
    {
        Press(Inside(i), ctrl, shift);
        Release(Inside(i));
    }
    void Key(TileMove move, bool shift = false, bool ctrl = false)
    {
        selection.MoveByKey(move, shift, ctrl, layout.Columns, RowsPerPage(view.height, layout.TileSize));
    }
    const Indices& Selected() const { return model.SelectedIndices(); }

    browse::FileList files;
    settings::AppOptions options;
    ScrollListener listener;
    browse::FolderModel model{files, options, &listener};
    Selection selection{model};
    TilePointer pointer{selection};
    TileLayout layout;
    Viewport view{0, 0, 560, 474};
};

TEST(SelectionClicks, ClickShiftClickCtrlClick)
{
    Grid g(20);
    g.Click(3);
    EXPECT_EQ(g.Selected(), (Indices{3}));
    g.Click(7, false, true);
    EXPECT_EQ(g.Selected(), (Indices{3, 4, 5, 6, 7}));
    EXPECT_EQ(g.model.AnchorIndex(), 3);
    EXPECT_EQ(g.model.CurrentIndex(), 7);
    g.Click(5, true);
    EXPECT_EQ(g.Selected(), (Indices{3, 4, 6, 7}));
    EXPECT_EQ(g.model.AnchorIndex(), 5);
    EXPECT_EQ(g.model.CurrentIndex(), 5);
    g.Click(9, false, true);
    EXPECT_EQ(g.Selected(), (Indices{5, 6, 7, 8, 9}));
    g.Click(2, false, true);  // backwards from the anchor, still ascending
    EXPECT_EQ(g.Selected(), (Indices{2, 3, 4, 5}));
    EXPECT_EQ(g.model.FocusPath(), PathOf(2));
}

TEST(SelectionClicks, ShiftWithoutAnchorAndCtrlShift)
{
    Grid g(20);
    g.Click(6, false, true);
    EXPECT_EQ(g.Selected(), (Indices{6}));
    EXPECT_EQ(g.model.AnchorIndex(), 6);

    g.Click(8, true, true);  // Ctrl wins: a toggle
    EXPECT_EQ(g.Selected(), (Indices{6, 8}));
    EXPECT_EQ(g.model.AnchorIndex(), 8);
    g.Click(6, true, true);
    EXPECT_EQ(g.Selected(), (Indices{8}));
    EXPECT_EQ(g.model.AnchorIndex(), 6);
    EXPECT_EQ(g.model.CurrentIndex(), 6) << "a tile toggled off stays current";
}

TEST(SelectionClicks, ClickOnEmptySpaceClearsAndLeavesNoCurrentTile)
{
    Grid g(6);  // two rows, the second half empty
    g.Click(1);
    for (const Point empty : {Point{5, 5}, Point{145, 50}, Point{50, 160}, Point{300, 200}, Point{50, 2000}}) {
        SCOPED_TRACE(testing::Message() << empty.x << "," << empty.y);
        g.Click(4);
        g.Click(5, true);
        g.Press(empty);
        EXPECT_TRUE(g.Selected().empty());
        EXPECT_EQ(g.model.CurrentIndex(), -1);
        g.Release(empty);
        EXPECT_TRUE(g.Selected().empty());
        EXPECT_EQ(g.model.AnchorIndex(), 5) << "the anchor stays";
    }
}

TEST(SelectionClicks, ClickFocusesAndScrollsThroughTheModel)
{
    Grid g(40);
    g.Click(13);
    EXPECT_EQ(g.model.CurrentIndex(), 13);
    EXPECT_EQ(g.listener.scrolledTo, (Indices{13}));
}

TEST(SelectionClicks, ReleaseInTheGapClearsButKeepsTheCurrentTile)
{
    Grid g(20);
    g.Press({139, 50});  // the last column of tile 0
    g.Move({141, 50});
    EXPECT_FALSE(g.pointer.RubberBandActive);
    g.Release({141, 50});  // 2 pixels into the gap
    EXPECT_TRUE(g.Selected().empty());
    EXPECT_EQ(g.model.CurrentIndex(), 0);
    EXPECT_FALSE(g.pointer.MouseTracking);
}

TEST(SelectionDrag, ThreePixelsIsAClickFourStartsTheBand)
{
    struct Case {
        int dx;
        int dy;
        bool band;
    };
    const Case cases[] = {
        {3, 0, false}, {0, 3, false}, {-3, -3, false}, {3, -3, false},
        {4, 1, true},  {1, 4, true},  {-4, -1, true},  {-1, -4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dx << "," << c.dy);
        Grid g(20);
        const Point start = g.Inside(5);
        g.Press(start);
        const Point end{start.x + c.dx, start.y + c.dy};
        g.Move(end);
        EXPECT_EQ(g.pointer.RubberBandActive, c.band);
        if (c.band) {
            EXPECT_EQ(g.pointer.RubberBandRect(), NormalizeRect({start.x, start.y, end.x, end.y}));
        }
        g.Release(end);
        EXPECT_EQ(g.Selected(), (Indices{5})) << "a band starting on a tile includes that tile";
        EXPECT_EQ(g.model.CurrentIndex(), 5);
        EXPECT_FALSE(g.pointer.RubberBandActive);
        EXPECT_EQ(g.pointer.RubberBandRect(), Rect{});
    }
}

TEST(SelectionDrag, BandReplacesTheSelectionWithEveryTouchedTile)
{
    Grid g(20);
    g.Click(0);
    g.Click(1, true);
    // Ctrl at the press toggles tile 5, but the band decides in the end.
    g.Press(g.Inside(5), true);
    EXPECT_EQ(g.Selected(), (Indices{0, 1, 5}));
    g.Move(g.Inside(10));
    EXPECT_EQ(g.Selected(), (Indices{5, 6, 9, 10}));
    g.Move({472, 250});  // inside tile 7: the band shrinks back to one row
    EXPECT_EQ(g.Selected(), (Indices{5, 6, 7}));
    g.Move({g.Inside(4).x - 30, g.Inside(4).y - 100});  // up and left of the start: into row 0
    EXPECT_EQ(g.Selected(), (Indices{0, 1, 4, 5}));
    g.Release(g.Inside(14));
    EXPECT_EQ(g.Selected(), (Indices{5, 6, 9, 10, 13, 14}));
    EXPECT_EQ(g.model.CurrentIndex(), 5) << "the press set the current tile";
    EXPECT_EQ(g.model.AnchorIndex(), 5);
}

TEST(SelectionDrag, BandOverTheGapOnlyOrTouchingAnEdgeSelectsNothing)
{
    Grid g(20);
    g.Click(3);
    // The gap between rows 0 and 1 runs from y = 158 to 170.
    g.Press({20, 158});
    g.Move({400, 170});
    EXPECT_TRUE(g.pointer.RubberBandActive);
    EXPECT_TRUE(g.Selected().empty());
    g.Release({400, 170});
    EXPECT_TRUE(g.Selected().empty());

    // The gap right of tile 0 runs from x = 140 to 152; tile 1 starts at 152.
    g.Press({141, 20});
    g.Move({152, 100});
    EXPECT_TRUE(g.Selected().empty());
    g.Move({153, 100});
    EXPECT_EQ(g.Selected(), (Indices{1}));
    g.Release({153, 100});
}

TEST(SelectionDrag, FlatBandLeavesTheSelectionAsItWas)
{
    Grid g(20);
    g.Press(g.Inside(0));
    g.Move({g.Inside(0).x + 200, g.Inside(0).y});  // no height
    EXPECT_TRUE(g.pointer.RubberBandActive);
    EXPECT_EQ(g.Selected(), (Indices{0}));
    EXPECT_EQ(g.pointer.RubberBandRect().height(), 0);
    g.Move({g.Inside(0).x + 200, g.Inside(0).y + 1});
    EXPECT_EQ(g.Selected(), (Indices{0, 1}));
    g.Release({g.Inside(0).x + 200, g.Inside(0).y});
    EXPECT_EQ(g.Selected(), (Indices{0, 1})) << "the last band with an area stands";
}

TEST(SelectionDrag, MovesWithoutAPressChangeNothing)
{
    Grid g(20);
    g.Click(2);
    EXPECT_FALSE(g.pointer.MouseMove({300, 300}, g.layout));
    EXPECT_EQ(g.Selected(), (Indices{2}));
    EXPECT_EQ(g.model.CurrentIndex(), 2);
}

// The double click opens the tile at its own position, whatever the pointer's last move said:
// a wheel scrolls the canvas under a pointer that does not move.
TEST(SelectionDoubleClick, OpensTheTileAtTheClick)
{
    Grid g(40);
    g.view.scrollY = 3 * RowPitch(128);
    g.Move(g.Inside(1));
    g.Click(13, true);
    g.Click(15, true);
    EXPECT_EQ(g.pointer.DoubleClick(g.Inside(13), g.layout, g.view), 13);
    EXPECT_EQ(g.model.CurrentIndex(), 13);
    EXPECT_EQ(g.Selected(), (Indices{13}));

    for (const Point off : {Point{5, 5}, Point{g.Inside(39).x, g.Inside(39).y + RowPitch(128)}}) {
        EXPECT_EQ(g.pointer.DoubleClick(off, g.layout, g.view), -1);
        EXPECT_EQ(g.model.CurrentIndex(), 13) << "nothing changes off the tiles";
        EXPECT_EQ(g.Selected(), (Indices{13}));
    }
}

TEST(SelectionKeys, MoveTargets)
{
    struct Case {
        TileMove move;
        int current;
        int expected;
    };
    // 4 columns, 3 rows a page, 30 tiles.
    const Case cases[] = {
        {TileMove::Left, 5, 4},       {TileMove::Left, 4, 3},  // runs on across row ends
        {TileMove::Right, 3, 4},      {TileMove::Left, 0, 0},    {TileMove::Right, 29, 29}, {TileMove::Up, 5, 1},
        {TileMove::Up, 2, 0},         {TileMove::Down, 5, 9},    {TileMove::Down, 27, 29},  {TileMove::PageDown, 0, 12},
        {TileMove::PageDown, 20, 29}, {TileMove::PageUp, 20, 8}, {TileMove::PageUp, 11, 0}, {TileMove::Left, -1, 0},
        {TileMove::Right, -1, 1},     {TileMove::Down, -1, 4},   {TileMove::Left, 40, 29},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.move) << " from " << c.current);
        EXPECT_EQ(MoveTarget(c.move, c.current, 4, 3, 30), c.expected);
    }
    EXPECT_EQ(MoveTarget(TileMove::Right, 0, 4, 3, 0), -1);
}

// With no current tile (a folder just opened, a click on empty space) any move key starts at
// the tile it is given, the first in view, and makes it current; the next key moves from there.
TEST(SelectionKeys, WithoutACurrentTileTheFirstKeyStartsAtTheGivenTile)
{
    struct Case {
        const char* what;
        TileMove move;
        bool shift;
        bool ctrl;
        int start;
        int anchor;
        Indices expected;
    };
    const Case cases[] = {
        {"Left", TileMove::Left, false, false, 0, -1, {0}},
        {"Right", TileMove::Right, false, false, 0, -1, {0}},
        {"Page Down", TileMove::PageDown, false, false, 8, -1, {8}},
        {"Up, start past the end", TileMove::Up, false, false, 99, -1, {19}},
        {"Shift without an anchor", TileMove::Down, true, false, 4, -1, {4}},
        {"Shift from an anchor", TileMove::Down, true, false, 4, 2, {2, 3, 4}},
        {"Ctrl alone selects nothing", TileMove::Right, false, true, 4, -1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Grid g(20);
        g.model.AnchorAt(c.anchor);
        ASSERT_TRUE(g.selection.MoveByKey(c.move, c.shift, c.ctrl, g.layout.Columns, 3, c.start));
        const int made = std::min(c.start, 19);
        EXPECT_EQ(g.model.CurrentIndex(), made);
        EXPECT_EQ(g.Selected(), c.expected);
        EXPECT_EQ(g.listener.scrolledTo, (Indices{made}));
    }

    Grid g(20);
    g.selection.MoveByKey(TileMove::Right, false, false, g.layout.Columns, 3, 8);
    g.Key(TileMove::Right);
    EXPECT_EQ(g.model.CurrentIndex(), 9);
    EXPECT_EQ(g.Selected(), (Indices{9}));
}

TEST(SelectionKeys, FirstTileInView)
{
    const int pitch = RowPitch(128);  // 158: rows start at 12, 170, 328, ...
    struct Case {
        int count;
        int scrollY;
        int expected;
    };
    // Four columns, a viewport 474 high.
    const Case cases[] = {
        {20, 0, 0},
        {20, 12, 0},
        {20, 13, 4},               // row 0 cut at its top: row 1
        {20, pitch + 12, 4},       // row 1 at the very top
        {20, 2 * pitch + 40, 12},  // row 2 cut: row 3
        {3, 0, 0},
        {6, 100, 4},
        {5, 100, 4},
        {0, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " tiles at " << c.scrollY);
        const TileLayout layout = UpdateLayout(4 * 140, 128, c.count);
        EXPECT_EQ(FirstTileInView(layout, {0, c.scrollY, 560, 474}), c.expected);
    }
    // A tile taller than the viewport is never wholly in view: the top row's first tile.
    const TileLayout huge = UpdateLayout(600, 512, 3);
    EXPECT_EQ(FirstTileInView(huge, {0, 700, 600, 300}), 1);
}

TEST(SelectionKeys, ShiftExtendsCtrlMovesAlone)
{
    Grid g(20);
    g.Click(5);
    g.Key(TileMove::Down, false, true);
    EXPECT_EQ(g.model.CurrentIndex(), 9);
    EXPECT_EQ(g.Selected(), (Indices{5})) << "Ctrl moves the current tile without selecting";
    g.Key(TileMove::Right, true);
    EXPECT_EQ(g.model.CurrentIndex(), 10);
    EXPECT_EQ(g.Selected(), (Indices{5, 6, 7, 8, 9, 10}));
    g.Key(TileMove::Up, true, true);  // Shift wins over Ctrl
    EXPECT_EQ(g.Selected(), (Indices{5, 6}));
    g.Key(TileMove::Left);
    EXPECT_EQ(g.Selected(), (Indices{5}));
    EXPECT_EQ(g.model.AnchorIndex(), 5);
}

TEST(SelectionKeys, PageDownMovesThreeRowsOfFourAndStopsAtTheLastTile)
{
    Grid g(20);
    ASSERT_EQ(RowsPerPage(g.view.height, 128), 3);
    g.Click(0);
    g.Key(TileMove::PageDown);
    EXPECT_EQ(g.model.CurrentIndex(), 12);
    EXPECT_EQ(g.Selected(), (Indices{12}));
    g.Key(TileMove::PageDown);
    EXPECT_EQ(g.model.CurrentIndex(), 19);
    g.Key(TileMove::PageUp, true);
    EXPECT_EQ(g.model.CurrentIndex(), 7);
    EXPECT_EQ(g.Selected(), (Indices{7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
}

TEST(SelectionKeys, CtrlASpaceAndAnEmptyList)
{
    Grid g(5);
    EXPECT_TRUE(g.selection.SelectAll());
    EXPECT_EQ(g.Selected(), (Indices{0, 1, 2, 3, 4}));
    EXPECT_EQ(g.model.CurrentIndex(), 0);
    EXPECT_EQ(g.model.AnchorIndex(), 0);
    EXPECT_TRUE(g.listener.scrolledTo.empty()) << "Ctrl+A does not scroll";

    g.Click(3, true);  // toggles 3 off, current 3
    EXPECT_EQ(g.Selected(), (Indices{0, 1, 2, 4}));
    EXPECT_TRUE(g.selection.ToggleCurrent());
    EXPECT_EQ(g.Selected(), (Indices{0, 1, 2, 4, 3}));
    EXPECT_TRUE(g.selection.SelectAll());
    EXPECT_EQ(g.Selected(), (Indices{0, 1, 2, 3, 4}));
    EXPECT_EQ(g.model.AnchorIndex(), 3);

    g.model.MakeCurrent(-1);
    EXPECT_FALSE(g.selection.ToggleCurrent());

    Grid empty(0);
    EXPECT_FALSE(empty.selection.SelectAll());
    EXPECT_FALSE(empty.selection.ToggleCurrent());
    empty.Key(TileMove::Down);
    EXPECT_TRUE(empty.Selected().empty());
    EXPECT_EQ(empty.model.CurrentIndex(), -1);
    EXPECT_EQ(empty.model.AnchorIndex(), -1);
}

TEST(SelectionRange, StopsAtTheListsEndAfterARebuild)
{
    Grid g(20);
    g.model.AnchorAt(25);  // a position from a longer list
    g.selection.SelectRange(17);
    EXPECT_EQ(g.Selected(), (Indices{17, 18, 19}));
    EXPECT_EQ(g.model.AnchorIndex(), 25);
}

TEST(SelectionFiles, BuildSelectedFileListKeepsTheClickOrder)
{
    struct Case {
        Indices selected;
        int current;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{5, 2}, 0, {PathOf(5), PathOf(2)}},
        {{2, 5}, 0, {PathOf(2), PathOf(5)}},
        {{}, 3, {PathOf(3)}},  // nothing selected: the current tile
        {{}, -1, {}},
        {{25, 1, -2}, 3, {PathOf(1)}},  // positions beyond the list are skipped
        {{25}, 3, {PathOf(3)}},
        {{25}, 30, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "current " << c.current << " selected " << c.selected.size());
        Grid g(20);
        g.model.Select(c.selected);
        g.model.MakeCurrent(c.current);
        EXPECT_EQ(g.selection.BuildSelectedFileList(), c.expected);
    }
}

TEST(SelectionFiles, ReselectByNamesComparesExactly)
{
    Grid g(10);
    g.model.Select({0, 1});
    g.model.MakeCurrent(4);
    g.model.AnchorAt(4);
    g.model.FocusOnShow(PathOf(4));
    g.selection.ReselectNames = {PathOf(7),       PathOf(2),       "/pics/missing.jpg",
                                 "/pics/F03.jpg", "/Pics/f05.jpg", PathOf(2)};
    g.selection.ReselectByNames();
    EXPECT_EQ(g.Selected(), (Indices{7, 2}));
    EXPECT_EQ(g.model.CurrentIndex(), 7);
    EXPECT_EQ(g.model.AnchorIndex(), 4);
    EXPECT_EQ(g.model.FocusPath(), PathOf(4));
    EXPECT_TRUE(g.listener.scrolledTo.empty());
    EXPECT_EQ(g.selection.ReselectNames.size(), 6u) << "the names are kept";

    // When the first name is gone the current tile stays.
    g.selection.ReselectNames = {"/pics/gone.jpg", PathOf(1)};
    g.selection.ReselectByNames();
    EXPECT_EQ(g.Selected(), (Indices{1}));
    EXPECT_EQ(g.model.CurrentIndex(), 7);

    g.selection.ClearReselectNames();
    g.selection.ReselectByNames();
    EXPECT_TRUE(g.Selected().empty());
    EXPECT_EQ(g.model.CurrentIndex(), 7);

    // The current file, encrypted or decrypted under a new name, stays current.
    struct Case {
        std::string formerCurrent;
        int current;
    };
    const Case cases[] = {
        {"/pics/$f02.jpg", 2},
        {"/pics/f02.jpg", 2},
        {"/pics/f06.jpg", 6},
        {"/pics/$f06.jpg", 6},
        {"/other/f02.jpg", 1},
        {"/pics/f09.jpg", 1},
        {"", 1},
    };
    for (const Case& c : cases) {
        g.model.MakeCurrent(-1);
        g.selection.ReselectNames = {PathOf(1), PathOf(2), "/pics/gone.jpg", PathOf(6)};
        g.selection.ReselectByNames(c.formerCurrent);
        EXPECT_EQ(g.Selected(), (Indices{1, 2, 6})) << c.formerCurrent;
        EXPECT_EQ(g.model.CurrentIndex(), c.current) << c.formerCurrent;
    }
}

}  // namespace
}  // namespace quillix::gallery
