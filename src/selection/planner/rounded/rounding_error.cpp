// The prices as wide integers and the scale that bounds every rounding error.
#include "selection/planner/rounded/rounding_error.hpp"

#include <algorithm>

#include "decimal/powers_of_ten.hpp"

namespace kestrava::planner {
namespace {

using planner::Int256;
using planner::Int512;

Int512 wide(uint128 value) noexcept { return Int512::from_int128(static_cast<__int128>(value)); }

// Precondition: value < 2^127 (a coefficient below 2^96 times at most 10^28 needs a
// 256-bit product, made here).
Int256 units_of(const Decimal& price, unsigned common_scale) noexcept {
    uint128 coefficient = price.coefficient();
    unsigned scale = price.scale();
    // Digits beyond the common scale are trailing zeros.
    if (scale > common_scale) {
        coefficient /= pow10_u128[scale - common_scale];
        scale = common_scale;
    }
    const Int256 magnitude = Int256::from_int128(static_cast<__int128>(coefficient)) *
                             Int256::from_int128(static_cast<__int128>(pow10_u128[common_scale - scale]));
    return price.is_negative() ? -magnitude : magnitude;
}

Int512 widen(const Int256& value) noexcept {
    Int512 result{};
    for (int limb = 3; limb >= 0; --limb) {
        result = result * Int512::power_of_two(64) +
                 Int512::from_int128(static_cast<__int128>(value.limb(static_cast<std::size_t>(limb))));
    }
    return result;
}

}  // namespace

std::optional<RoundedPrices> rounded_prices(std::span<const Item> items) {
    RoundedPrices prices;
    prices.count = static_cast<int>(items.size());
    prices.units.reserve(items.size());
    for (const Item& item : items) prices.scale = std::max(prices.scale, reduced_scale(item.price));
    // B * 10^s = sum |c_i| + n 10^s, below 2^196: exact in 512 bits, and so is every
    // product with a power of ten up to 10^28 below.
    const Int512 unit = wide(pow10_u128[prices.scale]);
    Int512 bound = Int512(static_cast<std::int64_t>(items.size())) * unit;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Int256 units = units_of(items[i].price, prices.scale);
        prices.units.push_back(units);
        const Int256 magnitude = units.is_negative() ? -units : units;
        bound += widen(magnitude);
        prices.largest_bits = std::max(prices.largest_bits, magnitude.magnitude_bit_width());
    }
    const Int512 room = wide(Decimal::max_coefficient) * unit;
    for (unsigned r = Decimal::max_scale + 1; r-- > 0;) {
        if (bound * wide(pow10_u128[r]) <= room) {
            prices.error_scale = r;
            return prices;
        }
    }
    return std::nullopt;
}

uint128 error_in_units(const RoundedPrices& prices, std::uint64_t factor) noexcept {
    const uint128 f = factor;
    if (prices.error_scale <= prices.scale) return f * pow10_u128[prices.scale - prices.error_scale];
    const uint128 divisor = pow10_u128[prices.error_scale - prices.scale];
    return (f + divisor - 1) / divisor;
}

}  // namespace kestrava::planner
