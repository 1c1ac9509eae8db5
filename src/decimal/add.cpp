// checked_add: the exact sum of two decimals at the larger scale, rounded half to
// even to a smaller scale only when it does not fit in 96 bits.
#include <optional>

#include "decimal/decimal.hpp"
#include "decimal/powers_of_ten.hpp"
#include "decimal/round_to_fit.hpp"
#include "decimal/rounding.hpp"
#include "decimal/wide_integer.hpp"

namespace kestrava {
namespace {

using decimal_detail::DroppedPart;
using decimal_detail::round_to_fit;

// 192 bits hold a 96-bit coefficient times 10^28 (below 2^190) plus another
// operand, the widest exact sum.
using WideSum = decimal_detail::WideUnsigned<6>;

// Signed sum of two magnitudes already at the same scale, each below 2^96: their
// sum is below 2^97, so it is exact in 128 bits.
std::optional<Decimal> add_aligned(bool negative_a, uint128 a, bool negative_b, uint128 b, unsigned scale) noexcept {
    if (negative_a == negative_b) {
        const uint128 sum = a + b;
        if (sum <= Decimal::max_coefficient) return Decimal::from_parts(negative_a, sum, scale);
        return round_to_fit(sum, scale, DroppedPart::zero, 0, negative_a);
    }
    // Opposite signs: the larger magnitude keeps its sign; equal ones give zero,
    // which from_parts leaves unsigned.
    if (a >= b) return Decimal::from_parts(negative_a, a - b, scale);
    return Decimal::from_parts(negative_b, b - a, scale);
}

// The general case: `scaled` times 10^scale_gap outgrows 96 bits, so the sum is
// formed exactly in 192 bits.
std::optional<Decimal> add_wide_aligned(bool negative_scaled, uint128 scaled, unsigned scale_gap, bool negative_other,
                                        uint128 other, unsigned scale) noexcept {
    WideSum wide_scaled = WideSum::from_u128(scaled);
    decimal_detail::mul_wide_by_pow10(wide_scaled, scale_gap);
    const WideSum wide_other = WideSum::from_u128(other);
    if (negative_scaled == negative_other) {
        decimal_detail::add_wide(wide_scaled, wide_other);
    } else {
        // The scaled magnitude is above 2^96 - 1, so it is the larger one.
        decimal_detail::sub_wide(wide_scaled, wide_other);
    }
    return round_to_fit(wide_scaled, scale, DroppedPart::zero, 0, negative_scaled);
}

}  // namespace

std::optional<Decimal> checked_add(const Decimal& a, const Decimal& b) noexcept {
    if (a.scale() == b.scale()) {
        // The common case of sums of prices: nothing to scale.
        return add_aligned(a.is_negative(), a.coefficient(), b.is_negative(), b.coefficient(), a.scale());
    }
    const Decimal& lower = a.scale() <= b.scale() ? a : b;   // the operand to scale up
    const Decimal& higher = a.scale() <= b.scale() ? b : a;  // the one that sets the scale
    const unsigned scale_gap = higher.scale() - lower.scale();
    const uint128 lower_coefficient = lower.coefficient();
    if (lower_coefficient <= max_coefficient_over_pow10[scale_gap]) {
        return add_aligned(lower.is_negative(), lower_coefficient * pow10_u128[scale_gap], higher.is_negative(),
                           higher.coefficient(), higher.scale());
    }
    return add_wide_aligned(lower.is_negative(), lower_coefficient, scale_gap, higher.is_negative(),
                            higher.coefficient(), higher.scale());
}

}  // namespace kestrava
