// search_conservative, the exhaustive conservative search: the cheapest valid
// combination of the smallest size that has one (the main combination), then extended
// by the choice of whole cheap blocks that holds the most cheap periods while every
// timing rule still holds.
//
// Every replacement needs a strict improvement: among main combinations of equal cost
// the earliest in lexicographic order of positions wins, and among merges of equal
// cheap count and cost the lowest block mask wins.
#include "selection/exhaustive/exhaustive.hpp"

#include <cstdint>
#include <optional>

#include "selection/exhaustive/cheap_blocks.hpp"
#include "selection/exhaustive/combination_checks.hpp"
#include "selection/exhaustive/valid_combinations.hpp"
#include "selection/price_sums.hpp"
#include "selection/exhaustive/stop_poller.hpp"
#include "selection/period_mask.hpp"

namespace kestrava::exhaustive {
namespace {

struct PricedSelection {
    PeriodMask periods = 0;
    Decimal cost;
};

// The cheapest valid combination of the smallest size from min_selections upward.
// Once `stop` has stopped, the answer is incomplete and must not be used.
std::optional<PricedSelection> find_main_combination(std::span<const Item> items, const SelectionRules& rules,
                                                     bool strict_end, StopPoller& stop) {
    const std::uint64_t n = items.size();
    std::optional<PricedSelection> main_combination;
    for (std::uint64_t size = rules.min_selections; size <= n; ++size) {
        const std::size_t k = static_cast<std::size_t>(size);
        for_each_valid_combination(items, k, rules, strict_end, stop, [&](std::span<const Item> combination) {
            const Decimal cost = sum_of_prices(combination);
            // The first valid combination is taken whatever its cost.
            if (!main_combination || cost < main_combination->cost) {
                main_combination = PricedSelection{mask_of(combination), cost};
            }
        });
        // Nothing is taken before the first successful size, so holding a main
        // combination here means this size succeeded.
        if (main_combination) return main_combination;
    }
    return std::nullopt;
}

}  // namespace

Outcome<IndexList> search_conservative(std::span<const Item> items, std::span<const Item> cheap_items,
                                      const SelectionRules& rules, const StopCheck& stop_check, bool strict_end) {
    const std::uint64_t n = items.size();
    // Never compared; formed first so that a total that overflows fails the call even
    // when a smaller selection's sum would fit.
    sum_of_prices(items);

    StopPoller stop(stop_check);
    const std::optional<PricedSelection> main_combination = find_main_combination(items, rules, strict_end, stop);
    if (stop.stopped()) return Error{ErrorKind::interrupted};
    if (!main_combination) return Error{.kind = ErrorKind::no_valid_main_combination, .item_count = n};

    // Cheap periods count against the whole cheap-item list, so cheap periods that the
    // main combination already holds count too.
    const PeriodMask cheap_periods = mask_of(cheap_items);
    const BlockMasks cheap_blocks = remaining_cheap_blocks(cheap_items, main_combination->periods);

    PricedSelection result = *main_combination;
    std::size_t result_cheap_count = period_count(result.periods & cheap_periods);
    const std::uint32_t end = block_mask_end(cheap_blocks);
    IndexArray merge_indices;
    for (std::uint32_t block_mask = 1; block_mask < end; ++block_mask) {
        if (stop.step()) return Error{ErrorKind::interrupted};
        const PeriodMask merge = merge_of(main_combination->periods, cheap_blocks, block_mask);
        if (!is_valid_combination(ascending_indices(merge, merge_indices), rules, n, strict_end)) continue;
        const Decimal cost = sum_of_prices(items, merge);
        const std::size_t cheap_count = period_count(merge & cheap_periods);
        if (cheap_count > result_cheap_count || (cheap_count == result_cheap_count && cost < result.cost)) {
            result = PricedSelection{merge, cost};
            result_cheap_count = cheap_count;
        }
    }
    return index_list_of(result.periods);
}

}  // namespace kestrava::exhaustive
