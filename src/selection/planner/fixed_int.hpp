// FixedInt<Limbs>: a signed integer of 64 * Limbs bits in two's complement, for the
// planner's scores when 128 bits are too few (the 256- and 512-bit rungs of the
// width ladder, integer_ladder.hpp).
//
// Arithmetic wraps modulo 2^(64 * Limbs) like unsigned arithmetic; the ladder picks
// a width at which no result of the planner leaves the signed range, so wrapping
// never happens there. Limbs are least significant first. Nothing allocates and
// nothing throws.
#pragma once

#include <array>
#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>

namespace kestrava::planner {

template <std::size_t Limbs>
class FixedInt {
    static_assert(Limbs >= 2, "a fixed integer is wider than one limb");

public:
    static constexpr int bits = static_cast<int>(64 * Limbs);

    // Like a native integer: FixedInt{} is zero, a default-initialized one (as in a
    // table allocated for overwriting) holds no particular value.
    constexpr FixedInt() noexcept = default;
    constexpr explicit FixedInt(std::int64_t value) noexcept {
        limbs_[0] = static_cast<std::uint64_t>(value);
        const std::uint64_t sign_fill = value < 0 ? ~std::uint64_t{0} : 0;
        for (std::size_t i = 1; i < Limbs; ++i) limbs_[i] = sign_fill;
    }
    // A named conversion, so that a plain integer literal has one constructor to take.
    static constexpr FixedInt from_int128(__int128 value) noexcept {
        FixedInt result(static_cast<std::int64_t>(value));
        result.limbs_[1] = static_cast<std::uint64_t>(value >> 64);
        const std::uint64_t sign_fill = value < 0 ? ~std::uint64_t{0} : 0;
        for (std::size_t i = 2; i < Limbs; ++i) result.limbs_[i] = sign_fill;
        return result;
    }

    // 2^exponent. Precondition: exponent < bits - 1.
    static constexpr FixedInt power_of_two(unsigned exponent) noexcept {
        FixedInt result{};
        result.limbs_[exponent / 64] = std::uint64_t{1} << (exponent % 64);
        return result;
    }

    constexpr bool is_negative() const noexcept { return (limbs_[Limbs - 1] >> 63) != 0; }
    constexpr std::uint64_t limb(std::size_t index) const noexcept { return limbs_[index]; }

    // The number of significant bits of |value|; 0 for zero.
    constexpr unsigned magnitude_bit_width() const noexcept {
        const FixedInt magnitude = is_negative() ? -*this : *this;
        for (std::size_t i = Limbs; i-- > 0;) {
            if (magnitude.limbs_[i] != 0) {
                return static_cast<unsigned>(64 * i) + static_cast<unsigned>(std::bit_width(magnitude.limbs_[i]));
            }
        }
        return 0;
    }

    friend constexpr FixedInt operator+(const FixedInt& a, const FixedInt& b) noexcept {
        FixedInt sum;
        std::uint64_t carry = 0;
        for (std::size_t i = 0; i < Limbs; ++i) {
            const std::uint64_t partial = a.limbs_[i] + b.limbs_[i];
            const std::uint64_t total = partial + carry;
            // At most one of the two additions wraps, so the carry stays 0 or 1.
            carry = static_cast<std::uint64_t>(partial < a.limbs_[i]) | static_cast<std::uint64_t>(total < partial);
            sum.limbs_[i] = total;
        }
        return sum;
    }

    friend constexpr FixedInt operator-(const FixedInt& a, const FixedInt& b) noexcept {
        FixedInt difference;
        std::uint64_t borrow = 0;
        for (std::size_t i = 0; i < Limbs; ++i) {
            const std::uint64_t partial = a.limbs_[i] - b.limbs_[i];
            const std::uint64_t total = partial - borrow;
            borrow =
                static_cast<std::uint64_t>(a.limbs_[i] < b.limbs_[i]) | static_cast<std::uint64_t>(partial < borrow);
            difference.limbs_[i] = total;
        }
        return difference;
    }

    friend constexpr FixedInt operator-(const FixedInt& a) noexcept { return FixedInt{} - a; }

    // The low 64 * Limbs bits of the product: for two's complement operands these
    // are the product's own bits, whatever the signs.
    friend constexpr FixedInt operator*(const FixedInt& a, const FixedInt& b) noexcept {
        FixedInt product{};
        for (std::size_t i = 0; i < Limbs; ++i) {
            if (a.limbs_[i] == 0) continue;
            unsigned __int128 carry = 0;
            for (std::size_t j = 0; i + j < Limbs; ++j) {
                // (2^64 - 1)^2 + 2 (2^64 - 1) = 2^128 - 1: no wrap.
                const unsigned __int128 step =
                    static_cast<unsigned __int128>(a.limbs_[i]) * b.limbs_[j] + product.limbs_[i + j] + carry;
                product.limbs_[i + j] = static_cast<std::uint64_t>(step);
                carry = step >> 64;
            }
        }
        return product;
    }

    constexpr FixedInt& operator+=(const FixedInt& other) noexcept { return *this = *this + other; }
    constexpr FixedInt& operator-=(const FixedInt& other) noexcept { return *this = *this - other; }

    friend constexpr bool operator==(const FixedInt&, const FixedInt&) noexcept = default;

    friend constexpr std::strong_ordering operator<=>(const FixedInt& a, const FixedInt& b) noexcept {
        // The top limb carries the sign; the lower ones compare as unsigned.
        const auto top_a = static_cast<std::int64_t>(a.limbs_[Limbs - 1]);
        const auto top_b = static_cast<std::int64_t>(b.limbs_[Limbs - 1]);
        if (top_a != top_b) return top_a <=> top_b;
        for (std::size_t i = Limbs - 1; i-- > 0;) {
            if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] <=> b.limbs_[i];
        }
        return std::strong_ordering::equal;
    }

private:
    std::array<std::uint64_t, Limbs> limbs_;
};

using Int256 = FixedInt<4>;
using Int512 = FixedInt<8>;

}  // namespace kestrava::planner
