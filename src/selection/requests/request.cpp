// The selection entry: converts the price texts and the threshold to decimals,
// checks the seven request rules in their fixed order, prepares the request once,
// answers the two cases that need no search, and otherwise hands it to the tiers.
#include "selection/requests/request.hpp"

#include <algorithm>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

#include "decimal/decimal.hpp"
#include "selection/exhaustive/exhaustive.hpp"
#include "selection/planner/item_plans.hpp"
#include "selection/planner/workspace.hpp"
#include "selection/prices/decimal_units.hpp"
#include "selection/requests/prepared_request.hpp"

namespace kestrava {
Outcome<IndexList> get_cheapest_periods(PriceTextSource& prices, std::string_view low_price_threshold,
                                       const SelectionRules& rules, bool aggressive, const StopCheck& stop) {
    // Elements are read while the index is below both the starting and the current
    // size, so a source that shrinks while it is read ends the conversion early.
    // Every element is converted before any rule is tested: conversion failures come
    // first, and the first failing element ends the conversion.
    const std::size_t starting_size = prices.current_size();
    std::vector<Decimal> price_list;
    price_list.reserve(std::min(starting_size, max_price_count + 1));
    for (std::size_t i = 0; i < starting_size && i < prices.current_size(); ++i) {
        const std::optional<std::string_view> text = prices.text_at(i);
        if (!text) return Error{ErrorKind::price_not_text};
        const std::optional<Decimal> price = Decimal::parse(*text);
        if (!price) return Error{ErrorKind::invalid_price, i};
        price_list.push_back(*price);
    }
    // Parsed even when the request breaks a rule: "Invalid decimal" comes first.
    const std::optional<Decimal> threshold = Decimal::parse(low_price_threshold);
    if (!threshold) return Error{ErrorKind::invalid_threshold};

    std::vector<Item> items;
    items.reserve(price_list.size());
    for (std::size_t i = 0; i < price_list.size(); ++i) items.push_back(Item{i, price_list[i]});

    if (const auto rule = broken_rule(items.size(), max_price_count, rules)) return Error{*rule};

    // The request prepared once for every tier. Equal to the threshold counts as cheap;
    // the units compare by value, whatever the scales.
    const planner::ThreadLease<planner::PreparedSpace> space;
    planner::PreparedRequest& request = planner::prepare(*space, rules, planner::no_conditions, aggressive, nullptr);
    planner::decimal_price_units(items, *threshold, space->units);
    const std::size_t cheap_count = planner::mark_cheap(request);

    // Selecting every period meets every rule once the request is valid.
    if (rules.min_selections == items.size()) return every_period(items.size());
    if (cheap_count == items.size()) return every_period(items.size());

    // The planner gives the exhaustive search's answer whenever exact integer
    // arithmetic can reproduce it; it declines with the bound the prices break.
    rules::make_shape(request.shape, request.cheap, rules);
    if (Outcome<IndexList, DeclineReason> planned = plan_exact(request); planned.ok()) {
        return std::move(planned).value();
    }
    // Requests whose sums round: the same answers, unless the prices are astronomical
    // or rounding leaves too many candidates.
    if (Outcome<IndexList, DeclineReason> planned = plan_rounded(items, request); planned.ok()) {
        return std::move(planned).value();
    }
    std::vector<Item> cheap_items;
    for (const Item& item : items) {
        if (request.cheap[static_cast<std::size_t>(item.index)] != 0) cheap_items.push_back(item);
    }
    return aggressive ? exhaustive::search_aggressive(items, cheap_items, rules, stop)
                      : exhaustive::search_conservative(items, cheap_items, rules, stop);
}

}  // namespace kestrava
