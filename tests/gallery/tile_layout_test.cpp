#include "gallery/tile_layout.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace quillix::gallery {
namespace {

// What a 16-bit mouse message makes of a coordinate.
int Wrap16(int v)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
}

TEST(TileLayoutTest, ColumnsAndCanvasHeight)
{
    struct Case {
        int width;
        int tileSize;
        int count;
        int columns;
        int canvasHeight;
    };
    const Case cases[] = {
        {300, 128, 5, 2, 3 * 146 + 2 * 12 + 22},  // 484
        {300, 128, 0, 2, 168},                    // an empty list keeps one row: T + 40
        {300, 128, 4, 2, 2 * 146 + 12 + 22},
        {300, 290, 3, 1, 3 * 308 + 2 * 12 + 22},  // 300 - 12 < 290
        {300, 288, 1, 1, 328},                    // 300 - 12 = 288 fits one column exactly
        {280, 128, 2, 2, 168},                    // the second column's right edge is the width
        {279, 128, 2, 1, 2 * 146 + 12 + 22},
        {1280, 128, 1000, 9, 112 * 146 + 111 * 12 + 22},
        {0, 128, 3, 1, 3 * 146 + 2 * 12 + 22},
        {-50, 64, 1, 1, 104},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "W " << c.width << " T " << c.tileSize << " n " << c.count);
        const TileLayout layout = UpdateLayout(c.width, c.tileSize, c.count);
        EXPECT_EQ(layout.Columns, c.columns);
        EXPECT_EQ(CanvasHeight(layout), c.canvasHeight);
        EXPECT_EQ(layout.TileSize, c.tileSize);
    }
}

TEST(TileLayoutTest, TileParts)
{
    const TileLayout layout = UpdateLayout(292, 128, 5);  // 2 columns, no spare width: 12-pixel gaps
    EXPECT_EQ(layout.ColumnGap, 12);
    EXPECT_EQ(TileRect(layout, 0), (Rect{12, 12, 140, 140}));
    EXPECT_EQ(TileRect(layout, 3), (Rect{152, 170, 280, 298}));
    EXPECT_EQ(WellRect(layout, 3), (Rect{164, 182, 268, 286}));
    EXPECT_EQ(WellRect(layout, 3).width(), ThumbnailBox(128));
    EXPECT_EQ(ThumbnailBox(128), 104);
    EXPECT_EQ(NameStripRect(layout, 3), (Rect{152, 298, 280, 316}));
    EXPECT_EQ(TileWithNameRect(layout, 4), (Rect{12, 328, 140, 474}));
    // The last name strip ends 10 pixels above the canvas's bottom.
    EXPECT_EQ(CanvasHeight(layout) - TileWithNameRect(layout, 4).bottom, 10);
}

TEST(TileLayoutTest, HitTest)
{
    const TileLayout layout = UpdateLayout(292, 128, 5);  // 2 columns, 3 rows, 12-pixel gaps
    const Viewport view{0, 0, 292, 500};
    struct Case {
        Point p;
        int index;
    };
    const Case cases[] = {
        {{12, 12}, 0},   {{11, 12}, -1},                                       // left margin
        {{12, 11}, -1},                                                        // top margin
        {{0, 0}, -1},    {{139, 139}, 0},  {{140, 12}, -1},                    // the 12-pixel gap right of tile 0
        {{151, 12}, -1}, {{152, 12}, 1},   {{279, 12}, 1},   {{280, 12}, -1},  // gap right of the last column
        {{292, 12}, -1},                                      // a third column would start here, but there are only 2
        {{12, 140}, 0},                                       // the name strip belongs to the tile
        {{12, 157}, 0},                                       // its last line
        {{12, 158}, -1},                                      // the gap under the name strip
        {{12, 169}, -1}, {{12, 170}, 2},   {{152, 328}, -1},  // index 5: beyond the last tile
        {{12, 328}, 4},  {{12, 1000}, -1},                    // below every row
        {{-5, -5}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.p.x << "," << c.p.y);
        EXPECT_EQ(TileIndexAt(layout, c.p, view), c.index);
    }
}

