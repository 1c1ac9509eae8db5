// The planner for requests whose sums and averages are exact in integers (prices/exact_units.hpp):
// the any-length tables at the narrowest width the prices allow.
#include <cstdint>
#include <vector>

#include "selection/planner/integer_ladder.hpp"
#include "selection/planner/workspace.hpp"
#include "selection/planner/item_plans.hpp"
#include "selection/prices/decimal_units.hpp"
#include "selection/prices/exact_units.hpp"

namespace kestrava {
namespace {

template <class Int>
Outcome<IndexList, DeclineReason> plan_at_width(const planner::PreparedRequest& request) {
    const planner::WorkspaceLease<Int> lease;
    std::vector<Int>& units = lease->units;
    units.resize(request.size());
    request.units->write_units(std::span<Int>(units), false);
    planner::Planner<Int>& planner = lease->planner;
    planner.reset(request.shape, units);
    const auto status = request.aggressive ? planner.plan_lowest_average(StopCheck{})
                                           : planner.plan_cheapest_main(StopCheck{});
    if (status != planner::PlanStatus::done) return DeclineReason::no_selection_at_size;
    return planner.selection();
}

}  // namespace

Outcome<IndexList, DeclineReason> plan_exact(const planner::PreparedRequest& request) {
    const Outcome<planner::IntegerPrices, DeclineReason> prices =
        planner::exact_integer_prices(*request.units, request.aggressive);
    if (!prices.ok()) return prices.error();
    if (request.shape.size >= request.shape.n) return every_period(request.size());
    // Within the bounds every unit fits 128 bits (exact_units.hpp).
    if (planner::rung_for(request.size(), planner::unsigned_bit_width(prices.value().largest_magnitude)) == planner::Rung::bits64) {
        return plan_at_width<std::int64_t>(request);
    }
    return plan_at_width<__int128>(request);
}

const planner::PreparedRequest& prepare_items(planner::PreparedSpace& space, std::span<const Item> items,
                                              std::span<const Item> cheap_items, const SelectionRules& rules,
                                              bool aggressive) {
    planner::decimal_price_units(items, space.units);
    planner::PreparedRequest& request = planner::prepare(space, rules, planner::no_conditions, aggressive, nullptr);
    request.cheap.assign(items.size(), 0);
    for (const Item& item : cheap_items) request.cheap[static_cast<std::size_t>(item.index)] = 1;
    rules::make_shape(request.shape, request.cheap, rules);
    return request;
}

Outcome<IndexList, DeclineReason> plan_exact(std::span<const Item> items, std::span<const Item> cheap_items,
                                             const SelectionRules& rules, bool aggressive) {
    const planner::ThreadLease<planner::PreparedSpace> space;
    return plan_exact(prepare_items(*space, items, cheap_items, rules, aggressive));
}

}  // namespace kestrava
