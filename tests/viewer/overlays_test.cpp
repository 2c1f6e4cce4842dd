#include "viewer/overlays.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace quillix::viewer {
namespace {

constexpr std::uint64_t kLate = std::numeric_limits<std::uint32_t>::max() + std::uint64_t{5000};

TEST(OverlayTest, VisibilityAndTimerTable)
{
    struct Case {
        const char* name;
        Overlay notice;
        Overlay status;
        std::uint64_t now;
        bool noticeShown;
        bool statusShown;
        bool timerDone;
    };
    const Case cases[] = {
        {"both due", {"Renamed", 1700}, {"a.jpg - 36%", 3000}, 1000, true, true, false},
        {"notice expired", {"Renamed", 1700}, {"a.jpg - 36%", 3000}, 1700, false, true, false},
        {"both expired", {"Renamed", 1700}, {"a.jpg - 36%", 3000}, 3000, false, false, true},
        {"sticky notice outlives the timer",
         {"Encrypted files cannot be rotated", 0},
         {"a.jpg - 36%", 3000},
         5000,
         true,
         false,
         true},
        {"empty texts never show", {"", 0}, {"", 9000}, 10, false, false, false},
        {"past the 32-bit tick range",
         {"Copied to 3", kLate + 700},
         {"a.jpg - 100%", kLate + 2000},
         kLate,
         true,
         true,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NoticeVisible(c.notice, c.now), c.noticeShown);
        EXPECT_EQ(ZoomStatusVisible(c.status, c.now), c.statusShown);
        EXPECT_EQ(OverlayTimerDone(c.notice, c.status, c.now), c.timerDone);
    }
}

TEST(OverlayTest, ZoomStatusText)
{
    EXPECT_EQ(ZoomStatusText("photo.jpg", 0.36), "photo.jpg - 36%");
    EXPECT_EQ(ZoomStatusText("$tiny.png", 50.0), "$tiny.png - 5000%");
    EXPECT_EQ(ZoomStatusText("wide.webp", 0.5625), "wide.webp - 56%");
    EXPECT_EQ(ZoomStatusText("", 1.0), " - 100%");
}

TEST(OverlayTest, Geometry)
{
    EXPECT_EQ(NoticeRect({1920, 1080}), (Rect{40, 420, 1880, 660}));
    EXPECT_EQ(NoticeRect({101, 51}), (Rect{40, -95, 61, 145}));
    EXPECT_EQ(ZoomStatusOrigin({1920, 1080}, {201, 14}), (Point{859, 1056}));
}

}  // namespace
}  // namespace quillix::viewer