// The width left over by the columns is shared out: the left margin and every gap between
// columns alike, the right margin at least as wide, and every tile is hit exactly where it is
// painted, so clicks, the rubber band and painting agree.
TEST(TileLayoutTest, SpareWidthIsSharedOutAsEvenGaps)
{
    struct Case {
        int width;
        int tileSize;
        int columns;
        int gap;
    };
    const Case cases[] = {
        {292, 128, 2, 12},                       // nothing to share
        {300, 128, 2, 14},                       // 8 spare: 2 to each of three gaps, 2 more on the right
        {1280, 128, 9, 12},                      // 8 spare among ten gaps: too little for a pixel each
        {1000, 240, 3, 70},                      // 232 spare among four gaps
        {1014, 64, 13, 13},                      // 14 spare among fourteen gaps
        {1014, 512, 1, 251},                     // one wide tile is centred
        {1014, 496, 1, 259}, {200, 290, 1, 12},  // narrower than one tile: the least gap, cut off at the right
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "W " << c.width << " T " << c.tileSize);
        const TileLayout layout = UpdateLayout(c.width, c.tileSize, 2 * c.columns);
        ASSERT_EQ(layout.Columns, c.columns);
        EXPECT_EQ(layout.ColumnGap, c.gap);
        EXPECT_EQ(TileRect(layout, 0).left, c.gap);
        for (int i = 1; i < c.columns; ++i)
            EXPECT_EQ(TileRect(layout, i).left - TileRect(layout, i - 1).right, c.gap);
        const int right = c.width - TileRect(layout, c.columns - 1).right;
        if (c.width - kTileMargin >= c.tileSize) {
            EXPECT_GE(right, c.gap);
            EXPECT_LE(right, c.gap + c.columns);
        }
        // Across the second row and its name strip, and the gap under it, every pixel of the
        // width hits the tile painted there and nothing else.
        const Viewport view{0, 0, c.width, 4000};
        for (int y : {TileRect(layout, c.columns).top, TileRect(layout, c.columns).bottom + 17,
                      TileRect(layout, c.columns).bottom + 18}) {
            for (int x = -1; x <= c.width; ++x) {
                int painted = -1;
                for (int i = 0; i < layout.Count; ++i)
                    if (Intersects(TileWithNameRect(layout, i), {x, y, x + 1, y + 1})) painted = i;
                ASSERT_EQ(TileIndexAt(layout, {x, y}, view), painted) << x << "," << y;
            }
        }
    }
}

TEST(TileLayoutTest, HitTestOnACanvasTallerThan16Bits)
{
    const TileLayout layout = UpdateLayout(160, 128, 1000);  // one column, 158 pixels a row
    ASSERT_EQ(layout.Columns, 1);
    ASSERT_GT(CanvasHeight(layout), 150000);
    const Viewport view{0, 100000, 160, 800};
    struct Case {
        int trueY;
        int index;
    };
    const Case cases[] = {
        {100030, (100030 - 12) / 158},  // 633
        {100790, (100790 - 12) / 158},  // the viewport's last lines
        {99000, (99000 - 12) / 158},    // a drag above the viewport
        {70100, (70100 - 12) / 158},    // far above it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trueY);
        const int wrapped = Wrap16(c.trueY);
        ASSERT_NE(wrapped, c.trueY);
        EXPECT_EQ(TileIndexAt(layout, {20, wrapped}, view), c.index);
        // The same position read as an unsigned 16-bit value, and the real one, give the same tile.
        EXPECT_EQ(TileIndexAt(layout, {20, wrapped & 0xFFFF}, view), c.index);
        EXPECT_EQ(TileIndexAt(layout, {20, c.trueY}, view), c.index);
    }
    // Near the top of the canvas nothing is restored.
    const Viewport top{0, 0, 160, 800};
    EXPECT_EQ(RestoreWrappedPoint({20, 500}, top), (Point{20, 500}));
    EXPECT_EQ(RestoreWrappedPoint({20, -1500}, top), (Point{20, -1500}));
    // Moving it down by 65536 overshoots the viewport, so it is moved back up again.
    EXPECT_EQ(RestoreWrappedPoint({20, -2001}, top), (Point{20, -2001}));
    EXPECT_EQ(RestoreWrappedPoint({20, 63535}, top), (Point{20, -2001}));
    // x is restored against the horizontal position in the same way.
    EXPECT_EQ(RestoreWrappedPoint({Wrap16(40000), 0}, {39000, 0, 800, 600}), (Point{40000, 0}));
}

