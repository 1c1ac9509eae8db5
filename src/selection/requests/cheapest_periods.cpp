// The text entries, cheapest_periods and plan_periods: exact prices, the request's
// checks, the width ladder, a planner.
#include "selection/requests/cheapest_periods.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <numeric>
#include <optional>
#include <type_traits>
#include <vector>

#include "selection/prices/exact_prices.hpp"
#include "selection/planner/integer_ladder.hpp"
#include "selection/planner/planner.hpp"
#include "selection/prices/short_prices.hpp"
#include "selection/rules/shape.hpp"
#include "selection/planner/workspace.hpp"
#include "selection/rules/valid_sizes.hpp"
#include "selection/planner/quota_tables.hpp"
#include "selection/internal_failure.hpp"

namespace kestrava::planner {
namespace {

// What a text request reads before it plans, kept per thread like the planner's
// workspace, so that a call allocates only its answer.
struct RequestSpace {
    ShortPrices short_prices;
    ExactPrices prices;
    std::vector<std::uint8_t> cheap;
    rules::Shape shape;

    std::size_t held_bytes() const noexcept {
        return short_prices.units.capacity() * sizeof(std::int64_t) + short_prices.written.capacity() +
               prices.digits.capacity() + prices.prices.capacity() * sizeof(ExactDecimal) + cheap.capacity() +
               shape.cheap.capacity() + shape.allowed.capacity() +
               (shape.run_first.capacity() + shape.run_last.capacity()) * sizeof(int) +
               shape.stalled.capacity() * sizeof(rules::PeriodStretch);
    }
};

// What the rest of a request reads of its prices, from either reader.
std::size_t price_count(const ExactPrices& prices) noexcept { return prices.prices.size(); }
std::size_t price_count(const ShortPrices& prices) noexcept { return prices.units.size(); }

template <class Int>
Int units_at(const ExactPrices& prices, std::size_t i) noexcept {
    return units_of<Int>(prices, i);
}
template <class Int>
Int units_at(const ShortPrices& prices, std::size_t i) noexcept {
    return static_cast<Int>(prices.units[i]);
}

// Short prices are below 10^18 in units, far within the digit limit.
std::optional<Error> check_unit_digits(const ShortPrices&, std::size_t) noexcept { return std::nullopt; }

// Where a table's request keeps its cheapest main combination (none for a lone
// request), and what it asks.
struct Keeping {
    KeptMain* kept;
    const SelectionRules& rules;
    const rules::Conditions& conditions;
};

// A kept cheapest main combination serves at 64 bits, where short prices plan.
template <class Int>
const IndexList* kept_for(const Keeping* keeping, const std::vector<Int>& units, const rules::Shape& shape) noexcept {
    if constexpr (std::is_same_v<Int, std::int64_t>) {
        if (keeping != nullptr && keeping->kept != nullptr) return keeping->kept->find(units, shape);
    }
    return nullptr;
}
template <class Int>
void keep_found(const Keeping* keeping, const std::vector<Int>& units, const rules::Shape& shape,
                const IndexList& main) {
    if constexpr (std::is_same_v<Int, std::int64_t>) {
        if (keeping != nullptr && keeping->kept != nullptr) {
            keeping->kept->keep(units, shape, main, keeping->rules, keeping->conditions);
        }
    }
}

// The units planned with: the prices', or their negation for the most expensive plan
// (same magnitudes, so the same width holds them).
template <class Int, class Prices>
void fill_units(const Prices& prices, bool mirrored, std::vector<Int>& units) {
    units.resize(price_count(prices));
    for (std::size_t i = 0; i < units.size(); ++i) units[i] = units_at<Int>(prices, i);
    if (mirrored) {
        for (Int& unit : units) unit = -unit;
    }
}

template <class Int, class Prices>
Outcome<IndexList> search_at_width(const Prices& prices, const rules::Shape& shape, bool aggressive,
                                   const StopCheck& stop, const Keeping* keeping) {
    const WorkspaceLease<Int> lease;
    std::vector<Int>& units = lease->units;
    fill_units(prices, keeping != nullptr && keeping->conditions.most_expensive, units);
    const IndexList* known = kept_for(keeping, units, shape);
    Planner<Int>& planner = lease->planner;
    planner.reset(shape, units);
    const PlanStatus status =
        aggressive ? planner.plan_lowest_average(stop, known, TablesRead::no)
                   : planner.plan_cheapest_main(stop, known, TablesRead::no);
    if (known == nullptr && status == PlanStatus::done) keep_found(keeping, units, shape, planner.cheapest_main());
    if (status == PlanStatus::interrupted) return Error{ErrorKind::interrupted};
    if (status == PlanStatus::no_selection) return Error{ErrorKind::no_plan};
    return planner.selection();
}

// The bit width of the largest price magnitude in units; one word holds it in most requests.
unsigned largest_price_bits(const ExactPrices& prices) {
    const std::size_t largest = largest_magnitude(prices);
    if (prices.unit_digits(largest) > ExactDecimal::word_digits) {
        return magnitude_bit_width(units_of<Int512>(prices, largest));
    }
    // Below 10^18 < 2^63.
    return magnitude_bit_width(units_of<std::int64_t>(prices, largest));
}
unsigned largest_price_bits(const ShortPrices& prices) noexcept {
    return static_cast<unsigned>(std::bit_width(prices.largest_magnitude));
}

// With no cheap period every merge is its main combination alone, all of k periods, so
// the lowest average is the least cost over k, first reached by the cheapest main
// combination: both strategies give it, and the cheapest main's one pass suffices.
bool lowest_average_needed(const rules::Shape& shape, bool aggressive) noexcept {
    return aggressive && std::find(shape.cheap.begin(), shape.cheap.end(), 1) != shape.cheap.end();
}

template <class Prices>
Outcome<IndexList> search_at_fitting_width(const Prices& prices, const rules::Shape& shape, bool aggressive,
                                           const StopCheck& stop, const Keeping* keeping = nullptr) {
    aggressive = lowest_average_needed(shape, aggressive);
    switch (rung_for(price_count(prices), largest_price_bits(prices))) {
        case Rung::bits64:
            return search_at_width<std::int64_t>(prices, shape, aggressive, stop, keeping);
        case Rung::bits128:
            return search_at_width<int128>(prices, shape, aggressive, stop, keeping);
        case Rung::bits256:
            return search_at_width<Int256>(prices, shape, aggressive, stop, keeping);
        case Rung::bits512:
            break;
    }
    return search_at_width<Int512>(prices, shape, aggressive, stop, keeping);
}

// 1 for a period that is allowed and priced at or below the threshold (at or above it
// for the most expensive plan).
template <class Prices>
void fill_cheap_flags(const Prices& prices, const rules::Conditions& conditions, std::vector<std::uint8_t>& cheap) {
    cheap.resize(price_count(prices));
    if (conditions.most_expensive) {
        for (std::size_t i = 0; i < cheap.size(); ++i) cheap[i] = conditions.is_allowed(i) && prices.is_dear(i) ? 1 : 0;
        return;
    }
    for (std::size_t i = 0; i < cheap.size(); ++i) cheap[i] = conditions.is_allowed(i) && prices.is_cheap(i) ? 1 : 0;
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

// The smallest size from min_selections up with a valid selection; nullopt when none
// has one. Under conditions only.
std::optional<int> smallest_size_from(const rules::Shape& shape, std::uint64_t min_selections) {
    const int from = static_cast<int>(min_selections);
    if (!shape.has_quota()) return rules::smallest_valid_size_from(shape, from);
    if (from >= shape.n) return shape.n;
    if (const std::optional<int> size = smallest_size_with_quota(shape, std::max(from, shape.size))) return size;
    // Below n the quota's sizes are tried; n itself holds when nothing is blocked (a day
    // with fewer periods than its quota is a cause found before).
    if (shape.last_blocked < 0) return shape.n;
    return std::nullopt;
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
    const std::optional<int> size = conditions.any() ? smallest_size_from(shape, rules.min_selections) : shape.size;
    return PlanAnswer{every_period(n), static_cast<std::size_t>(size.value_or(shape.n))};
}

Outcome<PlanAnswer> planned(Outcome<IndexList> periods, const rules::Shape& shape) {
    if (!periods.ok()) return periods.error();
    return PlanAnswer{std::move(periods).value(), static_cast<std::size_t>(shape.size)};
}

// The cheapest main strategy's answer that `kept` holds for exactly this request; short
// prices only, as the kept combination's units are, and never mirrored ones, which
// are not the prices' units.
template <class Prices>
std::optional<PlanAnswer> kept_answer(const Prices& prices, std::span<const std::uint8_t> cheap,
                                      const SelectionRules& rules, const rules::Conditions& conditions,
                                      bool aggressive, KeptMain* kept) {
    if constexpr (std::is_same_v<Prices, ShortPrices>) {
        if (kept == nullptr || aggressive || conditions.most_expensive) return std::nullopt;
        if (const IndexList* periods = kept->widest_merge(prices.units, cheap, rules, conditions)) {
            return PlanAnswer{*periods, kept->base_size()};
        }
    }
    return std::nullopt;
}

// No size has a valid selection: under a strict end, whether the exempt last run
// would have given one, which names the cause.
Error no_plan_cause(rules::Shape& shape, const SelectionRules& rules) {
    if (!shape.strict_end) return Error{ErrorKind::no_plan};
    shape.strict_end = false;
    const bool exempt_plans = smallest_size_from(shape, rules.min_selections).has_value();
    shape.strict_end = true;
    return Error{exempt_plans ? ErrorKind::short_last_run : ErrorKind::no_plan};
}

// plan_periods once the prices are read.
template <class Prices>
Outcome<PlanAnswer> plan_with_prices(const Prices& prices, RequestSpace& space, const SelectionRules& rules,
                                     const rules::Conditions& conditions, bool aggressive, const StopCheck& stop,
                                     KeptMain* kept) {
    const std::size_t n = price_count(prices);
    const std::uint64_t running = conditions.running_for_negative ? 0 : conditions.running_for;
    if (const auto rule = broken_rule(n, max_periods, rules, running)) return Error{*rule};
    if (const auto condition = rules::broken_condition(n, conditions)) return *condition;

    std::vector<std::uint8_t>& cheap = space.cheap;
    fill_cheap_flags(prices, conditions, cheap);
    if (auto every = every_period_answer(cheap, rules, conditions)) return std::move(*every);
    if (const auto failure = check_unit_digits(prices, max_price_digits)) return *failure;
    if (const auto cause = rules::impossible_plan(n, rules, conditions)) return *cause;
    // The kept combination is keyed without the days: a quota plans afresh.
    if (conditions.has_quota()) kept = nullptr;
    if (auto answer = kept_answer(prices, cheap, rules, conditions, aggressive, kept)) return std::move(*answer);
    const Keeping keeping{kept, rules, conditions};
    rules::Shape& shape = space.shape;
    plan_shape(shape, cheap, rules, conditions);
    if (shape.size < shape.n) {
        Outcome<IndexList> outcome = search_at_fitting_width(prices, shape, aggressive, stop, &keeping);
        if (outcome.ok() || outcome.error().kind != ErrorKind::no_plan) return planned(std::move(outcome), shape);
    }
    // No valid selection has the fewest periods counting allows (valid_sizes.hpp):
    // the sizes that have one decide.
    const std::optional<int> size = smallest_size_from(shape, rules.min_selections);
    if (!size) return no_plan_cause(shape, rules);
    shape.size = *size;
    if (shape.size == shape.n) return PlanAnswer{every_period(n), n};
    return planned(search_at_fitting_width(prices, shape, aggressive, stop, &keeping), shape);
}

// cheapest_periods once the prices are read.
template <class Prices>
Outcome<IndexList> cheapest_with_prices(const Prices& prices, RequestSpace& space, const SelectionRules& rules,
                                        bool aggressive, const StopCheck& stop) {
    const std::size_t n = price_count(prices);
    if (const auto rule = broken_rule(n, max_periods, rules)) return Error{*rule};

    std::vector<std::uint8_t>& cheap = space.cheap;
    cheap.resize(n);
    std::size_t cheap_count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        cheap[i] = prices.is_cheap(i) ? 1 : 0;
        cheap_count += cheap[i];
    }
    if (rules.min_selections == n || cheap_count == n) return every_period(n);
    if (const auto failure = check_unit_digits(prices, max_price_digits)) return *failure;

    rules::Shape& shape = space.shape;
    rules::make_shape(shape, cheap, rules);
    // k = n leaves no choice, and no cheap period outside the selection.
    if (shape.size == shape.n) return every_period(n);
    Outcome<IndexList> outcome = search_at_fitting_width(prices, shape, aggressive, stop);
    // k is the smallest valid size here (shape.hpp): the tables always reach it.
    if (!outcome.ok() && outcome.error().kind == ErrorKind::no_plan) {
        throw InternalFailure("The planner found no valid main combination");
    }
    return outcome;
}

// Plans with the prices the short reader took (`short_read`), else with the exact
// reader's, whose failure is then the answer.
template <class Plan>
auto with_prices_read(const ShortPrices* short_read, std::span<const std::string_view> price_texts,
                      std::string_view threshold, RequestSpace& space, Plan&& plan) -> decltype(plan(space.prices)) {
    if (short_read != nullptr) return plan(*short_read);
    if (const auto failure = read_exact_prices(price_texts, threshold, space.prices)) return *failure;
    return plan(space.prices);
}

const ShortPrices* short_prices_or_null(std::span<const std::string_view> price_texts, std::string_view threshold,
                                        RequestSpace& space) {
    return read_short_prices(price_texts, threshold, space.short_prices) ? &space.short_prices : nullptr;
}

}  // namespace

Outcome<PlanAnswer> plan_periods(std::span<const std::string_view> price_texts, std::string_view low_price_threshold,
                                 const SelectionRules& rules, const rules::Conditions& conditions, bool aggressive,
                                 const StopCheck& stop) {
    const ThreadLease<RequestSpace> space;
    const ShortPrices* short_read = short_prices_or_null(price_texts, low_price_threshold, *space);
    return with_prices_read(short_read, price_texts, low_price_threshold, *space, [&](const auto& prices) {
        return plan_with_prices(prices, *space, rules, conditions, aggressive, stop, nullptr);
    });
}

Outcome<PlanAnswer> plan_periods(RequestMemory& memory, std::span<const std::string_view> price_texts,
                                 std::string_view low_price_threshold, const SelectionRules& rules,
                                 const rules::Conditions& conditions, bool aggressive, const StopCheck& stop) {
    const ThreadLease<RequestSpace> space;
    const ShortPrices* short_read = memory.reading.read(price_texts, low_price_threshold);
    return with_prices_read(short_read, price_texts, low_price_threshold, *space, [&](const auto& prices) {
        return plan_with_prices(prices, *space, rules, conditions, aggressive, stop, &memory.cheapest_main);
    });
}

Outcome<IndexList> cheapest_periods(std::span<const std::string_view> price_texts, std::string_view low_price_threshold,
                                    const SelectionRules& rules, bool aggressive, const StopCheck& stop) {
    const ThreadLease<RequestSpace> space;
    const ShortPrices* short_read = short_prices_or_null(price_texts, low_price_threshold, *space);
    return with_prices_read(short_read, price_texts, low_price_threshold, *space, [&](const auto& prices) {
        return cheapest_with_prices(prices, *space, rules, aggressive, stop);
    });
}

}  // namespace kestrava::planner
