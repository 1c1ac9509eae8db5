// Brings an exact magnitude of any width to the largest scale at which its rounded
// coefficient fits in 96 bits: the common last step of addition and division.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>

#include "decimal/decimal.hpp"
#include "decimal/powers_of_ten.hpp"
#include "decimal/rounding.hpp"
#include "decimal/wide_integer.hpp"

namespace kestrava::decimal_detail {

// The same few questions, asked of a native 128-bit magnitude or a wide one.

constexpr bool fits_u96(uint128 value) noexcept { return value <= Decimal::max_coefficient; }
template <std::size_t Limbs>
constexpr bool fits_u96(const WideUnsigned<Limbs>& value) noexcept {
    return value.fits_u96();
}

constexpr uint128 low_u128(uint128 value) noexcept { return value; }
template <std::size_t Limbs>
constexpr uint128 low_u128(const WideUnsigned<Limbs>& value) noexcept {
    return value.low_u128();
}

constexpr unsigned bit_length(uint128 value) noexcept {
    const auto high = static_cast<std::uint64_t>(value >> 64);
    if (high != 0) return 64 + static_cast<unsigned>(std::bit_width(high));
    return static_cast<unsigned>(std::bit_width(static_cast<std::uint64_t>(value)));
}
template <std::size_t Limbs>
constexpr unsigned bit_length(const WideUnsigned<Limbs>& value) noexcept {
    return value.bit_length();
}

// Drops the `count` lowest decimal digits of `value` (truncating) and returns what
// the dropped digits, with the `earlier` part dropped before them, were worth.
// Precondition: count <= 38, so 10^count fits the native 128-bit division.
constexpr DroppedPart drop_digits(uint128& value, unsigned count, DroppedPart earlier) noexcept {
    if (count == 0) return earlier;
    const uint128 unit = pow10_u128[count];
    const uint128 remainder = value % unit;
    value /= unit;
    return classify_remainder(remainder, unit, earlier);
}
template <std::size_t Limbs>
constexpr DroppedPart drop_digits(WideUnsigned<Limbs>& value, unsigned count, DroppedPart earlier) noexcept {
    while (count > 0) {
        const unsigned step = count < max_digits_per_division ? count : max_digits_per_division;
        const uint128 unit = pow10_u128[step];
        earlier = classify_remainder(div_wide_by_u96(value, unit), unit, earlier);
        count -= step;
    }
    return earlier;
}

// A lower bound on the digits to drop before `value` can fit in 96 bits. A value
// of L bits is at least 2^(L-1), and it fits after k drops only if
// 2^(L-1) < 2^96 * 10^k, that is k > (L - 97) * log10(2). 1233/4096 is just below
// log10(2), so the floor of (L - 97) * 1233 / 4096 never exceeds the true minimum.
constexpr unsigned digits_to_drop_at_least(unsigned bits) noexcept { return bits > 97 ? (bits - 97) * 1233 / 4096 : 0; }

// The exact value magnitude / 10^scale (plus `dropped`, the part of a unit below
// it, already discarded) rounded half to even to the largest scale at most
// scale - min_drop at which the rounded coefficient fits in 96 bits, with the sign.
// nullopt: it does not fit even at scale 0. Precondition: min_drop <= scale.
// Rounds once: digits are only truncated until the last, and `dropped` carries the
// exact worth of everything removed.
template <typename Magnitude>
constexpr std::optional<Decimal> round_to_fit(Magnitude magnitude, unsigned scale, DroppedPart dropped,
                                              unsigned min_drop, bool negative) noexcept {
    unsigned drop = digits_to_drop_at_least(bit_length(magnitude));
    if (drop < min_drop) drop = min_drop;
    if (drop > scale) return std::nullopt;
    dropped = drop_digits(magnitude, drop, dropped);
    scale -= drop;
    for (;;) {
        if (fits_u96(magnitude)) {
            uint128 coefficient = low_u128(magnitude);
            if (rounds_up(RoundingMode::half_even, dropped, (coefficient & 1) != 0)) ++coefficient;
            if (coefficient <= Decimal::max_coefficient) return Decimal::from_parts(negative, coefficient, scale);
            // The rounding carry reached 2^96: one more digit has to go.
        }
        if (scale == 0) return std::nullopt;
        dropped = drop_digits(magnitude, 1, dropped);
        --scale;
    }
}

}  // namespace kestrava::decimal_detail
