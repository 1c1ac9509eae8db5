// The text entry: exact prices, the request's checks, the width ladder, a planner.
#include "selection/horizon/cheapest_periods.hpp"

#include <cstdint>
#include <numeric>
#include <optional>
#include <vector>

#include "selection/horizon/exact_prices.hpp"
#include "selection/horizon/integer_ladder.hpp"
#include "selection/horizon/planner.hpp"
#include "selection/horizon/shape.hpp"
#include "selection/horizon/workspace.hpp"

namespace kestrava::horizon {
namespace {

// The first rule that the request breaks, in the order in which they are tested.
std::optional<ErrorKind> broken_rule(std::size_t n, const SelectionRules& rules) noexcept {
    if (n == 0) return ErrorKind::prices_empty;
    if (n > max_periods) return ErrorKind::too_many_prices;
    if (rules.min_selections == 0) return ErrorKind::min_selections_zero;
    if (rules.min_selections > n) return ErrorKind::min_selections_above_count;
    if (rules.min_consecutive_periods == 0) return ErrorKind::min_consecutive_zero;
    if (rules.min_consecutive_periods > rules.min_selections) return ErrorKind::min_consecutive_above_selections;
    if (rules.max_gap_from_start > rules.max_gap_between_periods) return ErrorKind::start_gap_above_gap;
    return std::nullopt;
}

IndexList every_period(std::size_t n) {
    IndexList periods(n);
    std::iota(periods.begin(), periods.end(), std::uint64_t{0});
    return periods;
}

template <class Int>
Outcome<IndexList> plan_in(const ExactPrices& prices, const Shape& shape, bool aggressive, const StopCheck& stop) {
    const WorkspaceLease<Int> lease;
    std::vector<Int>& units = lease->units;
    units.resize(prices.prices.size());
    for (std::size_t i = 0; i < units.size(); ++i) units[i] = units_of<Int>(prices, i);
    Planner<Int>& planner = lease->planner;
    planner.reset(shape, units);
    const PlanStatus status = aggressive ? planner.plan_lowest_average(stop) : planner.plan_cheapest_main(stop);
    if (status == PlanStatus::interrupted) return Error{ErrorKind::interrupted};
    return planner.selection();
}

}  // namespace

Outcome<IndexList> cheapest_periods(std::span<const std::string_view> price_texts, std::string_view low_price_threshold,
                                    const SelectionRules& rules, bool aggressive, const StopCheck& stop) {
    ExactPrices prices;
    if (const auto failure = read_exact_prices(price_texts, low_price_threshold, prices)) return *failure;
    const std::size_t n = prices.prices.size();
    if (const auto rule = broken_rule(n, rules)) return Error{*rule};

    std::vector<std::uint8_t> cheap(n);
    std::size_t cheap_count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        cheap[i] = prices.is_cheap(i) ? 1 : 0;
        cheap_count += cheap[i];
    }
    if (rules.min_selections == n || cheap_count == n) return every_period(n);
    if (const auto failure = check_unit_digits(prices, max_price_digits)) return *failure;

    const Shape shape = make_shape(cheap, rules);
    // k = n leaves no choice, and no cheap period outside the selection.
    if (shape.size == shape.n) return every_period(n);
    const unsigned price_bits = magnitude_bit_width(units_of<Int512>(prices, largest_magnitude(prices)));
    switch (rung_for(n, price_bits)) {
        case Rung::bits64:
            return plan_in<std::int64_t>(prices, shape, aggressive, stop);
        case Rung::bits128:
            return plan_in<int128>(prices, shape, aggressive, stop);
        case Rung::bits256:
            return plan_in<Int256>(prices, shape, aggressive, stop);
        case Rung::bits512:
            break;
    }
    return plan_in<Int512>(prices, shape, aggressive, stop);
}

}  // namespace kestrava::horizon
