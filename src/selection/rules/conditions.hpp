// The conditions a plan adds to the timing rules: which periods may be chosen, and
// the state the load carries in from before period 0. Their checks, the causes of a
// plan that has no valid selection, and the shape that the one planner reads.
//
// What they mean. A blocked period is never chosen and counts as time off. With
// running_for = r the load was on for the r periods before period 0: the horizon is
// read as if it began r periods earlier with those chosen (and left out of every
// count and cost), so a run starting at 0 joins them, and when period 0 is not chosen
// the carried run must itself be min_run long; the first chosen period is then bounded
// by max_gap_between_periods instead of max_gap_from_start. With off_for = o the load
// was off for o periods: the first chosen period f needs f <= max_gap_from_start and
// o + f <= max_gap_between_periods.
//
// With strict_end the run that ends at the last period loses its exemption: every run,
// the carried periods included in the one that holds period 0, is min_run long. With
// most_expensive the plan is that of the negated prices and threshold; the request
// entry negates the units, so that nothing below it knows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "selection/outcome.hpp"
#include "selection/rules/selection_rules.hpp"
#include "selection/rules/shape.hpp"

namespace kestrava::rules {

struct Conditions {
    // 1 for a period that may be chosen, one per period; nullopt when every one may.
    std::optional<std::span<const std::uint8_t>> allowed;
    std::uint64_t running_for = 0;      // periods on just before period 0
    std::uint64_t off_for = 0;          // periods off just before period 0
    bool running_for_negative = false;  // as given: refused by broken_condition()
    bool off_for_negative = false;
    bool strict_end = false;      // no run shorter than min_run, the last one included
    bool most_expensive = false;  // the plan of the negated prices and threshold
    // A quota of main periods per local day: each period's day (0 for period 0's, each
    // next period's equal or one more), and each day's fewest main periods (the first
    // day's already lowered by what ran before period 0). Both empty without a quota.
    std::span<const std::uint32_t> day_of;
    std::span<const std::uint32_t> day_quota;

    // Whether the shape differs from that of the rules alone.
    bool any() const noexcept {
        return allowed.has_value() || running_for != 0 || off_for != 0 || strict_end || has_quota();
    }
    bool has_quota() const noexcept { return !day_quota.empty(); }
    bool is_allowed(std::size_t period) const noexcept { return !allowed || (*allowed)[period] != 0; }
};

// The checks after the rules' (selection_rules.hpp, with running_for widening min_selections),
// in this order: the mask's length (allowed_length), running_for below 0, off_for
// below 0, both non-zero (running_and_off).
std::optional<Error> broken_condition(std::size_t n, const Conditions& conditions) noexcept;

// Whether taking every period meets the conditions: nothing blocked, off_for within
// max_gap_between_periods and every day as long as its quota. Only then do the shortcuts of cheapest_periods apply.
bool every_period_meets(const Conditions& conditions, const SelectionRules& rules) noexcept;

// The first local day with fewer allowed periods than its quota (day_below_quota: index
// the day, item_count its allowed periods, needed its quota); nullopt without a quota.
std::optional<Error> first_short_day(std::size_t n, const Conditions& conditions) noexcept;

// The first of the causes that leave a plan without any valid selection, whatever the
// prices, in this order: a blocked stretch longer than max_gap_between_periods (index
// and last: its periods), fewer allowed periods than min_selections (item_count: how
// many are), a carried run shorter than min_run whose continuation at period 0 is
// blocked, off_for leaving no allowed first period in time (index: the latest first
// period it leaves, at most n - 1, when off_for <= max_gap_between_periods), a day
// with fewer allowed periods than its quota (first_short_day). nullopt when none applies;
// the search may still find no selection (no_plan). Preconditions: the checks above
// passed.
std::optional<Error> impossible_plan(std::size_t n, const SelectionRules& rules, const Conditions& conditions) noexcept;

// The shape of a plan under conditions into `shape`. Its size is a lower bound on
// every valid size from min_selections up: the fewest periods that counting allows
// (as shape.hpp, with the carried run, the lead and the strict end of the conditions), at most n.
// Where the planner's tables reach a valid selection of that size, it is the base
// plan's size; where they do not (blocked periods can leave it, or any size, without
// one), smallest_valid_size_from() (valid_sizes.hpp) finds the real one. `cheap`
// holds 1 for a period that is allowed and cheap. Preconditions: the checks above
// passed and impossible_plan() found no cause. Allocates.
void make_shape(Shape& shape, std::span<const std::uint8_t> cheap, const SelectionRules& rules,
                const Conditions& conditions);

}  // namespace kestrava::rules
