// The exhaustive search: the two strategies searched literally as the contract defines
// the answer (sizes ascending, combinations in lexicographic order of positions, block
// masks ascending, strict improvement only). It is the definition of every answer the
// fast planner gives, and the path for requests outside the planner's exact range.
//
// Preconditions (checked by the selection entry, not here): 2 <= items.size() <= 28,
// items[i].index == i; cheap_items are the items priced at or below the threshold, in
// order, fewer than items.size(); 1 <= min_consecutive_periods <= min_selections <
// items.size(); max_gap_from_start <= max_gap_between_periods.
// Both throw InternalFailure("Addition overflowed") when an exact sum overflows.
// Both poll `stop` every StopPoller::poll_interval combinations or merges and end with
// `interrupted` once it answers true. With `strict_end` no run, of a main combination or
// of a merge, is shorter than min_consecutive_periods, the last one included.
#pragma once

#include <span>

#include "selection/item.hpp"
#include "selection/outcome.hpp"
#include "selection/rules/selection_rules.hpp"
#include "selection/stop_check.hpp"

namespace kestrava::exhaustive {

// The selection with the lowest average price per period, cheap blocks merged in.
Outcome<IndexList> search_aggressive(std::span<const Item> items, std::span<const Item> cheap_items,
                                    const SelectionRules& rules, const StopCheck& stop = {}, bool strict_end = false);

// The cheapest valid combination of the smallest size, extended by the most cheap periods.
Outcome<IndexList> search_conservative(std::span<const Item> items, std::span<const Item> cheap_items,
                                      const SelectionRules& rules, const StopCheck& stop = {},
                                      bool strict_end = false);

}  // namespace kestrava::exhaustive
