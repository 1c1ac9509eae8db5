// search_aggressive, the exhaustive aggressive search: the selection with the lowest
// average price per period. Sizes are tried from min_selections upward; at each size
// every valid combination is a main combination, extended by every admissible choice
// of whole cheap blocks; the first size that yields a selection ends the search.
//
// Every replacement needs a strict improvement, so among equal averages the earlier
// candidate in the fixed orders wins: smaller size, earlier combination (positions in
// lexicographic order), lower block mask, and the main combination over its merges.
#include "selection/exhaustive/exhaustive.hpp"

#include <cstdint>
#include <optional>

#include "selection/exhaustive/cheap_blocks.hpp"
#include "selection/exhaustive/valid_combinations.hpp"
#include "selection/price_sums.hpp"
#include "selection/exhaustive/stop_poller.hpp"
#include "selection/internal_failure.hpp"
#include "selection/period_mask.hpp"

namespace kestrava::exhaustive {
namespace {

// cost / count as the decimal division rounds it; averages are compared only in this
// rounded form. A count of at least 1 cannot make either failure happen; were one to
// happen it is an internal failure, not an answer.
Decimal average_price(const Decimal& cost, std::size_t count) {
    const Quotient quotient = divide(cost, Decimal::from_unsigned(count));
    if (quotient.status == DivisionStatus::division_by_zero) throw InternalFailure("Division by zero");
    if (quotient.status == DivisionStatus::overflow) throw InternalFailure("Division overflowed");
    return quotient.value;
}

struct Selection {
    PeriodMask periods = 0;
    Decimal cost;
    std::size_t count = 0;
    Decimal average;
};

// The main combination, or the first of its merges with the lowest average. Each merge
// is a step of `stop`; once it has stopped, the answer is incomplete and must not be used.
Selection best_merge_of(std::span<const Item> items, std::span<const Item> cheap_items, PeriodMask main_combination,
                        const Decimal& main_cost, std::size_t main_count, std::uint64_t min_consecutive_periods,
                        bool strict_end, StopPoller& stop) {
    Selection best{main_combination, main_cost, main_count, average_price(main_cost, main_count)};
    const BlockMasks cheap_blocks = remaining_cheap_blocks(cheap_items, main_combination);
    const std::uint32_t end = block_mask_end(cheap_blocks);
    IndexArray merge_indices;
    for (std::uint32_t block_mask = 1; block_mask < end && !stop.step(); ++block_mask) {
        const PeriodMask merge = merge_of(main_combination, cheap_blocks, block_mask);
        // The main combination meets the gap limits and added periods only shorten
        // gaps, so the block rule alone decides whether a merge is admissible.
        if (!meets_block_rule(ascending_indices(merge, merge_indices), min_consecutive_periods, items.size(),
                              strict_end)) {
            continue;
        }
        const Decimal cost = sum_of_prices(items, merge);
        const std::size_t count = period_count(merge);
        const Decimal average = average_price(cost, count);
        if (average < best.average) best = Selection{merge, cost, count, average};
    }
    return best;
}

}  // namespace

Outcome<IndexList> search_aggressive(std::span<const Item> items, std::span<const Item> cheap_items,
                                    const SelectionRules& rules, const StopCheck& stop_check, bool strict_end) {
    const std::uint64_t n = items.size();
    // The sum of all prices is the empty best selection's cost, which is never
    // compared; it is still formed first, so that a total that overflows fails the
    // call even when a smaller selection's sum would fit.
    sum_of_prices(items);

    StopPoller stop(stop_check);
    std::optional<Selection> best_selection;
    for (std::uint64_t size = rules.min_selections; size <= n; ++size) {
        bool size_successful = false;
        const std::size_t k = static_cast<std::size_t>(size);
        for_each_valid_combination(items, k, rules, strict_end, stop, [&](std::span<const Item> combination) {
            const Decimal main_cost = sum_of_prices(combination);
            const Selection candidate = best_merge_of(items, cheap_items, mask_of(combination), main_cost,
                                                      combination.size(), rules.min_consecutive_periods, strict_end,
                                                      stop);
            const Decimal reference = best_selection ? best_selection->average : Decimal::max_value();
            if (candidate.average < reference) {
                best_selection = candidate;
                size_successful = true;
            }
        });
        if (stop.stopped()) return Error{ErrorKind::interrupted};
        if (size_successful) return index_list_of(best_selection->periods);
    }
    return Error{.kind = ErrorKind::no_valid_combination, .item_count = n};
}

}  // namespace kestrava::exhaustive
