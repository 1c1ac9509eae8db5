// The conditions' checks, the causes of a plan without a valid selection, and the
// shape under conditions.
#include "selection/rules/conditions.hpp"

#include <algorithm>


namespace kestrava::rules {

std::optional<Error> broken_condition(std::size_t n, const Conditions& conditions) noexcept {
    if (conditions.allowed && conditions.allowed->size() != n) {
        return Error{.kind = ErrorKind::allowed_length, .index = conditions.allowed->size()};
    }
    if (conditions.running_for_negative) return Error{ErrorKind::running_for_negative};
    if (conditions.off_for_negative) return Error{ErrorKind::off_for_negative};
    if (conditions.running_for != 0 && conditions.off_for != 0) return Error{ErrorKind::running_and_off};
    return std::nullopt;
}

std::optional<Error> first_short_day(std::size_t n, const Conditions& conditions) noexcept {
    if (!conditions.has_quota()) return std::nullopt;
    // Days are ascending and none is skipped: each one's periods lie together.
    std::uint64_t allowed = 0;
    for (std::size_t p = 0; p < n; ++p) {
        allowed += conditions.is_allowed(p) ? 1 : 0;
        if (p + 1 < n && conditions.day_of[p + 1] == conditions.day_of[p]) continue;
        const std::uint32_t day = conditions.day_of[p];
        if (allowed < conditions.day_quota[day]) {
            return Error{.kind = ErrorKind::day_below_quota, .index = day, .item_count = allowed,
                         .needed = conditions.day_quota[day]};
        }
        allowed = 0;
    }
    return std::nullopt;
}

bool every_period_meets(const Conditions& conditions, const SelectionRules& rules) noexcept {
    if (conditions.allowed && std::find(conditions.allowed->begin(), conditions.allowed->end(), 0) !=
                                  conditions.allowed->end()) {
        return false;
    }
    return conditions.off_for <= rules.max_gap_between_periods &&
           !first_short_day(conditions.day_of.size(), conditions).has_value();
}

namespace {

// The first stretch of blocked periods longer than max_gap_between_periods.
std::optional<Error> long_blocked_stretch(std::size_t n, const SelectionRules& rules, const Conditions& conditions) {
    for (std::size_t first = 0; first < n; ++first) {
        if (conditions.is_allowed(first)) continue;
        std::size_t last = first;
        while (last + 1 < n && !conditions.is_allowed(last + 1)) ++last;
        if (last - first + 1 > rules.max_gap_between_periods) {
            return Error{.kind = ErrorKind::blocked_stretch_too_long, .index = first, .last = last};
        }
        first = last;
    }
    return std::nullopt;
}

// With off_for, the latest first period: max_gap_from_start, and what off_for leaves
// of max_gap_between_periods. Precondition: off_for <= max_gap_between_periods.
std::uint64_t latest_first_after_off(const SelectionRules& rules, const Conditions& conditions) noexcept {
    return std::min(rules.max_gap_from_start, rules.max_gap_between_periods - conditions.off_for);
}

bool has_allowed_start(std::size_t n, const SelectionRules& rules, const Conditions& conditions) noexcept {
    if (conditions.off_for > rules.max_gap_between_periods) return false;
    const std::uint64_t latest = latest_first_after_off(rules, conditions);
    for (std::size_t f = 0; f < n && f <= latest; ++f) {
        if (conditions.is_allowed(f)) return true;
    }
    return false;
}

}  // namespace

std::optional<Error> impossible_plan(std::size_t n, const SelectionRules& rules, const Conditions& conditions) noexcept {
    if (const auto stretch = long_blocked_stretch(n, rules, conditions)) return stretch;
    std::size_t allowed = 0;
    for (std::size_t p = 0; p < n; ++p) allowed += conditions.is_allowed(p) ? 1 : 0;
    if (allowed < rules.min_selections) return Error{.kind = ErrorKind::too_few_allowed, .item_count = allowed};
    const std::uint64_t running = conditions.running_for;
    if (running != 0 && running < rules.min_consecutive_periods && !conditions.is_allowed(0)) {
        return Error{ErrorKind::carried_run_cut};
    }
    if (conditions.off_for != 0 && !has_allowed_start(n, rules, conditions)) {
        // index: the latest first period off_for leaves (0 when it leaves none).
        const bool fits = conditions.off_for <= rules.max_gap_between_periods;
        const std::uint64_t latest = fits ? std::min<std::uint64_t>(latest_first_after_off(rules, conditions), n - 1) : 0;
        return Error{.kind = ErrorKind::off_for_no_start, .index = static_cast<std::size_t>(latest)};
    }
    return first_short_day(n, conditions);
}

namespace {

// The periods where no run can be min_run long: min_run periods from each blocked one.
void find_stalled(Shape& shape) {
    shape.stalled.clear();
    shape.last_blocked = -1;
    if (shape.allowed.empty()) return;
    for (int p = 0; p < shape.n; ++p) {
        if (shape.allowed[static_cast<std::size_t>(p)] != 0) continue;
        shape.last_blocked = p;
        const int last = std::min(p + shape.min_run - 1, shape.n - 1);
        if (!shape.stalled.empty() && shape.stalled.back().last >= p - 1) {
            shape.stalled.back().last = last;
        } else {
            shape.stalled.push_back(PeriodStretch{p, last});
        }
    }
}

// The lead, carried run and blocked periods of the conditions, in the shape's terms.
void add_conditions(Shape& shape, const SelectionRules& rules, const Conditions& conditions) {
    const auto n = static_cast<std::uint64_t>(shape.n);
    // A run of more than n periods is as impossible as one of n + 1.
    const std::uint64_t min_run = std::min<std::uint64_t>(rules.min_consecutive_periods, n + 1);
    shape.min_run = static_cast<int>(min_run);
    const std::uint64_t carried = std::min(conditions.running_for, rules.min_consecutive_periods);
    shape.carried = static_cast<int>(std::min(carried, min_run));
    shape.carried_head = 0;
    if (carried != 0) {
        const std::uint64_t rest = rules.min_consecutive_periods - carried;
        shape.carried_head = static_cast<int>(std::clamp<std::uint64_t>(rest, 1, n + 1));
        // A carried run below min_run must go on at period 0; one long enough may
        // pause, for at most a gap.
        shape.max_lead = rest > 0 ? 0 : shape.max_gap;
    } else if (conditions.off_for != 0) {
        shape.max_lead = static_cast<int>(std::min(latest_first_after_off(rules, conditions), n - 1));
    }
    shape.strict_end = conditions.strict_end;
    shape.allowed.clear();
    if (conditions.allowed) shape.allowed.assign(conditions.allowed->begin(), conditions.allowed->end());
    find_stalled(shape);
    shape.strict_end = conditions.strict_end;
    shape.day_of.assign(conditions.day_of.begin(), conditions.day_of.end());
    shape.day_quota.assign(conditions.day_quota.begin(), conditions.day_quota.end());
}

// The fewest periods counting allows. A valid selection under a carried run of r
// periods is, with those r periods, a valid selection of the horizon n + r periods
// long that starts at its period 0: it has at least smallest_valid_size(n + r, R, G,
// 0) - r periods of its own. Otherwise the lead is at most max_lead. Blocked periods
// only take selections away, so both stay lower bounds. A strict end counts the
// last run as every other. Gaps inside the horizon are
// at most n - 1 long, as shape.max_gap is.
int fewest_by_counting(const Shape& shape) noexcept {
    if (shape.carried == 0) {
        return smallest_valid_size(shape.n, shape.min_run, shape.max_gap, shape.max_lead, shape.strict_end);
    }
    const int virtual_n = shape.n + shape.carried;
    return smallest_valid_size(virtual_n, shape.min_run, shape.max_gap, 0, shape.strict_end) - shape.carried;
}

}  // namespace

void make_shape(Shape& shape, std::span<const std::uint8_t> cheap, const SelectionRules& rules,
                const Conditions& conditions) {
    SelectionRules counted = rules;
    // make_shape reads min_consecutive_periods <= n; add_conditions sets the real one.
    counted.min_consecutive_periods = std::min<std::uint64_t>(rules.min_consecutive_periods, cheap.size());
    make_shape(shape, cheap, counted);
    add_conditions(shape, rules, conditions);
    std::uint64_t quotas = 0;
    for (const std::uint32_t quota : conditions.day_quota) quotas += quota;
    // Every day's quota holds main periods of its own.
    const int by_quota = static_cast<int>(std::min<std::uint64_t>(quotas, cheap.size()));
    shape.size = std::max({static_cast<int>(rules.min_selections), fewest_by_counting(shape), by_quota, 0});
}

}  // namespace kestrava::rules
