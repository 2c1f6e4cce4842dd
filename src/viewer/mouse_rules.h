#pragma once

namespace quillix::viewer {

enum class WheelAction { None, ZoomIn, ZoomOut, NextFile, PrevFile };

struct WheelInput {
    int delta = 0;              // positive = turned away from the user
    bool modifierHeld = false;  // Ctrl or Shift held when the wheel turned
    bool WheelToggle = false;
    int MouseOption = 0;       // MOUSECTRL_OPT
    bool MouseRevert = false;  // MOUSECTRL_REVERT, reverses zooming only
    bool hasImage = false;
};

// What one wheel turn does. Zoom mode is the held modifier, inverted by WheelToggle under option 0
// and always under option 2; other options behave as 1. Zoom mode without an image navigates. A
// turn towards the user enlarges or steps forward; a zero delta does nothing.
WheelAction WheelActionFor(const WheelInput& input);

struct RightButtonResult {
    bool WheelToggle = false;
    const char* notice = nullptr;  // shown for 700 ms; null when none
};

// The right button flips WheelToggle under every option but announces it only under option 0;
// the caller resets the zoom to the fit in every case.
RightButtonResult RightButtonPress(bool wheelToggle, int mouseOption);

enum class LeftPressAction { PrevFile, NextFile, StartDrag, None };

inline constexpr int kEdgeZone = 50;

// A left-button press at client x: the side zones step through files (the left zone wins in a
// window too narrow to keep them apart); elsewhere a pannable image starts a drag.
LeftPressAction LeftPressActionFor(int x, int clientWidth, bool pannable);

}  // namespace quillix::viewer
