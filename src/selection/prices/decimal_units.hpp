// The decimal adapter: kestrava's 96-bit decimals as PriceUnits, the same value the
// text reader makes of the same prices written as text.
#pragma once

#include <span>

#include "decimal/decimal.hpp"
#include "selection/item.hpp"
#include "selection/prices/price_units.hpp"

namespace kestrava::planner {

// Words where every price's units stay below 10^18 at a common scale of at most 18 and
// the threshold has at most 18 digits and decimals; decimals otherwise. Allocates only
// as its arrays grow.
void decimal_price_units(std::span<const Item> items, const Decimal& threshold, PriceUnits& units);
// The units alone, for a caller that knows the cheap periods already: is_cheap and
// is_dear are then not to be asked.
void decimal_price_units(std::span<const Item> items, PriceUnits& units);

// Writes one request's decimals into a PriceUnits: the adapter's only way in.
class DecimalUnitsWriter {
public:
    static bool write_words(std::span<const Item> items, unsigned common_scale, const Decimal* threshold,
                            PriceUnits& units);
    static void write_decimals(std::span<const Item> items, unsigned common_scale, const Decimal* threshold,
                               PriceUnits& units);
};

}  // namespace kestrava::planner
