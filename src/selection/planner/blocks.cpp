// Cheap blocks of a main combination and its lowest-average merge, with masks and
// exact fractions.
#include "selection/planner/blocks.hpp"

#include <bit>

namespace kestrava::planner {

int128 cost_of(const IntegerPrices& prices, PeriodMask periods) noexcept {
    int128 cost = 0;
    for (; periods != 0; periods &= periods - 1) cost += prices.units[std::countr_zero(periods)];
    return cost;
}

AdmissibleBlocks admissible_blocks(const Layout& layout, const IntegerPrices& prices,
                                   PeriodMask main_combination) noexcept {
    AdmissibleBlocks result;
    const PeriodMask all_periods = static_cast<PeriodMask>((std::uint64_t{1} << layout.n) - 1);
    PeriodMask remaining = layout.cheap & ~main_combination;
    while (remaining != 0) {
        const int first = std::countr_zero(remaining);
        const int size = std::countr_one(remaining >> first);
        const int last = first + size - 1;
        const PeriodMask periods = static_cast<PeriodMask>(((std::uint64_t{1} << size) - 1) << first);
        remaining &= ~periods;
        // Neighbours outside the request read as absent: the shifted-in bits are zero
        // and bit n lies outside all_periods.
        const PeriodMask neighbours = ((periods << 1) | (periods >> 1)) & all_periods & ~periods;
        const bool touches_main = (neighbours & main_combination) != 0;
        if (touches_main || size >= layout.min_run || last == layout.n - 1) {
            result.blocks[result.count++] = CheapBlock{periods, cost_of(prices, periods), size};
        }
    }
    return result;
}

Merge lowest_average_merge(const Layout& layout, const IntegerPrices& prices, PeriodMask main_combination) noexcept {
    const AdmissibleBlocks admissible = admissible_blocks(layout, prices, main_combination);
    const Merge main{main_combination, cost_of(prices, main_combination), std::popcount(main_combination)};
    // Take every block whose average is below the current merge's, and repeat with
    // the new average. The average falls at each round until it no longer moves; the
    // blocks taken in the last round are exactly those below the final average, which
    // is then the lowest reachable: a further block would have to lie below it.
    Merge merge = main;
    for (;;) {
        Merge next = main;
        for (int j = 0; j < admissible.count; ++j) {
            const CheapBlock& block = admissible.blocks[j];
            // block.cost / block.size < merge.cost / merge.count, both counts positive.
            if (block.cost * merge.count < merge.cost * block.size) {
                next.periods |= block.periods;
                next.cost += block.cost;
                next.count += block.size;
            }
        }
        if (next.cost * merge.count == merge.cost * next.count) return next;
        merge = next;
    }
}

PeriodMask widest_merge(const Layout& layout, const IntegerPrices& prices, PeriodMask main_combination) noexcept {
    const AdmissibleBlocks admissible = admissible_blocks(layout, prices, main_combination);
    PeriodMask merge = main_combination;
    for (int j = 0; j < admissible.count; ++j) merge |= admissible.blocks[j].periods;
    return merge;
}

}  // namespace kestrava::planner
