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

#include "selection/planner/integer_ladder.hpp"
#include "selection/planner/planner.hpp"
#include "selection/requests/prepared_request.hpp"
#include "selection/rules/shape.hpp"
#include "selection/planner/workspace.hpp"
#include "selection/rules/valid_sizes.hpp"
#include "selection/planner/quota_tables.hpp"
#include "selection/internal_failure.hpp"

namespace kestrava::planner {
namespace {

// The kept cheapest main combination serves at 64 bits, where words plan.
template <class Int>
const IndexList* kept_for(const PreparedRequest& request, const std::vector<Int>& units) noexcept {
    if constexpr (std::is_same_v<Int, std::int64_t>) {
        if (request.memory != nullptr) return request.memory->cheapest_main.find(units, request.shape);
    }
    return nullptr;
}
template <class Int>
void keep_found(const PreparedRequest& request, const std::vector<Int>& units, const IndexList& main) {
    if constexpr (std::is_same_v<Int, std::int64_t>) {
        if (request.memory != nullptr) {
            request.memory->cheapest_main.keep(units, request.shape, main, request.rules, *request.conditions);
        }
    }
}

template <class Int>
Outcome<IndexList> search_at_width(const PreparedRequest& request, bool aggressive, const StopCheck& stop) {
    const WorkspaceLease<Int> lease;
    std::vector<Int>& units = lease->units;
    units.resize(request.size());
    request.units->write_units(std::span<Int>(units), request.mirrored());
    const IndexList* known = kept_for(request, units);
    Planner<Int>& planner = lease->planner;
    planner.reset(request.shape, units);
    const PlanStatus status =
        aggressive ? planner.plan_lowest_average(stop, known, TablesRead::no)
                   : planner.plan_cheapest_main(stop, known, TablesRead::no);
    if (known == nullptr && status == PlanStatus::done) keep_found(request, units, planner.cheapest_main());
    if (status == PlanStatus::interrupted) return Error{ErrorKind::interrupted};
    if (status == PlanStatus::no_selection) return Error{ErrorKind::no_plan};
    return planner.selection();
}

// With no cheap period every merge is its main combination alone, all of k periods, so
// the lowest average is the least cost over k, first reached by the cheapest main
// combination: both strategies give it, and the cheapest main's one pass suffices.
bool lowest_average_needed(const rules::Shape& shape, bool aggressive) noexcept {
    return aggressive && std::find(shape.cheap.begin(), shape.cheap.end(), 1) != shape.cheap.end();
}

Outcome<IndexList> search_at_fitting_width(const PreparedRequest& request, const StopCheck& stop) {
    const bool aggressive = lowest_average_needed(request.shape, request.aggressive);
    switch (rung_for(request.size(), request.units->largest_bits())) {
        case Rung::bits64:
            return search_at_width<std::int64_t>(request, aggressive, stop);
        case Rung::bits128:
            return search_at_width<int128>(request, aggressive, stop);
        case Rung::bits256:
            return search_at_width<Int256>(request, aggressive, stop);
        case Rung::bits512:
            break;
    }
    return search_at_width<Int512>(request, aggressive, stop);
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

// The cheapest main strategy's answer that the memory keeps for exactly this request;
// words only, as the kept combination's units are, and never mirrored ones, which are
// not the prices' units.
std::optional<PlanAnswer> kept_answer(const PreparedRequest& request) {
    if (request.memory == nullptr || request.aggressive || request.mirrored() || !request.units->in_words()) {
        return std::nullopt;
    }
    KeptMain& kept = request.memory->cheapest_main;
    if (const IndexList* periods =
            kept.widest_merge(request.units->words(), request.cheap, request.rules, *request.conditions)) {
        return PlanAnswer{*periods, kept.base_size()};
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

// plan_periods once the prices are read into request.units.
Outcome<PlanAnswer> plan_prepared(PreparedRequest& request, const StopCheck& stop) {
    const std::size_t n = request.size();
    const SelectionRules& rules = request.rules;
    const rules::Conditions& conditions = *request.conditions;
    const std::uint64_t running = conditions.running_for_negative ? 0 : conditions.running_for;
    if (const auto rule = broken_rule(n, max_periods, rules, running)) return Error{*rule};
    if (const auto condition = rules::broken_condition(n, conditions)) return *condition;

    mark_cheap(request);
    if (auto every = every_period_answer(request.cheap, rules, conditions)) return std::move(*every);
    if (const auto failure = request.units->check_digits(max_price_digits)) return *failure;
    if (const auto cause = rules::impossible_plan(n, rules, conditions)) return *cause;
    // The kept combination is keyed without the days: a quota plans afresh.
    if (conditions.has_quota()) request.memory = nullptr;
    if (auto answer = kept_answer(request)) return std::move(*answer);
    rules::Shape& shape = request.shape;
    plan_shape(shape, request.cheap, rules, conditions);
    if (shape.size < shape.n) {
        Outcome<IndexList> outcome = search_at_fitting_width(request, stop);
        if (outcome.ok() || outcome.error().kind != ErrorKind::no_plan) return planned(std::move(outcome), shape);
    }
    // No valid selection has the fewest periods counting allows (valid_sizes.hpp):
    // the sizes that have one decide.
    const std::optional<int> size = smallest_size_from(shape, rules.min_selections);
    if (!size) return no_plan_cause(shape, rules);
    shape.size = *size;
    if (shape.size == shape.n) return PlanAnswer{every_period(n), n};
    return planned(search_at_fitting_width(request, stop), shape);
}

// cheapest_periods once the prices are read into request.units.
Outcome<IndexList> cheapest_prepared(PreparedRequest& request, const StopCheck& stop) {
    const std::size_t n = request.size();
    if (const auto rule = broken_rule(n, max_periods, request.rules)) return Error{*rule};
    const std::size_t cheap_count = mark_cheap(request);
    if (request.rules.min_selections == n || cheap_count == n) return every_period(n);
    if (const auto failure = request.units->check_digits(max_price_digits)) return *failure;

    rules::make_shape(request.shape, request.cheap, request.rules);
    // k = n leaves no choice, and no cheap period outside the selection.
    if (request.shape.size == request.shape.n) return every_period(n);
    Outcome<IndexList> outcome = search_at_fitting_width(request, stop);
    // k is the smallest valid size here (shape.hpp): the tables always reach it.
    if (!outcome.ok() && outcome.error().kind == ErrorKind::no_plan) {
        throw InternalFailure("The planner found no valid main combination");
    }
    return outcome;
}

}  // namespace

Outcome<PlanAnswer> plan_periods(std::span<const std::string_view> price_texts, std::string_view low_price_threshold,
                                 const SelectionRules& rules, const rules::Conditions& conditions, bool aggressive,
                                 const StopCheck& stop) {
    const ThreadLease<PreparedSpace> space;
    PreparedRequest& request = prepare(*space, rules, conditions, aggressive, nullptr);
    if (const auto failure = read_price_units(price_texts, low_price_threshold, space->units)) return *failure;
    return plan_prepared(request, stop);
}

Outcome<PlanAnswer> plan_periods(RequestMemory& memory, std::span<const std::string_view> price_texts,
                                 std::string_view low_price_threshold, const SelectionRules& rules,
                                 const rules::Conditions& conditions, bool aggressive, const StopCheck& stop) {
    const ThreadLease<PreparedSpace> space;
    PreparedRequest& request = prepare(*space, rules, conditions, aggressive, &memory);
    if (const auto failure = memory.reading.read(price_texts, low_price_threshold)) return *failure;
    request.units = &memory.reading.units();
    return plan_prepared(request, stop);
}

Outcome<PlanAnswer> plan_periods(RequestMemory& memory, PriceWords prices, std::string_view low_price_threshold,
                                 const SelectionRules& rules, const rules::Conditions& conditions, bool aggressive,
                                 const StopCheck& stop) {
    const ThreadLease<PreparedSpace> space;
    PreparedRequest& request = prepare(*space, rules, conditions, aggressive, &memory);
    if (const auto failure = memory.reading.read_words(prices.units, prices.scale, low_price_threshold)) return *failure;
    request.units = &memory.reading.units();
    return plan_prepared(request, stop);
}

Outcome<IndexList> cheapest_periods(std::span<const std::string_view> price_texts, std::string_view low_price_threshold,
                                    const SelectionRules& rules, bool aggressive, const StopCheck& stop) {
    const ThreadLease<PreparedSpace> space;
    PreparedRequest& request = prepare(*space, rules, no_conditions, aggressive, nullptr);
    if (const auto failure = read_price_units(price_texts, low_price_threshold, space->units)) return *failure;
    return cheapest_prepared(request, stop);
}

}  // namespace kestrava::planner
