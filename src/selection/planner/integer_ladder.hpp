// The width ladder: the four integer types the planner runs on (int64_t, __int128,
// Int256, Int512), their common operations, and the rule that picks the narrowest
// one a request needs.
//
// Why the rule is enough. Let n <= max_periods be the number of periods and P the
// largest price magnitude in units of the common scale (prices are p_i, |p_i| <= P).
//
// 1. Costs and counts. Any set of periods costs at most nP in magnitude and holds at
//    most n periods. Cross products that compare two averages, cost_a * count_b, are
//    at most n^2 P.
// 2. Weights of one pass. The cheapest-main pass weighs period i by p_i; an average
//    round at the average cost / count of some merge weighs it by count * p_i - cost,
//    at most nP + nP = 2nP. In both cases S = sum |w_i| <= 2 n^2 P.
// 3. Table values (tables.hpp). A reachable value is the weight of one set of
//    periods, |v| <= S. Unreachable states start from the sentinel U = 2^(W-3) and
//    then gather the weights of disjoint regions, so they stay in [U - S, U + S].
//    The largest intermediate adds at most 4S more (a window key of 3S plus the
//    gap's end term of 2S, less the S already counted): |x| <= U + 5S.
// 4. With S <= 2^(W-7): U + 5S < 2^(W-3) + 2^(W-4) < 2^(W-1), so nothing overflows a
//    signed W-bit integer; and every reachable value stays below 2^(W-4), every
//    unreachable one above U - S > 2^(W-4), which is the reachability test.
//
// So a width W serves when 2 n^2 P <= 2^(W-7), which holds when
// bit_width(P) + bit_width(2 n^2) <= W - 7 (P < 2^bit_width(P), likewise for 2n^2).
// At the limits, n = 3000 gives bit_width(2 n^2) = 25, and a price below 10^140
// has bit_width at most 466 (10^140 < 2^465.08), so 466 + 25 + 7 = 498 <= 512: every
// request within max_periods and max_price_digits fits the widest rung.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "selection/planner/fixed_int.hpp"

namespace kestrava::planner {

using int128 = __int128;

// The most periods a request may have: a month of quarter-hours with a day of 25 hours.
inline constexpr std::size_t max_periods = 3000;

// The most significant digits a price may have at the common scale (its units).
inline constexpr std::size_t max_price_digits = 140;

template <class Int>
struct IntegerWidth;
template <>
struct IntegerWidth<std::int64_t> {
    static constexpr int bits = 64;
};
template <>
struct IntegerWidth<int128> {
    static constexpr int bits = 128;
};
template <std::size_t Limbs>
struct IntegerWidth<FixedInt<Limbs>> {
    static constexpr int bits = FixedInt<Limbs>::bits;
};

// 2^exponent. Precondition: exponent < bits - 1.
template <class Int>
constexpr Int power_of_two(unsigned exponent) noexcept {
    if constexpr (IntegerWidth<Int>::bits <= 128) {
        return static_cast<Int>(Int{1} << exponent);
    } else {
        return Int::power_of_two(exponent);
    }
}

// The tables' mark of a state on no valid selection, 2^(W-3) (point 3 above).
template <class Int>
constexpr Int unreachable_sentinel() noexcept {
    return power_of_two<Int>(IntegerWidth<Int>::bits - 3);
}

// The bit width of a 128-bit magnitude (std::bit_width takes no __int128).
constexpr unsigned unsigned_bit_width(unsigned __int128 value) noexcept {
    const auto high = static_cast<std::uint64_t>(value >> 64);
    return high != 0 ? 64 + static_cast<unsigned>(std::bit_width(high))
                     : static_cast<unsigned>(std::bit_width(static_cast<std::uint64_t>(value)));
}

// The number of significant bits of |value|. Precondition: value is not the most
// negative value of its type.
template <class Int>
constexpr unsigned magnitude_bit_width(const Int& value) noexcept {
    if constexpr (IntegerWidth<Int>::bits <= 128) {
        using Unsigned = std::conditional_t<IntegerWidth<Int>::bits == 64, std::uint64_t, unsigned __int128>;
        const Unsigned magnitude = value < 0 ? static_cast<Unsigned>(-value) : static_cast<Unsigned>(value);
        if constexpr (IntegerWidth<Int>::bits == 64) {
            return static_cast<unsigned>(std::bit_width(magnitude));
        } else {
            return unsigned_bit_width(magnitude);
        }
    } else {
        return value.magnitude_bit_width();
    }
}

// Precondition: the value fits Int.
template <class Int>
Int narrow(const Int256& value) noexcept {
    if constexpr (std::is_same_v<Int, Int256>) {
        return value;
    } else {
        using Unsigned = unsigned __int128;
        const auto low = static_cast<Unsigned>(value.limb(0)) | (static_cast<Unsigned>(value.limb(1)) << 64);
        return static_cast<Int>(static_cast<__int128>(low));
    }
}

enum class Rung {
    bits64,   // std::int64_t
    bits128,  // __int128
    bits256,  // Int256
    bits512,  // Int512
};

// The narrowest rung for n periods whose largest price magnitude has
// `price_bits` significant bits, by the rule above; bits512 for anything wider
// (the caller refuses prices beyond max_price_digits first).
constexpr Rung rung_for(std::size_t n, unsigned price_bits) noexcept {
    const auto periods = static_cast<std::uint64_t>(n);
    const auto needed = price_bits + static_cast<unsigned>(std::bit_width(2 * periods * periods)) + 7;
    if (needed <= 64) return Rung::bits64;
    if (needed <= 128) return Rung::bits128;
    if (needed <= 256) return Rung::bits256;
    return Rung::bits512;
}

}  // namespace kestrava::planner
