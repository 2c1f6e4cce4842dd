#include "workers/worker_pool.h"

#include <algorithm>

namespace quillix::workers {

WorkerPool::WorkerPool(unsigned threads)
{
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i)
        threads_.emplace_back([this] { Run(); });
}

WorkerPool::~WorkerPool()
{
    Shutdown();
}

JobId WorkerPool::Submit(JobPriority priority, std::function<void()> job)
{
    const auto level = static_cast<std::size_t>(priority);
    if (level >= kJobPriorityCount || !job) return 0;
    JobId id = 0;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return 0;
        id = ++lastId_;
        Queue& queue = queues_[level];
        queue.push_back(Job{id, std::move(job)});
        queued_.emplace(id, Place{level, std::prev(queue.end())});
    }
    wake_.notify_one();
    return id;
}

bool WorkerPool::Cancel(JobId id)
{
    // The job's captures are released outside the lock: their destructors may call back in.
    Job dropped;
    {
        std::lock_guard lock(mutex_);
        const auto found = queued_.find(id);
        if (found == queued_.end()) return false;
        Queue& queue = queues_[found->second.priority];
        dropped = std::move(*found->second.at);
        queue.erase(found->second.at);
        queued_.erase(found);
        if (QueuedLocked() == 0 && running_ == 0) idle_.notify_all();
    }
    return true;
}

std::size_t WorkerPool::MoveToFront(std::span<const JobId> ids)
{
    std::lock_guard lock(mutex_);
    std::size_t moved = 0;
    // Walking backwards and splicing each to the front leaves the first id in front.
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
        const auto found = queued_.find(*it);
        if (found == queued_.end()) continue;
        Queue& queue = queues_[found->second.priority];
        queue.splice(queue.begin(), queue, found->second.at);
        ++moved;
    }
    return moved;
}

bool WorkerPool::SetPriority(JobId id, JobPriority priority)
{
    const auto level = static_cast<std::size_t>(priority);
    if (level >= kJobPriorityCount) return false;
    std::lock_guard lock(mutex_);
    const auto found = queued_.find(id);
    if (found == queued_.end()) return false;
    Queue& to = queues_[level];
    to.splice(to.end(), queues_[found->second.priority], found->second.at);
    found->second.priority = level;
    return true;
}

void WorkerPool::Shutdown()
{
    Queue dropped[kJobPriorityCount];
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (std::size_t i = 0; i < kJobPriorityCount; ++i)
            dropped[i].swap(queues_[i]);
        queued_.clear();
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
    std::lock_guard lock(mutex_);
    idle_.notify_all();
}

void WorkerPool::WaitIdle()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return (QueuedLocked() == 0 && running_ == 0) || (stopping_ && running_ == 0); });
}

std::size_t WorkerPool::QueuedCount() const
{
    std::lock_guard lock(mutex_);
    return QueuedLocked();
}

std::size_t WorkerPool::QueuedLocked() const
{
    return queued_.size();
}

std::size_t WorkerPool::RunningCount() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

std::uint64_t WorkerPool::SubmittedCount() const
{
    std::lock_guard lock(mutex_);
    return lastId_;
}

std::uint64_t WorkerPool::FailedCount() const
{
    std::lock_guard lock(mutex_);
    return failed_;
}

void WorkerPool::Run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
        if (stopping_) return;
        Queue* queue = nullptr;
        for (Queue& candidate : queues_) {
            if (!candidate.empty()) {
                queue = &candidate;
                break;
            }
        }
        Job job = std::move(queue->front());
        queue->pop_front();
        queued_.erase(job.id);
        ++running_;
        lock.unlock();

        bool threw = false;
        try {
            job.work();
        } catch (...) {
            // A failing job must not take its worker with it; the job reports its own failures.
            threw = true;
        }
        job.work = nullptr;

        lock.lock();
        --running_;
        if (threw) ++failed_;
        if (queued_.empty() && running_ == 0) idle_.notify_all();
    }
}

}  // namespace quillix::workers
