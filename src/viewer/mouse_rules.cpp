#include "viewer/mouse_rules.h"

namespace quillix::viewer {

WheelAction WheelActionFor(const WheelInput& input)
{
    if (input.delta == 0) return WheelAction::None;
    const bool towardsUser = input.delta < 0;
    bool zoom = input.modifierHeld;
    if (input.MouseOption == 0 && input.WheelToggle) zoom = !zoom;
    if (input.MouseOption == 2) zoom = !zoom;
    if (zoom && input.hasImage) {
        const bool enlarge = towardsUser != input.MouseRevert;
        return enlarge ? WheelAction::ZoomIn : WheelAction::ZoomOut;
    }
    return towardsUser ? WheelAction::NextFile : WheelAction::PrevFile;
}

RightButtonResult RightButtonPress(bool wheelToggle, int mouseOption)
{
    RightButtonResult r;
    r.WheelToggle = !wheelToggle;
    if (mouseOption == 0) r.notice = r.WheelToggle ? "Zoom" : "Fwd/Bwd";
    return r;
}

LeftPressAction LeftPressActionFor(int x, int clientWidth, bool pannable)
{
    if (x <= kEdgeZone) return LeftPressAction::PrevFile;
    if (static_cast<long long>(x) >= static_cast<long long>(clientWidth) - kEdgeZone) return LeftPressAction::NextFile;
    return pannable ? LeftPressAction::StartDrag : LeftPressAction::None;
}

}  // namespace quillix::viewer
