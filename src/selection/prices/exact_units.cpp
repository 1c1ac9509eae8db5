// Conversion of decimal prices to integers at their common scale, with the bounds
// checks that decide whether the planner may answer a request.
#include "selection/prices/exact_units.hpp"

#include <cstdint>

#include "decimal/powers_of_ten.hpp"

namespace kestrava::planner {
namespace {

// floor(bound / 10^k): a magnitude times 10^k stays within the bound exactly when the
// magnitude is at most this.
constexpr std::array<uint128, Decimal::max_scale + 1> bound_over_powers_of_ten(uint128 bound) {
    std::array<uint128, Decimal::max_scale + 1> table{};
    for (std::size_t k = 0; k < table.size(); ++k) table[k] = bound / pow10_u128[k];
    return table;
}
constexpr auto exact_limit_over_pow10 = bound_over_powers_of_ten(exact_magnitude_limit);

}  // namespace

unsigned average_guard_digits(std::size_t n) noexcept {
    const std::uint64_t needed = 2 * static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n);
    unsigned digits = 0;
    for (std::uint64_t power = 1; power < needed; power *= 10) ++digits;
    return digits;
}

Outcome<IntegerPrices, DeclineReason> exact_integer_prices(std::span<const Item> items,
                                                            bool compares_averages) noexcept {
    IntegerPrices prices;
    prices.count = static_cast<int>(items.size());  // at most 28
    for (const Item& item : items) {
        const unsigned scale = reduced_scale(item.price);
        if (scale > prices.scale) prices.scale = scale;
    }
    std::size_t period = 0;
    for (const Item& item : items) {
        const Decimal& price = item.price;
        // The price's own scale can exceed the common one only by zero digits, which
        // the division drops exactly.
        uint128 magnitude = price.coefficient();
        if (price.scale() > prices.scale) {
            magnitude /= pow10_u128[price.scale() - prices.scale];
        } else if (price.scale() < prices.scale) {
            const unsigned shift = prices.scale - price.scale();
            if (magnitude > exact_limit_over_pow10[shift]) return DeclineReason::magnitudes_past_exact_limit;
            magnitude *= pow10_u128[shift];
        }
        // The sum is at most 2^90 before each addition and a magnitude below 2^96, so
        // the 128-bit sum cannot overflow.
        prices.magnitude_sum += magnitude;
        if (prices.magnitude_sum > exact_magnitude_limit) return DeclineReason::magnitudes_past_exact_limit;
        if (magnitude > prices.largest_magnitude) prices.largest_magnitude = magnitude;
        prices.units[period++] = price.is_negative() ? -static_cast<int128>(magnitude) : static_cast<int128>(magnitude);
    }
    if (compares_averages) {
        const unsigned guard = average_guard_digits(items.size());
        if (prices.scale + guard > Decimal::max_scale) return DeclineReason::averages_past_28_decimals;
        if (prices.largest_magnitude > max_coefficient_over_pow10[guard]) return DeclineReason::averages_past_96_bits;
    }
    return prices;
}

}  // namespace kestrava::planner
