#include "workers/window_thread_queue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

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

TEST_F(WindowThreadQueueTest, CallsFromManyThreadsRunOnTheOwnersThreadInTheOrderEachPosted)
{
    WindowThreadQueue queue;
    constexpr int kThreads = 4, kCalls = 500;
    std::vector<std::vector<int>> seen(kThreads);
    bool offThread = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i)
                queue.Post([&, t, i] {
                    offThread = offThread || QThread::currentThread() != queue.thread();
                    seen[static_cast<std::size_t>(t)].push_back(i);
                });
        });
    for (std::thread& t : threads)
        t.join();
    ASSERT_TRUE(TurnUntil([&] {
        for (const auto& s : seen)
            if (s.size() != kCalls) return false;
        return true;
    }));
    EXPECT_FALSE(offThread);
    for (const auto& s : seen)
        for (int i = 0; i < kCalls; ++i)
            ASSERT_EQ(s[static_cast<std::size_t>(i)], i);
}

TEST_F(WindowThreadQueueTest, ACallInANestedEventLoopLetsTheLaterOnesRunThereInOrder)
{
    WindowThreadQueue queue;
    std::vector<int> order;
    queue.Post([&] {
        order.push_back(1);
        // As a message box would: the later calls run inside this loop, in their order.
        QEventLoop nested;
        QTimer::singleShot(0, &nested, [&] {
            queue.Post([&] { order.push_back(4); });
            QTimer::singleShot(50, &nested, &QEventLoop::quit);
        });
        nested.exec();
        order.push_back(5);
    });
    queue.Post([&] { order.push_back(2); });
    queue.Post([&] { order.push_back(3); });
    ASSERT_TRUE(TurnUntil([&] { return order.size() == 5; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(WindowThreadQueueTest, CallsStillWaitingDieWithTheQueue)
{
    bool ran = false;
    {
        WindowThreadQueue queue;
        queue.Post([&] { ran = true; });
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace quillix::workers
