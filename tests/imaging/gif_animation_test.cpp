#include "imaging/gif_animation.h"

#include <gtest/gtest.h>

#include <optional>

namespace quillix::imaging {
namespace {

TEST(GifTiming, SpeedPercentFromThePlayerSpeed)
{
    const struct {
        std::optional<double> playerSpeed;
        int percent;
    } cases[] = {{std::nullopt, 150}, {1.0, 150}, {0.51, 150}, {0.5, 30}, {0.1, 30}};
    for (const auto& c : cases)
        EXPECT_EQ(GifSpeedPercent(c.playerSpeed), c.percent) << c.playerSpeed.value_or(-1);
}

TEST(GifTiming, DelayScaledBySpeed)
{
    const struct {
        int delayMs, speed, shownMs;
    } cases[] = {
        // 66.7 and 46.7 are truncated
        {100, 150, 66},
        {100, 30, 333},
        {70, 150, 46},
        {2500, 30, 8333},
        // 20 ms is the shortest delay taken as it is; shorter ones count as 100 ms
        {20, 100, 20},
        {10, 100, 100},
        {0, 150, 66},
        {-5, 100, 100},
        // speed bounded to 10..400
        {100, 5, 1000},
        {100, 1000, 25},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScaledGifDelayMs(c.delayMs, c.speed), c.shownMs) << c.delayMs << " ms at " << c.speed << " %";
}

TEST(GifTiming, PassLimitByOrigin)
{
    const struct {
        int fileLoopCount;
        GifOrigin origin;
        int passes;
    } cases[] = {
        // a plain GIF always loops
        {-1, GifOrigin::Plain, 0},
        {0, GifOrigin::Plain, 0},
        {3, GifOrigin::Plain, 0},
        // n shows n + 1 passes; none in the file shows one
        {-1, GifOrigin::Encrypted, 1},
        {0, GifOrigin::Encrypted, 0},
        {1, GifOrigin::Encrypted, 2},
        {3, GifOrigin::Encrypted, 4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GifPassLimit(c.fileLoopCount, c.origin), c.passes)
            << c.fileLoopCount << (c.origin == GifOrigin::Plain ? " plain" : " encrypted");
}

struct Step {
    std::int64_t now;
    bool changed;
    int frame;
    int pass;
    std::optional<std::int64_t> deadline;
};

void Follow(GifPlayback& playback, const std::vector<Step>& steps)
{
    for (const Step& s : steps) {
        SCOPED_TRACE("at " + std::to_string(s.now));
        EXPECT_EQ(playback.Update(s.now), s.changed);
        EXPECT_EQ(playback.currentFrame(), s.frame);
        EXPECT_EQ(playback.pass(), s.pass);
        EXPECT_EQ(playback.nextDeadline(), s.deadline);
    }
}

TEST(GifTiming, FramesFollowTheClockAndStopAfterTheLastPass)
{
    GifPlayback playback({100, 200, 300}, 2, 100);
    EXPECT_EQ(playback.nextDeadline(), std::nullopt) << "not started";
    EXPECT_FALSE(playback.Update(5000));
    playback.Start(1000);
    EXPECT_EQ(playback.currentFrame(), 0);
    Follow(playback, {
                         {1099, false, 0, 1, 1100},
                         {1100, true, 1, 1, 1300},
                         {1650, true, 0, 2, 1700},  // two frames due at once: frame 2 passed unseen
                         {1700, true, 1, 2, 1900},
                         {1900, true, 2, 2, 2200},
                         {2200, false, 2, 2, std::nullopt},  // the last pass ended on its last frame
                         {9000, false, 2, 2, std::nullopt},
                     });
    EXPECT_TRUE(playback.finished());
}

TEST(GifTiming, EndlessLoopAndSpeed)
{
    GifPlayback playback({100, 100}, 0, 150);  // 66 ms each
    EXPECT_EQ(playback.speedPercent(), 150);
    playback.Start(0);
    std::int64_t now = 0;
    for (int i = 0; i < 100; ++i) {
        now = *playback.nextDeadline();
        ASSERT_TRUE(playback.Update(now));
    }
    EXPECT_EQ(now, 100 * 66);
    EXPECT_EQ(playback.pass(), 51);
    EXPECT_FALSE(playback.finished());
}

TEST(GifTiming, PauseKeepsTheRemainingTime)
{
    GifPlayback playback({100, 100, 100}, 0, 100);
    playback.Start(0);
    playback.TogglePause(40);
    EXPECT_TRUE(playback.paused());
    EXPECT_EQ(playback.nextDeadline(), std::nullopt);
    EXPECT_FALSE(playback.Update(5000));
    playback.TogglePause(5000);
    EXPECT_FALSE(playback.paused());
    Follow(playback, {{5059, false, 0, 1, 5060}, {5060, true, 1, 1, 5160}});
}

TEST(GifTiming, StalledClockResumesInsteadOfReplaying)
{
    GifPlayback playback({100, 100, 100}, 0, 100);
    playback.Start(0);
    Follow(playback, {{1000000, true, 1, 1, 1000100}, {1000100, true, 2, 1, 1000200}});
}

TEST(GifTiming, OneFrameNeverMoves)
{
    GifPlayback playback({100}, 0, 100);
    playback.Start(0);
    EXPECT_TRUE(playback.finished());
    EXPECT_EQ(playback.nextDeadline(), std::nullopt);
    EXPECT_FALSE(playback.Update(100000));
    EXPECT_EQ(playback.currentFrame(), 0);
}

}  // namespace
}  // namespace quillix::imaging
