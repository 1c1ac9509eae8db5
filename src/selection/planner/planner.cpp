// The planner's two strategies on top of the labelling search.
//
// Both strategies stop at the smallest size from min_selections upward that has a
// valid combination: every improvement is strict and the first valid combination of
// a size always beats the empty start, so that size is the successful one.
//
// Conservative: the cheapest main combination of that size, first in lexicographic
// order among equal costs, then the merge with the most cheap periods, which is the
// main combination with every admissible cheap block.
//
// Aggressive: the lowest average over all main combinations of that size and all
// their passing merges, found by Dinkelbach's method. For a candidate average
// lambda = cost / count, weighting each period by count * price - cost makes a
// merge's total weight negative exactly when its average is below lambda; the
// lightest labelling either certifies lambda as the lowest (weight 0) or yields a
// main combination whose own best merge is strictly lower, and the next round
// starts from there. In the certifying round the lightest labelling's main
// combination is the first one, in lexicographic order, that reaches the lowest
// average, which is the one the exhaustive search keeps; its lowest-average merge
// with the lowest block mask is the answer.
#include "selection/planner/planner.hpp"

#include <algorithm>

#include "selection/period_mask.hpp"
#include "selection/planner/blocks.hpp"
#include "selection/planner/labelling.hpp"
#include "selection/planner/layout.hpp"
#include "selection/planner/prices.hpp"

namespace kestrava::planner {
namespace {

using Weights = PerPeriod<int128>;

std::span<const int128> price_weights(const IntegerPrices& prices) noexcept {
    return std::span<const int128>(prices.units.values).first(static_cast<std::size_t>(prices.count));
}

// Weights under which a selection's total is count * cost(selection) - cost * |selection|.
std::span<const int128> weights_against(const IntegerPrices& prices, const Merge& reference,
                                        Weights& storage) noexcept {
    for (int p = 0; p < prices.count; ++p) storage[p] = reference.count * prices.units[p] - reference.cost;
    return std::span<const int128>(storage.values).first(static_cast<std::size_t>(prices.count));
}

// a / b < c / d for positive counts b and d.
bool lower_average(const Merge& a, const Merge& b) noexcept { return a.cost * b.count < b.cost * a.count; }

// nullopt only if the searches were to contradict each other or find nothing, which
// the reasoning above rules out; the caller then falls back to the exhaustive search
// rather than loop or answer from nothing.
std::optional<PeriodMask> plan_aggressive(LabellingWorkspace& workspace, const Layout& layout,
                                          const IntegerPrices& prices, int size) noexcept {
    // Start from the cheapest main combination: a good first guess at the lowest average.
    const Labelling cheapest = lightest_labelling(workspace, layout, size, price_weights(prices), false);
    if (!cheapest.found) return std::nullopt;
    Merge best = lowest_average_merge(layout, prices, cheapest.main_combination);
    Weights weights;
    for (;;) {
        // The current best merge weighs 0, so the lightest weight is at most 0.
        const Labelling lightest =
            lightest_labelling(workspace, layout, size, weights_against(prices, best, weights), true);
        if (!lightest.found) return std::nullopt;
        const Merge candidate = lowest_average_merge(layout, prices, lightest.main_combination);
        if (lightest.weight == 0) return candidate.periods;
        // A negative weight means a merge below the current average, so each round
        // strictly lowers it, and the rounds end.
        if (!lower_average(candidate, best)) return std::nullopt;
        best = candidate;
    }
}

}  // namespace
}  // namespace kestrava::planner

namespace kestrava {

std::optional<IndexList> plan_cheapest_periods_fast(std::span<const Item> items, std::span<const Item> cheap_items,
                                                    const SelectionRules& rules, bool aggressive) {
    using namespace planner;
    const std::optional<IntegerPrices> prices = exact_integer_prices(items, aggressive);
    if (!prices) return std::nullopt;
    const Layout layout = make_layout(items.size(), cheap_items, rules);
    // The search stops at the smallest size from min_selections up that has a valid
    // combination; every larger size has one too.
    const int min_selections = static_cast<int>(rules.min_selections);  // below n <= 28
    const int size = valid_size_upper_bound(layout) <= min_selections
                         ? min_selections
                         : std::max(min_selections, smallest_valid_size(layout));
    // Every period together is always valid, so size <= n; the searches' fixed
    // storage relies on it.
    if (size > layout.n) return std::nullopt;

    LabellingWorkspace& workspace = thread_labelling_workspace();
    if (aggressive) {
        const std::optional<PeriodMask> selection = plan_aggressive(workspace, layout, *prices, size);
        if (!selection) return std::nullopt;
        return index_list_of(*selection);
    }
    const Labelling cheapest = lightest_labelling(workspace, layout, size, price_weights(*prices), false);
    if (!cheapest.found) return std::nullopt;
    return index_list_of(widest_merge(layout, *prices, cheapest.main_combination));
}

}  // namespace kestrava
