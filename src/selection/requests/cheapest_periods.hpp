// The planner's entry for price texts: any number of periods up to max_periods,
// prices with any number of digits up to max_price_digits at their common scale, all
// arithmetic exact. Plain C++; a binding turns texts, rules and errors into and out
// of interpreter objects.
//
// The answer, for n prices and the rules:
//   1. A period is cheap when its price is at or below the threshold. When
//      min_selections is n, or every period is cheap, the answer is every period.
//   2. Valid selections lead by at most max_gap_from_start periods, leave no gap
//      (the trailing one included) above max_gap_between_periods, and hold runs of
//      at least min_consecutive_periods, except a run that ends at the last period.
//   3. k is the smallest valid size from min_selections up.
//   4. Aggressive: the main combination (valid, k periods) and set of admissible
//      cheap blocks with the lowest average price, compared exactly; ties go to the
//      first main combination in lexicographic order, then to the smallest block mask.
//   5. Conservative: the cheapest main combination (ties to the first in
//      lexicographic order) with every admissible cheap block.
// planner.hpp has the method, merges.hpp the admissible blocks.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "selection/outcome.hpp"
#include "selection/requests/request_memory.hpp"
#include "selection/item.hpp"
#include "selection/rules/selection_rules.hpp"
#include "selection/rules/conditions.hpp"
#include "selection/stop_check.hpp"

namespace kestrava::planner {

// Checks in this order, the first failure answering: each price text in turn, the
// threshold text, then the rules (no prices; more than max_periods; min_selections
// 0; min_selections above n; min_consecutive_periods 0; min_consecutive_periods
// above min_selections; max_gap_from_start above max_gap_between_periods). Then the
// answers of step 1, which need no arithmetic; then the digit limit
// (price_too_large, price_too_precise); then the search, which polls `stop` at least
// every few milliseconds and ends with `interrupted` when it asks to stop.
// Allocates one workspace per call (see planner.hpp); throws InternalFailure only if
// the planner's reasoning were contradicted.
Outcome<IndexList> cheapest_periods(std::span<const std::string_view> prices, std::string_view low_price_threshold,
                                    const SelectionRules& rules, bool aggressive, const StopCheck& stop = {});

// A plan: the answer, and the size of its base plan (the smallest valid size from
// min_selections up), so that periods.size() - base_size periods were added as cheap.
struct PlanAnswer {
    IndexList periods;
    std::size_t base_size = 0;
};

// cheapest_periods under a plan's conditions (rules/conditions.hpp); without any, its
// answer and errors exactly. A period is cheap when it is allowed and priced at or
// below the threshold. Checks in this order: the prices, the threshold and the rules
// as cheapest_periods (min_consecutive_periods up to min_selections + running_for),
// then the conditions (broken_condition); then step 1 of cheapest_periods when taking
// every period meets the conditions; then the digit limit; then the causes of no plan
// (impossible_plan), and the search, which answers no_plan when no size has a valid
// selection.
Outcome<PlanAnswer> plan_periods(std::span<const std::string_view> prices, std::string_view low_price_threshold,
                                 const SelectionRules& rules, const rules::Conditions& conditions, bool aggressive,
                                 const StopCheck& stop = {});

// plan_periods, with what `memory` keeps for the next request: the same answer and errors.
Outcome<PlanAnswer> plan_periods(RequestMemory& memory, std::span<const std::string_view> prices,
                                 std::string_view low_price_threshold, const SelectionRules& rules,
                                 const rules::Conditions& conditions, bool aggressive, const StopCheck& stop = {});

// Prices held as integers already (a table's decimal column): units of 10^-scale, each
// below 10^18 in magnitude, scale at most 18; the same answer and errors as their texts.
struct PriceWords {
    std::span<const std::int64_t> units;
    unsigned scale = 0;
};
Outcome<PlanAnswer> plan_periods(RequestMemory& memory, PriceWords prices, std::string_view low_price_threshold,
                                 const SelectionRules& rules, const rules::Conditions& conditions, bool aggressive,
                                 const StopCheck& stop = {});

}  // namespace kestrava::planner
