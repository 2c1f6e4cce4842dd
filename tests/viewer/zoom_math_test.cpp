#include "viewer/zoom_math.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

namespace quillix::viewer {
namespace {

constexpr Size kScreen{1920, 1080};
constexpr ScalingMode kFitScreen{true, false};
constexpr ScalingMode kFitWidth{true, true};
constexpr ScalingMode kActualSize{false, false};

TEST(FitScaleTest, Table)
{
    struct Case {
        Size image;
        Size screen;
        ScalingMode mode;
        double expected;
    };
    const Case cases[] = {
        {{4000, 3000}, kScreen, kFitScreen, 0.36},
        {{4000, 3000}, kScreen, kFitWidth, 0.48},
        {{1000, 4000}, kScreen, kFitWidth, 1.92},
        {{1000, 4000}, kScreen, kFitScreen, 0.27},
        {{1920, 1080}, kScreen, kFitScreen, 1.0},
        {{960, 540}, kScreen, kFitScreen, 2.0},  // small images are enlarged
        {{10, 10}, kScreen, kFitScreen, 50.0},   // 108 capped
        {{10, 10}, kScreen, kFitWidth, 50.0},
        {{4000, 3000}, kScreen, kActualSize, 1.0},
        {{10, 10}, kScreen, ScalingMode{false, true}, 1.0},
        {{0, 3000}, kScreen, kFitScreen, 1.0},
        {{4000, 0}, kScreen, kFitScreen, 1.0},
        {{-4000, 3000}, kScreen, kFitScreen, 1.0},
        {{4000, 3000}, {0, 1080}, kFitScreen, 1.0},
        {{4000, 3000}, {1920, -1}, kFitScreen, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.image.width << "x" << c.image.height << " on " << c.screen.width << "x"
                                        << c.screen.height << " fit " << c.mode.ScaleToFit << " width "
                                        << c.mode.FitWidth);
        EXPECT_DOUBLE_EQ(FitScale(c.image, c.screen, c.mode), c.expected);
    }
}

TEST(FitScaleTest, LargePhotoShowsThirtySixPercent)
{
    ZoomState state;
    ResetToFit(state, {4000, 3000}, kScreen, kFitScreen);
    EXPECT_DOUBLE_EQ(state.FitZoom, 0.36);
    EXPECT_EQ(ZoomPercent(state.Zoom), 36);
    EXPECT_EQ(DrawnSize({4000, 3000}, state.Zoom), (Size{1440, 1080}));
}

TEST(FitScaleTest, TinyImageIsDrawnAtFiftyTimes)
{
    ZoomState state;
    ResetToFit(state, {10, 10}, kScreen, kFitScreen);
    EXPECT_EQ(DrawnSize({10, 10}, state.Zoom), (Size{500, 500}));
    EXPECT_EQ(ZoomPercent(state.Zoom), 5000);
}

TEST(ZoomStepTest, BandsByDistanceFromHundred)
{
    struct Case {
        int percent;
        int step;
    };
    const Case cases[] = {
        {100, 5},   {110, 5},    {90, 5},     {111, 10},   {89, 10},    {130, 10},   {70, 10},       {131, 20},
        {160, 20},  {40, 20},    {161, 30},   {200, 30},   {0, 30},     {201, 50},   {250, 50},      {251, 70},
        {320, 70},  {-100, 70},  {321, 90},   {400, 90},   {401, 120},  {520, 120},  {521, 160},     {700, 160},
        {701, 200}, {1000, 200}, {1001, 300}, {1300, 300}, {1301, 400}, {5000, 400}, {INT_MAX, 400}, {INT_MIN, 400},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ZoomStep(c.percent), c.step) << c.percent;
    }
}

TEST(ZoomPercentTest, RoundsHalfUp)
{
    EXPECT_EQ(ZoomPercent(0.36), 36);
    EXPECT_EQ(ZoomPercent(0.5625), 56);
    EXPECT_EQ(ZoomPercent(0.125), 13);
    EXPECT_EQ(ZoomPercent(0.375), 38);
    EXPECT_EQ(ZoomPercent(1.0), 100);
    EXPECT_EQ(ZoomPercent(50.0), 5000);
    EXPECT_EQ(ZoomPercent(0.0), 0);
}

TEST(DrawnSizeTest, RoundsEachSideHalfUp)
{
    EXPECT_EQ(DrawnSize({3, 5}, 0.5), (Size{2, 3}));
    EXPECT_EQ(DrawnSize({1000, 4000}, 1.92), (Size{1920, 7680}));
    EXPECT_EQ(DrawnSize({1, 1}, 0.004), (Size{0, 0}));
    EXPECT_EQ(DrawnSize({0, 100}, 2.0), (Size{0, 0}));
    EXPECT_EQ(DrawnSize({INT_MAX, 10}, 50.0), (Size{kMaxDrawnSide, 500}));
}

TEST(NextWheelZoomTest, Table)
{
    struct Case {
        double zoom;
        double fit;
        ZoomDirection direction;
        double expected;
    };
    constexpr auto In = ZoomDirection::In;
    constexpr auto Out = ZoomDirection::Out;
    const Case cases[] = {
        {1.0, 1.0, In, 1.05},       {1.0, 0.36, Out, 0.95}, {1.0, 1.0, Out, 1.0},  // ScaleToFit off: never below 100 %
        {1.05, 1.0, Out, 1.0},      {2.5, 1.0, In, 3.0},    {13.0, 1.0, In, 16.0},
        {48.0, 1.0, In, 50.0},      {50.0, 1.0, In, 50.0},  {50.0, 50.0, Out, 50.0},
        {0.40, 0.36, Out, 0.36},    {0.36, 0.36, In, 0.66}, {0.10, 0.01, Out, 0.01},  // the step would go below zero
        {0.5625, 0.5625, In, 0.76},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(NextWheelZoom(c.zoom, c.fit, c.direction), c.expected)
            << c.zoom << (c.direction == In ? " in" : " out") << " fit " << c.fit;
    }
}

TEST(NextWheelZoomTest, OutFromAFractionalFitStaysExactlyAtTheFit)
{
    // Widths whose fit on the screen is not a whole percent.
    for (int width : {1920 * 2 - 7, 3413, 5000, 6007, 777, 1234}) {
        ZoomState state;
        ResetToFit(state, {width, 100}, kScreen, kFitWidth);
        const double fit = state.FitZoom;
        state.Zoom = NextWheelZoom(state.Zoom, state.FitZoom, ZoomDirection::Out);
        EXPECT_EQ(state.Zoom, fit) << width;
        EXPECT_TRUE(IsAtFit(state)) << width;
    }
}

TEST(NextWheelZoomTest, StepsNeverLeaveFitToFiveThousandAndMoveTheRightWay)
{
    for (double fit : {0.0123, 0.36, 0.5625, 1.0, 2.0 / 3.0, 7.77, 50.0}) {
        double zoom = fit;
        std::vector<double> upward{zoom};
        for (int i = 0; i < 200 && zoom < 50.0; ++i) {
            const double next = NextWheelZoom(zoom, fit, ZoomDirection::In);
            ASSERT_GT(next, zoom) << "fit " << fit;
            zoom = next;
        }
        EXPECT_DOUBLE_EQ(zoom, 50.0) << "fit " << fit;
        EXPECT_DOUBLE_EQ(NextWheelZoom(zoom, fit, ZoomDirection::In), 50.0);
        for (int i = 0; i < 200 && zoom > fit; ++i) {
            const double next = NextWheelZoom(zoom, fit, ZoomDirection::Out);
            ASSERT_LT(next, zoom) << "fit " << fit;
            ASSERT_GE(next, fit);
            zoom = next;
        }
        EXPECT_EQ(zoom, fit);
    }
}

TEST(ClampPanTest, PlacementTable)
{
    struct Case {
        const char* name;
        Size source;
        double zoom;
        Point pan;
        Size client;
        Point expectedPan;
        Placement expected;
    };
    const Case cases[] = {
        {"smaller image is centred", {100, 100}, 1.0, {30, -30}, {1000, 800}, {0, 0}, {450, 350, 100, 100, false}},
        {"exact fit", {1920, 1080}, 1.0, {5, 5}, kScreen, {0, 0}, {0, 0, 1920, 1080, false}},
        {"fit width, dragged far down", {1000, 4000}, 1.92, {50, 5000}, kScreen, {0, 3300}, {0, 0, 1920, 7680, true}},
        {"fit width, dragged far up",
         {1000, 4000},
         1.92,
         {0, -5000},
         kScreen,
         {0, -3300},
         {0, -6600, 1920, 7680, true}},
        {"within the overhang", {1000, 4000}, 1.92, {0, 1234}, kScreen, {0, 1234}, {0, -2066, 1920, 7680, true}},
        {"odd overhang reaches the last column", {101, 10}, 1.0, {-5, 0}, {100, 10}, {-1, 0}, {-1, 0, 101, 10, true}},
        {"odd overhang reaches the first column", {101, 10}, 1.0, {5, 0}, {100, 10}, {0, 0}, {0, 0, 101, 10, true}},
        {"odd overhang of three, low end", {103, 10}, 1.0, {-5, 0}, {100, 10}, {-2, 0}, {-3, 0, 103, 10, true}},
        {"odd overhang of three, high end", {103, 10}, 1.0, {5, 0}, {100, 10}, {1, 0}, {0, 0, 103, 10, true}},
        {"no source", {0, 0}, 1.0, {40, 40}, {100, 100}, {0, 0}, {50, 50, 0, 0, false}},
        {"huge pan", {4000, 3000}, 1.0, {INT_MAX, INT_MIN}, kScreen, {1040, -960}, {0, -1920, 4000, 3000, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZoomState state{c.zoom, c.zoom, c.pan.x, c.pan.y};
        const Placement p = PlaceImage(state, c.source, c.client);
        EXPECT_EQ((Point{state.PanX, state.PanY}), c.expectedPan);
        EXPECT_EQ(p.left, c.expected.left);
        EXPECT_EQ(p.top, c.expected.top);
        EXPECT_EQ(p.width, c.expected.width);
        EXPECT_EQ(p.height, c.expected.height);
        EXPECT_EQ(p.Pannable, c.expected.Pannable);
        if (p.width > c.client.width) {
            EXPECT_LE(p.left, 0);
            EXPECT_GE(p.left + p.width, c.client.width);
        }
    }
}

TEST(PanByTest, FitWidthImageDragsOnlyVerticallyWithinItsOverhang)
{
    const Size source{1000, 4000};
    ZoomState state;
    ResetToFit(state, source, kScreen, kFitWidth);
    ASSERT_DOUBLE_EQ(state.Zoom, 1.92);
    ASSERT_TRUE(PlaceImage(state, source, kScreen).Pannable);

    PanBy(state, 200, -500, source, kScreen);
    EXPECT_EQ((Point{state.PanX, state.PanY}), (Point{0, -500}));
    PanBy(state, 0, -10000, source, kScreen);
    EXPECT_EQ(state.PanY, -3300);
    PanBy(state, 0, INT_MAX, source, kScreen);
    EXPECT_EQ(state.PanY, 3300);
}

TEST(ResetToFitTest, ForgetsZoomAndPan)
{
    struct Case {
        const char* name;
        Size source;
        ScalingMode mode;
        double expected;
    };
    const Case cases[] = {
        {"fit to screen", {4000, 3000}, kFitScreen, 0.36},
        {"fit to width", {4000, 3000}, kFitWidth, 0.48},
        {"100 %", {4000, 3000}, kActualSize, 1.0},
        {"100 % small image", {10, 10}, kActualSize, 1.0},
        {"no image", {0, 0}, kFitScreen, 1.0},
    };
    for (const Case& c : cases) {
        ZoomState state{3.0, 0.5, 120, -80};
        ResetToFit(state, c.source, kScreen, c.mode);
        EXPECT_DOUBLE_EQ(state.FitZoom, c.expected) << c.name;
        EXPECT_EQ(state.Zoom, state.FitZoom) << c.name;
        EXPECT_EQ((Point{state.PanX, state.PanY}), (Point{0, 0})) << c.name;
    }
}

TEST(ResizeToWindowTest, Table)
{
    struct Case {
        const char* name;
        ZoomState before;
        Size source;
        Size screen;
        Size client;
        ScalingMode mode;
        ZoomState after;
    };
    const Case cases[] = {
        {"at fit follows a new screen",
         {0.36, 0.36, 0, 0},
         {4000, 3000},
         {1280, 1024},
         {1280, 1024},
         kFitScreen,
         {0.32, 0.32, 0, 0}},
        {"at fit, same screen", {0.36, 0.36, 0, 0}, {4000, 3000}, kScreen, {800, 600}, kFitScreen, {0.36, 0.36, 0, 0}},
        {"at fit, pan clamped to the smaller window",
         {0.36, 0.36, 0, 300},
         {4000, 3000},
         kScreen,
         {800, 600},
         kFitScreen,
         {0.36, 0.36, 0, 240}},
        {"zoomed keeps its zoom",
         {1.0, 0.36, 900, 1500},
         {4000, 3000},
         {1280, 1024},
         {1280, 1024},
         kFitScreen,
         {1.0, 0.36, 900, 988}},
        {"100 % is not refitted", {1.0, 1.0, 0, 0}, {4000, 3000}, kScreen, kScreen, kActualSize, {1.0, 1.0, 0, 0}},
        {"no source", {0.36, 0.36, 10, 10}, {0, 0}, kScreen, kScreen, kFitScreen, {0.36, 0.36, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZoomState state = c.before;
        ResizeToWindow(state, c.source, c.screen, c.client, c.mode);
        EXPECT_DOUBLE_EQ(state.Zoom, c.after.Zoom);
        EXPECT_DOUBLE_EQ(state.FitZoom, c.after.FitZoom);
        EXPECT_EQ((Point{state.PanX, state.PanY}), (Point{c.after.PanX, c.after.PanY}));
    }
}

TEST(WheelZoomTest, TopLeftCornerStaysUnderTheCursor)
{
    const Size source{2000, 2000};
    const Size client{1000, 1000};
    ZoomState state{1.0, 0.5, 500, 500};
    ASSERT_EQ(PlaceImage(state, source, client).left, 0);

    for (int i = 0; i < 5; ++i) {
        WheelZoom(state, ZoomDirection::In, {0, 0}, source, client);
        const Placement p = PlaceImage(state, source, client);
        EXPECT_EQ((Point{p.left, p.top}), (Point{0, 0})) << "step " << i;
    }
    EXPECT_EQ(ZoomPercent(state.Zoom), 135);
}

TEST(WheelZoomTest, CornerMovesOnlyAsFarAsClampPanNeeds)
{
    const Size source{4000, 3000};
    ZoomState state;
    ResetToFit(state, source, kScreen, kFitScreen);
    ASSERT_EQ(PlaceImage(state, source, kScreen).left, 240);

    WheelZoom(state, ZoomDirection::In, {240, 0}, source, kScreen);
    EXPECT_EQ(ZoomPercent(state.Zoom), 66);
    const Placement p = PlaceImage(state, source, kScreen);
    EXPECT_EQ((Point{p.left, p.top}), (Point{0, 0}));
}

TEST(WheelZoomTest, ImagePointUnderTheCursorStays)
{
    const Size source{1000, 1000};
    const Size client{800, 600};
    for (ZoomDirection direction : {ZoomDirection::In, ZoomDirection::Out}) {
        for (Point cursor : {Point{400, 300}, Point{100, 50}, Point{700, 550}, Point{0, 0}, Point{799, 599}}) {
            ZoomState state{2.0, 0.5, 0, 0};
            const Placement before = PlaceImage(state, source, client);
            const double fx = static_cast<double>(cursor.x - before.left) / before.width;
            const double fy = static_cast<double>(cursor.y - before.top) / before.height;

            WheelZoom(state, direction, cursor, source, client);
            const Placement after = PlaceImage(state, source, client);
            EXPECT_NE(after.width, before.width);
            EXPECT_NEAR(cursor.x - after.left, fx * after.width, 1.0) << cursor.x << "," << cursor.y;
            EXPECT_NEAR(cursor.y - after.top, fy * after.height, 1.0) << cursor.x << "," << cursor.y;
        }
    }
}

TEST(WheelZoomTest, CursorOutsideTheImageAnchorsItsCentre)
{
    struct Case {
        const char* name;
        Size source;
        Point cursor;
        Point pan;
    };
    // The client is 1000 x 1000 and the image at 100 %; the pan across the image's long side shows
    // which point was anchored.
    const Case cases[] = {
        {"above a wide image", {2000, 500}, {100, 100}, {-400, 0}},
        {"below a wide image", {2000, 500}, {100, 900}, {-400, 0}},
        {"left of a tall image", {500, 2000}, {100, 100}, {0, -400}},
        {"right of a tall image", {500, 2000}, {900, 100}, {0, -400}},
    };
    for (const Case& c : cases) {
        ZoomState state;
        WheelZoom(state, ZoomDirection::In, c.cursor, c.source, {1000, 1000});
        EXPECT_EQ((Point{state.PanX, state.PanY}), c.pan) << c.name;
    }
}

TEST(WheelZoomTest, ActualSizeModeNeverGoesBelowHundred)
{
    const Size source{640, 480};
    ZoomState state;
    ResetToFit(state, source, kScreen, kActualSize);
    WheelZoom(state, ZoomDirection::Out, {10, 10}, source, kScreen);
    EXPECT_EQ(state.Zoom, 1.0);
    WheelZoom(state, ZoomDirection::In, {10, 10}, source, kScreen);
    EXPECT_EQ(ZoomPercent(state.Zoom), 105);
    WheelZoom(state, ZoomDirection::Out, {10, 10}, source, kScreen);
    WheelZoom(state, ZoomDirection::Out, {10, 10}, source, kScreen);
    EXPECT_EQ(state.Zoom, 1.0);
}

TEST(WheelZoomTest, NothingWithoutAnImage)
{
    ZoomState state{1.5, 1.0, 3, 4};
    WheelZoom(state, ZoomDirection::In, {10, 10}, {0, 0}, kScreen);
    EXPECT_EQ(state.Zoom, 1.5);
    EXPECT_EQ((Point{state.PanX, state.PanY}), (Point{3, 4}));
}

}  // namespace
}  // namespace quillix::viewer
