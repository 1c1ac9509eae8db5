// MinWindow: the least key over a window of start periods that slides toward period
// 0 (a monotone deque). Starts enter in descending order at the low end; the window's
// high end drops starts above a limit that also falls. Keys live in the caller's
// array indexed by start period; the window holds period numbers only, in slots the
// caller owns.
//
// A window is a small value made for one column's pass and kept on the stack, so that
// its two ends stay in registers: the pass stores keys of an integer type that could
// otherwise alias ends held in memory.
#pragma once

#include <cstddef>
#include <span>

namespace kestrava::planner {

class MinWindow {
public:
    // Empty, with room for slots.size() entries. Does not allocate.
    explicit MinWindow(std::span<int> slots) noexcept
        : slots_(slots.data()), low_(slots.size()), high_(slots.size()) {}

    bool empty() const noexcept { return low_ == high_; }
    // The start with the least key (of equal keys, the highest start).
    int least() const noexcept { return slots_[high_ - 1]; }

    // Enters start s, below every start inside. A start inside whose key is not below
    // keys[s] can never be the least again: s stays in the window longer.
    template <class Key>
    void enter(int s, const Key* keys) noexcept {
        while (low_ < high_ && !(keys[slots_[low_]] < keys[s])) ++low_;
        slots_[--low_] = s;
    }

    void drop_above(int limit) noexcept {
        while (low_ < high_ && slots_[high_ - 1] > limit) --high_;
    }

private:
    // slots_[low_ .. high_): starts ascending and their keys strictly descending, so
    // the least key sits at high_ - 1. Each enter() takes at most one slot below low_.
    int* slots_;
    std::size_t low_;
    std::size_t high_;
};

}  // namespace kestrava::planner
