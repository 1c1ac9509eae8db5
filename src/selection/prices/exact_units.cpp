// The bounds checks that decide whether the planner may answer a request of decimals.
#include "selection/prices/exact_units.hpp"

#include <cstdint>

#include "decimal/powers_of_ten.hpp"

namespace kestrava::planner {

unsigned average_guard_digits(std::size_t n) noexcept {
    const std::uint64_t needed = 2 * static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n);
    unsigned digits = 0;
    for (std::uint64_t power = 1; power < needed; power *= 10) ++digits;
    return digits;
}

Outcome<IntegerPrices, DeclineReason> exact_integer_prices(const PriceUnits& units,
                                                            bool compares_averages) noexcept {
    IntegerPrices prices;
    prices.count = static_cast<int>(units.size());  // at most 28
    prices.scale = units.common_scale();
    // The other forms may hold any magnitude: one of 92 bits or more is past the limit
    // before it is read into 128 bits (2^90 itself, 91 bits, may still be the whole sum).
    // Words are below 2^63, and 28 of them sum within 128 bits.
    if (!units.in_words() && units.largest_bits() > 91) return DeclineReason::magnitudes_past_exact_limit;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const int128 unit = units.unit<int128>(i);
        const uint128 magnitude = unit < 0 ? static_cast<uint128>(-unit) : static_cast<uint128>(unit);
        prices.magnitude_sum += magnitude;
        if (magnitude > prices.largest_magnitude) prices.largest_magnitude = magnitude;
    }
    if (prices.magnitude_sum > exact_magnitude_limit) return DeclineReason::magnitudes_past_exact_limit;
    if (compares_averages) {
        const unsigned guard = average_guard_digits(units.size());
        if (prices.scale + guard > Decimal::max_scale) return DeclineReason::averages_past_28_decimals;
        if (prices.largest_magnitude > max_coefficient_over_pow10[guard]) return DeclineReason::averages_past_96_bits;
    }
    return prices;
}

}  // namespace kestrava::planner
