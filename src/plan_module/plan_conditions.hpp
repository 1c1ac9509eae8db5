// The conditions of _plan as Python objects: `allowed` (None, or a sequence of bools,
// Python's or numpy's) and the carried counts running_for and off_for (ints by the
// counts' rules, read as given, their sign checked later in the fixed order). Turns
// them into the core's rules::Conditions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nanobind/nanobind.h>

#include "plan_module/rule_arguments.hpp"
#include "selection/rules/conditions.hpp"

namespace kestrava::plan_module {

namespace nb = nanobind;

struct PlanConditions {
    bool restricted = false;            // allowed was given
    std::vector<std::uint8_t> allowed;  // 1 for an allowed period
    Count running_for;
    Count off_for;
    bool running_for_negative = false;
    bool off_for_negative = false;
    bool strict_end = false;
    // A quota per local day, as plan works it out from the times: each period's day,
    // each day's quota, each day's local date for the messages; all empty without one.
    std::vector<std::uint32_t> day_of;
    std::vector<std::uint32_t> day_quota;
    std::vector<std::string> day_names;

    // The core's conditions. A count of 2^63 or more is planned with a value that
    // keeps every comparison and difference the planner makes with the rules (see
    // plan_conditions.cpp); the mask is a view of `allowed`.
    rules::Conditions conditions(const RuleArguments& rules, std::size_t n) const;
};

// The days of a quota: None, or lists of ints (day_of, day_quota) and of strs (the
// days' names). Raises TypeError or ValueError when they do not fit each other or the
// n periods; plan gives them, so these are not a user's messages.
struct PlanDays {
    nb::handle day_of;
    nb::handle day_quota;
    nb::handle day_names;
};

// Raises TypeError naming the argument (allowed[i] for an item that is no bool).
PlanConditions read_plan_conditions(nb::handle allowed, nb::handle running_for, nb::handle off_for,
                                    nb::handle strict_end, const PlanDays& days, std::size_t n);

}  // namespace kestrava::plan_module
