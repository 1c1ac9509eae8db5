// IntIndexed: a fixed array indexed by a plain int (a period, a count, a run length),
// so that the planner's arithmetic on positions stays in one signed type, without a
// cast at every subscript; and PerPeriod, one entry per period of a request.
#pragma once

#include <array>
#include <cstddef>

#include "selection/item.hpp"

namespace kestrava::planner {

template <class T, int size>
struct IntIndexed {
    static_assert(size > 0);
    std::array<T, static_cast<std::size_t>(size)> values;

    // Precondition: 0 <= i < size; every caller's index is a period, count or run
    // length of a request, which its own bounds keep in range.
    constexpr T& operator[](int i) noexcept { return values[static_cast<std::size_t>(i)]; }
    constexpr const T& operator[](int i) const noexcept { return values[static_cast<std::size_t>(i)]; }
    constexpr void fill(const T& value) noexcept { values.fill(value); }
};

// A request has at most 28 periods, so every period, count and run length is a small int.
inline constexpr int max_periods = static_cast<int>(max_price_count);

template <class T>
using PerPeriod = IntIndexed<T, max_periods>;

}  // namespace kestrava::planner
