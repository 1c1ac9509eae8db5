// The shape of a request as the planner reads it: the number of periods, the timing
// rules brought into the range that can matter, and where the cheap periods lie; plus
// the smallest size at which a valid combination exists. Periods, counts and run
// lengths are plain ints throughout the planner: a request has at most 28 periods.
#pragma once

#include <cstdint>
#include <span>

#include "selection/item.hpp"
#include "selection/period_mask.hpp"
#include "selection/planner/int_indexed.hpp"
#include "selection/rules.hpp"

namespace kestrava::planner {

struct Layout {
    int n = 0;         // periods
    int min_run = 1;   // min_consecutive_periods
    int max_gap = 0;   // max_gap_between_periods, at most n - 1 (no gap can be longer)
    int max_lead = 0;  // max_gap_from_start, at most n - 1
    PeriodMask cheap = 0;
    // For a cheap period, the first period of the run of cheap periods holding it.
    PerPeriod<int> cheap_run_start{};

    bool is_cheap(int period) const noexcept {
        return period >= 0 && holds_period(cheap, static_cast<std::uint64_t>(period));
    }
};

// Preconditions as for the exhaustive search: 2 <= n <= 28, cheap_items ascending with
// indices below n, 1 <= min_consecutive_periods <= min_selections.
Layout make_layout(std::size_t n, std::span<const Item> cheap_items, const SelectionRules& rules) noexcept;

// A size at which a valid combination surely exists: t blocks of min_run periods,
// the first starting at period max_lead and each next one max_gap periods after the
// previous, where t is the fewest that leave a trailing gap of at most max_gap. The
// last block is moved left to end at the last period if it would run past it (a
// block that then joins the one before only grows). All rules hold, and the
// combination has at most t * min_run periods, so the smallest valid size is at most that.
int valid_size_upper_bound(const Layout& layout) noexcept;

// The fewest periods of any combination that passes every timing rule. Adding a
// period next to a selected one never breaks a rule (gaps shrink, blocks grow, a
// block ending at the last period keeps ending there), so every larger size up to n
// has a valid combination too.
int smallest_valid_size(const Layout& layout) noexcept;

}  // namespace kestrava::planner
