#pragma once

#include <cstdint>
#include <vector>

namespace quillix::gallery {

// The order in which the gallery's thumbnails are made: the tiles in view first, then the rest in
// list order. Each list (a folder load, or the reset after a rotation run) is a generation of its
// own; results of an older generation are dropped. Used on the window thread only.
class ThumbnailSchedule {
public:
    // A new list of `count` tiles, none made yet.
    void Reset(int count);
    int Generation() const { return generation_; }
    int Count() const { return static_cast<int>(states_.size()); }

    // The same tiles to be made anew (at another size): a new generation, every tile waiting, the
    // tiles in view kept.
    void Restart();
    // Tile `index` of the current generation needs no job (it was settled without one).
    void Settle(int index);

    // Tiles first..last (inclusive, any order, clamped to the list) are in view.
    void SetVisible(int first, int last);

    // The next tile to make, counted as running; -1 when every tile is made or running.
    int Next();
    // A job for tile `index` of `generation` ended. True when the result belongs to the current
    // list and should be stored; the job no longer counts as running either way.
    bool Finish(int generation, int index);

    // Jobs handed out by Next and not yet finished, of any generation.
    int Running() const { return running_; }
    // Every tile of the current list is made.
    bool Complete() const { return made_ == Count(); }

private:
    enum class State : std::uint8_t { Waiting, Running, Made };

    std::vector<State> states_;
    int generation_ = 0;
    int cursor_ = 0;  // no tile before it is Waiting
    int visibleFirst_ = 0;
    int visibleLast_ = -1;
    int running_ = 0;
    int made_ = 0;
};

}  // namespace quillix::gallery
