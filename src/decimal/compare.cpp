// compare: orders two decimals by value, whatever their scales.
#include <compare>

#include "decimal/decimal.hpp"
#include "decimal/powers_of_ten.hpp"

namespace kestrava {
namespace {

// -1, 0 or 1; zero carries no sign, so it sits between the negatives and the positives.
constexpr int sign_of(const Decimal& value) noexcept {
    if (value.is_zero()) return 0;
    return value.is_negative() ? -1 : 1;
}

// Compares |small_scale| * 10^scale_gap with |large_scale|. When the scaled-up
// coefficient would pass 2^96 - 1 it is larger than any coefficient, so the product
// is never formed beyond 96 bits.
std::strong_ordering compare_magnitudes(uint128 small_scale, uint128 large_scale, unsigned scale_gap) noexcept {
    if (small_scale > max_coefficient_over_pow10[scale_gap]) return std::strong_ordering::greater;
    return small_scale * pow10_u128[scale_gap] <=> large_scale;
}

}  // namespace

std::strong_ordering compare(const Decimal& a, const Decimal& b) noexcept {
    const int sign_a = sign_of(a);
    const int sign_b = sign_of(b);
    if (sign_a != sign_b || sign_a == 0) return sign_a <=> sign_b;

    std::strong_ordering magnitude_order = std::strong_ordering::equal;
    if (a.scale() <= b.scale()) {
        magnitude_order = compare_magnitudes(a.coefficient(), b.coefficient(), b.scale() - a.scale());
    } else {
        magnitude_order = 0 <=> compare_magnitudes(b.coefficient(), a.coefficient(), a.scale() - b.scale());
    }
    return sign_a > 0 ? magnitude_order : 0 <=> magnitude_order;
}

}  // namespace kestrava
