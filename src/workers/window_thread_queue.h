#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace quillix::workers {

class WindowThreadQueue;

// What a queue's senders share with it: the way to it while it lives.
struct WindowThreadLink {
    std::mutex mutex;
    WindowThreadQueue* queue = nullptr;
};

// A copyable handle a worker keeps to post calls to one WindowThreadQueue from any thread. Once
// the queue is gone, posting does nothing, so a job may outlive the window it works for.
class WindowThreadSender {
public:
    // Posts nowhere.
    WindowThreadSender() = default;

    // Any thread. `call` runs on the queue's thread after every call posted before it; false when
    // the queue is gone, and `call` is then destroyed here without running.
    bool Post(std::function<void()> call) const;
    // False once the queue is gone; a true answer may turn false the moment after. Lets a job skip
    // work that nobody would receive.
    bool Receiving() const;

private:
    friend class WindowThreadQueue;
    explicit WindowThreadSender(std::shared_ptr<WindowThreadLink> link) : link_(std::move(link)) {}

    std::shared_ptr<WindowThreadLink> link_;
};

// Hands calls from worker threads to the thread this object lives on (the window thread), in the
// order they were posted, through the senders it gives out. The calls wait in a queue of our own
// under a std::mutex rather than inside Qt's posted events: ThreadSanitizer cannot see Qt's own
// locks, and would take every result handed over through them for a data race.
//
// The object that the calls are for owns its queue, so a call runs only while its receiver lives.
class WindowThreadQueue : public QObject {
    Q_OBJECT

public:
    explicit WindowThreadQueue(QObject* parent = nullptr);
    // Waits for a sender that is posting this moment; calls still waiting never run, and senders
    // post nothing from here on.
    ~WindowThreadQueue() override;

    WindowThreadSender sender() const { return WindowThreadSender(link_); }

private:
    friend class WindowThreadSender;
    void Enqueue(std::function<void()> call);
    Q_INVOKABLE void Drain();

    std::shared_ptr<WindowThreadLink> link_;
    std::mutex mutex_;
    std::deque<std::function<void()>> pending_;
    bool drainPosted_ = false;
};

}  // namespace quillix::workers
