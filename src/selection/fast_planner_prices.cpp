// Conversion of decimal prices to integers at their common scale, with the bounds
// checks that decide whether the fast planner may answer a request.
#include "selection/fast_planner_prices.hpp"

#include <cstdint>

namespace kestrava::fast_planner {
namespace {

// 10^0 .. 10^28; 10^28 is below 2^94, so every entry fits in 128 bits with room to spare.
constexpr std::array<uint128, Decimal::max_scale + 1> powers_of_ten = [] {
    std::array<uint128, Decimal::max_scale + 1> table{};
    uint128 power = 1;
    for (uint128& entry : table) {
        entry = power;
        power *= 10;
    }
    return table;
}();

// floor(bound / 10^k): a magnitude times 10^k stays within the bound exactly when the
// magnitude is at most this.
constexpr std::array<uint128, Decimal::max_scale + 1> bound_over_powers_of_ten(uint128 bound) {
    std::array<uint128, Decimal::max_scale + 1> table{};
    for (std::size_t k = 0; k < table.size(); ++k) table[k] = bound / powers_of_ten[k];
    return table;
}
constexpr auto exact_limit_over_pow10 = bound_over_powers_of_ten(exact_magnitude_limit);
constexpr auto coefficient_limit_over_pow10 = bound_over_powers_of_ten(Decimal::max_coefficient);

// The smallest scale at which the price is a whole number of units: its scale less
// the zero digits at the end of its coefficient. 64-bit arithmetic where the
// coefficient allows, because 128-bit remainders are library calls.
unsigned reduced_scale(const Decimal& price) noexcept {
    unsigned scale = price.scale();
    const uint128 coefficient = price.coefficient();
    if (coefficient == 0) return 0;
    if (coefficient <= UINT64_MAX) {
        std::uint64_t narrow = static_cast<std::uint64_t>(coefficient);
        while (scale > 0 && narrow % 10 == 0) {
            narrow /= 10;
            --scale;
        }
        return scale;
    }
    uint128 wide = coefficient;
    while (scale > 0 && wide % 10 == 0) {
        wide /= 10;
        --scale;
    }
    return scale;
}

}  // namespace

unsigned average_guard_digits(std::size_t n) noexcept {
    const std::uint64_t needed = 2 * static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n);
    unsigned digits = 0;
    for (std::uint64_t power = 1; power < needed; power *= 10) ++digits;
    return digits;
}

std::optional<IntegerPrices> exact_integer_prices(std::span<const Item> items, bool compares_averages) noexcept {
    IntegerPrices prices;
    prices.count = items.size();
    for (const Item& item : items) {
        const unsigned scale = reduced_scale(item.price);
        if (scale > prices.scale) prices.scale = scale;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Decimal& price = items[i].price;
        // The price's own scale can exceed the common one only by zero digits, which
        // the division drops exactly.
        uint128 magnitude = price.coefficient();
        if (price.scale() > prices.scale) {
            magnitude /= powers_of_ten[price.scale() - prices.scale];
        } else if (price.scale() < prices.scale) {
            const unsigned shift = prices.scale - price.scale();
            if (magnitude > exact_limit_over_pow10[shift]) return std::nullopt;
            magnitude *= powers_of_ten[shift];
        }
        // Each magnitude is at most 2^90, so 28 of them cannot overflow the sum.
        prices.magnitude_sum += magnitude;
        if (prices.magnitude_sum > exact_magnitude_limit) return std::nullopt;
        if (magnitude > prices.largest_magnitude) prices.largest_magnitude = magnitude;
        prices.units[i] = price.is_negative() ? -static_cast<int128>(magnitude) : static_cast<int128>(magnitude);
    }
    if (compares_averages) {
        const unsigned guard = average_guard_digits(items.size());
        if (prices.scale + guard > Decimal::max_scale) return std::nullopt;
        if (prices.largest_magnitude > coefficient_limit_over_pow10[guard]) return std::nullopt;
    }
    return prices;
}

}  // namespace kestrava::fast_planner
