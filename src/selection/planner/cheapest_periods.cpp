// The text entries, cheapest_periods and plan_periods: exact prices, the request's
// checks, the width ladder, a planner.
#include "selection/planner/cheapest_periods.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <optional>
#include <vector>

#include "selection/planner/exact_prices.hpp"
#include "selection/planner/integer_ladder.hpp"
#include "selection/planner/planner.hpp"
#include "selection/rules/shape.hpp"
#include "selection/planner/workspace.hpp"
#include "selection/rules/valid_sizes.hpp"
#include "selection/internal_failure.hpp"

namespace kestrava::planner {
namespace {

template <class Int>
Outcome<IndexList> plan_in(const ExactPrices& prices, const rules::Shape& shape, bool aggressive, const StopCheck& stop) {
    const WorkspaceLease<Int> lease;
    std::vector<Int>& units = lease->units;
    units.resize(prices.prices.size());
    for (std::size_t i = 0; i < units.size(); ++i) units[i] = units_of<Int>(prices, i);
    Planner<Int>& planner = lease->planner;
    planner.reset(shape, units);
    const PlanStatus status = aggressive ? planner.plan_lowest_average(stop) : planner.plan_cheapest_main(stop);
    if (status == PlanStatus::interrupted) return Error{ErrorKind::interrupted};
    if (status == PlanStatus::no_selection) return Error{ErrorKind::no_plan};
    return planner.selection();
}

Outcome<IndexList> plan_on(const ExactPrices& prices, const rules::Shape& shape, bool aggressive,
                           const StopCheck& stop) {
    const std::size_t n = prices.prices.size();
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

// 1 for a period that is allowed and priced at or below the threshold.
std::vector<std::uint8_t> cheap_flags(const ExactPrices& prices, const rules::Conditions& conditions) {
    std::vector<std::uint8_t> cheap(prices.prices.size());
    for (std::size_t i = 0; i < cheap.size(); ++i) cheap[i] = conditions.is_allowed(i) && prices.is_cheap(i) ? 1 : 0;
    return cheap;
}

// The shape of a plan; its size is the smallest valid size from min_selections up
// without conditions, and a lower bound on it with them (rules/conditions.hpp).
void plan_shape(rules::Shape& shape, std::span<const std::uint8_t> cheap, const SelectionRules& rules,
                const rules::Conditions& conditions) {
    if (conditions.any()) {
        rules::make_shape(shape, cheap, rules, conditions);
    } else {
        rules::make_shape(shape, cheap, rules);
    }
}

// Step 1 of cheapest_periods, when taking every period meets the conditions.
std::optional<PlanAnswer> every_period_answer(std::span<const std::uint8_t> cheap, const SelectionRules& rules,
                                              const rules::Conditions& conditions) {
    const std::size_t n = cheap.size();
    if (!rules::every_period_meets(conditions, rules)) return std::nullopt;
    if (rules.min_selections == n) return PlanAnswer{every_period(n), n};
    if (std::find(cheap.begin(), cheap.end(), 0) != cheap.end()) return std::nullopt;
    rules::Shape shape;
    plan_shape(shape, cheap, rules, conditions);
    // The base plan's size, which counting only bounds under conditions.
    const std::optional<int> size = conditions.any()
                                        ? rules::smallest_valid_size_from(shape, static_cast<int>(rules.min_selections))
                                        : shape.size;
    return PlanAnswer{every_period(n), static_cast<std::size_t>(size.value_or(shape.n))};
}

Outcome<PlanAnswer> planned(Outcome<IndexList> periods, const rules::Shape& shape) {
    if (!periods.ok()) return periods.error();
    return PlanAnswer{std::move(periods).value(), static_cast<std::size_t>(shape.size)};
}

}  // namespace

Outcome<PlanAnswer> plan_periods(std::span<const std::string_view> price_texts, std::string_view low_price_threshold,
                                 const SelectionRules& rules, const rules::Conditions& conditions, bool aggressive,
                                 const StopCheck& stop) {
    ExactPrices prices;
    if (const auto failure = read_exact_prices(price_texts, low_price_threshold, prices)) return *failure;
    const std::size_t n = prices.prices.size();
    const std::uint64_t running = conditions.running_for_negative ? 0 : conditions.running_for;
    if (const auto rule = broken_rule(n, max_periods, rules, running)) return Error{*rule};
    if (const auto condition = rules::broken_condition(n, conditions)) return *condition;

    const std::vector<std::uint8_t> cheap = cheap_flags(prices, conditions);
    if (auto every = every_period_answer(cheap, rules, conditions)) return std::move(*every);
    if (const auto failure = check_unit_digits(prices, max_price_digits)) return *failure;
    if (const auto cause = rules::impossible_plan(n, rules, conditions)) return *cause;
    rules::Shape shape;
    plan_shape(shape, cheap, rules, conditions);
    if (shape.size < shape.n) {
        Outcome<IndexList> outcome = plan_on(prices, shape, aggressive, stop);
        if (outcome.ok() || outcome.error().kind != ErrorKind::no_plan) return planned(std::move(outcome), shape);
    }
    // No valid selection has the fewest periods counting allows (valid_sizes.hpp):
    // the sizes that have one decide.
    const std::optional<int> size = rules::smallest_valid_size_from(shape, static_cast<int>(rules.min_selections));
    if (!size) return Error{ErrorKind::no_plan};
    shape.size = *size;
    if (shape.size == shape.n) return PlanAnswer{every_period(n), n};
    return planned(plan_on(prices, shape, aggressive, stop), shape);
}

Outcome<IndexList> cheapest_periods(std::span<const std::string_view> price_texts, std::string_view low_price_threshold,
                                    const SelectionRules& rules, bool aggressive, const StopCheck& stop) {
    ExactPrices prices;
    if (const auto failure = read_exact_prices(price_texts, low_price_threshold, prices)) return *failure;
    const std::size_t n = prices.prices.size();
    if (const auto rule = broken_rule(n, max_periods, rules)) return Error{*rule};

    std::vector<std::uint8_t> cheap(n);
    std::size_t cheap_count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        cheap[i] = prices.is_cheap(i) ? 1 : 0;
        cheap_count += cheap[i];
    }
    if (rules.min_selections == n || cheap_count == n) return every_period(n);
    if (const auto failure = check_unit_digits(prices, max_price_digits)) return *failure;

    const rules::Shape shape = rules::make_shape(cheap, rules);
    // k = n leaves no choice, and no cheap period outside the selection.
    if (shape.size == shape.n) return every_period(n);
    Outcome<IndexList> outcome = plan_on(prices, shape, aggressive, stop);
    // k is the smallest valid size here (shape.hpp): the tables always reach it.
    if (!outcome.ok() && outcome.error().kind == ErrorKind::no_plan) {
        throw InternalFailure("The planner found no valid main combination");
    }
    return outcome;
}

}  // namespace kestrava::planner
