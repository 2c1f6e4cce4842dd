#pragma once

#include "workers/worker_pool.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace quillix::workers {

// One run of work over a list: work(i) for i = 0 .. count-1 on a worker pool at one priority,
// at most `parallel` items at a time, started in list order, with the results handed to one
// consumer in list order whatever order they finish in. Results wait until the consumer takes
// them, so it sees the same sequence as if the items had run one after another.
//
// The consumer (one thread, say the window thread) calls TakeReady, Stop, WaitRunning and
// Finished; the items run on the pool. Work must not touch the consumer's state: it gets the item's
// index and whatever it captured by value. The run may be destroyed while items are queued or
// running: it stops, and waits for the running ones.
template <typename Outcome> class OrderedRun {
public:
    using Work = std::function<Outcome(std::size_t index)>;

    // Starts the first items. `ready` (may be empty) is called on a worker thread whenever a
    // result has arrived, and once more when the run stops for good, so a consumer can be woken.
    OrderedRun(WorkerPool& pool, JobPriority priority, std::size_t count, unsigned parallel, Work work,
               std::function<void()> ready = {})
        : state_(std::make_shared<State>())
    {
        State& s = *state_;
        s.pool = &pool;
        s.priority = priority;
        s.parallel = std::max(1u, parallel);
        s.work = std::move(work);
        s.ready = std::move(ready);
        s.results.resize(count);
        std::lock_guard lock(s.mutex);
        SubmitMoreLocked(state_);
    }

    ~OrderedRun()
    {
        Stop();
        WaitRunning();
    }

    OrderedRun(const OrderedRun&) = delete;
    OrderedRun& operator=(const OrderedRun&) = delete;

    std::size_t Count() const { return state_->results.size(); }

    // The results that arrived after the ones taken before, up to the first still missing.
    std::vector<Outcome> TakeReady()
    {
        State& s = *state_;
        std::lock_guard lock(s.mutex);
        return TakeLocked(s);
    }

    // TakeReady, waiting until it has at least one result or nothing more can come.
    std::vector<Outcome> WaitReady()
    {
        State& s = *state_;
        std::unique_lock lock(s.mutex);
        s.changed.wait(lock, [&s] {
            return (s.taken < s.results.size() && s.results[s.taken].has_value()) || NothingMoreLocked(s);
        });
        return TakeLocked(s);
    }

    // How many results the consumer has taken.
    std::size_t Taken() const
    {
        std::lock_guard lock(state_->mutex);
        return state_->taken;
    }

    // Every result is taken, or the run stopped and every result that will come is taken.
    bool Finished() const
    {
        const State& s = *state_;
        std::lock_guard lock(s.mutex);
        return s.taken == s.results.size() || (NothingMoreLocked(s) && !NextReadyLocked(s));
    }

    // No item starts from now on; the running ones finish and their results can still be taken.
    void Stop()
    {
        std::lock_guard lock(state_->mutex);
        state_->stopped = true;
    }

    bool Stopped() const
    {
        std::lock_guard lock(state_->mutex);
        return state_->stopped;
    }

    // Blocks until no item is running.
    void WaitRunning()
    {
        State& s = *state_;
        std::unique_lock lock(s.mutex);
        s.changed.wait(lock, [&s] { return s.running == 0; });
    }

    std::size_t Running() const
    {
        std::lock_guard lock(state_->mutex);
        return state_->running;
    }

private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable changed;
        WorkerPool* pool = nullptr;
        JobPriority priority = JobPriority::Batch;
        unsigned parallel = 1;
        Work work;
        std::function<void()> ready;
        std::vector<std::optional<Outcome>> results;
        std::size_t next = 0;     // the next item to hand to the pool
        std::size_t taken = 0;    // results given to the consumer
        std::size_t pending = 0;  // handed to the pool and not yet ended (queued or running)
        std::size_t running = 0;  // started and not yet ended
        bool stopped = false;
    };

    static bool NextReadyLocked(const State& s) { return s.taken < s.results.size() && s.results[s.taken]; }

    // No further result can arrive.
    static bool NothingMoreLocked(const State& s)
    {
        return s.pending == 0 && (s.stopped || s.next == s.results.size());
    }

    static std::vector<Outcome> TakeLocked(State& s)
    {
        std::vector<Outcome> ready;
        while (NextReadyLocked(s)) {
            ready.push_back(std::move(*s.results[s.taken]));
            s.results[s.taken].reset();
            ++s.taken;
        }
        return ready;
    }

    // Keeps `parallel` items handed out; called with the mutex held.
    static void SubmitMoreLocked(const std::shared_ptr<State>& shared)
    {
        State& s = *shared;
        while (!s.stopped && s.pending < s.parallel && s.next < s.results.size()) {
            const std::size_t index = s.next++;
            ++s.pending;
            const JobId id = s.pool->Submit(s.priority, [shared, index] { RunItem(shared, index); });
            if (id == 0) {
                // The pool is shutting down: nothing more will run.
                --s.pending;
                s.stopped = true;
            }
        }
    }

    static void RunItem(const std::shared_ptr<State>& shared, std::size_t index)
    {
        State& s = *shared;
        {
            std::unique_lock lock(s.mutex);
            if (s.stopped) {
                --s.pending;
                const bool last = s.pending == 0;
                s.changed.notify_all();
                lock.unlock();
                if (last && s.ready) s.ready();
                return;
            }
            ++s.running;
        }
        std::optional<Outcome> outcome;
        try {
            outcome.emplace(s.work(index));
        } catch (...) {
            // A result stands in for the item so that the run still ends; work reports its own
            // failures in its outcome and is not meant to throw.
            outcome.emplace();
        }
        {
            std::lock_guard lock(s.mutex);
            s.results[index] = std::move(outcome);
            --s.running;
            --s.pending;
            SubmitMoreLocked(shared);
            s.changed.notify_all();
        }
        if (s.ready) s.ready();
    }

    std::shared_ptr<State> state_;
};

}  // namespace quillix::workers