TEST(TileLayoutTest, VisibilityAndScrollingToATile)
{
    const TileLayout layout = UpdateLayout(300, 128, 20);  // 2 columns, 10 rows
    ASSERT_EQ(CanvasHeight(layout), 1590);
    struct Case {
        int index;
        int scrollY;
        bool visible;
        std::optional<int> scrollTo;
    };
    const int h = 400;
    const int maxScroll = CanvasHeight(layout) - h;  // 1190
    const Case cases[] = {
        {0, 0, true, 0},
        {1, 0, true, 0},
        {4, 0, false, 316},  // row 2: top 328, strip ends at 474, below the viewport
        {4, 100, true, 316},
        {4, 328, true, 316},  // top on the viewport's top line
        {4, 329, false, 316},
        {4, 74, true, 316},  // bottom exactly on the viewport's bottom
        {4, 73, false, 316},
        {19, 0, false, maxScroll},  // the last row cannot come to the top
        {19, maxScroll, true, maxScroll},
        {-1, 0, true, std::nullopt},  // outside the list: visible, nothing to scroll to
        {20, 0, true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "index " << c.index << " at " << c.scrollY);
        EXPECT_EQ(IsIndexVisible(layout, c.index, {0, c.scrollY, 300, h}), c.visible);
        EXPECT_EQ(ScrollToIndex(layout, c.index, h), c.scrollTo);
    }
    EXPECT_EQ(ScrollToIndex(UpdateLayout(300, 128, 0), 0, h), std::nullopt);
    // A viewport taller than the canvas never scrolls.
    EXPECT_EQ(ScrollToIndex(layout, 19, 5000), 0);
    EXPECT_EQ(MaxScrollY(layout, 5000), 0);
}

TEST(TileLayoutTest, CtrlWheelStepsTheTileSize)
{
    struct Case {
        int tileSize;
        int delta;
        bool revert;
        WheelAction action;
        int result;
    };
    const Case cases[] = {
        {128, -120, false, WheelAction::TileSize, 144},  // towards the user enlarges
        {128, 120, false, WheelAction::TileSize, 112},
        {500, -120, false, WheelAction::TileSize, 512},
        {512, -120, false, WheelAction::None, 512},     // and stays there
        {500, -120, true, WheelAction::TileSize, 484},  // MOUSECTRL_REVERT shrinks instead
        {64, 120, false, WheelAction::None, 64},
        {32, 120, false, WheelAction::TileSize, 64},  // a stored 32 lands on the wheel's minimum
        {32, -120, false, WheelAction::TileSize, 64},
        {800, 120, false, WheelAction::TileSize, 512},
        {128, -240, false, WheelAction::TileSize, 160},  // two notches in one event: two steps
        {128, -60, false, WheelAction::None, 128},       // half a notch waits for the other half
        {128, 0, false, WheelAction::None, 128},         // a horizontal turn changes nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "T " << c.tileSize << " delta " << c.delta << " revert " << c.revert);
        WheelNotches notches;
        const TileLayout layout = UpdateLayout(1000, c.tileSize, 10);
        const WheelEffect effect = HandleGalleryWheel(notches, {c.delta, true, c.revert}, layout, {0, 0, 1000, 600});
        EXPECT_EQ(effect.action, c.action);
        EXPECT_EQ(effect.TileSize, c.result);
        EXPECT_EQ(effect.ScrollY, 0);
    }
    // Each step is limited on its own, as separate turns would be.
    EXPECT_EQ(WheelTileSize(32, -2, false), 80);
    EXPECT_EQ(WheelTileSize(128, -1000000, false), 512);
    EXPECT_EQ(WheelTileSize(128, INT32_MIN, false), 512);
    EXPECT_EQ(WheelTileSize(128, INT32_MAX, false), 64);
}

