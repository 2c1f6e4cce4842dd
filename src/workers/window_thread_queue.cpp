#include "workers/window_thread_queue.h"

namespace quillix::workers {

WindowThreadQueue::WindowThreadQueue(QObject* parent) : QObject(parent) {}

void WindowThreadQueue::Post(std::function<void()> call)
{
    {
        const std::lock_guard lock(mutex_);
        pending_.push_back(std::move(call));
        // A drain on its way takes this call too.
        if (drainPosted_) return;
        drainPosted_ = true;
    }
    QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
}

// Takes the calls one at a time from the front, so that a call which turns a nested event loop (a
// message box) lets the later ones run there in their order. Calls posted meanwhile get a drain of
// their own, which keeps the event loop turning while workers go on posting.
void WindowThreadQueue::Drain()
{
    std::size_t count = 0;
    {
        const std::lock_guard lock(mutex_);
        drainPosted_ = false;
        count = pending_.size();
    }
    for (; count > 0; --count) {
        std::function<void()> call;
        {
            const std::lock_guard lock(mutex_);
            if (pending_.empty()) return;
            call = std::move(pending_.front());
            pending_.pop_front();
        }
        call();
    }
}

}  // namespace quillix::workers
