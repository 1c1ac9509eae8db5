// The planner for requests of up to 28 prices: the answers of
// exhaustive::search_aggressive and exhaustive::search_conservative, every tie-break
// included, found in microseconds by the planner's dynamic programme (the one that
// plans any number of periods) instead of by enumerating combinations.
//
// It answers when the prices fit its exact integer arithmetic (see prices/exact_units.hpp),
// and declines with the bound they break otherwise; the planner for sums that round
// takes most of those, and the exhaustive search, which gives the answer for every
// request, the rest.
#pragma once

#include <optional>
#include <span>

#include "selection/item.hpp"
#include "selection/outcome.hpp"
#include "selection/requests/prepared_request.hpp"
#include "selection/rules/selection_rules.hpp"

namespace kestrava {

// Preconditions as for the exhaustive search (exhaustive/exhaustive.hpp):
// 2 <= items.size() <= 28, items[i].index == i; cheap_items are the items priced at or
// below the threshold, in order, fewer than items.size(); 1 <= min_consecutive_periods
// <= min_selections < items.size(); max_gap_from_start <= max_gap_between_periods.
// Allocates the returned index list and, once per thread, the search's workspace; an
// allocation failure is the only way it can throw (std::bad_alloc).
Outcome<IndexList, DeclineReason> plan_exact(std::span<const Item> items, std::span<const Item> cheap_items,
                                             const SelectionRules& rules, bool aggressive);
// The same on a request prepared from those items (the shape made, the units from the
// decimal adapter): what the entry calls, having prepared it once for every tier.
Outcome<IndexList, DeclineReason> plan_exact(const planner::PreparedRequest& request);

// The same answers for requests whose sums and averages round (rounded/rounded_plan.cpp),
// with the same preconditions. Declines (sums_near_96_bits) when some sum the search
// forms may come within its rounding slack of 2^96 (rounding_error.hpp), or
// (candidates_past_cap) when rounding leaves more candidates than a cap that keeps the
// call near 10 ms; the caller then runs the exhaustive search. Throws InternalFailure("Addition overflowed") where the search
// would fail so, and std::bad_alloc.
//
// How the candidates are walked: a quick walk first, and the sweep of reach limits
// (rounded/floor_reach.hpp) only when that walk runs long; or the sweep at once,
// wherever it fits, so that tests hold its answers to the search's on every request.
enum class RoundedWalk { quick_first, swept };
Outcome<IndexList, DeclineReason> plan_rounded(std::span<const Item> items, std::span<const Item> cheap_items,
                                               const SelectionRules& rules, bool aggressive,
                                               RoundedWalk walk = RoundedWalk::quick_first);
Outcome<IndexList, DeclineReason> plan_rounded(std::span<const Item> items, const planner::PreparedRequest& request,
                                               RoundedWalk walk = RoundedWalk::quick_first);

// The request of `items` prepared into `space` (the units without a threshold, the
// cheap flags from cheap_items, the shape), for the two entries above that take items.
const planner::PreparedRequest& prepare_items(planner::PreparedSpace& space, std::span<const Item> items,
                                              std::span<const Item> cheap_items, const SelectionRules& rules,
                                              bool aggressive);

}  // namespace kestrava
