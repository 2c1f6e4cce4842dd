#include "gallery/thumbnail_store.h"

#include "container/container_file.h"
#include "container/file_crypto.h"
#include "crypto/secure.h"
#include "crypto/secure_memory.h"
#include "imaging/wipe_pixels.h"
#include "settings/app_options.h"
#include "workers/worker_pool.h"

#include <algorithm>
#include <mutex>

namespace quillix::gallery {

struct ThumbnailStore::SharedPassword {
    std::mutex mutex;
    // In guarded memory: it lives as long as the gallery.
    crypto::SecureString password;
    std::uint64_t generation = 0;
};

namespace {

// A thumbnail on its way to the window thread. One that never arrives (the store went first) may
// hold a decrypted picture: its last holder wipes the pixels.
struct ThumbnailInTransit {
    Thumbnail thumbnail;

    explicit ThumbnailInTransit(Thumbnail made) : thumbnail(std::move(made)) {}
    ThumbnailInTransit(const ThumbnailInTransit&) = default;
    ThumbnailInTransit(ThumbnailInTransit&&) = default;
    ThumbnailInTransit& operator=(const ThumbnailInTransit&) = delete;
    ThumbnailInTransit& operator=(ThumbnailInTransit&&) = delete;
    ~ThumbnailInTransit() { imaging::WipePixels(thumbnail.image); }
};

}  // namespace

ThumbnailStore::ThumbnailStore(const browse::FileList& files, container::FileCrypto& crypto,
                               const settings::AppOptions& options, ThumbnailStoreListener& listener)
    : files_(files), crypto_(crypto), options_(options), listener_(listener),
      password_(std::make_shared<SharedPassword>()), liveGeneration_(std::make_shared<std::atomic<int>>(0))
{
}

ThumbnailStore::~ThumbnailStore()
{
    const std::lock_guard lock(password_->mutex);
    crypto::Forget(password_->password);
    password_->generation = 0;
}

void ThumbnailStore::SetPool(workers::WorkerPool* pool)
{
    pool_ = pool;
    Pump();
}

void ThumbnailStore::Reset()
{
    slots_.assign(files_.size(), Slot{});
    schedule_.Reset(static_cast<int>(files_.size()));
    liveGeneration_->store(schedule_.Generation());
}

void ThumbnailStore::SetTileSize(int tileSize)
{
    if (tileSize == tileSize_) return;
    tileSize_ = tileSize;
    if (slots_.empty()) return;
    schedule_.Restart();
    liveGeneration_->store(schedule_.Generation());
    // A padlock needs no file: drawn at the new size now. It stays a padlock even when a password
    // is known by now, as it would without the size change.
    const QImage placeholder = PlaceholderThumbnail(tileSize_);
    const QPixmap locked = placeholder.isNull() ? QPixmap() : QPixmap::fromImage(placeholder);
    bool redrawn = false;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].kind != ThumbnailKind::Placeholder) continue;
        slots_[i].pixmap = locked;
        schedule_.Settle(static_cast<int>(i));
        redrawn = true;
    }
    if (redrawn) listener_.thumbnailsChanged();
}

void ThumbnailStore::SetVisible(int first, int last)
{
    schedule_.SetVisible(first, last);
    Pump();
}

// Two jobs per pool thread: enough that no worker waits while the window thread stores a result,
// few enough that newly visible tiles soon come next. The pool puts the viewer's pictures first.
void ThumbnailStore::Pump()
{
    if (!pool_ || (held_ && held_())) return;
    SharePassword();
    const int limit = 2 * static_cast<int>(std::max(1u, pool_->ThreadCount()));
    while (schedule_.Running() < limit) {
        const int index = schedule_.Next();
        if (index < 0) return;
        ThumbnailRequest request;
        request.path = files_[static_cast<std::size_t>(index)];
        request.fileNamePW = options_.FileNamePW;
        request.tileSize = tileSize_;
        const int generation = schedule_.Generation();
        pool_->Submit(workers::JobPriority::Thumbnail,
                      [this, toStore = fromWorkers_.sender(), password = password_, live = liveGeneration_,
                       request = std::move(request), generation, index]() mutable {
                          if (!toStore.Receiving()) return;
                          if (live->load() != generation) {
                              // Outdated before it started: only its end is told, so that it stops counting.
                              toStore.Post([this, generation, index] { Made(generation, index, 0, {}); });
                              return;
                          }
                          // Read as the job starts, so that a queued job holds no copy of it: a thumbnail made
                          // before a password was entered keeps its placeholder until the list is rebuilt.
                          std::uint64_t passwordGeneration = 0;
                          {
                              const std::lock_guard lock(password->mutex);
                              request.password.assign(password->password.data(), password->password.size());
                              passwordGeneration = password->generation;
                          }
                          ThumbnailInTransit made{MakeThumbnail(request)};
                          crypto::SecureWipe(request.password);
                          toStore.Post([this, generation, index, passwordGeneration, made = std::move(made)]() mutable {
                              Made(generation, index, passwordGeneration, std::move(made.thumbnail));
                          });
                      });
    }
}

