// How far the decimal sums and averages that define an answer can stray from the
// exact values, for requests whose sums round (more digits than 96 bits hold).
//
// Let every price be c_i / 10^s (s the common scale), M = sum |c_i| / 10^s, n the
// number of prices, B = M + n, and r the largest scale <= 28 with B * 10^r <= 2^96 - 1.
//
// 1. Additions. A sum over a selection starts from zero and adds one price at a time
//    in index order; each addition is exact, or rounded half to even to the largest
//    scale at which the sum fits 96 bits. Every exact partial sum lies within the
//    sum of the magnitudes added so far plus the errors made so far, so below B while
//    the errors stay below n (they do: each is at most 1/2 at scale 0 and there are
//    fewer than n). A value of magnitude at most B fits at scale r, so a rounded
//    addition keeps at least r digits: its error is at most u / 2, u = 10^-r. No
//    addition overflows, and the first addition (0 plus a price) is exact, so a sum
//    of m prices is within (m - 1) u / 2 of the exact sum.
// 2. Averages. The quotient of such a sum by its count m is below B in magnitude, so
//    the division keeps at least r digits too: error at most u / 2, and the rounded
//    average is within (m - 1) u / (2 m) + u / 2 < u of the exact average.
// 3. Candidates. The answer's rounded value is at most the exact optimum's rounded
//    value, so its exact value lies within twice the error of the exact optimum:
//    average within 2u (aggressive), cost within (k - 1) u for k main periods
//    (conservative). Every other candidate can be left out.
//
// Requests with B > 2^96 - 1 (prices whose magnitudes add up to about 7.9 * 10^28)
// have no such r: partial sums may overflow, and they are left to the exhaustive
// search.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "decimal/decimal.hpp"
#include "selection/planner/fixed_int.hpp"
#include "selection/item.hpp"

namespace kestrava::planner {

struct RoundedPrices {
    int count = 0;
    unsigned scale = 0;                  // the common scale s
    unsigned error_scale = 0;            // r: every rounding keeps at least r digits
    std::vector<planner::Int256> units;  // price i * 10^s, exactly (below 2^190); on the heap for a small stack
    unsigned largest_bits = 0;           // bit width of the largest |units|
};

// The prices as integers with their rounding bound, or nullopt when B > 2^96 - 1.
// Precondition: 1 <= items.size() <= 28. Allocates the list of units.
std::optional<RoundedPrices> rounded_prices(std::span<const Item> items);

// ceil(factor * u) in units of 10^-s: how far, in those units, candidates may lie from
// the exact optimum when their values can each be off by `factor` times u.
// factor <= 2 * 28 * 28 keeps the result below 2^105.
uint128 error_in_units(const RoundedPrices& prices, std::uint64_t factor) noexcept;

// The aggressive candidates' limit (point 3): a merge M within 2u of the lowest
// average, of `count` periods, weighs count * |M| * (average - lowest) <= 2u * count * n.
inline uint128 average_band(const RoundedPrices& prices, std::uint64_t count) noexcept {
    return error_in_units(prices, 2 * count * static_cast<std::uint64_t>(prices.count));
}

// The conservative candidates' limit: costs of k main periods within (k - 1) u of the least.
inline uint128 cost_band(const RoundedPrices& prices, std::uint64_t k) noexcept { return error_in_units(prices, k - 1); }

}  // namespace kestrava::planner
