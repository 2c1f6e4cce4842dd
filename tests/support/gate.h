#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace quillix::test {

// Holds the threads that reach it until it is opened, so that what is queued behind them stays
// queued.
class Gate {
public:
    void Open()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    void Pass()
    {
        std::unique_lock lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
    }
    // Waits until a thread stands at the gate.
    bool WaitEntered()
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return entered_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    bool entered_ = false;
};

}  // namespace quillix::test
