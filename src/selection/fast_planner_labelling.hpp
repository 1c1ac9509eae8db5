// The fast planner's one search: a dynamic programme over the periods that labels
// each period as part of the main combination, part of an added cheap block, or
// out, and finds the labelling of least total weight.
//
// A labelling is admissible when its main combination has exactly `size` periods and
// passes every timing rule, and, with blocks allowed, when its added periods are
// whole admissible cheap blocks of that main combination (fast_planner_blocks.hpp
// says which). The weight of a labelling is the sum of the weights of its selected
// periods (main and added). Among labellings of least weight the search returns the
// one whose main combination comes first in lexicographic order of positions: the
// order in which the exhaustive strategies meet combinations of one size.
#pragma once

#include <span>

#include "selection/fast_planner_layout.hpp"
#include "selection/fast_planner_prices.hpp"
#include "selection/period_mask.hpp"

namespace kestrava::fast_planner {

struct Labelling {
    bool found = false;             // false when no admissible labelling exists
    int128 weight = 0;              // the least total weight
    PeriodMask main_combination = 0;  // the first main combination that reaches it
};

// Preconditions: the layout's rules as the strategies receive them; 1 <= size <= n;
// weights has n entries and sum |weights| < 2^96. Does not allocate.
Labelling lightest_labelling(const Layout& layout, int size, std::span<const int128> weights,
                             bool with_blocks) noexcept;

}  // namespace kestrava::fast_planner
