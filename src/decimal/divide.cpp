// divide: the quotient of two decimals at the largest scale (at most 28) at which
// it fits, rounded half to even once, on the exact remainder.
#include "decimal/decimal.hpp"
#include "decimal/powers_of_ten.hpp"
#include "decimal/round_to_fit.hpp"
#include "decimal/rounding.hpp"
#include "decimal/wide_integer.hpp"

namespace kestrava {
namespace {

using decimal_detail::classify_remainder;
using decimal_detail::DroppedPart;
using decimal_detail::round_to_fit;

// The quotient is first formed at scale 29: one digit past the largest scale, so
// that rounding to scale 28 or below always drops at least one digit and the
// remainder only has to say how much lies beyond that digit.
constexpr unsigned working_scale = Decimal::max_scale + 1;

// 288 bits hold the scaled dividend: a 96-bit coefficient times 10^57 (the exponent
// is 29 + 28 - 0 at most) is below 2^286.
using WideDividend = decimal_detail::WideUnsigned<9>;

Quotient overflow() noexcept { return Quotient{DivisionStatus::overflow, Decimal()}; }

}  // namespace

Quotient divide(const Decimal& dividend, const Decimal& divisor) noexcept {
    if (divisor.is_zero()) return Quotient{DivisionStatus::division_by_zero, Decimal()};
    if (dividend.is_zero()) return Quotient{DivisionStatus::ok, Decimal()};
    const bool negative = dividend.is_negative() != divisor.is_negative();

    // dividend / divisor = (a / 10^sa) / (b / 10^sb), so the coefficient at scale 29
    // is a * 10^(29 + sb - sa) / b. As sa <= 28 the exponent is at least 1: only the
    // dividend is ever scaled.
    const unsigned exponent = working_scale + divisor.scale() - dividend.scale();
    const uint128 divisor_coefficient = divisor.coefficient();
    const uint128 dividend_coefficient = dividend.coefficient();

    if (exponent < max_u128_over_pow10.size() && dividend_coefficient <= max_u128_over_pow10[exponent]) {
        // The scaled dividend fits in 128 bits: native division.
        const uint128 scaled = dividend_coefficient * pow10_u128[exponent];
        const uint128 quotient = scaled / divisor_coefficient;
        const DroppedPart beyond =
            classify_remainder(scaled % divisor_coefficient, divisor_coefficient, DroppedPart::zero);
        const auto result = round_to_fit(quotient, working_scale, beyond, 1, negative);
        return result ? Quotient{DivisionStatus::ok, *result} : overflow();
    }

    WideDividend quotient = WideDividend::from_u128(dividend_coefficient);
    decimal_detail::mul_wide_by_pow10(quotient, exponent);
    const uint128 remainder = decimal_detail::div_wide_by_u96(quotient, divisor_coefficient);
    const DroppedPart beyond = classify_remainder(remainder, divisor_coefficient, DroppedPart::zero);
    const auto result = round_to_fit(quotient, working_scale, beyond, 1, negative);
    return result ? Quotient{DivisionStatus::ok, *result} : overflow();
}

}  // namespace kestrava
