// Powers of ten and the 96-bit scaling bounds derived from them, as constexpr tables,
// and reduced_scale, which strips a coefficient's trailing zero digits. The tables and
// reduced_scale are the decimal library's exports for code that works with
// coefficients directly (the planner's exact integers); the rest is internal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "decimal/decimal.hpp"

namespace kestrava {

// 10^0 to 10^38: 10^38 (about 2^126.2) is the largest power of ten below 2^128.
inline constexpr std::array<uint128, 39> pow10_u128 = [] {
    std::array<uint128, 39> table{};
    uint128 power = 1;
    for (uint128& entry : table) {
        entry = power;
        power *= 10;
    }
    return table;
}();

// floor((2^128 - 1) / 10^k) for k = 0 to 38: a value times 10^k is exact in 128
// bits exactly when the value is at most this bound.
inline constexpr std::array<uint128, pow10_u128.size()> max_u128_over_pow10 = [] {
    std::array<uint128, pow10_u128.size()> table{};
    for (std::size_t k = 0; k < table.size(); ++k) table[k] = ~uint128{0} / pow10_u128[k];
    return table;
}();

// floor((2^96 - 1) / 10^k) for k = 0 to 28: a coefficient scaled up by 10^k still
// fits in 96 bits exactly when it is at most this bound. Two scales differ by at
// most 28, so no larger k is ever asked for.
inline constexpr std::array<uint128, Decimal::max_scale + 1> max_coefficient_over_pow10 = [] {
    std::array<uint128, Decimal::max_scale + 1> table{};
    for (std::size_t k = 0; k < table.size(); ++k) table[k] = Decimal::max_coefficient / pow10_u128[k];
    return table;
}();

// The smallest scale at which the value is a whole number of units: its scale less
// the zero digits at the end of its coefficient; 0 for zero. 64-bit arithmetic where
// the coefficient allows, because 128-bit remainders are library calls. Does not allocate.
constexpr unsigned reduced_scale(const Decimal& value) noexcept {
    unsigned scale = value.scale();
    const uint128 coefficient = value.coefficient();
    if (coefficient == 0) return 0;
    if (coefficient <= UINT64_MAX) {
        std::uint64_t narrow = static_cast<std::uint64_t>(coefficient);
        for (; scale > 0 && narrow % 10 == 0; --scale) narrow /= 10;
        return scale;
    }
    uint128 wide = coefficient;
    for (; scale > 0 && wide % 10 == 0; --scale) wide /= 10;
    return scale;
}

}  // namespace kestrava

namespace kestrava::decimal_detail {

// The largest power of ten that fits in 32 bits (a limb of the wide integers).
inline constexpr unsigned max_pow10_exponent_u32 = 9;

// The largest number of decimal digits dropped by one division: 10^28 (about 2^93)
// keeps the divisor below the 2^96 that the wide division accepts.
inline constexpr unsigned max_digits_per_division = 28;

}  // namespace kestrava::decimal_detail
