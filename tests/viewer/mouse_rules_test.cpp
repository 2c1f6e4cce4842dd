#include "viewer/mouse_rules.h"

#include "common/wheel_notches.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace quillix::viewer {
namespace {

constexpr int kAway = 120;
constexpr int kTowards = -120;

// Whether the wheel is in zoom mode, read from a turn towards the user with an image shown.
bool ZoomMode(int option, bool toggle, bool modifier)
{
    WheelInput in;
    in.delta = kTowards;
    in.modifierHeld = modifier;
    in.WheelToggle = toggle;
    in.MouseOption = option;
    in.hasImage = true;
    const WheelAction a = WheelActionFor(in);
    EXPECT_TRUE(a == WheelAction::ZoomIn || a == WheelAction::NextFile);
    return a == WheelAction::ZoomIn;
}

TEST(WheelRuleTest, ModeByOptionToggleAndModifier)
{
    struct Case {
        int option;
        bool toggle;
        bool modifier;
        bool zoom;
    };
    const Case cases[] = {
        {0, false, false, false}, {0, false, true, true},  {0, true, false, true},  {0, true, true, false},
        {1, false, false, false}, {1, false, true, true},  {1, true, false, false}, {1, true, true, true},
        {2, false, false, true},  {2, false, true, false}, {2, true, false, true},  {2, true, true, false},
        {3, true, false, false},  {-1, false, true, true}, {7, true, true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ZoomMode(c.option, c.toggle, c.modifier), c.zoom)
            << "option " << c.option << " toggle " << c.toggle << " modifier " << c.modifier;
    }
}

TEST(WheelRuleTest, DirectionAndRevert)
{
    struct Case {
        int delta;
        bool zoomMode;
        bool revert;
        bool hasImage;
        WheelAction expected;
    };
    const Case cases[] = {
        {kTowards, true, false, true, WheelAction::ZoomIn},
        {kAway, true, false, true, WheelAction::ZoomOut},
        {kTowards, true, true, true, WheelAction::ZoomOut},
        {kAway, true, true, true, WheelAction::ZoomIn},
        {-1, true, false, true, WheelAction::ZoomIn},
        {kTowards, false, false, true, WheelAction::NextFile},
        {kAway, false, false, true, WheelAction::PrevFile},
        {kTowards, false, true, true, WheelAction::NextFile},  // revert is for zooming only
        {kAway, false, true, true, WheelAction::PrevFile},
        {kTowards, true, false, false, WheelAction::NextFile},  // zoom mode without an image navigates
        {kAway, true, true, false, WheelAction::PrevFile},
        {0, true, false, true, WheelAction::None},
        {0, false, false, true, WheelAction::None},
    };
    for (const Case& c : cases) {
        WheelInput in;
        in.delta = c.delta;
        in.MouseOption = 2;
        in.modifierHeld = !c.zoomMode;
        in.MouseRevert = c.revert;
        in.hasImage = c.hasImage;
        EXPECT_EQ(WheelActionFor(in), c.expected)
            << "delta " << c.delta << " zoom " << c.zoomMode << " revert " << c.revert << " image " << c.hasImage;
    }
}

TEST(RightButtonTest, FlipsAlwaysAnnouncesOnlyUnderOptionZero)
{
    struct Case {
        bool toggle;
        int option;
        bool toggled;
        const char* notice;
    };
    const Case cases[] = {
        {false, 0, true, "Zoom"},  {true, 0, false, "Fwd/Bwd"}, {false, 1, true, nullptr},
        {true, 1, false, nullptr}, {false, 2, true, nullptr},   {false, 9, true, nullptr},
    };
    for (const Case& c : cases) {
        const RightButtonResult r = RightButtonPress(c.toggle, c.option);
        EXPECT_EQ(r.WheelToggle, c.toggled) << c.option;
        if (c.notice == nullptr) {
            EXPECT_EQ(r.notice, nullptr) << c.option;
        } else {
            ASSERT_NE(r.notice, nullptr) << c.option;
            EXPECT_EQ(std::string(r.notice), c.notice);
        }
    }
}

TEST(LeftPressTest, EdgeZonesThenDrag)
{
    struct Case {
        int x;
        int clientWidth;
        bool pannable;
        LeftPressAction expected;
    };
    const Case cases[] = {
        {0, 1920, true, LeftPressAction::PrevFile},     {50, 1920, true, LeftPressAction::PrevFile},
        {51, 1920, true, LeftPressAction::StartDrag},   {51, 1920, false, LeftPressAction::None},
        {1869, 1920, true, LeftPressAction::StartDrag}, {1870, 1920, false, LeftPressAction::NextFile},
        {1919, 1920, true, LeftPressAction::NextFile},  {960, 1920, false, LeftPressAction::None},
        {40, 80, true, LeftPressAction::PrevFile},      {60, 80, true, LeftPressAction::NextFile},
        {-5, 1920, true, LeftPressAction::PrevFile},    {100, INT_MIN, true, LeftPressAction::NextFile},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LeftPressActionFor(c.x, c.clientWidth, c.pannable), c.expected)
            << c.x << " in " << c.clientWidth << (c.pannable ? " pannable" : "");
    }
}

TEST(MouseRulesTest, PartsOfANotchAddUpUntilTheDirectionOrTheModifiersChange)
{
    WheelNotches notches;
    EXPECT_EQ(notches.Add(-40, false), 0);
    EXPECT_EQ(notches.Add(-40, false), 0);
    EXPECT_EQ(notches.Add(-50, false), -1);  // 130: one notch, 10 kept
    EXPECT_EQ(notches.Add(-110, false), -1);
    EXPECT_EQ(notches.Add(-100, false), 0);
    EXPECT_EQ(notches.Add(30, false), 0);  // the other way: the 100 are dropped
    EXPECT_EQ(notches.Add(90, false), 1);
    EXPECT_EQ(notches.Add(100, false), 0);
    EXPECT_EQ(notches.Add(100, true), 0);  // what plain turns left does not count with Ctrl or Shift
    EXPECT_EQ(notches.Add(20, true), 1);
    EXPECT_EQ(notches.Add(0, true), 0);
    EXPECT_EQ(notches.Add(100, true), 0);
    EXPECT_EQ(notches.Add(INT32_MAX, true), 17895697);  // (INT32_MAX + 100) / 120, no overflow
}

}  // namespace
}  // namespace quillix::viewer
