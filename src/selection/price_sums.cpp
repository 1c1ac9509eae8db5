// Exact, ordered sums of prices; the one place where a sum's overflow turns into
// an internal failure.
#include "selection/price_sums.hpp"

#include <bit>

#include "selection/internal_failure.hpp"

namespace kestrava {

void add_price(Decimal& sum, const Decimal& addend) {
    const std::optional<Decimal> result = checked_add(sum, addend);
    if (!result) throw InternalFailure("Addition overflowed");
    sum = *result;
}

Decimal sum_of_prices(std::span<const Item> items) {
    Decimal sum;
    for (const Item& item : items) add_price(sum, item.price);
    return sum;
}

Decimal sum_of_prices(std::span<const Item> items, PeriodMask selection) {
    Decimal sum;
    while (selection != 0) {
        add_price(sum, items[static_cast<std::size_t>(std::countr_zero(selection))].price);
        selection &= selection - 1;  // clears the lowest set bit
    }
    return sum;
}

}  // namespace kestrava
