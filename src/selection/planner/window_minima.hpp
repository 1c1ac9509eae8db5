// The least key of any window of `width` consecutive keys, in O(1) after two straight
// passes, for the passes that weigh the gaps by nothing (the cheapest main
// combination, and the first round of the lowest average). van Herk and Gil-Werman's
// method: cut the keys into blocks of `width`, take running minima inside each block
// from the left and from the right; a window of `width` keys is a whole block or
// spans the tail of one block and the head of the next, so its least key is the
// lesser of two running minima. No branch on the keys, which beats a monotone deque on the
// short columns of a day.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>

namespace kestrava::planner {

template <class Int>
class WindowMinima {
public:
    // Preconditions: width >= 1; `from_left` and `from_right` hold keys.size() entries
    // each and outlive this object. Does not allocate.
    WindowMinima(std::span<const Int> keys, int width, std::span<Int> from_left, std::span<Int> from_right) noexcept
        : from_left_(from_left), from_right_(from_right), width_(width) {
        const auto size = static_cast<int>(keys.size());
        for (int i = 0, in_block = 0; i < size; ++i, in_block = in_block + 1 == width ? 0 : in_block + 1) {
            from_left_[at(i)] = in_block == 0 ? keys[at(i)] : std::min(from_left_[at(i - 1)], keys[at(i)]);
        }
        // The last block may be cut short by the end of the keys.
        for (int block_end = (size - 1) / width * width + width - 1; block_end >= 0; block_end -= width) {
            int i = std::min(block_end, size - 1);
            from_right_[at(i)] = keys[at(i)];
            for (--i; i > block_end - width; --i) from_right_[at(i)] = std::min(from_right_[at(i + 1)], keys[at(i)]);
        }
    }

    // min(keys[first .. first + width - 1]). Precondition: first + width <= size.
    Int least(int first) const noexcept {
        return std::min(from_right_[at(first)], from_left_[at(first + width_ - 1)]);
    }

private:
    static std::size_t at(int i) noexcept { return static_cast<std::size_t>(i); }

    std::span<Int> from_left_;
    std::span<Int> from_right_;
    int width_;
};

}  // namespace kestrava::planner
