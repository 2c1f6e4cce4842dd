#include "workers/window_thread_queue.h"

namespace quillix::workers {

bool WindowThreadSender::Post(std::function<void()> call) const
{
    if (!link_) return false;
    {
        const std::lock_guard lock(link_->mutex);
        if (link_->queue) {
            link_->queue->Enqueue(std::move(call));
            return true;
        }
    }
    // Whatever the call holds is let go outside the lock.
    call = nullptr;
    return false;
}

bool WindowThreadSender::Receiving() const
{
    if (!link_) return false;
    const std::lock_guard lock(link_->mutex);
    return link_->queue != nullptr;
}

WindowThreadQueue::WindowThreadQueue(QObject* parent) : QObject(parent), link_(std::make_shared<WindowThreadLink>())
{
    link_->queue = this;
}

WindowThreadQueue::~WindowThreadQueue()
{
    const std::lock_guard lock(link_->mutex);
    link_->queue = nullptr;
}

void WindowThreadQueue::Enqueue(std::function<void()> call)
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
// their own, which keeps the event loop turning while workers go on posting. A call may destroy
// the queue's owner and with it the queue: the link, held here, tells the drain to stop.
void WindowThreadQueue::Drain()
{
    const std::shared_ptr<WindowThreadLink> link = link_;
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
        call = nullptr;
        const std::lock_guard lock(link->mutex);
        if (!link->queue) return;
    }
}

}  // namespace quillix::workers
