#pragma once

#include "common/result.h"

#include <QImage>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

class QTimer;
struct WebPAnimDecoder;

namespace quillix::imaging {

// Shows a WebP file, still or animated, as one frame picture; an animation advances on a timer at
// `Speed`, looping as the file asks. The owner repaints on frameChanged.
class WebPPlayer : public QObject {
    Q_OBJECT

public:
    explicit WebPPlayer(QObject* parent = nullptr);
    ~WebPPlayer() override;

    // Still or animated; false (and stopped) when the file cannot be shown.
    bool LoadFromFile(const std::string& path);
    // The same for a WebP held in memory, such as a decrypted one; the bytes are copied.
    bool LoadFromBytes(std::span<const std::uint8_t> bytes);

    // Starts an animation with its first frame shown. From a file, each new pass reads the file
    // again; from memory, the player keeps a copy of the bytes for the passes.
    bool LoadAnimated(const std::string& path);
    bool LoadAnimated(std::span<const std::uint8_t> bytes);

    // Ends playing and releases the decoder and bytes; the frame stays.
    void Stop();
    // Stop, then forget the frame, as when the shown image is left.
    void Clear();
    // Pauses or resumes a playing animation; nothing otherwise.
    void TogglePause();
    bool HasFrame() const;

    // The timer's handler: the next frame, a new pass, or the end of playing.
    void Tick();

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

    // A file that says it is animated plays as one when it can; anything else is a still picture.
    bool LoadStillOrAnimated(bool looksAnimated, const std::function<bool()>& animate,
                             const std::function<Result<QImage>()>& still);
    bool LoadAnimatedFile(const std::string& path, bool keepPasses);
    bool StartDecoder(bool keepPasses);
    void ShowStill(QImage picture);
    void ReleaseBytes();
    void StopTimer();

    bool playing_ = false;
    bool paused_ = false;
    bool animated_ = false;
    int width_ = 0, height_ = 0;
    std::uint32_t loopCount_ = 0;
    QImage frame_;
    double speed_ = 0.5;
    Source source_ = Source::None;
    std::string fileName_;
    std::vector<std::uint8_t> bytes_;
    std::unique_ptr<WebPAnimDecoder, DecoderDeleter> decoder_;
    int lastTimestamp_ = 0;
    int passesDone_ = 0;
    QTimer* timer_ = nullptr;
};

}  // namespace quillix::imaging
