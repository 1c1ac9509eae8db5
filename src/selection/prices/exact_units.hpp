// The bounds on a request's units (price_units.hpp) inside which the planner's integer
// arithmetic reaches the same outcomes as the decimal sums and rounded decimal averages
// that define an answer.
//
// Why the bounds are enough. Let every price be c_i / 10^s with integer c_i (s the
// common scale: the smallest scale at which every price is a whole number of units).
//
// 1. Sums. With sum |c_i| <= 2^90, every partial sum of any subset is a multiple of
//    10^-s whose magnitude at scale s stays below 2^96. A decimal addition therefore
//    never overflows, and where it drops to a smaller scale only zero digits are
//    dropped: every cost is the exact integer sum, whatever the order of addition.
//
// 2. Averages. The aggressive strategy compares cost / count quotients rounded to the
//    largest scale <= 28 whose coefficient fits in 96 bits. Let d be the smallest
//    integer with 10^d >= 2 n^2. An average's magnitude is at most max |c_i| / 10^s,
//    so with max |c_i| * 10^d <= 2^96 - 1 and s + d <= 28 the quotient fits at scale
//    s + d and is rounded at that scale or a finer one: its error is at most
//    10^-(s+d) / 2 <= 10^-s / (4 n^2). Two different averages a / m and b / m' (counts
//    m, m' <= n) differ by at least 10^-s / (m m') >= 10^-s / n^2, more than both
//    errors together, so rounding keeps their order; equal averages are the same
//    number and round alike. Comparing exact fractions by cross-multiplication thus
//    gives exactly the strict and tie outcomes of comparing the rounded quotients.
//
// 3. The planner's own arithmetic. With max |c_i| <= 2^90 and n <= 28 (2 n^2 <= 1568 <
//    2^11), the width ladder's rule (planner/integer_ladder.hpp) asks for at most
//    91 + 11 + 7 = 109 bits: a 128-bit integer always serves.
//
// Requests outside these bounds (astronomical magnitudes, or more than 24 decimals
// when averages are compared) are left to the planner for sums that round, and then
// to the exhaustive search.
#pragma once

#include <cstddef>
#include <span>

#include "decimal/decimal.hpp"
#include "selection/item.hpp"
#include "selection/outcome.hpp"
#include "selection/prices/price_units.hpp"

namespace kestrava::planner {

using int128 = __int128;

// The largest sum of price magnitudes, in units of the common scale, that the planner takes.
inline constexpr uint128 exact_magnitude_limit = uint128{1} << 90;

// The bounds above, checked: what the planner's arithmetic then relies on.
struct IntegerPrices {
    int count = 0;
    unsigned scale = 0;             // the common scale s
    uint128 magnitude_sum = 0;      // sum of |units|
    uint128 largest_magnitude = 0;  // max of |units|
};

// The smallest d with 10^d >= 2 n^2: the extra decimal digits that keep averages over
// n periods apart after rounding.
unsigned average_guard_digits(std::size_t n) noexcept;

// The bounds that `units` meet, or the first they break; `compares_averages` adds the
// bound that the aggressive strategy needs. Where they hold, every unit fits an
// int128. Precondition: at most 28 prices. Does not allocate.
Outcome<IntegerPrices, DeclineReason> exact_integer_prices(const PriceUnits& units, bool compares_averages) noexcept;

}  // namespace kestrava::planner
