#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// The viewer's GIF animation as plain state driven by a millisecond clock the caller passes in.
namespace quillix::imaging {

// Percent of the file's own speed: 150 with no player or a player `Speed` above 0.5, else 30;
// always within 10..400.
int GifSpeedPercent(std::optional<double> playerSpeed);

// How long a frame stays: its delay × 100 / speed, truncated to whole milliseconds. Delays below
// 20 ms (0 and 10 ms as stored) count as 100 ms first, as browsers do; speed is bounded to 10..400.
int ScaledGifDelayMs(int delayMs, int speedPercent);

// A plain GIF always loops without end; an encrypted one keeps the loop count of its file.
enum class GifOrigin { Plain, Encrypted };

// How many passes to show, 0 meaning without end, from the file's loop count (0 endless, n shows
// n + 1 passes, -1 when the file has none: one pass).
int GifPassLimit(int fileLoopCount, GifOrigin origin);

class GifPlayback {
public:
    GifPlayback(std::vector<int> delaysMs, int passLimit, int speedPercent);

    // Shows the first frame from `nowMs` on.
    void Start(std::int64_t nowMs);
    // Moves to the frame due at `nowMs`; true when the frame changed. A clock more than a whole
    // pass late (a stalled window) resumes from the current frame instead of replaying what it missed.
    bool Update(std::int64_t nowMs);
    // Paused, the clock stands still for this animation; the frame keeps its remaining time.
    void TogglePause(std::int64_t nowMs);

    int currentFrame() const { return current_; }
    bool paused() const { return paused_; }
    // The last pass ended; its last frame stays.
    bool finished() const { return finished_; }
    // 1 while the first pass shows.
    int pass() const { return pass_; }
    int speedPercent() const { return speed_; }
    // When the next frame is due; none before Start, when paused, finished, or with one frame.
    std::optional<std::int64_t> nextDeadline() const;

private:
    std::vector<int> shownMs_;
    std::int64_t passMs_ = 0;
    int passLimit_;
    int speed_;
    int current_ = 0;
    int pass_ = 0;
    bool started_ = false;
    bool paused_ = false;
    bool finished_ = false;
    std::int64_t deadline_ = 0;
    std::int64_t remaining_ = 0;
};

}  // namespace quillix::imaging
