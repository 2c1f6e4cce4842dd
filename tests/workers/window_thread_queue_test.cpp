#include "workers/window_thread_queue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

namespace quillix::workers {
namespace {

// Turns the event loop until `done` holds or five seconds passed.
template <typename Done> bool TurnUntil(Done done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// Runs every call posted so far; once the posting threads have ended, nothing is left behind.
void Deliver()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

class WindowThreadQueueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "window_thread_queue_test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    }
};

using WindowThreadSenderTest = WindowThreadQueueTest;

TEST_F(WindowThreadQueueTest, CallsFromManyThreadsRunOnTheOwnersThreadInTheOrderEachPosted)
{
    WindowThreadQueue queue;
    constexpr int kThreads = 4, kCalls = 500;
    std::vector<std::vector<int>> seen(kThreads);
    bool offThread = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t, sender = queue.sender()] {
            for (int i = 0; i < kCalls; ++i)
                sender.Post([&, t, i] {
                    offThread = offThread || QThread::currentThread() != queue.thread();
                    seen[static_cast<std::size_t>(t)].push_back(i);
                });
        });
    for (std::thread& t : threads)
        t.join();
    Deliver();
    EXPECT_FALSE(offThread);
    for (const auto& s : seen) {
        ASSERT_EQ(s.size(), static_cast<std::size_t>(kCalls));
        for (int i = 0; i < kCalls; ++i)
            ASSERT_EQ(s[static_cast<std::size_t>(i)], i);
    }
}

TEST_F(WindowThreadQueueTest, ACallInANestedEventLoopLetsTheLaterOnesRunThereInOrder)
{
    WindowThreadQueue queue;
    const WindowThreadSender sender = queue.sender();
    std::vector<int> order;
    sender.Post([&] {
        order.push_back(1);
        // As a message box would: the later calls run inside this loop, in their order.
        QEventLoop nested;
        QTimer::singleShot(0, &nested, [&] {
            sender.Post([&] { order.push_back(4); });
            QTimer::singleShot(50, &nested, &QEventLoop::quit);
        });
        nested.exec();
        order.push_back(5);
    });
    sender.Post([&] { order.push_back(2); });
    sender.Post([&] { order.push_back(3); });
    ASSERT_TRUE(TurnUntil([&] { return order.size() == 5; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(WindowThreadQueueTest, CallsStillWaitingDieWithTheQueue)
{
    bool ran = false;
    auto held = std::make_shared<int>(0);
    const std::weak_ptr<int> watch = held;
    {
        WindowThreadQueue queue;
        queue.sender().Post([&ran, held = std::move(held)] { ran = true; });
    }
    EXPECT_TRUE(watch.expired()) << "what a dropped call holds is let go with it";
    Deliver();
    EXPECT_FALSE(ran);
}

// A sender kept by a job past its queue, and one that was never given a queue.
TEST_F(WindowThreadSenderTest, PostsNothingWithoutItsQueue)
{
    auto queue = std::make_unique<WindowThreadQueue>();
    const WindowThreadSender kept = queue->sender();
    EXPECT_TRUE(kept.Receiving());
    queue.reset();
    const WindowThreadSender copied = kept;
    const WindowThreadSender none;
    for (const WindowThreadSender* sender : {&kept, &copied, &none}) {
        const WindowThreadSender& s = *sender;
        bool ran = false;
        auto held = std::make_shared<int>(0);
        const std::weak_ptr<int> watch = held;
        EXPECT_FALSE(s.Receiving());
        EXPECT_FALSE(s.Post([&ran, held = std::move(held)] { ran = true; }));
        EXPECT_TRUE(watch.expired()) << "the refused call is destroyed on the posting thread";
        Deliver();
        EXPECT_FALSE(ran);
    }
}

// Workers go on posting while the window thread destroys the queue: each post either lands before
// the queue's end (and dies with it) or is refused; none runs. ThreadSanitizer watches the race.
TEST_F(WindowThreadSenderTest, PostingWhileTheQueueIsDestroyedRunsNothing)
{
    constexpr int kThreads = 4;
    auto queue = std::make_unique<WindowThreadQueue>();
    std::atomic<int> ran = 0;
    std::latch postedOnce(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, sender = queue->sender()] {
            bool first = true;
            while (sender.Post([&ran] { ++ran; })) {
                if (first) postedOnce.count_down();
                first = false;
            }
            if (first) postedOnce.count_down();
        });
    postedOnce.wait();
    queue.reset();
    for (std::thread& t : threads)
        t.join();
    Deliver();
    EXPECT_EQ(ran.load(), 0);
}

// A call that ends the queue's owner, as closing a window does: the calls behind it never run.
TEST_F(WindowThreadSenderTest, ACallThatDestroysTheQueueEndsTheDrain)
{
    auto queue = std::make_unique<WindowThreadQueue>();
    const WindowThreadSender sender = queue->sender();
    std::vector<int> order;
    sender.Post([&] { order.push_back(1); });
    sender.Post([&] {
        order.push_back(2);
        queue.reset();
    });
    sender.Post([&] { order.push_back(3); });
    Deliver();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_FALSE(sender.Receiving());
}

}  // namespace
}  // namespace quillix::workers
