#pragma once

#include "imaging/wipe_pixels.h"
#include "viewer/image_loader.h"
#include "viewer/zoom_math.h"
#include "workers/window_thread_queue.h"
#include "workers/worker_pool.h"

#include <QImage>

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quillix::container {
class FileCrypto;
}

namespace quillix::viewer {

// What stat says of a file's contents; a kept picture is shown again only while this holds.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;

    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);

// What a decode needs from the window, read on the window thread when the picture is asked for.
struct PictureSettings {
    // The screen and scaling mode the fit is measured with, for the picture's fitted copy.
    Size screen;
    ScalingMode scaling;
    bool fileNamePW = false;
};

// One file decoded for the viewer: its picture, or the notice its failure shows.
struct DecodedPicture {
    std::string path;
    FileStamp stamp;
    LoadedPicture picture;
    // Empty on success.
    std::string failure;
    // A container that another password would open: `failure` says what to do, over a padlock.
    bool locked = false;
    // The still picture scaled (smoothly) to its size at the fit, when that is smaller, so that
    // the first paint after a step need not shrink 24 megapixels on the window thread.
    QImage fitted;
    // A container's picture depends on the password it was decrypted with, and on the option
    // that puts the file name into the password text.
    bool encrypted = false;
    std::uint64_t passwordGeneration = 0;
    bool fileNamePW = false;

    bool failed() const { return !failure.empty(); }

    // A container's pixels are wiped where this is their last holder.
    DecodedPicture() = default;
    DecodedPicture(const DecodedPicture&) = default;
    DecodedPicture& operator=(const DecodedPicture&) = default;
    ~DecodedPicture();
};

// Decodes `path` for the viewer: LoadPicture plus the stamp and the fitted copy. Any thread.
std::shared_ptr<DecodedPicture> DecodeForViewer(const std::string& path, const container::FileCrypto& crypto,
                                                const PictureSettings& settings);

// The viewer's pictures, decoded on the shared worker pool so that the window thread never waits
// for a decoder. The window asks for a picture and gets it through `ready` on its own thread; a
// newer request supersedes an older one (a queued decode is cancelled, a running one's result is
// dropped). Once a picture is shown, its neighbour in the direction of travel is decoded ahead.
// At most three pictures are kept: the shown one, the one shown before it, and the preloaded one.
//
// Every member is called on the thread that made the pipeline (the window thread), where `ready`
// runs too, from its event loop.
class PicturePipeline {
public:
    using Ready = std::function<void(std::shared_ptr<const DecodedPicture>)>;
    using Decode = std::function<std::shared_ptr<DecodedPicture>(const std::string& path, const PictureSettings&)>;
    // A smooth copy asked for with RequestScaled: the source's cacheKey and the copy.
    using ScaledReady = std::function<void(qint64 sourceKey, QImage scaled)>;

    // `decode` runs on the workers; it must stay callable until the pipeline is destroyed.
    PicturePipeline(workers::WorkerPool& pool, const container::FileCrypto& crypto, Decode decode, Ready ready);
    // Cancels what is queued and waits for this pipeline's running decodes, which use `decode`.
    ~PicturePipeline();
    PicturePipeline(const PicturePipeline&) = delete;
    PicturePipeline& operator=(const PicturePipeline&) = delete;

    // Asks for `path`, and for `next` (empty for none) to be decoded ahead once `path` is shown.
    // A kept picture that is still valid is handed to `ready` before this returns.
    void Request(const std::string& path, const std::string& next, const PictureSettings& settings);
    // A request waits for its picture.
    bool Pending() const { return !wanted_.empty(); }
    const std::string& PendingPath() const { return wanted_; }
    // Stops waiting for the pending picture.
    void CancelPending();
    // Forgets every kept picture (a reload, a file changed by a command, the viewer left).
    void Forget();
    // Keeps only the shown picture.
    void Trim();

    // Asks for `source` scaled smoothly (area-averaged) to `size`, for a zoom the fitted copy does
    // not match; `scaledReady` gets it on the window thread. A newer request replaces an older one
    // still queued; asking again for the same copy does nothing. The copy of a container's
    // picture (`container`) is made in guarded memory.
    void RequestScaled(const QImage& source, QSize size, bool container = false);
    void OnScaled(ScaledReady scaledReady) { scaledReady_ = std::move(scaledReady); }

    // What tests and the benchmark read.
    std::vector<std::string> KeptPaths() const;
    std::size_t DecodesInFlight() const { return jobs_.size(); }

private:
    // The jobs that run now, shared with them, so that the destructor can wait for those that
    // use `decode` and keep the later ones from starting.
    struct RunningJobs {
        std::mutex mutex;
        std::condition_variable idle;
        bool open = true;
        int active = 0;
    };
    struct Job {
        std::string path;
        workers::JobId id = 0;
        std::uint64_t ticket = 0;
    };
    using Picture = std::shared_ptr<const DecodedPicture>;

    void Start(const std::string& path, bool urgent);
    void Arrived(std::uint64_t ticket, Picture picture);
    void ScaledArrived(std::uint64_t ticket, qint64 sourceKey, QImage scaled);
    // Runs `work` on the pool unless the pipeline is gone by then, counted so that the destructor
    // can wait for it.
    workers::JobId Submit(std::function<void()> work);
    void Show(Picture picture);
    void StartPreload();
    bool Valid(const Picture& picture, const std::string& path) const;
    Picture FindKept(const std::string& path) const;
    void DropJobsServingNeither();

    workers::WorkerPool& pool_;
    const container::FileCrypto& crypto_;
    Decode decode_;
    Ready ready_;
    std::shared_ptr<RunningJobs> running_;

    PictureSettings settings_;
    std::string wanted_;
    std::string next_;
    Picture shown_, previous_, preloaded_;
    std::vector<Job> jobs_;
    std::uint64_t lastTicket_ = 0;

    ScaledReady scaledReady_;
    workers::JobId scaleJob_ = 0;
    std::uint64_t scaleTicket_ = 0;
    qint64 scaleKey_ = 0;
    QSize scaleSize_;
    // The jobs' results; declared last so that it goes first, and none reaches a pipeline whose
    // members are being destroyed.
    workers::WindowThreadQueue fromWorkers_;
};

}  // namespace quillix::viewer
