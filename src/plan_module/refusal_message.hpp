// The message of a planner's error value for _plan, cheapest_periods and plan_table's
// rows: which argument, price or rule is wrong, with the values as written.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "plan_module/plan_conditions.hpp"
#include "plan_module/rule_arguments.hpp"
#include "selection/outcome.hpp"

namespace kestrava::plan_module {

// How a message shows price i, or the threshold (index nullopt): see price_objects.hpp.
using ShownPrice = std::function<std::string(std::optional<std::size_t> index)>;

// The message of any error value but `interrupted`, for `n` prices; `conditions` are
// those of _plan, nullptr for cheapest_periods. With the interpreter lock held.
std::string refusal_message(const Error& error, const RuleArguments& counts, const PlanConditions* conditions,
                            std::size_t n, const ShownPrice& shown_price);

}  // namespace kestrava::plan_module
