// The decimal sums that define an answer, shared by the exhaustive search and the
// planner for sums that round: every sum starts from zero and adds the
// prices in ascending index order, because the rounding of a sum that no longer
// fits at its scale can depend on the order. An overflow is an internal failure.
#pragma once

#include <span>

#include "decimal/decimal.hpp"
#include "selection/item.hpp"
#include "selection/period_mask.hpp"

namespace kestrava {

// sum += addend; throws InternalFailure("Addition overflowed") when the sum does not
// fit even at scale 0.
void add_price(Decimal& sum, const Decimal& addend);

// The sum of the Items' prices in list order. Throws as add_price.
Decimal sum_of_prices(std::span<const Item> items);

// The sum of the prices of the periods in `selection`, lowest index first; the price
// of index i is items[i].price. Precondition: every index in `selection` is below
// items.size() and items[i].index == i. Throws as add_price.
Decimal sum_of_prices(std::span<const Item> items, PeriodMask selection);

}  // namespace kestrava
