// Fixed-width unsigned integers for the exact intermediates that outgrow 128 bits:
// a sum with one operand scaled up by up to 10^28 (at most 191 bits) and a dividend
// scaled for one digit past the 28th fractional one (at most 286 bits).
//
// Limbs are 32 bits, least significant first: every limb step runs in 64-bit
// arithmetic, and a division by a divisor below 2^96 keeps its partial remainder,
// shifted by one limb, below 2^128. Every operation overwrites its first argument.
#pragma once

#include <array>
#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>

#include "decimal/decimal.hpp"
#include "decimal/powers_of_ten.hpp"

namespace kestrava::decimal_detail {

template <std::size_t Limbs>
struct WideUnsigned {
    static_assert(Limbs >= 4, "a wide integer holds at least a 128-bit value");

    std::array<std::uint32_t, Limbs> limbs{};  // least significant first

    static constexpr WideUnsigned from_u128(uint128 value) noexcept {
        WideUnsigned wide;
        for (std::size_t i = 0; i < 4; ++i) wide.limbs[i] = static_cast<std::uint32_t>(value >> (32 * i));
        return wide;
    }

    // Whether the value is at most 2^96 - 1, a decimal coefficient.
    constexpr bool fits_u96() const noexcept {
        for (std::size_t i = 3; i < Limbs; ++i) {
            if (limbs[i] != 0) return false;
        }
        return true;
    }

    // The value of the low four limbs; the whole value when the others are zero.
    constexpr uint128 low_u128() const noexcept {
        uint128 value = 0;
        for (std::size_t i = 4; i-- > 0;) value = (value << 32) | limbs[i];
        return value;
    }

    constexpr bool is_odd() const noexcept { return (limbs[0] & 1U) != 0; }

    // Number of significant bits; 0 for zero.
    constexpr unsigned bit_length() const noexcept {
        for (std::size_t i = Limbs; i-- > 0;) {
            if (limbs[i] != 0) return static_cast<unsigned>(32 * i) + static_cast<unsigned>(std::bit_width(limbs[i]));
        }
        return 0;
    }
};

// value *= factor; returns the carry out of the top limb, zero whenever the width
// was chosen to hold the product.
template <std::size_t Limbs>
constexpr std::uint32_t mul_wide_by_u32(WideUnsigned<Limbs>& value, std::uint32_t factor) noexcept {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : value.limbs) {
        // limb * factor + carry <= (2^32 - 1)^2 + 2^32 - 1 < 2^64: no wrap.
        const std::uint64_t product = std::uint64_t{limb} * factor + carry;
        limb = static_cast<std::uint32_t>(product);
        carry = product >> 32;
    }
    return static_cast<std::uint32_t>(carry);
}

// value *= 10^exponent, in steps of 10^9, the largest power of ten in one limb.
template <std::size_t Limbs>
constexpr void mul_wide_by_pow10(WideUnsigned<Limbs>& value, unsigned exponent) noexcept {
    while (exponent > 0) {
        const unsigned step = exponent < max_pow10_exponent_u32 ? exponent : max_pow10_exponent_u32;
        mul_wide_by_u32(value, static_cast<std::uint32_t>(pow10_u128[step]));
        exponent -= step;
    }
}

// value += addend; returns the carry out of the top limb.
template <std::size_t Limbs>
constexpr std::uint32_t add_wide(WideUnsigned<Limbs>& value, const WideUnsigned<Limbs>& addend) noexcept {
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < Limbs; ++i) {
        const std::uint64_t sum = std::uint64_t{value.limbs[i]} + addend.limbs[i] + carry;
        value.limbs[i] = static_cast<std::uint32_t>(sum);
        carry = sum >> 32;
    }
    return static_cast<std::uint32_t>(carry);
}

// value -= subtrahend. Precondition: value >= subtrahend.
template <std::size_t Limbs>
constexpr void sub_wide(WideUnsigned<Limbs>& value, const WideUnsigned<Limbs>& subtrahend) noexcept {
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < Limbs; ++i) {
        const std::uint64_t difference = std::uint64_t{value.limbs[i]} - subtrahend.limbs[i] - borrow;
        value.limbs[i] = static_cast<std::uint32_t>(difference);
        borrow = (difference >> 32) & 1U;  // the subtraction wrapped below zero
    }
}

template <std::size_t Limbs>
constexpr std::strong_ordering compare_wide(const WideUnsigned<Limbs>& a, const WideUnsigned<Limbs>& b) noexcept {
    for (std::size_t i = Limbs; i-- > 0;) {
        if (a.limbs[i] != b.limbs[i]) return a.limbs[i] <=> b.limbs[i];
    }
    return std::strong_ordering::equal;
}

// value /= divisor; returns the remainder. Precondition: 0 < divisor < 2^96, so the
// partial remainder (below the divisor) shifted left by one limb stays below 2^128.
template <std::size_t Limbs>
constexpr uint128 div_wide_by_u96(WideUnsigned<Limbs>& value, uint128 divisor) noexcept {
    uint128 remainder = 0;
    for (std::size_t i = Limbs; i-- > 0;) {
        const uint128 partial = (remainder << 32) | value.limbs[i];
        if (partial < divisor) {
            // Leading limbs of a small value: quotient limb zero, no division needed.
            value.limbs[i] = 0;
            remainder = partial;
        } else if ((partial >> 64) == 0) {
            // Both fit in 64 bits: the native 64-bit division is several times faster.
            const auto narrow = static_cast<std::uint64_t>(partial);
            const auto narrow_divisor = static_cast<std::uint64_t>(divisor);
            value.limbs[i] = static_cast<std::uint32_t>(narrow / narrow_divisor);
            remainder = narrow % narrow_divisor;
        } else {
            // The quotient limb is below 2^32 because remainder < divisor.
            value.limbs[i] = static_cast<std::uint32_t>(partial / divisor);
            remainder = partial % divisor;
        }
    }
    return remainder;
}

}  // namespace kestrava::decimal_detail
