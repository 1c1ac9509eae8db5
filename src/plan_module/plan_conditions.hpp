// The conditions of _plan as Python objects: `allowed` (None, or a sequence of bools,
// Python's or numpy's) and the carried counts running_for and off_for (ints by the
// counts' rules, read as given, their sign checked later in the fixed order). Turns
// them into the core's rules::Conditions.
#pragma once

#include <cstdint>
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

    // The core's conditions. A count of 2^63 or more is planned with a value that
    // keeps every comparison and difference the planner makes with the rules (see
    // plan_conditions.cpp); the mask is a view of `allowed`.
    rules::Conditions conditions(const RuleArguments& rules, std::size_t n) const;
};

// Raises TypeError naming the argument (allowed[i] for an item that is no bool).
PlanConditions read_plan_conditions(nb::handle allowed, nb::handle running_for, nb::handle off_for);

}  // namespace kestrava::plan_module