TEST(TileLayoutTest, PlainWheelScrolls)
{
    const TileLayout layout = UpdateLayout(300, 128, 40);  // 20 rows of 158; step 118
    const int h = 600;
    const int maxScroll = MaxScrollY(layout, h);
    struct Case {
        int scrollY;
        int delta;
        WheelAction action;
        int result;
    };
    const Case cases[] = {
        {0, -120, WheelAction::Scroll, 118},  // towards the user scrolls down
        {500, 120, WheelAction::Scroll, 382},
        {500, 360, WheelAction::Scroll, 146},
        {100, 120, WheelAction::Scroll, 0},
        {0, 120, WheelAction::None, 0},  // already at the top
        {maxScroll - 10, -120, WheelAction::Scroll, maxScroll},
        {maxScroll, -120, WheelAction::None, maxScroll},
        {500, 119, WheelAction::None, 500},  // less than a notch does not scroll
        {500, -119, WheelAction::None, 500},
        {500, 0, WheelAction::None, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "at " << c.scrollY << " delta " << c.delta);
        WheelNotches notches;
        const WheelEffect effect = HandleGalleryWheel(notches, {c.delta, false, false}, layout, {0, c.scrollY, 300, h});
        EXPECT_EQ(effect.action, c.action);
        EXPECT_EQ(effect.ScrollY, c.result);
        EXPECT_EQ(effect.TileSize, 128);
    }
    // MOUSECTRL_REVERT reverses only the tile size.
    WheelNotches notches;
    EXPECT_EQ(HandleGalleryWheel(notches, {-120, false, true}, layout, {0, 0, 300, h}).ScrollY, 118);
}

TEST(TileLayoutTest, RowsPerPage)
{
    EXPECT_EQ(RowsPerPage(474, 128), 3);
    EXPECT_EQ(RowsPerPage(473, 128), 2);
    EXPECT_EQ(RowsPerPage(100, 128), 1);  // at least one
    EXPECT_EQ(RowsPerPage(0, 128), 1);
}

TEST(TileLayoutTest, RectanglesThatOnlyTouchDoNotIntersect)
{
    const Rect tile{12, 12, 140, 158};
    struct Case {
        Rect other;
        bool intersects;
    };
    const Case cases[] = {
        {{140, 12, 152, 158}, false},                                 // right neighbour along the edge
        {{139, 12, 152, 158}, true},  {{0, 158, 200, 170}, false},    // the gap under the strip
        {{0, 157, 200, 170}, true},   {{140, 158, 150, 170}, false},  // corner only
        {{50, 50, 50, 80}, false},                                    // no width
        {{0, 0, 1000, 1000}, true},   {{20, 20, 30, 30}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.other.left << "," << c.other.top << "," << c.other.right << ","
                                        << c.other.bottom);
        EXPECT_EQ(Intersects(tile, c.other), c.intersects);
        EXPECT_EQ(Intersects(c.other, tile), c.intersects);
    }
    EXPECT_EQ(NormalizeRect({50, 60, 10, 20}), (Rect{10, 20, 50, 60}));
    EXPECT_EQ(NormalizeRect({10, 60, 50, 20}), (Rect{10, 20, 50, 60}));
    EXPECT_EQ(NormalizeRect({10, 20, 50, 60}), (Rect{10, 20, 50, 60}));
}

}  // namespace
}  // namespace quillix::gallery
