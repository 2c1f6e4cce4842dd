#include "workers/worker_pool.h"

#include "support/gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

using namespace quillix::workers;
using namespace std::chrono_literals;

namespace {

using quillix::test::Gate;

// The order in which jobs ran, by name.
struct RunLog {
    std::mutex mutex;
    std::vector<std::string> names;

    std::function<void()> Job(std::string name)
    {
        return [this, name] {
            std::lock_guard lock(mutex);
            names.push_back(name);
        };
    }
};

// A one-thread pool whose worker is held at a gate, so that everything submitted queues up.
struct HeldPool {
    Gate gate;  // declared first: the pool's thread still leaves it while the pool is joined
    WorkerPool pool{1};
    HeldPool()
    {
        pool.Submit(JobPriority::Viewer, [this] { gate.Pass(); });
        EXPECT_TRUE(gate.WaitEntered());
    }
    ~HeldPool() { gate.Open(); }
};

TEST(WorkerPool, RunsByPriorityThenInSubmissionOrder)
{
    HeldPool held;
    RunLog log;
    held.pool.Submit(JobPriority::Thumbnail, log.Job("thumb1"));
    held.pool.Submit(JobPriority::Batch, log.Job("batch1"));
    held.pool.Submit(JobPriority::Viewer, log.Job("viewer1"));
    held.pool.Submit(JobPriority::Thumbnail, log.Job("thumb2"));
    held.pool.Submit(JobPriority::Viewer, log.Job("viewer2"));
    held.pool.Submit(JobPriority::Batch, log.Job("batch2"));
    EXPECT_EQ(held.pool.QueuedCount(), 6u);
    held.gate.Open();
    held.pool.WaitIdle();
    EXPECT_EQ(log.names, (std::vector<std::string>{"viewer1", "viewer2", "batch1", "batch2", "thumb1", "thumb2"}));
}

TEST(WorkerPool, ReprioritisesQueuedJobs)
{
    HeldPool held;
    RunLog log;
    std::vector<JobId> thumbs;
    for (const char* name : {"t0", "t1", "t2", "t3", "t4"})
        thumbs.push_back(held.pool.Submit(JobPriority::Thumbnail, log.Job(name)));
    const JobId batch = held.pool.Submit(JobPriority::Batch, log.Job("batch"));
    // Newly visible tiles t3 and t1 go first, in that order; t4 turns into viewer work; the batch
    // job drops behind the thumbnails.
    const JobId visible[] = {thumbs[3], thumbs[1], 999};
    EXPECT_EQ(held.pool.MoveToFront(visible), 2u);
    EXPECT_TRUE(held.pool.SetPriority(thumbs[4], JobPriority::Viewer));
    EXPECT_TRUE(held.pool.SetPriority(batch, JobPriority::Thumbnail));
    EXPECT_FALSE(held.pool.SetPriority(999, JobPriority::Viewer));
    held.gate.Open();
    held.pool.WaitIdle();
    EXPECT_EQ(log.names, (std::vector<std::string>{"t4", "t3", "t1", "t0", "t2", "batch"}));
    // Nothing is queued any more, so nothing moves.
    EXPECT_EQ(held.pool.MoveToFront(thumbs), 0u);
    EXPECT_FALSE(held.pool.SetPriority(thumbs[0], JobPriority::Batch));
}

TEST(WorkerPool, CancelledJobsNeverRunAndReleaseWhatTheyHold)
{
    HeldPool held;
    RunLog log;
    auto resource = std::make_shared<int>(7);
    const JobId keep = held.pool.Submit(JobPriority::Viewer, log.Job("keep"));
    const JobId drop = held.pool.Submit(JobPriority::Viewer, [&log, resource] { log.Job("drop")(); });
    EXPECT_EQ(resource.use_count(), 2);
    EXPECT_TRUE(held.pool.Cancel(drop));
    EXPECT_EQ(resource.use_count(), 1);
    EXPECT_FALSE(held.pool.Cancel(drop));
    EXPECT_FALSE(held.pool.Cancel(0));
    held.gate.Open();
    held.pool.WaitIdle();
    EXPECT_EQ(log.names, std::vector<std::string>{"keep"});
    // A job that ran cannot be cancelled any more.
    EXPECT_FALSE(held.pool.Cancel(keep));
}

TEST(WorkerPool, AnExceptionEndsOnlyItsJob)
{
    WorkerPool pool(1);
    RunLog log;
    pool.Submit(JobPriority::Viewer, [] { throw std::runtime_error("broken picture"); });
    pool.Submit(JobPriority::Viewer, [] { throw 42; });
    pool.Submit(JobPriority::Viewer, log.Job("after"));
    pool.WaitIdle();
    EXPECT_EQ(log.names, std::vector<std::string>{"after"});
    EXPECT_EQ(pool.FailedCount(), 2u);
}

TEST(WorkerPool, NeverRunsMoreJobsThanThreads)
{
    for (const unsigned threads : {1u, 2u, 4u}) {
        WorkerPool pool(threads);
        EXPECT_EQ(pool.ThreadCount(), threads);
        std::atomic<int> running{0}, most{0};
        for (int i = 0; i < 40; ++i) {
            pool.Submit(static_cast<JobPriority>(i % 3), [&] {
                const int now = ++running;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::sleep_for(2ms);
                --running;
            });
        }
        pool.WaitIdle();
        EXPECT_LE(most.load(), static_cast<int>(threads));
        EXPECT_EQ(pool.RunningCount(), 0u);
    }
    EXPECT_GE(WorkerPool().ThreadCount(), 1u);
}

TEST(WorkerPool, ShutdownDropsQueuedJobsAndWaitsForRunningOnes)
{
    auto pool = std::make_unique<WorkerPool>(2);
    Gate gate;
    std::atomic<int> started{0};
    std::atomic<bool> finished{false};
    for (int i = 0; i < 2; ++i) {
        pool->Submit(JobPriority::Viewer, [&] {
            ++started;
            gate.Pass();
            finished = true;
        });
    }
    while (started < 2)
        std::this_thread::yield();
    RunLog log;
    auto resource = std::make_shared<int>(1);
    for (int i = 0; i < 10; ++i)
        pool->Submit(JobPriority::Thumbnail, [&log, resource] { log.Job("queued")(); });

    std::future<void> shutdown = std::async(std::launch::async, [&] { pool->Shutdown(); });
    // Shutdown waits for the running jobs.
    EXPECT_EQ(shutdown.wait_for(50ms), std::future_status::timeout);
    gate.Open();
    shutdown.get();
    EXPECT_TRUE(finished);
    EXPECT_TRUE(log.names.empty());
    EXPECT_EQ(resource.use_count(), 1);
    EXPECT_EQ(pool->Submit(JobPriority::Viewer, [] {}), 0u);
    EXPECT_EQ(pool->SubmittedCount(), 12u) << "the refused job is not counted, the dropped ones are";
    pool->WaitIdle();
    pool->Shutdown();
    pool.reset();
}

TEST(WorkerPool, JobsMaySubmitJobs)
{
    WorkerPool pool(2);
    std::atomic<int> runs{0};
    std::function<void(int)> chain = [&](int left) {
        ++runs;
        if (left > 0) pool.Submit(JobPriority::Batch, [&chain, left] { chain(left - 1); });
    };
    pool.Submit(JobPriority::Batch, [&chain] { chain(5); });
    // WaitIdle can see the gap between one job's end and its child's start only when the child
    // was not queued yet, and the child is queued before its parent ends.
    pool.WaitIdle();
    EXPECT_EQ(runs.load(), 6);
}

}  // namespace
