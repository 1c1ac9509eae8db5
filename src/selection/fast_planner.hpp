// The fast planner: the answers of get_cheapest_periods_aggressive and
// get_cheapest_periods_conservative, every tie-break included, found in microseconds
// by dynamic programming over the periods instead of by enumerating combinations.
//
// It answers when the prices fit its exact integer arithmetic (see
// fast_planner_prices.hpp); otherwise it returns nullopt and the caller runs the
// exhaustive strategy, which gives the answer for every request.
#pragma once

#include <optional>
#include <span>

#include "selection/item.hpp"
#include "selection/result.hpp"
#include "selection/rules.hpp"

namespace kestrava {

// Preconditions as for the strategies (strategies.hpp): 2 <= items.size() <= 28,
// items[i].index == i; cheap_items are the items priced at or below the threshold, in
// order, fewer than items.size(); 1 <= min_consecutive_periods <= min_selections <
// items.size(); max_gap_from_start <= max_gap_between_periods.
// Never throws; allocates only the returned index list.
std::optional<Result<IndexList>> plan_cheapest_periods_fast(std::span<const Item> items,
                                                            std::span<const Item> cheap_items,
                                                            const SelectionRules& rules, bool aggressive);

}  // namespace kestrava
