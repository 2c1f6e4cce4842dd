#include "workers/ordered_run.h"

#include "support/gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <latch>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

using namespace quillix::workers;
using namespace std::chrono_literals;

namespace {

// Takes every result of `run`, waiting for each.
std::vector<int> TakeAll(OrderedRun<int>& run)
{
    std::vector<int> all;
    while (!run.Finished())
        for (int v : run.WaitReady())
            all.push_back(v);
    return all;
}

TEST(OrderedRunTest, ResultsComeInListOrderWhateverOrderTheyFinishIn)
{
    WorkerPool pool(4);
    std::vector<int> delaysMs(40);
    std::mt19937 random(5);
    for (int& d : delaysMs)
        d = static_cast<int>(random() % 6);
    std::mutex mutex;
    std::vector<std::size_t> finishOrder;
    // Besides the mixed delays, the first item ends only after the second has: the items overlap
    // whatever the machine's speed.
    std::latch secondEnded(1);
    OrderedRun<int> run(pool, JobPriority::Batch, delaysMs.size(), 4, [&](std::size_t i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delaysMs[i]));
        if (i == 0) secondEnded.wait();
        {
            std::lock_guard lock(mutex);
            finishOrder.push_back(i);
        }
        if (i == 1) secondEnded.count_down();
        return static_cast<int>(i) * 10;
    });
    const std::vector<int> all = TakeAll(run);
    ASSERT_EQ(all.size(), delaysMs.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(all[i], static_cast<int>(i) * 10);
    EXPECT_EQ(run.Taken(), delaysMs.size());
    EXPECT_FALSE(std::is_sorted(finishOrder.begin(), finishOrder.end())) << "the items did overlap";
}

TEST(OrderedRunTest, NoMoreThanParallelItemsRunAtOnceAndEachRunsOnce)
{
    WorkerPool pool(4);
    std::atomic<int> now{0}, most{0};
    std::vector<std::atomic<int>> runs(30);
    OrderedRun<int> run(pool, JobPriority::Batch, runs.size(), 2, [&](std::size_t i) {
        const int n = ++now;
        int seen = most.load();
        while (n > seen && !most.compare_exchange_weak(seen, n)) {
        }
        std::this_thread::sleep_for(1ms);
        ++runs[i];
        --now;
        return 0;
    });
    TakeAll(run);
    EXPECT_LE(most.load(), 2);
    for (const auto& r : runs)
        EXPECT_EQ(r.load(), 1);
}

TEST(OrderedRunTest, StopFinishesTheItemsInFlightAndStartsNoOther)
{
    WorkerPool pool(2);
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;
    bool release = false;
    OrderedRun<int> run(pool, JobPriority::Batch, 10, 2, [&](std::size_t i) {
        std::unique_lock lock(mutex);
        ++started;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
        return static_cast<int>(i);
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return started == 2; }));
    }
    run.Stop();
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    run.WaitRunning();
    pool.WaitIdle();
    EXPECT_EQ(started, 2);
    EXPECT_EQ(TakeAll(run), (std::vector<int>{0, 1}));
    EXPECT_TRUE(run.Finished());
}

TEST(OrderedRunTest, ReadyWakesTheConsumerAndAThrowingItemStillGivesAResult)
{
    WorkerPool pool(2);
    std::atomic<int> wakes{0};
    OrderedRun<int> run(
        pool, JobPriority::Batch, 3, 3,
        [](std::size_t i) {
            if (i == 1) throw std::runtime_error("item failed");
            return 7;
        },
        [&wakes] { ++wakes; });
    EXPECT_EQ(TakeAll(run), (std::vector<int>{7, 0, 7}));
    pool.WaitIdle();
    EXPECT_EQ(wakes.load(), 3);
}

TEST(OrderedRunTest, AnEmptyListIsFinishedAtOnceAndARunDestroyedEarlyWaits)
{
    WorkerPool pool(2);
    OrderedRun<int> empty(pool, JobPriority::Batch, 0, 2, [](std::size_t) { return 1; });
    EXPECT_TRUE(empty.Finished());
    EXPECT_TRUE(empty.WaitReady().empty());

    // The items in flight wait at the gate until the run's destruction has stopped it.
    quillix::test::Gate gate;
    std::atomic<int> started{0}, ended{0};
    auto run = std::make_unique<OrderedRun<int>>(pool, JobPriority::Batch, 50, 2, [&](std::size_t) {
        ++started;
        gate.Pass();
        ++ended;
        return 0;
    });
    ASSERT_TRUE(gate.WaitEntered());
    const OrderedRun<int>* watched = run.get();
    std::thread destroying([owned = std::move(run)]() mutable { owned.reset(); });
    while (!watched->Stopped())  // the destructor stops the run first, then waits for its items
        std::this_thread::yield();
    gate.Open();
    destroying.join();
    // Whatever was running has ended; nothing new starts.
    const int atDestruction = ended.load();
    pool.WaitIdle();
    EXPECT_EQ(started.load(), atDestruction);
    EXPECT_GE(atDestruction, 1);
    EXPECT_LE(atDestruction, 2);
}

}  // namespace
