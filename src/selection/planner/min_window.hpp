// MinWindow: the least key over a window of start periods that slides toward period
// 0 (a monotone deque). Starts enter in descending order at the low end; the window's
// high end drops starts above a limit that also falls. Keys live in the caller's
// array indexed by start period; the window holds period numbers only.
#pragma once

#include <cstddef>
#include <vector>

namespace kestrava::planner {

class MinWindow {
public:
    // Room for `capacity` entries between two clear() calls. Allocates.
    void reserve(std::size_t capacity) {
        slots_.resize(capacity);  // every slot is written before it is read
        clear();
    }
    void clear() noexcept { low_ = high_ = slots_.size(); }
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
    std::vector<int> slots_;
    std::size_t low_ = 0;
    std::size_t high_ = 0;
};

}  // namespace kestrava::planner
