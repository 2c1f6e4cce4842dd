#include "gallery/thumbnail_schedule.h"

#include <algorithm>

namespace quillix::gallery {

void ThumbnailSchedule::Reset(int count)
{
    states_.assign(static_cast<std::size_t>(std::max(count, 0)), State::Waiting);
    ++generation_;
    cursor_ = 0;
    made_ = 0;
    visibleFirst_ = 0;
    visibleLast_ = -1;
}

void ThumbnailSchedule::Restart()
{
    const int first = visibleFirst_;
    const int last = visibleLast_;
    Reset(Count());
    visibleFirst_ = first;
    visibleLast_ = last;
}

void ThumbnailSchedule::Settle(int index)
{
    if (index < 0 || index >= Count()) return;
    State& state = states_[static_cast<std::size_t>(index)];
    if (state != State::Waiting) return;
    state = State::Made;
    ++made_;
}

void ThumbnailSchedule::SetVisible(int first, int last)
{
    if (first > last) std::swap(first, last);
    visibleFirst_ = std::max(first, 0);
    visibleLast_ = std::min(last, Count() - 1);
}

int ThumbnailSchedule::Next()
{
    int chosen = -1;
    for (int i = visibleFirst_; i <= visibleLast_; ++i) {
        if (states_[static_cast<std::size_t>(i)] == State::Waiting) {
            chosen = i;
            break;
        }
    }
    if (chosen < 0) {
        while (cursor_ < Count() && states_[static_cast<std::size_t>(cursor_)] != State::Waiting)
            ++cursor_;
        if (cursor_ == Count()) return -1;
        chosen = cursor_;
    }
    states_[static_cast<std::size_t>(chosen)] = State::Running;
    ++running_;
    return chosen;
}

bool ThumbnailSchedule::Finish(int generation, int index)
{
    if (running_ > 0) --running_;
    if (generation != generation_ || index < 0 || index >= Count()) return false;
    State& state = states_[static_cast<std::size_t>(index)];
    if (state != State::Running) return false;
    state = State::Made;
    ++made_;
    return true;
}

}  // namespace quillix::gallery
