// The planner for requests whose sums and averages are exact in integers (prices/exact_units.hpp):
// the any-length tables at the narrowest width the prices allow.
#include <cstdint>
#include <vector>

#include "selection/planner/integer_ladder.hpp"
#include "selection/planner/workspace.hpp"
#include "selection/planner/item_plans.hpp"
#include "selection/prices/exact_units.hpp"

namespace kestrava {
namespace {

template <class Int>
Outcome<IndexList, DeclineReason> plan_at_width(const planner::IntegerPrices& prices, std::span<const Item> cheap_items,
                                                const SelectionRules& rules, bool aggressive) {
    const planner::WorkspaceLease<Int> lease;
    const auto n = static_cast<std::size_t>(prices.count);
    lease->cheap.assign(n, 0);
    for (const Item& item : cheap_items) lease->cheap[static_cast<std::size_t>(item.index)] = 1;
    rules::make_shape(lease->shape, lease->cheap, rules);
    if (lease->shape.size >= lease->shape.n) {
        IndexList every(n);
        for (std::size_t i = 0; i < n; ++i) every[i] = i;
        return every;
    }
    lease->units.resize(n);
    for (std::size_t i = 0; i < n; ++i) lease->units[i] = static_cast<Int>(prices.units[i]);
    planner::Planner<Int>& planner = lease->planner;
    planner.reset(lease->shape, lease->units);
    const auto status = aggressive ? planner.plan_lowest_average(StopCheck{}) : planner.plan_cheapest_main(StopCheck{});
    if (status != planner::PlanStatus::done) return DeclineReason::no_selection_at_size;
    return planner.selection();
}

unsigned bit_width(uint128 value) noexcept {
    const auto high = static_cast<std::uint64_t>(value >> 64);
    return high != 0 ? 64 + static_cast<unsigned>(std::bit_width(high))
                     : static_cast<unsigned>(std::bit_width(static_cast<std::uint64_t>(value)));
}

}  // namespace

Outcome<IndexList, DeclineReason> plan_exact(std::span<const Item> items, std::span<const Item> cheap_items,
                                             const SelectionRules& rules, bool aggressive) {
    const Outcome<planner::IntegerPrices, DeclineReason> prices = planner::exact_integer_prices(items, aggressive);
    if (!prices.ok()) return prices.error();
    if (planner::rung_for(items.size(), bit_width(prices.value().largest_magnitude)) == planner::Rung::bits64) {
        return plan_at_width<std::int64_t>(prices.value(), cheap_items, rules, aggressive);
    }
    return plan_at_width<__int128>(prices.value(), cheap_items, rules, aggressive);
}

}  // namespace kestrava
