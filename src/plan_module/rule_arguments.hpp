// The four counts and the strategy flag as the planner takes them. A count is any
// object with __index__ except a bool (True as a count is nearly always a misplaced
// `aggressive`); a negative count is refused by name. The flag is a bool or a numpy
// bool, nothing else: an int there is likewise a misplaced count.
#pragma once

#include <cstdint>
#include <string>

#include <nanobind/nanobind.h>

#include "selection/rules/selection_rules.hpp"

namespace kestrava::plan_module {

namespace nb = nanobind;

// Counts of 2^63 and more mean the same to the planner (no limit reaches past 3000
// prices), but the rules also compare two counts: 2**70 as max_gap_from_start is above
// 2**64 - 1 as max_gap_between_periods. Such a count is planned with the value 2^63
// plus the number of such counts below it, so every comparison keeps the answer of the
// values as written.
struct Count {
    nb::object integer;       // the count as an exact int, for the ranks and messages
    std::uint64_t value = 0;  // the count, or its rank value when large
    bool large = false;       // 2^63 or more
    std::string written() const;
};

struct RuleArguments {
    Count min_selections;
    Count min_consecutive_periods;
    Count max_gap_between_periods;
    Count max_gap_from_start;

    SelectionRules rules() const noexcept {
        return {min_selections.value, min_consecutive_periods.value, max_gap_between_periods.value,
                max_gap_from_start.value};
    }
};

// A count by the rules above; a negative one raises ValueError naming the parameter,
// or, given `negative`, sets it instead (its value is then 0).
Count read_count(nb::handle value, const char* name, bool* negative = nullptr);
// Whether low < high as the ints written.
bool exactly_below(const Count& low, const Count& high);

// Raise TypeError or ValueError naming the parameter.
RuleArguments read_rule_arguments(nb::handle min_selections, nb::handle min_consecutive_periods,
                                  nb::handle max_gap_between_periods, nb::handle max_gap_from_start);
bool read_flag(nb::handle value, std::string_view name);

}  // namespace kestrava::plan_module
