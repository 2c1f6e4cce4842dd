#pragma once

#include "support/gate.h"
#include "workers/worker_pool.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

// Waiting for work without waiting for time: a test hands the pool its work, drains, and then
// asserts, so that a slow machine only makes it slower.
namespace quillix::test {

// Every worker of `pool` held at a gate, so that jobs queued meanwhile wait; the gates open at
// the end of the scope at the latest.
struct HeldWorkers {
    explicit HeldWorkers(workers::WorkerPool& pool)
    {
        for (unsigned i = 0; i < pool.ThreadCount(); ++i) {
            gates.push_back(std::make_shared<Gate>());
            pool.Submit(workers::JobPriority::Viewer, [gate = gates.back()] { gate->Pass(); });
        }
    }
    ~HeldWorkers() { Open(); }
    HeldWorkers(const HeldWorkers&) = delete;
    HeldWorkers& operator=(const HeldWorkers&) = delete;

    // Waits until every worker stands at its gate.
    bool AllHeld()
    {
        for (const auto& gate : gates)
            if (!gate->WaitEntered()) return false;
        return true;
    }
    void Open()
    {
        for (const auto& gate : gates)
            gate->Open();
    }

    std::vector<std::shared_ptr<Gate>> gates;
};

// Handles every event posted to this thread before the call: what a worker handed to the window
// thread before it ended has been dealt with on return.
inline void HandlePostedEvents()
{
    bool reached = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&reached] { reached = true; }, Qt::QueuedConnection);
    while (!reached)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Runs until none of `pools` has a job queued or running and the window thread has handled every
// result the jobs handed it, including the results of jobs it queued while handling them. Timers
// are not waited for. Never call it while a HeldWorkers holds one of the pools.
inline void Drain(std::initializer_list<workers::WorkerPool*> pools)
{
    const auto handedOut = [&pools] {
        std::uint64_t total = 0;
        for (const workers::WorkerPool* pool : pools)
            total += pool->SubmittedCount();
        return total;
    };
    for (;;) {
        for (workers::WorkerPool* pool : pools)
            pool->WaitIdle();
        const std::uint64_t before = handedOut();
        HandlePostedEvents();
        if (handedOut() == before) return;
    }
}

inline void Drain(workers::WorkerPool& pool)
{
    Drain({&pool});
}

}  // namespace quillix::test
