// The selection entry: converts the price texts and the threshold to decimals,
// builds the Item list and the cheap-item list, checks the seven request rules in
// their fixed order, answers the two cases that need no search, and otherwise hands
// the request to one strategy.
#include "selection/request.hpp"

#include <algorithm>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

#include "decimal/decimal.hpp"
#include "selection/exhaustive/exhaustive.hpp"
#include "selection/planner/planner.hpp"

namespace kestrava {
namespace {

// The first rule that the request breaks, in the order in which they are tested.
std::optional<SelectionErrorKind> broken_rule(std::size_t price_count, const SelectionRules& rules) noexcept {
    if (price_count == 0) return SelectionErrorKind::prices_empty;
    if (price_count > max_price_count) return SelectionErrorKind::too_many_prices;
    if (rules.min_selections == 0) return SelectionErrorKind::min_selections_zero;
    if (rules.min_selections > price_count) return SelectionErrorKind::min_selections_above_count;
    if (rules.min_consecutive_periods == 0) return SelectionErrorKind::min_consecutive_zero;
    if (rules.min_consecutive_periods > rules.min_selections) {
        return SelectionErrorKind::min_consecutive_above_selections;
    }
    if (rules.max_gap_from_start > rules.max_gap_between_periods) return SelectionErrorKind::start_gap_above_gap;
    return std::nullopt;
}

IndexList every_index(std::size_t count) {
    IndexList indices(count);
    std::iota(indices.begin(), indices.end(), std::uint64_t{0});
    return indices;
}

}  // namespace

Result<IndexList> get_cheapest_periods(PriceTextSource& prices, std::string_view low_price_threshold,
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
        if (!text) return SelectionError{SelectionErrorKind::price_not_text};
        const std::optional<Decimal> price = Decimal::parse(*text);
        if (!price) return SelectionError{SelectionErrorKind::invalid_decimal};
        price_list.push_back(*price);
    }
    // Parsed even when the request breaks a rule: "Invalid decimal" comes first.
    const std::optional<Decimal> threshold = Decimal::parse(low_price_threshold);
    if (!threshold) return SelectionError{SelectionErrorKind::invalid_decimal};

    std::vector<Item> items;
    items.reserve(price_list.size());
    for (std::size_t i = 0; i < price_list.size(); ++i) items.push_back(Item{i, price_list[i]});

    // Equal to the threshold counts as cheap; comparison is by value, whatever the scales.
    std::vector<Item> cheap_items;
    for (const Item& item : items) {
        if (item.price <= *threshold) cheap_items.push_back(item);
    }

    if (const auto rule = broken_rule(items.size(), rules)) return SelectionError{*rule};

    // Selecting every period meets every rule once the request is valid.
    if (rules.min_selections == items.size()) return every_index(items.size());
    if (cheap_items.size() == items.size()) return every_index(items.size());

    // The planner gives the exhaustive search's answer whenever exact integer
    // arithmetic can reproduce it.
    if (std::optional<IndexList> planned = plan_cheapest_periods_fast(items, cheap_items, rules, aggressive)) {
        return std::move(*planned);
    }
    // Requests whose sums round: the same answers, unless the prices are astronomical
    // or rounding leaves too many candidates.
    if (std::optional<IndexList> planned = plan_cheapest_periods_rounded(items, cheap_items, rules, aggressive)) {
        return std::move(*planned);
    }
    return aggressive ? exhaustive::search_aggressive(items, cheap_items, rules, stop)
                      : exhaustive::search_conservative(items, cheap_items, rules, stop);
}

}  // namespace kestrava
