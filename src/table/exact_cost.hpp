// The cost of a plan as exact decimal text: the sum of the chosen prices' texts, as
// Python's Decimal adds them from Decimal(0): written with as many decimals as the
// most precise chosen price ("1.50" + "2" is "3.50"), never in exponent notation,
// and never "-0". Plain C++; the scratch digit arrays are the caller's, kept between
// calls.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "selection/item.hpp"
#include "selection/prices/short_prices.hpp"

namespace kestrava::table {

// A price of few digits as a whole number of 10^-decimals.
struct ShortPrice {
    std::int64_t units = 0;
    std::size_t decimals = 0;
};

struct CostScratch {
    std::vector<std::uint32_t> positive;  // digit sums by place, least significant first
    std::vector<std::uint32_t> negative;
    std::vector<ShortPrice> short_prices;
};

// Precondition: every chosen text is one the planner accepted (a sign, digits and
// '_' with at most one point).
std::string exact_cost(std::span<const std::string_view> prices, const IndexList& chosen, CostScratch& scratch);

// The most decimals a price may have for the sums below to be kept in 128 bits.
inline constexpr std::size_t short_cost_decimals = 15;

// The same text from the prices as the planner's short reader read them: their units
// at the common scale, brought to the decimals the chosen prices are written with.
// Empty when a chosen price is written with more than 15 decimals.
std::optional<std::string> exact_cost(const planner::ShortPrices& prices, const IndexList& chosen);

}  // namespace kestrava::table
