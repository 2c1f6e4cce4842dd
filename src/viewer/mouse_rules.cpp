#include "viewer/mouse_rules.h"

#include <cstdint>

namespace quillix::viewer {
namespace {

constexpr int kNotch = 120;

}  // namespace

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

int WheelNotches::Add(int delta, bool modifierHeld)
{
    if (modifierHeld != modifierHeld_) {
        pending_ = 0;
        modifierHeld_ = modifierHeld;
    }
    if (delta == 0) return 0;
    if ((pending_ < 0) != (delta < 0)) pending_ = 0;
    const std::int64_t total = std::int64_t{pending_} + delta;
    const std::int64_t notches = total / kNotch;
    pending_ = static_cast<int>(total - notches * kNotch);
    return static_cast<int>(notches);  // at most 2^32 / 120
}

}  // namespace quillix::viewer
