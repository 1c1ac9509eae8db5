// The four counts and the strategy flag as the planner takes them. A count is any
// object with __index__ except a bool (True as a count is nearly always a misplaced
// `aggressive`); a negative count is refused by name. The flag is a bool or a numpy
// bool, nothing else: an int there is likewise a misplaced count.
#pragma once

#include <cstdint>
#include <string>

#include <nanobind/nanobind.h>

#include "selection/rules.hpp"

namespace kestrava::plan_module {

namespace nb = nanobind;

struct Count {
    nb::object integer;       // the count as an int, for messages
    std::uint64_t value = 0;  // the count, or UINT64_MAX for a larger one: no rule
                              // can tell them apart with at most 3000 prices
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

// Raise TypeError or ValueError naming the parameter.
Count read_count(nb::handle value, const char* name);
bool read_flag(nb::handle value);

}  // namespace kestrava::plan_module
