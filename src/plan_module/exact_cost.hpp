// The cost of a plan as exact decimal text: the sum of the chosen prices' texts, as
// Python's Decimal adds them from Decimal(0): written with as many decimals as the
// most precise chosen price ("1.50" + "2" is "3.50"), never in exponent notation,
// and never "-0". Plain C++; the scratch digit arrays are the caller's, kept between
// calls.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "selection/item.hpp"

namespace kestrava::plan_module {

struct CostScratch {
    std::vector<std::uint32_t> positive;  // digit sums by place, least significant first
    std::vector<std::uint32_t> negative;
};

// Precondition: every chosen text is one the planner accepted (a sign, digits and
// '_' with at most one point).
std::string exact_cost(std::span<const std::string_view> prices, const IndexList& chosen, CostScratch& scratch);

}  // namespace kestrava::plan_module
