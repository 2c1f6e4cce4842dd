#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <span>
#include <thread>
#include <unordered_map>
#include <vector>

// The program's one pool of worker threads: slow work (decoding, thumbnails, batch file work)
// runs here so that the window thread never waits for it.
namespace quillix::workers {

// Who a job serves; every queued job of an earlier priority starts before any of a later one.
enum class JobPriority { Viewer, Batch, Thumbnail };
inline constexpr std::size_t kJobPriorityCount = 3;

// 0 is never a job.
using JobId = std::uint64_t;

class WorkerPool {
public:
    // `threads` workers, or one per core for 0. At most that many jobs ever run at once.
    explicit WorkerPool(unsigned threads = 0);
    // Shutdown().
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Queues `job` behind the queued jobs of its priority. 0 (and the job dropped) after Shutdown.
    // A job may submit further jobs; an exception it throws ends that job only.
    JobId Submit(JobPriority priority, std::function<void()> job);

    // Takes a queued job out of the queue; it never runs. False when it already started, ended,
    // was cancelled before, or never existed.
    bool Cancel(JobId id);

    // Moves the queued ones of `ids` to the front of their priority, in the order given (the
    // first runs first). How many were still queued.
    std::size_t MoveToFront(std::span<const JobId> ids);

    // Moves a queued job to the back of another priority. False when it is no longer queued.
    bool SetPriority(JobId id, JobPriority priority);

    // Drops every queued job, waits for the running ones to end and joins the threads. Safe to
    // call twice; later submissions are refused.
    void Shutdown();

    // Waits until nothing is queued or running.
    void WaitIdle();

    unsigned ThreadCount() const { return static_cast<unsigned>(threads_.size()); }
    std::size_t QueuedCount() const;
    std::size_t RunningCount() const;
    // How many jobs were ever accepted: a change tells that work was handed out meanwhile.
    std::uint64_t SubmittedCount() const;
    // Jobs that ended by an exception.
    std::uint64_t FailedCount() const;

private:
    struct Job {
        JobId id = 0;
        std::function<void()> work;
    };
    using Queue = std::list<Job>;
    struct Place {
        std::size_t priority = 0;
        Queue::iterator at;
    };

    void Run();
    std::size_t QueuedLocked() const;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    Queue queues_[kJobPriorityCount];
    std::unordered_map<JobId, Place> queued_;
    JobId lastId_ = 0;
    std::size_t running_ = 0;
    std::uint64_t failed_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace quillix::workers