void ThumbnailStore::Made(int generation, int index, std::uint64_t passwordGeneration, Thumbnail thumbnail)
{
    if (schedule_.Finish(generation, index) && static_cast<std::size_t>(index) < slots_.size()) {
        const bool container = container::IsEncryptedFile(files_[static_cast<std::size_t>(index)]);
        if (container && passwordGeneration != crypto_.PasswordGeneration()) {
            // Decrypted under a password forgotten since: only the placeholder may show.
            imaging::WipePixels(thumbnail.image);
            thumbnail = {ThumbnailKind::Placeholder, PlaceholderThumbnail(tileSize_)};
        }
        // A tile that was remade for another size and now gives nothing shows nothing rather
        // than a thumbnail of the old size.
        Store(index, thumbnail.kind,
              thumbnail.image.isNull() ? QPixmap() : QPixmap::fromImage(std::move(thumbnail.image)));
        listener_.thumbnailChanged(index);
    } else {
        imaging::WipePixels(thumbnail.image);
    }
    Pump();
}

void ThumbnailStore::PasswordForgotten()
{
    SharePassword();
    const QImage placeholder = PlaceholderThumbnail(tileSize_);
    const QPixmap locked = placeholder.isNull() ? QPixmap() : QPixmap::fromImage(placeholder);
    const std::size_t count = std::min(files_.size(), slots_.size());
    for (std::size_t i = 0; i < count; ++i) {
        Slot& slot = slots_[i];
        if (slot.kind != ThumbnailKind::Picture || !container::IsEncryptedFile(files_[i])) continue;
        // The pixmap's image is its only other holder, so its pixels are wiped in place.
        QImage pixels = slot.pixmap.toImage();
        slot.pixmap = locked;
        slot.kind = ThumbnailKind::Placeholder;
        imaging::WipePixels(pixels);
    }
    listener_.thumbnailsChanged();
}

void ThumbnailStore::Store(int index, ThumbnailKind kind, QPixmap pixmap)
{
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    QImage old;
    if (slot.kind == ThumbnailKind::Picture && container::IsEncryptedFile(files_[static_cast<std::size_t>(index)]))
        old = slot.pixmap.toImage();
    slot.pixmap = std::move(pixmap);
    slot.kind = kind;
    // The old pixmap's image is its only other holder, so its pixels are wiped in place.
    imaging::WipePixels(old);
}

void ThumbnailStore::SharePassword()
{
    const std::uint64_t generation = crypto_.PasswordGeneration();
    const std::lock_guard lock(password_->mutex);
    if (password_->generation == generation && generation != 0) return;
    std::string active = crypto_.ActivePassword();
    password_->password = crypto::ToSecureString(active.data(), active.size());
    crypto::SecureWipe(active);
    password_->generation = generation;
}

const QPixmap* ThumbnailStore::At(int index) const
{
    if (index < 0 || index >= static_cast<int>(slots_.size())) return nullptr;
    const Slot& slot = slots_[static_cast<std::size_t>(index)];
    return slot.pixmap.isNull() ? nullptr : &slot.pixmap;
}

ThumbnailKind ThumbnailStore::KindAt(int index) const
{
    if (index < 0 || index >= static_cast<int>(slots_.size())) return ThumbnailKind::None;
    return slots_[static_cast<std::size_t>(index)].kind;
}

}  // namespace quillix::gallery
