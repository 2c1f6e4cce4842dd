#include "viewer/picture_pipeline.h"

#include "container/container_file.h"
#include "container/file_crypto.h"
#include "crypto/secure.h"
#include "imaging/secure_picture.h"
#include "viewer/picture_scaling.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>

namespace quillix::viewer {
namespace {

constexpr const char* kUnknownError = "Unknwon error";

std::int64_t Nanoseconds(const timespec& t)
{
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

FileStamp StampOf(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
    return {true, st.st_dev, st.st_ino, st.st_size, Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

DecodedPicture::~DecodedPicture()
{
    if (!encrypted) return;
    imaging::WipePixels(picture.still);
    imaging::WipePixels(fitted);
    if (picture.gif) {
        for (imaging::GifFrame& frame : picture.gif->frames)
            imaging::WipePixels(frame.image);
    }
}

std::shared_ptr<DecodedPicture> DecodeForViewer(const std::string& path, const container::FileCrypto& crypto,
                                                const PictureSettings& settings)
{
    auto decoded = std::make_shared<DecodedPicture>();
    decoded->path = path;
    // Taken before reading: a change during the decode makes the stamp stale, never the picture.
    decoded->stamp = StampOf(path);
    decoded->passwordGeneration = crypto.PasswordGeneration();
    decoded->fileNamePW = settings.fileNamePW;
    decoded->encrypted = container::IsEncryptedFile(path);

    // The fitted copy of a container's picture is made in guarded memory as its picture is.
    const imaging::ContainerPixels pixels(decoded->encrypted);
    Result<LoadedPicture> loaded = LoadPicture(path, crypto, settings.fileNamePW);
    if (!loaded) {
        decoded->failure = loaded.error().message.empty() ? kUnknownError : loaded.error().message;
        decoded->locked = decoded->encrypted && WantsPassword(loaded.error());
        return decoded;
    }
    decoded->picture = std::move(loaded.value());
    const QImage& still = decoded->picture.still;
    if (!still.isNull()) {
        const Size source{still.width(), still.height()};
        const Size drawn = DrawnSize(source, FitScale(source, settings.screen, settings.scaling));
        if (drawn.width > 0 && drawn.height > 0 && (drawn.width < source.width || drawn.height < source.height))
            decoded->fitted = ShrinkImage(still, QSize(drawn.width, drawn.height));
    }
    return decoded;
}

PicturePipeline::PicturePipeline(workers::WorkerPool& pool, const container::FileCrypto& crypto, Decode decode,
                                 Ready ready)
    : pool_(pool), crypto_(crypto), decode_(std::move(decode)), ready_(std::move(ready)),
      running_(std::make_shared<RunningJobs>())
{
}

PicturePipeline::~PicturePipeline()
{
    for (const Job& job : jobs_)
        pool_.Cancel(job.id);
    if (scaleJob_ != 0) pool_.Cancel(scaleJob_);
    std::unique_lock lock(running_->mutex);
    running_->open = false;
    running_->idle.wait(lock, [this] { return running_->active == 0; });
}

void PicturePipeline::Request(const std::string& path, const std::string& next, const PictureSettings& settings)
{
    settings_ = settings;
    wanted_ = path;
    next_ = next;
    DropJobsServingNeither();
    if (const Picture kept = FindKept(path)) {
        Show(kept);
        return;
    }
    for (const Job& job : jobs_) {
        if (job.path == path) {
            // Usually the preload the user stepped onto before it finished: it goes first now.
            const workers::JobId ids[] = {job.id};
            pool_.MoveToFront(ids);
            return;
        }
    }
    Start(path, true);
}

void PicturePipeline::CancelPending()
{
    wanted_.clear();
    for (const Job& job : jobs_)
        pool_.Cancel(job.id);
    jobs_.clear();
}

void PicturePipeline::Forget()
{
    shown_.reset();
    previous_.reset();
    preloaded_.reset();
    // Decodes under way may have read the file as it was; their results are dropped.
    const std::string wanted = wanted_;
    CancelPending();
    if (!wanted.empty()) {
        wanted_ = wanted;
        Start(wanted_, true);
    }
}

void PicturePipeline::Trim()
{
    previous_.reset();
    preloaded_.reset();
    next_.clear();
    DropJobsServingNeither();
}

std::vector<std::string> PicturePipeline::KeptPaths() const
{
    std::vector<std::string> paths;
    for (const Picture& picture : {shown_, previous_, preloaded_}) {
        if (picture && std::find(paths.begin(), paths.end(), picture->path) == paths.end())
            paths.push_back(picture->path);
    }
    return paths;
}

void PicturePipeline::DropJobsServingNeither()
{
    std::erase_if(jobs_, [this](const Job& job) {
        if (job.path == wanted_ || job.path == next_) return false;
        // A decode that already runs cannot be stopped; its result is dropped when it arrives.
        pool_.Cancel(job.id);
        return true;
    });
}

workers::JobId PicturePipeline::Submit(std::function<void()> work)
{
    return pool_.Submit(workers::JobPriority::Viewer, [running = running_, work = std::move(work)] {
        {
            std::lock_guard lock(running->mutex);
            if (!running->open) return;
            ++running->active;
        }
        struct Finished {
            RunningJobs& running;
            ~Finished()
            {
                std::lock_guard lock(running.mutex);
                --running.active;
                running.idle.notify_all();
            }
        } finished{*running};
        work();
    });
}

void PicturePipeline::Start(const std::string& path, bool urgent)
{
    const std::uint64_t ticket = ++lastTicket_;
    const workers::JobId id =
        Submit([this, decode = decode_, toPipeline = fromWorkers_.sender(), path, settings = settings_, ticket] {
            std::shared_ptr<DecodedPicture> decoded;
            try {
                decoded = decode(path, settings);
            } catch (const std::exception& error) {
                // Memory running out for a huge picture costs that picture only.
                decoded = std::make_shared<DecodedPicture>();
                decoded->path = path;
                decoded->failure = error.what();
            }
            if (!decoded) return;
            if (decoded->failure.empty() && decoded->picture.still.isNull() && !decoded->picture.gif &&
                !decoded->picture.webpAnimation)
                decoded->failure = kUnknownError;
            // Moved into the posted call: once it is posted, this worker holds no pixels of it.
            Picture picture = std::move(decoded);
            toPipeline.Post([this, ticket, picture = std::move(picture)] { Arrived(ticket, picture); });
        });
    if (id == 0) return;  // the pool has shut down: the program is ending
    jobs_.push_back(Job{path, id, ticket});
    if (urgent) {
        const workers::JobId ids[] = {id};
        pool_.MoveToFront(ids);
    }
}

void PicturePipeline::RequestScaled(const QImage& source, QSize size, bool container)
{
    const qint64 key = source.cacheKey();
    if (source.isNull() || size.isEmpty() || (scaleJob_ != 0 && key == scaleKey_ && size == scaleSize_)) return;
    if (scaleJob_ != 0) pool_.Cancel(scaleJob_);
    const std::uint64_t ticket = ++lastTicket_;
    scaleTicket_ = ticket;
    scaleKey_ = key;
    scaleSize_ = size;
    scaleJob_ = Submit(
        [this, toPipeline = fromWorkers_.sender(), source = QImage(source), size, key, ticket, container]() mutable {
            const imaging::ContainerPixels pixels(container);
            QImage scaled = ShrinkImage(source, size);
            // Let go at once; wiped here when the picture was dropped meanwhile (its last holder).
            imaging::WipePixels(source);
            toPipeline.Post([this, ticket, key, scaled = std::move(scaled)] { ScaledArrived(ticket, key, scaled); });
        });
    // What is on screen comes before a picture decoded ahead.
    const workers::JobId ids[] = {scaleJob_};
    pool_.MoveToFront(ids);
}

void PicturePipeline::ScaledArrived(std::uint64_t ticket, qint64 sourceKey, QImage scaled)
{
    if (ticket != scaleTicket_) {
        imaging::WipePixels(scaled);
        return;
    }
    scaleJob_ = 0;
    if (scaledReady_) scaledReady_(sourceKey, std::move(scaled));
}

void PicturePipeline::Arrived(std::uint64_t ticket, Picture picture)
{
    const auto job = std::find_if(jobs_.begin(), jobs_.end(), [ticket](const Job& j) { return j.ticket == ticket; });
    if (job == jobs_.end()) return;  // superseded or forgotten
    jobs_.erase(job);
    if (picture->path == wanted_) {
        Show(std::move(picture));
    } else if (picture->path == next_) {
        preloaded_ = std::move(picture);
    }
}

void PicturePipeline::Show(Picture picture)
{
    const std::string& path = picture->path;
    Picture previous = previous_;
    if (shown_ && shown_->path != path) previous = shown_;
    if (previous && previous->path == path) previous.reset();
    Picture preloaded;
    if (!next_.empty() && next_ != path) {
        for (const Picture& kept : {preloaded_, shown_, previous_}) {
            if (kept && kept->path == next_) {
                preloaded = kept;
                break;
            }
        }
    }
    shown_ = picture;
    previous_ = std::move(previous);
    preloaded_ = std::move(preloaded);
    wanted_.clear();
    ready_(std::move(picture));
    StartPreload();
}

void PicturePipeline::StartPreload()
{
    if (next_.empty() || !wanted_.empty() || (shown_ && shown_->path == next_)) return;
    if (FindKept(next_)) return;
    for (const Job& job : jobs_) {
        if (job.path == next_) return;
    }
    Start(next_, false);
}

bool PicturePipeline::Valid(const Picture& picture, const std::string& path) const
{
    if (!picture || picture->path != path || picture->stamp != StampOf(path)) return false;
    return !picture->encrypted ||
           (picture->passwordGeneration == crypto_.PasswordGeneration() && picture->fileNamePW == settings_.fileNamePW);
}

PicturePipeline::Picture PicturePipeline::FindKept(const std::string& path) const
{
    for (const Picture& picture : {shown_, previous_, preloaded_}) {
        if (picture && picture->path == path && Valid(picture, path)) return picture;
    }
    return nullptr;
}

}  // namespace quillix::viewer
