#pragma once

#include "viewer/zoom_math.h"

#include <cstdint>
#include <string>

namespace quillix::viewer {

inline constexpr std::uint64_t kZoomStatusMs = 2000;

// A text drawn over the image until its deadline, in milliseconds of a monotonic clock. The clock is
// 64 bits wide so that deadlines do not wrap as a 32-bit tick count does after 49.7 days.
struct Overlay {
    std::string text;
    std::uint64_t deadline = 0;
};

// The centred notice shows while it has a text and its deadline (0 = sticky) has not passed.
bool NoticeVisible(const Overlay& notice, std::uint64_t now);

// The zoom status line shows while it has a text and now is before its deadline.
bool ZoomStatusVisible(const Overlay& status, std::uint64_t now);

// The repaint timer may stop once now has reached both deadlines; its last tick wipes what expired.
bool OverlayTimerDone(const Overlay& notice, const Overlay& status, std::uint64_t now);

// "<file name> - <percent>%", the percent rounded as ZoomPercent does.
std::string ZoomStatusText(const std::string& fileName, double zoom);

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool operator==(const Rect&) const = default;
};

// The box the notice is word-wrapped into: 40 pixels in from each side, 240 high about the middle.
Rect NoticeRect(Size client);

// The square the lock screen's padlock fills: above the notice's line in the middle, an eighth of
// the shorter side high (at least 48 pixels).
Rect PadlockRect(Size client);

// The top-left corner of the zoom status text of size `text`: centred, 10 pixels above the bottom.
Point ZoomStatusOrigin(Size client, Size text);

}  // namespace quillix::viewer
