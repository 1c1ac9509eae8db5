// Requests whose prices add up past 2^96 - 1 on one side of zero: whether the sums
// the exhaustive search forms stay within 96 bits (rounding_error.hpp, points 5 and
// 6), decided from the tables instead of from the sums themselves.
#pragma once

#include <cstdint>
#include <span>

#include "selection/item.hpp"
#include "selection/period_mask.hpp"
#include "selection/planner/rounded/rounding_error.hpp"
#include "selection/rules/shape.hpp"

namespace kestrava::planner {

// Forms the sum of every price as the search forms it first. Then assigns the r of a
// bound on every partial sum the search forms, and returns true, when there is one.
// Otherwise sums, as the search does, the selections that reach furthest from zero:
// each throws InternalFailure("Addition overflowed") when it overflows, which is then
// the search's answer too. False leaves the request to the search.
// Preconditions: shape.size < shape.n; `cheap` marks the cheap periods.
bool bound_formed_sums(std::span<const Item> items, RoundedPrices& prices, std::span<const std::uint8_t> cheap,
                       const rules::Shape& shape, bool aggressive);

// The cheapest-main search, past B, once the planner has its main combination and
// `widest`, that with every admissible cheap block: true when none of the merges the
// search sums can overflow; otherwise sums `widest` as the search does, which throws
// when it overflows, and returns false to leave the request to the search.
bool merges_stay_within(std::span<const Item> items, const RoundedPrices& prices, PeriodMask main, PeriodMask widest);

}  // namespace kestrava::planner
