// The cheap blocks of one main combination, which of them a merge may hold, and the
// merge with the lowest average price.
//
// Which merges pass the timing rules. A merge keeps the main combination's gaps or
// shortens them, so only its blocks can fail. A block of the merge that holds a
// period of the main combination is long enough: it contains a whole block of the
// main combination, which either has at least min_run periods or ends at the last
// period (and then so does the merge's block). A block of the merge without such a
// period is exactly one cheap block that touches the main combination on neither
// side. So a merge passes exactly when each cheap block it adds touches the main
// combination, has at least min_run periods, or ends at the last period: each block
// is admissible or not on its own, and the passing merges are the subsets of the
// admissible blocks.
#pragma once

#include "selection/period_mask.hpp"
#include "selection/planner/int_indexed.hpp"
#include "selection/planner/layout.hpp"
#include "selection/planner/prices.hpp"

namespace kestrava::planner {

struct CheapBlock {
    PeriodMask periods = 0;
    int128 cost = 0;  // in units of the common scale
    int size = 0;
};

// The admissible cheap blocks of a main combination, in ascending index order.
struct AdmissibleBlocks {
    // Two cheap blocks are separated by at least one period, so 28 periods hold at most 14.
    static constexpr int capacity = (max_periods + 1) / 2;
    IntIndexed<CheapBlock, capacity> blocks{};
    int count = 0;
};

AdmissibleBlocks admissible_blocks(const Layout& layout, const IntegerPrices& prices,
                                   PeriodMask main_combination) noexcept;

// A selection with its exact cost; its average is cost / count.
struct Merge {
    PeriodMask periods = 0;
    int128 cost = 0;
    int count = 0;
};

// The main combination with the admissible blocks whose own average is strictly
// below the lowest average that any merge reaches. That merge reaches the lowest
// average, and it is the lowest block mask that does: every merge at the lowest
// average holds all of those blocks and at most adds blocks of exactly that average.
Merge lowest_average_merge(const Layout& layout, const IntegerPrices& prices, PeriodMask main_combination) noexcept;

// The main combination with every admissible block: the passing merge with the most
// cheap periods, which contains every other passing merge.
PeriodMask widest_merge(const Layout& layout, const IntegerPrices& prices, PeriodMask main_combination) noexcept;

// The exact cost of a selection, in units of the common scale.
int128 cost_of(const IntegerPrices& prices, PeriodMask periods) noexcept;

}  // namespace kestrava::planner
