#pragma once

#include "common/result.h"
#include "crypto/secure_memory.h"
#include "workers/window_thread_queue.h"

#include <QColorSpace>
#include <QImage>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QTimer;
struct WebPAnimDecoder;

namespace quillix::workers {
class WorkerPool;
}

namespace quillix::imaging {

// Shows a WebP file, still or animated, as one frame picture; an animation advances on a timer at
// `Speed`, looping as the file asks. The owner repaints on frameChanged.
// Given a worker pool, the player decodes the next frame there while the current one is shown, and
// the timer only swaps it in; without one, each tick decodes inline.
class WebPPlayer : public QObject {
    Q_OBJECT

public:
    explicit WebPPlayer(QObject* parent = nullptr);
    // A frame decode still running on the pool is discarded; it never reaches the player.
    ~WebPPlayer() override;

    // Frames after the first of each load are decoded ahead on `pool` (null: inline), from the
    // next frame requested on. The pool must stay alive while the player plays.
    void setPool(workers::WorkerPool* pool) { pool_ = pool; }
    workers::WorkerPool* pool() const { return pool_; }

    // Still or animated; false (and stopped) when the file cannot be shown.
    bool LoadFromFile(const std::string& path);
    // The same for a WebP held in memory; the bytes are copied. A container's (`fromContainer`)
    // frames are kept in guarded memory (ContainerPixels).
    bool LoadFromBytes(std::span<const std::uint8_t> bytes, bool fromContainer = false);

    // Starts an animation with its first frame shown. From a file, each new pass reads the file
    // again; from memory, the player keeps a copy of the bytes for the passes.
    bool LoadAnimated(const std::string& path);
    bool LoadAnimated(std::span<const std::uint8_t> bytes, bool fromContainer = false);

    // Ends playing and releases the decoder and bytes; the frame stays.
    void Stop();
    // Stop, then forget the frame, as when the shown image is left.
    void Clear();
    // Pauses or resumes a playing animation; nothing otherwise.
    void TogglePause();
    bool HasFrame() const;

    // The timer's handler: the next frame, a new pass, or the end of playing. With a pool, a frame
    // not decoded yet is shown as soon as it arrives.
    void Tick();
    // With a pool: a frame decode was handed out and has not come back yet.
    bool decoding() const { return inFlight_; }

    const QImage& frame() const { return frame_; }
    int width() const { return width_; }
    int height() const { return height_; }
    bool playing() const { return playing_; }
    bool paused() const { return paused_; }
    bool animated() const { return animated_; }
    // From the file: 0 endless, n plays n passes.
    std::uint32_t loopCount() const { return loopCount_; }
    int passesDone() const { return passesDone_; }

    double Speed() const { return speed_; }
    // Factor on playback speed, used from the next frame; values not above 0 are ignored.
    void setSpeed(double speed);

    // Null until the first animation was loaded; then it lives as long as the player.
    const QTimer* timer() const { return timer_; }

signals:
    void frameChanged();

private:
    struct DecoderDeleter {
        void operator()(WebPAnimDecoder* decoder) const;
    };
    enum class Source { None, File, Memory };
    // The bytes and the decoder reading them. Only one thread uses it at a time: the window thread
    // while no decode is handed out, else the job; the last owner wipes the bytes.
    struct Stream {
        ~Stream();
        // Wipes the decoder's canvas, then lets the decoder go.
        void DropDecoder();
        Source source = Source::None;
        std::string fileName;
        bool fromContainer = false;
        crypto::SecureBytes bytes;
        std::unique_ptr<WebPAnimDecoder, DecoderDeleter> decoder;
        // What the file's profile says its frames' colours mean.
        QColorSpace colourSpace;
        // The decoder's canvas, as its last frame handed it out.
        std::uint8_t* canvas = nullptr;
        std::size_t canvasSize = 0;
    };
    // One decoding step's outcome, made on whichever thread decoded.
    struct Step {
        enum Kind { Frame, NewPass, FrameFailed, PassFailed, Finished } kind = Finished;
        QImage picture;
        int timestamp = 0;
        int width = 0, height = 0;
        std::uint32_t loopCount = 0;
    };
    // A file that says it is animated plays as one when it can; anything else is a still picture.
    bool LoadStillOrAnimated(bool looksAnimated, const std::function<bool()>& animate,
                             const std::function<Result<QImage>()>& still);
    bool LoadAnimatedFile(const std::string& path);
    bool StartPlaying();
    // A new decoder on the stream's bytes (read again for a file) and its first frame.
    static Step OpenPass(Stream& stream, bool reread);
    // The next frame, else a new pass when `mayStartPass`, else the end.
    static Step Advance(Stream& stream, bool mayStartPass);
    bool MayStartPass() const;
    // Hands the next decode to the pool; false when there is none to use.
    bool RequestNext();
    void StepDecoded(std::uint64_t generation, Step step);
    void ShowStep(Step step);
    void ShowStill(QImage picture);
    void StopTimer();

    bool playing_ = false;
    bool paused_ = false;
    bool animated_ = false;
    int width_ = 0, height_ = 0;
    std::uint32_t loopCount_ = 0;
    QImage frame_;
    double speed_ = 0.5;
    std::shared_ptr<Stream> stream_;
    int lastTimestamp_ = 0;
    int passesDone_ = 0;
    QTimer* timer_ = nullptr;

    workers::WorkerPool* pool_ = nullptr;
    // Bumped by Stop, so a decode handed out before it is discarded when it arrives.
    std::uint64_t generation_ = 0;
    bool inFlight_ = false;
    // The timer fired before the decode arrived.
    bool waiting_ = false;
    std::optional<Step> ready_;
    // Decoded frames; declared last so that it goes first, and no frame reaches a player whose
    // members are being destroyed.
    workers::WindowThreadQueue fromWorkers_;
};

}  // namespace quillix::imaging
