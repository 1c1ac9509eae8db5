// The docstring of kestrava_plan._planner.
#pragma once

#include <string_view>

namespace kestrava::plan_module::docstrings {

inline constexpr std::string_view module =
    "The compiled planner of kestrava_plan: cheapest_periods for any number of prices.";

}  // namespace kestrava::plan_module::docstrings
