#include "imaging/gif_animation.h"

#include <algorithm>
#include <numeric>

namespace quillix::imaging {
namespace {

constexpr int kMinSpeed = 10, kMaxSpeed = 400;
constexpr int kFastSpeed = 150, kSlowSpeed = 30;
constexpr int kTooShortMs = 20, kDefaultDelayMs = 100;

}  // namespace

int GifSpeedPercent(std::optional<double> playerSpeed)
{
    const int speed = !playerSpeed || *playerSpeed > 0.5 ? kFastSpeed : kSlowSpeed;
    return std::clamp(speed, kMinSpeed, kMaxSpeed);
}

int ScaledGifDelayMs(int delayMs, int speedPercent)
{
    const std::int64_t delay = delayMs < kTooShortMs ? kDefaultDelayMs : delayMs;
    const int speed = std::clamp(speedPercent, kMinSpeed, kMaxSpeed);
    return static_cast<int>(delay * 100 / speed);
}

int GifPassLimit(int fileLoopCount, GifOrigin origin)
{
    if (origin == GifOrigin::Plain || fileLoopCount == 0) return 0;
    return fileLoopCount < 0 ? 1 : fileLoopCount + 1;
}

GifPlayback::GifPlayback(std::vector<int> delaysMs, int passLimit, int speedPercent)
    : passLimit_(std::max(passLimit, 0)), speed_(std::clamp(speedPercent, kMinSpeed, kMaxSpeed))
{
    shownMs_.reserve(delaysMs.size());
    for (const int delay : delaysMs)
        shownMs_.push_back(ScaledGifDelayMs(delay, speed_));
    passMs_ = std::accumulate(shownMs_.begin(), shownMs_.end(), std::int64_t{0});
}

void GifPlayback::Start(std::int64_t nowMs)
{
    started_ = true;
    paused_ = false;
    current_ = 0;
    pass_ = 1;
    finished_ = shownMs_.size() < 2;
    deadline_ = finished_ ? 0 : nowMs + shownMs_[0];
}

bool GifPlayback::Update(std::int64_t nowMs)
{
    if (!started_ || paused_ || finished_) return false;
    if (nowMs - deadline_ > passMs_) deadline_ = nowMs;
    bool changed = false;
    while (nowMs >= deadline_) {
        if (current_ + 1 < static_cast<int>(shownMs_.size())) {
            ++current_;
        } else if (passLimit_ != 0 && pass_ >= passLimit_) {
            finished_ = true;
            break;
        } else {
            ++pass_;
            current_ = 0;
        }
        deadline_ += shownMs_[static_cast<std::size_t>(current_)];
        changed = true;
    }
    return changed;
}

void GifPlayback::TogglePause(std::int64_t nowMs)
{
    if (!started_ || finished_) return;
    if (paused_) {
        deadline_ = nowMs + remaining_;
    } else {
        remaining_ = std::max<std::int64_t>(deadline_ - nowMs, 0);
    }
    paused_ = !paused_;
}

std::optional<std::int64_t> GifPlayback::nextDeadline() const
{
    if (!started_ || paused_ || finished_) return std::nullopt;
    return deadline_;
}

}  // namespace quillix::imaging
