#include "imaging/webp_player.h"

#include "imaging/webp_bridge.h"
#include "workers/worker_pool.h"

#include "imaging/anim_fixtures.h"
#include "support/hex.h"
#include "support/temp_dir.h"

#include <webp/mux.h>

#include <QCoreApplication>
#include <QImage>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <memory>

namespace quillix::imaging {
namespace {

const QRgb kColours[] = {qRgb(200, 0, 0), qRgb(0, 200, 0), qRgb(0, 0, 200), qRgb(200, 200, 0), qRgb(0, 200, 200)};

// Frame i is painted in kColours[i].
std::vector<std::uint8_t> Animation(const std::vector<int>& durations, int loopCount)
{
    std::vector<test::WebPFixtureFrame> frames;
    for (std::size_t i = 0; i < durations.size(); ++i)
        frames.push_back({test::Solid(5, 3, kColours[i]), durations[i]});
    return test::EncodeAnimatedWebP(frames, loopCount);
}

int FrameIndex(const WebPPlayer& player)
{
    const QRgb p = player.frame().pixel(2, 1);
    for (int i = 0; i < 5; ++i)
        if (p == kColours[i]) return i;
    return -1;
}

// Records the frame shown at each frameChanged.
struct Shown {
    std::vector<int> frames;
    explicit Shown(WebPPlayer& player)
    {
        QObject::connect(&player, &WebPPlayer::frameChanged, [this, &player] { frames.push_back(FrameIndex(player)); });
    }
};

bool Running(const WebPPlayer& player)
{
    return player.timer() && player.timer()->isActive();
}

TEST(WebPPlayer, StillPictureNeedsNoTimer)
{
    test::TempDir dir;
    QImage picture = test::Solid(4, 2, qRgba(10, 20, 30, 255));
    picture.setPixel(3, 1, qRgba(1, 2, 3, 4));
    test::WriteFile(dir / "s.webp", test::EncodeStillWebP(picture));

    WebPPlayer player;
    EXPECT_EQ(player.Speed(), 0.5);
    EXPECT_FALSE(player.HasFrame());
    int changes = 0;
    QObject::connect(&player, &WebPPlayer::frameChanged, [&] { ++changes; });
    ASSERT_TRUE(player.LoadFromFile(dir / "s.webp"));
    EXPECT_TRUE(player.HasFrame());
    EXPECT_EQ(player.frame(), picture);
    EXPECT_EQ(QSize(player.width(), player.height()), QSize(4, 2));
    EXPECT_FALSE(player.playing());
    EXPECT_FALSE(player.animated());
    EXPECT_EQ(player.timer(), nullptr);
    EXPECT_EQ(changes, 1);

    player.TogglePause();
    EXPECT_FALSE(player.paused()) << "pausing a still picture does nothing";
    player.Tick();
    EXPECT_EQ(player.frame(), picture);

    const auto bytes = test::EncodeStillWebP(picture);
    WebPPlayer fromMemory;
    ASSERT_TRUE(fromMemory.LoadFromBytes(bytes));
    EXPECT_EQ(fromMemory.frame(), picture);
}

TEST(WebPPlayer, FramesInOrderAndIntervalsFromDurationsAndSpeed)
{
    // 5 ms is below the 10 ms floor; the first frame's own duration never sets an interval.
    const auto bytes = Animation({40, 100, 5, 70}, 0);
    const struct {
        double speed;
        std::vector<int> intervals;  // after load, then after each tick
    } cases[] = {
        {0.5, {30, 200, 20, 140}}, {1.0, {30, 100, 10, 70}}, {0.3, {30, 333, 33, 233}},  // truncated
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.speed);
        WebPPlayer player;
        player.setSpeed(c.speed);
        Shown shown(player);
        ASSERT_TRUE(player.LoadAnimated(bytes));
        EXPECT_TRUE(player.playing());
        EXPECT_TRUE(Running(player));
        EXPECT_EQ(QSize(player.width(), player.height()), QSize(5, 3));
        std::vector<int> intervals{player.timer()->interval()};
        for (int i = 0; i < 3; ++i) {
            player.Tick();
            intervals.push_back(player.timer()->interval());
        }
        EXPECT_EQ(intervals, c.intervals);
        EXPECT_EQ(shown.frames, (std::vector<int>{0, 1, 2, 3}));
    }
}

TEST(WebPPlayer, SpeedChangesApplyFromTheNextFrame)
{
    WebPPlayer player;
    player.setSpeed(0);
    player.setSpeed(-1);
    EXPECT_EQ(player.Speed(), 0.5) << "no speed at or below zero";
    ASSERT_TRUE(player.LoadAnimated(Animation({50, 50, 50}, 0)));
    player.Tick();
    EXPECT_EQ(player.timer()->interval(), 100);
    player.setSpeed(1.0);
    EXPECT_EQ(player.timer()->interval(), 100);
    player.Tick();
    EXPECT_EQ(player.timer()->interval(), 50);
}

TEST(WebPPlayer, LoopCountGivesTheNumberOfPasses)
{
    test::TempDir dir;
    const struct {
        int loopCount;
        int passes;  // 0: still going after many
    } cases[] = {{1, 1}, {3, 3}, {0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.loopCount);
        const std::string path = dir / ("loop" + std::to_string(c.loopCount) + ".webp");
        test::WriteFile(path, Animation({60, 80, 100}, c.loopCount));
        WebPPlayer player;
        Shown shown(player);
        ASSERT_TRUE(player.LoadFromFile(path));
        EXPECT_TRUE(player.animated());
        EXPECT_EQ(player.loopCount(), static_cast<std::uint32_t>(c.loopCount));
        for (int i = 0; i < 40 && Running(player); ++i)
            player.Tick();

        const int passes = c.passes ? c.passes : 13;
        std::vector<int> expected;
        for (int p = 0; p < passes; ++p)
            expected.insert(expected.end(), {0, 1, 2});
        if (c.passes) {
            EXPECT_EQ(shown.frames, expected);
            EXPECT_FALSE(Running(player)) << "finished";
            EXPECT_TRUE(player.playing()) << "a finished animation still counts as playing";
            EXPECT_EQ(FrameIndex(player), 2) << "the last frame stays";
            EXPECT_EQ(player.passesDone(), c.passes - 1);
        } else {
            EXPECT_TRUE(Running(player));
            EXPECT_GE(shown.frames.size(), 40u);
            shown.frames.resize(expected.size());
            EXPECT_EQ(shown.frames, expected);
        }
    }
}

TEST(WebPPlayer, NewPassKeepsTheIntervalOfTheFrameBefore)
{
    WebPPlayer player;
    ASSERT_TRUE(player.LoadAnimated(Animation({60, 80}, 0)));
    player.Tick();
    EXPECT_EQ(player.timer()->interval(), 160);
    player.Tick();  // the pass ends: the first frame comes back
    EXPECT_EQ(FrameIndex(player), 0);
    EXPECT_EQ(player.timer()->interval(), 160);
    EXPECT_EQ(player.passesDone(), 1);

    // A timer that exists keeps its interval for the next animation too.
    ASSERT_TRUE(player.LoadAnimated(Animation({20, 30, 40}, 0)));
    EXPECT_EQ(player.timer()->interval(), 160);
    EXPECT_EQ(player.passesDone(), 0);
}

TEST(WebPPlayer, PassRestartFromMemoryReusesTheBytes)
{
    auto bytes = Animation({60, 80, 100}, 2);
    WebPPlayer player;
    Shown shown(player);
    ASSERT_TRUE(player.LoadFromBytes(bytes));
    EXPECT_TRUE(player.animated());
    std::fill(bytes.begin(), bytes.end(), 0);  // the player holds its own copy
    bytes.clear();
    for (int i = 0; i < 20 && Running(player); ++i)
        player.Tick();
    EXPECT_EQ(shown.frames, (std::vector<int>{0, 1, 2, 0, 1, 2}));
    EXPECT_FALSE(Running(player));
}

TEST(WebPPlayer, PassRestartRereadsTheFileAndEndsWhenItIsGone)
{
    test::TempDir dir;
    const std::string path = dir / "a.webp";
    test::WriteFile(path, Animation({60, 80}, 0));
    WebPPlayer player;
    Shown shown(player);
    ASSERT_TRUE(player.LoadFromFile(path));
    player.Tick();
    test::WriteFile(path, Animation({70, 90, 20}, 0));
    player.Tick();  // new pass from the file as it is now: three frames
    player.Tick();
    player.Tick();
    EXPECT_EQ(shown.frames, (std::vector<int>{0, 1, 0, 1, 2}));

    std::filesystem::remove(path);
    player.Tick();
    EXPECT_FALSE(player.playing());
    EXPECT_FALSE(Running(player));
    EXPECT_EQ(FrameIndex(player), 2) << "the last frame stays shown";
    EXPECT_TRUE(player.HasFrame());
}

TEST(WebPPlayer, PauseAndStop)
{
    WebPPlayer player;
    ASSERT_TRUE(player.LoadAnimated(Animation({60, 80, 100}, 0)));
    player.TogglePause();
    EXPECT_TRUE(player.paused());
    EXPECT_TRUE(player.playing());
    EXPECT_FALSE(Running(player));
    player.Tick();
    EXPECT_EQ(FrameIndex(player), 0) << "no frame moves while paused";
    player.TogglePause();
    EXPECT_FALSE(player.paused());
    EXPECT_TRUE(Running(player));
    player.Tick();
    EXPECT_EQ(FrameIndex(player), 1);

    player.Stop();
    EXPECT_FALSE(player.playing());
    EXPECT_FALSE(Running(player));
    player.Tick();
    player.TogglePause();
    EXPECT_FALSE(player.paused());
    EXPECT_EQ(FrameIndex(player), 1) << "the frame stays after Stop";

    player.Clear();
    EXPECT_FALSE(player.HasFrame());
    EXPECT_FALSE(player.animated());
}

TEST(WebPPlayer, UnreadableFrameEndsPlayingOnTheFrameBefore)
{
    auto bytes = Animation({60, 80, 100}, 0);
    // Garble the picture data of the second frame; its chunk headers stay intact.
    const auto anmf = test::Bytes("ANMF");
    auto second = std::search(bytes.begin(), bytes.end(), anmf.begin(), anmf.end());
    second = std::search(second + 4, bytes.end(), anmf.begin(), anmf.end());
    ASSERT_NE(second, bytes.end());
    const long payload = 4 + 4 + 16 + 8 + 5;  // ANMF header and fields, VP8L header, its signature and size
    std::fill(second + payload, second + payload + 12, 0xFF);

    WebPPlayer player;
    ASSERT_TRUE(player.LoadAnimated(bytes));
    player.Tick();
    EXPECT_FALSE(Running(player));
    EXPECT_TRUE(player.playing());
    EXPECT_EQ(FrameIndex(player), 0);
}

std::vector<std::uint8_t> StillWithAnimInMetadata(const QImage& picture)
{
    const auto still = test::EncodeStillWebP(picture);
    std::unique_ptr<WebPMux, decltype(&WebPMuxDelete)> mux(WebPMuxNew(), &WebPMuxDelete);
    const WebPData image{still.data(), still.size()};
    const char exif[] = "camera ANIMation";
    const WebPData meta{reinterpret_cast<const std::uint8_t*>(exif), sizeof exif};
    EXPECT_EQ(WebPMuxSetImage(mux.get(), &image, 1), WEBP_MUX_OK);
    EXPECT_EQ(WebPMuxSetChunk(mux.get(), "EXIF", &meta, 1), WEBP_MUX_OK);
    WebPData out;
    WebPDataInit(&out);
    EXPECT_EQ(WebPMuxAssemble(mux.get(), &out), WEBP_MUX_OK);
    std::vector<std::uint8_t> bytes(out.bytes, out.bytes + out.size);
    WebPDataClear(&out);
    return bytes;
}

TEST(WebPPlayer, StillWithAnimBytesFallsBackToTheStillPicture)
{
    const QImage picture = test::Solid(3, 3, qRgb(9, 8, 7));
    const auto bytes = StillWithAnimInMetadata(picture);
    ASSERT_TRUE(IsAnimatedBytes(bytes));
    test::TempDir dir;
    test::WriteFile(dir / "s.webp", bytes);

    WebPPlayer player;
    EXPECT_FALSE(player.LoadAnimated(bytes));
    ASSERT_TRUE(player.LoadFromFile(dir / "s.webp"));
    EXPECT_FALSE(player.animated());
    EXPECT_FALSE(player.playing());
    EXPECT_EQ(player.frame(), picture);
    ASSERT_TRUE(player.LoadFromBytes(bytes));
    EXPECT_FALSE(player.animated());
}

TEST(WebPPlayer, FailedLoadsLeaveThePlayerStopped)
{
    test::TempDir dir;
    const auto animation = Animation({60, 80}, 0);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"empty", {}},
        {"random", test::PseudoRandomBytes(400)},
        {"animation cut short", {animation.begin(), animation.begin() + static_cast<long>(animation.size() * 2 / 3)}},
        {"ANIM in noise",
         [] {
             auto b = test::PseudoRandomBytes(100);
             std::copy_n("ANIM", 4, b.begin() + 50);
             return b;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WebPPlayer player;
        ASSERT_TRUE(player.LoadAnimated(animation));
        test::WriteFile(dir / "bad.webp", c.bytes);
        EXPECT_FALSE(player.LoadFromFile(dir / "bad.webp"));
        EXPECT_FALSE(player.playing());
        EXPECT_FALSE(Running(player));
        EXPECT_FALSE(player.animated());
        EXPECT_FALSE(player.LoadFromBytes(c.bytes));
        EXPECT_FALSE(player.LoadAnimated(c.bytes));
        EXPECT_FALSE(player.playing());
    }
    WebPPlayer player;
    EXPECT_FALSE(player.LoadFromFile(dir / "missing.webp"));
    EXPECT_FALSE(player.LoadAnimated(dir / "missing.webp"));
    player.Tick();  // nothing loaded: nothing happens
    EXPECT_FALSE(player.HasFrame());
}

// A one-thread pool whose thread can be held busy, so a frame decode stays queued until released.
struct HeldPool {
    workers::WorkerPool pool{1};
    std::promise<void> release;

