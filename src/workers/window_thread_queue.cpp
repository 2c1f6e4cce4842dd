#include "workers/window_thread_queue.h"

namespace quillix::workers {

WindowThreadQueue::WindowThreadQueue(QObject* parent) : QObject(parent) {}

void WindowThreadQueue::Post(std::function<void()> call)
{
    bool first = false;
    {
        const std::lock_guard lock(mutex_);
        first = pending_.empty();
        pending_.push_back(std::move(call));
    }
    // One wake-up per batch: a drain already on its way takes this call too.
    if (first) QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
}

void WindowThreadQueue::Drain()
{
    std::vector<std::function<void()>> calls;
    {
        const std::lock_guard lock(mutex_);
        calls.swap(pending_);
    }
    for (std::function<void()>& call : calls)
        call();
}

}  // namespace quillix::workers
