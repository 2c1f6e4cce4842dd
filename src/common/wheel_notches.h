#pragma once

#include <cstdint>

namespace quillix {

// Wheel amounts arrive as in QWheelEvent::angleDelta().y(): 120 a notch, positive turned away
// from the user. High-resolution wheels and touchpads send parts of a notch; they add up here
// until they make whole notches, in both windows alike. A turn the other way, or Ctrl or Shift
// pressed or let go between turns, starts again from nothing.
class WheelNotches {
public:
    // The whole notches completed by `delta`, signed like it; the remainder is kept.
    int Add(int delta, bool modifierHeld)
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

private:
    static constexpr int kNotch = 120;
    int pending_ = 0;
    bool modifierHeld_ = false;
};

}  // namespace quillix
