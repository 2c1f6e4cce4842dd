#pragma once

#include "browse/folder_scan.h"
#include "gallery/thumbnail_maker.h"
#include "gallery/thumbnail_schedule.h"
#include "workers/window_thread_queue.h"

#include <QPixmap>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillix::container {
class FileCrypto;
}

namespace quillix::settings {
struct AppOptions;
}

namespace quillix::workers {
class WorkerPool;
}

namespace quillix::gallery {

// Who shows the thumbnails: told on the window thread which tiles have a new one.
class ThumbnailStoreListener {
public:
    virtual ~ThumbnailStoreListener() = default;
    virtual void thumbnailChanged(int index) = 0;
    // Several tiles at once (containers put back to their placeholder).
    virtual void thumbnailsChanged() = 0;
};

// The thumbnails of the listed files: one slot per file, made on the worker pool in the order of
// a ThumbnailSchedule, and stored on the thread the store lives on (the window thread), where
// every call is made. Results of an older list, and of a store that is gone, are dropped; a
// container's picture decrypted under a password forgotten since never shows.
class ThumbnailStore {
public:
    // `files` is the list the tiles show and outlives the store; `options` gives "Password+
    // FileName" as each job is handed out.
    ThumbnailStore(const browse::FileList& files, container::FileCrypto& crypto, const settings::AppOptions& options,
                   ThumbnailStoreListener& listener);
    // Jobs that start from here on find no password; the results of those running are dropped.
    ~ThumbnailStore();
    ThumbnailStore(const ThumbnailStore&) = delete;
    ThumbnailStore& operator=(const ThumbnailStore&) = delete;

    // Where the jobs run; none are handed out without a pool.
    void SetPool(workers::WorkerPool* pool);
    // While `held` answers true no job is handed out (the window is locked, or a batch run works
    // on the files); Pump after it turns false.
    void SetHold(std::function<bool()> held) { held_ = std::move(held); }
    // The tile edge thumbnails are made for. A new size makes the list's thumbnails anew as a new
    // generation (results still on their way for the old size are dropped); until a tile's new
    // thumbnail arrives its old one stays, for the painter to scale. Padlocks are redrawn at once
    // and stay padlocks. Jobs start with the next SetVisible or Pump.
    void SetTileSize(int tileSize);

    // The list was rebuilt, or its files changed: every slot empty, made anew from the start.
    void Reset();
    // Tiles first..last (inclusive) are in view and come first; hands out jobs.
    void SetVisible(int first, int last);
    // Keeps two jobs per pool thread handed out.
    void Pump();
    // The password was forgotten: jobs read none from now on, and every container's tile shows
    // its placeholder again.
    void PasswordForgotten();

    // The thumbnail of tile `index`: null until it is made, and for files that give none.
    const QPixmap* At(int index) const;
    ThumbnailKind KindAt(int index) const;
    // Every thumbnail of the list is made (or found impossible).
    bool Complete() const { return schedule_.Complete(); }
    int Generation() const { return schedule_.Generation(); }

private:
    struct Slot {
        ThumbnailKind kind = ThumbnailKind::None;
        QPixmap pixmap;
    };
    // The password jobs read as they start, and its generation: one copy for all of them, which
    // forgetting wipes, rather than one in every queued job.
    struct SharedPassword;

    void SharePassword();
    // Replaces a slot's thumbnail; a container's old pixels are wiped.
    void Store(int index, ThumbnailKind kind, QPixmap pixmap);
    void Made(int generation, int index, std::uint64_t passwordGeneration, Thumbnail thumbnail);

    const browse::FileList& files_;
    container::FileCrypto& crypto_;
    const settings::AppOptions& options_;
    ThumbnailStoreListener& listener_;
    workers::WorkerPool* pool_ = nullptr;
    std::function<bool()> held_;
    int tileSize_ = 128;
    std::vector<Slot> slots_;
    ThumbnailSchedule schedule_;
    std::shared_ptr<SharedPassword> password_;
    // The schedule's generation, read by jobs as they start: a job queued for an older list or
    // size ends at once, so that steps of the wheel in a row do not pile up work.
    std::shared_ptr<std::atomic<int>> liveGeneration_;
    // Declared last so that it goes first: no result reaches a store being destroyed.
    workers::WindowThreadQueue fromWorkers_;
};

}  // namespace quillix::gallery