    void Hold()
    {
        auto started = std::make_shared<std::promise<void>>();
        auto go = release.get_future().share();
        pool.Submit(workers::JobPriority::Viewer, [started, go] {
            started->set_value();
            go.wait();
        });
        started->get_future().wait();
    }
    void Release() { release.set_value(); }
};

// Lets the decodes handed out end and delivers their frames, without running any timer.
void DeliverDecodes(workers::WorkerPool& pool)
{
    pool.WaitIdle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

TEST(WebPPlayerOnPool, FramesIntervalsAndSpeedAsWhenDecodedInline)
{
    workers::WorkerPool pool(2);
    // 5 ms is below the 10 ms floor.
    const auto bytes = Animation({40, 100, 5, 70}, 0);
    WebPPlayer player;
    player.setPool(&pool);
    EXPECT_EQ(player.pool(), &pool);
    Shown shown(player);
    ASSERT_TRUE(player.LoadAnimated(bytes));
    std::vector<int> intervals{player.timer()->interval()};
    for (int i = 0; i < 3; ++i) {
        DeliverDecodes(pool);
        EXPECT_FALSE(player.decoding());
        EXPECT_EQ(shown.frames.size(), static_cast<std::size_t>(i + 1)) << "a decoded frame waits for the tick";
        if (i == 2) player.setSpeed(1.0);  // from the next frame on
        player.Tick();
        EXPECT_TRUE(Running(player));
        intervals.push_back(player.timer()->interval());
    }
    EXPECT_EQ(intervals, (std::vector<int>{30, 200, 20, 70}));
    EXPECT_EQ(shown.frames, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(pool.FailedCount(), 0u);
}

TEST(WebPPlayerOnPool, PassesAndLoopCountFromMemoryAndFile)
{
    test::TempDir dir;
    const std::string path = dir / "a.webp";
    test::WriteFile(path, Animation({60, 80, 100}, 2));
    for (const bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile ? "file" : "memory");
        workers::WorkerPool pool(1);
        WebPPlayer player;
        player.setPool(&pool);
        Shown shown(player);
        ASSERT_TRUE(fromFile ? player.LoadFromFile(path) : player.LoadFromBytes(Animation({60, 80, 100}, 2)));
        for (int i = 0; i < 20 && Running(player); ++i) {
            DeliverDecodes(pool);
            player.Tick();
        }
        EXPECT_EQ(shown.frames, (std::vector<int>{0, 1, 2, 0, 1, 2}));
        EXPECT_EQ(player.passesDone(), 1);
        EXPECT_TRUE(player.playing()) << "finished, not stopped";
    }

    // A file gone by the next pass ends playing on the last frame.
    workers::WorkerPool pool(1);
    WebPPlayer player;
    player.setPool(&pool);
    ASSERT_TRUE(player.LoadFromFile(path));
    DeliverDecodes(pool);
    player.Tick();
    DeliverDecodes(pool);
    std::filesystem::remove(path);
    player.Tick();
    DeliverDecodes(pool);
    player.Tick();
    EXPECT_FALSE(player.playing());
    EXPECT_FALSE(Running(player));
    EXPECT_EQ(FrameIndex(player), 2);
}

TEST(WebPPlayerOnPool, AFrameLateForItsTickIsShownWhenItArrives)
{
    HeldPool held;
    held.Hold();
    WebPPlayer player;
    player.setPool(&held.pool);
    Shown shown(player);
    ASSERT_TRUE(player.LoadAnimated(Animation({60, 80, 100}, 0)));
    EXPECT_TRUE(player.decoding());
    player.Tick();
    EXPECT_EQ(shown.frames, std::vector<int>{0}) << "the current frame stays while the next one decodes";
    EXPECT_FALSE(Running(player));
    held.Release();
    DeliverDecodes(held.pool);
    EXPECT_EQ(shown.frames, (std::vector<int>{0, 1}));
    EXPECT_TRUE(Running(player));
    EXPECT_EQ(player.timer()->interval(), 160);

    // Paused while late: the frame arrives but waits for the resumed timer.
    DeliverDecodes(held.pool);
    HeldPool second;
    second.Hold();
    player.setPool(&second.pool);
    player.Tick();  // the next pass's first frame is queued behind the hold
    EXPECT_EQ(shown.frames, (std::vector<int>{0, 1, 2}));
    player.Tick();
    player.TogglePause();
    second.Release();
    DeliverDecodes(second.pool);
    EXPECT_EQ(shown.frames.size(), 3u);
    player.TogglePause();
    player.Tick();
    EXPECT_EQ(shown.frames, (std::vector<int>{0, 1, 2, 0}));
}

TEST(WebPPlayerOnPool, StopAndReloadDiscardTheDecodeInFlight)
{
    HeldPool held;
    held.Hold();
    WebPPlayer player;
    player.setPool(&held.pool);
    Shown shown(player);
    ASSERT_TRUE(player.LoadAnimated(Animation({60, 80, 100}, 0)));
    player.Stop();
    EXPECT_FALSE(player.decoding());
    // The next animation's own decode queues behind the discarded one.
    ASSERT_TRUE(player.LoadAnimated(Animation({60, 20, 100}, 0)));
    player.Clear();
    ASSERT_TRUE(player.LoadAnimated(Animation({60, 30, 100}, 0)));
    held.Release();
    DeliverDecodes(held.pool);
    player.Tick();
    EXPECT_EQ(shown.frames, (std::vector<int>{0, 0, 0, 1}));
    EXPECT_EQ(player.timer()->interval(), 60) << "the frame of the last animation loaded";
    EXPECT_EQ(held.pool.FailedCount(), 0u);
}

TEST(WebPPlayerOnPool, APoolShutDownLeavesTheFramesDecodedInline)
{
    workers::WorkerPool pool(1);
    pool.Shutdown();
    WebPPlayer player;
    player.setPool(&pool);
    Shown shown(player);
    ASSERT_TRUE(player.LoadAnimated(Animation({60, 80, 100}, 0)));
    EXPECT_FALSE(player.decoding());
    player.Tick();
    player.Tick();
    EXPECT_EQ(shown.frames, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(Running(player));
}

TEST(WebPPlayerOnPool, DestroyedWithADecodeInFlight)
{
    HeldPool held;
    held.Hold();
    auto player = std::make_unique<WebPPlayer>();
    player->setPool(&held.pool);
    ASSERT_TRUE(player->LoadAnimated(Animation({60, 80, 100}, 0)));
    player.reset();
    held.Release();
    DeliverDecodes(held.pool);

    // Gone after its frame was posted but before it was delivered.
    player = std::make_unique<WebPPlayer>();
    player->setPool(&held.pool);
    ASSERT_TRUE(player->LoadAnimated(Animation({60, 80, 100}, 0)));
    held.pool.WaitIdle();
    player.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    EXPECT_EQ(held.pool.FailedCount(), 0u);
}

}  // namespace
}  // namespace quillix::imaging
