// The shape of a request as the planner reads it: the number of periods, the timing
// rules brought into the range that can matter, where the cheap runs lie, and the
// number of main periods k (the smallest valid size from min_selections up). Also
// the counting bounds that say how many main periods a stretch of the day needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "selection/rules/selection_rules.hpp"

namespace kestrava::rules {

// Periods first .. last, both included.
struct PeriodStretch {
    int first = 0;
    int last = 0;
    friend bool operator==(const PeriodStretch&, const PeriodStretch&) = default;
};

struct Shape {
    int n = 0;                        // periods
    int size = 0;                     // k: main periods in every candidate selection
    int min_run = 1;                  // min_consecutive_periods
    int max_gap = 0;                  // max_gap_between_periods, at most n - 1 (no gap can be longer)
    int max_lead = 0;                 // max_gap_from_start, at most n - 1
    std::vector<std::uint8_t> cheap;  // 1 for a cheap period
    // For a cheap period, the first and the last period of the run of cheap periods
    // holding it; unused elsewhere.
    std::vector<int> run_first;
    std::vector<int> run_last;

    // The conditions of a plan (conditions.hpp); all empty or 0 without them, which
    // leaves every path of the planner as it is for cheapest_periods.
    // running_for, at most min_run (a longer carried run behaves alike).
    int carried = 0;
    // With a carried run, the periods from 0 that a run starting there needs:
    // max(1, min_run - carried), at most n + 1; 0 without one.
    int carried_head = 0;
    // The last blocked period; -1 when none is.
    int last_blocked = -1;
    // 1 for a period that may be chosen; empty when every one may.
    std::vector<std::uint8_t> allowed;
    // Ascending and apart: the periods p with a blocked period in p - min_run + 1 .. p,
    // where no run can be min_run long (or reach back to a carried run).
    std::vector<PeriodStretch> stalled;
    // No run shorter than min_run, the last one included: the run that ends at the last
    // period is not exempt.
    bool strict_end = false;
    // The quota per local day (conditions.hpp): each period's day and each day's
    // fewest main periods; both empty without one.
    std::vector<int> day_of;
    std::vector<int> day_quota;

    bool has_quota() const noexcept { return !day_quota.empty(); }

    bool is_cheap(int period) const noexcept {
        return period >= 0 && period < n && cheap[static_cast<std::size_t>(period)] != 0;
    }
    friend bool operator==(const Shape&, const Shape&) = default;
};

// Preconditions: 1 <= cheap.size() <= max_periods and the rules passed validation
// (1 <= min_consecutive_periods <= min_selections <= cheap.size(),
// max_gap_from_start <= max_gap_between_periods).
Shape make_shape(std::span<const std::uint8_t> cheap, const SelectionRules& rules);
// The same into `shape`, reusing its arrays.
void make_shape(Shape& shape, std::span<const std::uint8_t> cheap, const SelectionRules& rules);

// The fewest periods of any selection over n periods that meets the timing rules.
// Adding a period next to a selected one never breaks a rule (gaps shrink, runs
// grow, a run ending at the last period keeps ending there), so every larger size up
// to n has a valid selection too; under a strict end as well, as the grown run was
// already min_run long. Preconditions: 1 <= min_run <= n, 0 <= max_lead <= max_gap <= n - 1.
int smallest_valid_size(int n, int min_run, int max_gap, int max_lead, bool strict_end = false) noexcept;

// Lower bounds for a selection that has period p in a run already at least min_run
// long at p (it may go on after p), for every p (`fewest` has n entries): the main
// periods it holds after p, and those it holds in 0 .. p. Both are exact minima of the
// counting argument in shape.cpp; the planner only relies on their being lower bounds,
// which they stay under a strict end (a last run of min_run is one more constraint).
void fewest_main_after_each(const Shape& shape, std::span<int> fewest) noexcept;
void fewest_main_through_each(const Shape& shape, std::span<int> fewest) noexcept;

}  // namespace kestrava::rules
