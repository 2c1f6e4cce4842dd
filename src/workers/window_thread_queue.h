#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

namespace quillix::workers {

// Hands calls from worker threads to the thread this object lives on (the window thread), in the
// order they were posted. The calls wait in a queue of our own under a std::mutex rather than
// inside Qt's posted events: ThreadSanitizer cannot see Qt's own locks, and would take every
// result handed over through them for a data race.
class WindowThreadQueue : public QObject {
    Q_OBJECT

public:
    explicit WindowThreadQueue(QObject* parent = nullptr);

    // Any thread. `call` runs on this object's thread, after every call posted before it; calls
    // still waiting when the object is destroyed never run.
    void Post(std::function<void()> call);

private:
    Q_INVOKABLE void Drain();

    std::mutex mutex_;
    std::deque<std::function<void()>> pending_;
    bool drainPosted_ = false;
};

}  // namespace quillix::workers
