// The rules of a row of plan_table, in the order of plan's parameters, with their
// names, and the counts among them.
#pragma once

#include <array>
#include <cstddef>

namespace kestrava::table {

enum class Rule : std::size_t {
    low_price_threshold,
    min_selections,
    min_consecutive_periods,
    max_gap_between_periods,
    max_gap_from_start,
    aggressive,
    allowed,
    running_for,
    off_for,
    most_expensive,
    allow_short_last_run,
    min_per_day,
    done_today,
};
inline constexpr std::size_t rule_count = 13;
// The one place that names them: plan's parameters, the columns' roles, the messages
// and kestrava_plan._planner.RULES, from which Python builds its own table.
inline constexpr std::array<const char*, rule_count> rule_names = {
    "low_price_threshold", "min_selections", "min_consecutive_periods", "max_gap_between_periods",
    "max_gap_from_start", "aggressive", "allowed", "running_for", "off_for", "most_expensive",
    "allow_short_last_run", "min_per_day", "done_today"};
inline constexpr const char* rule_name(Rule rule) noexcept { return rule_names[static_cast<std::size_t>(rule)]; }

// The counts of a row, in plan's order of parameters.
enum class CountRule : std::size_t {
    min_selections,
    min_consecutive_periods,
    max_gap_between_periods,
    max_gap_from_start,
    running_for,
    off_for,
    min_per_day,
    done_today
};
inline constexpr std::size_t count_rule_count = 8;
// The counts the planner reads itself; the day counts after them become a row's days.
inline constexpr std::size_t planner_count_rule_count = 6;
// The index in Rule of count `c`: the counts follow the threshold, with aggressive and
// allowed before the carried two, and the two flags before the day counts.
inline constexpr std::size_t count_rule_index(std::size_t c) noexcept { return c < 4 ? c + 1 : c < 6 ? c + 3 : c + 5; }

}  // namespace kestrava::table
