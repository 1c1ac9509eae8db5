// Seeded random checks of compare, checked_add and divide against an exact model
// built on an arbitrary-precision integer of the test's own: exact rational
// comparison, and the exact result rounded by the documented rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <compare>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "decimal/decimal.hpp"

namespace kestrava {
namespace {

// A natural number of any size: 32-bit limbs, least significant first, no zero
// limb on top. Deliberately plain (bit-by-bit division) to stay obviously right.
class Natural {
public:
    Natural() = default;
    explicit Natural(uint128 value) {
        for (; value != 0; value >>= 32) limbs_.push_back(static_cast<std::uint32_t>(value));
    }

    // 10^exponent for exponent <= 60, from a table built once.
    static const Natural& pow10(unsigned exponent) {
        static const std::vector<Natural> powers = [] {
            std::vector<Natural> table{Natural(1)};
            while (table.size() <= 60) table.push_back(table.back() * 10);
            return table;
        }();
        return powers.at(exponent);
    }

    friend Natural operator*(const Natural& a, std::uint32_t factor) {
        Natural product;
        std::uint64_t carry = 0;
        for (const std::uint32_t limb : a.limbs_) {
            carry += std::uint64_t{limb} * factor;
            product.limbs_.push_back(static_cast<std::uint32_t>(carry));
            carry >>= 32;
        }
        if (carry != 0) product.limbs_.push_back(static_cast<std::uint32_t>(carry));
        product.trim();
        return product;
    }
    friend Natural operator*(const Natural& a, const Natural& b) {
        Natural product;
        product.limbs_.assign(a.limbs_.size() + b.limbs_.size(), 0);
        for (std::size_t i = 0; i < a.limbs_.size(); ++i) {
            std::uint64_t carry = 0;
            for (std::size_t j = 0; j < b.limbs_.size(); ++j) {
                carry += std::uint64_t{a.limbs_[i]} * b.limbs_[j] + product.limbs_[i + j];
                product.limbs_[i + j] = static_cast<std::uint32_t>(carry);
                carry >>= 32;
            }
            product.limbs_[i + b.limbs_.size()] = static_cast<std::uint32_t>(carry);
        }
        product.trim();
        return product;
    }
    friend Natural operator+(const Natural& a, const Natural& b) {
        Natural sum;
        std::uint64_t carry = 0;
        for (std::size_t i = 0; i < std::max(a.limbs_.size(), b.limbs_.size()); ++i) {
            carry += std::uint64_t{a.limb(i)} + b.limb(i);
            sum.limbs_.push_back(static_cast<std::uint32_t>(carry));
            carry >>= 32;
        }
        if (carry != 0) sum.limbs_.push_back(static_cast<std::uint32_t>(carry));
        return sum;
    }
    // Precondition: a >= b.
    friend Natural operator-(const Natural& a, const Natural& b) {
        Natural difference;
        std::int64_t borrow = 0;
        for (std::size_t i = 0; i < a.limbs_.size(); ++i) {
            std::int64_t limb = std::int64_t{a.limbs_[i]} - b.limb(i) - borrow;
            borrow = limb < 0 ? 1 : 0;
            if (limb < 0) limb += std::int64_t{1} << 32;
            difference.limbs_.push_back(static_cast<std::uint32_t>(limb));
        }
        difference.trim();
        return difference;
    }
    friend std::strong_ordering operator<=>(const Natural& a, const Natural& b) {
        if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() <=> b.limbs_.size();
        for (std::size_t i = a.limbs_.size(); i-- > 0;) {
            if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] <=> b.limbs_[i];
        }
        return std::strong_ordering::equal;
    }

    // {quotient, remainder}, one bit at a time (shift, compare, subtract), in place.
    // Precondition: divisor is not zero.
    friend std::pair<Natural, Natural> divmod(const Natural& dividend, const Natural& divisor) {
        Natural quotient;
        Natural remainder;
        quotient.limbs_.assign(dividend.limbs_.size(), 0);
        remainder.limbs_.assign(divisor.limbs_.size() + 1, 0);
        for (std::size_t bit = dividend.limbs_.size() * 32; bit-- > 0;) {
            std::uint32_t carry = (dividend.limbs_[bit / 32] >> (bit % 32)) & 1U;
            for (std::uint32_t& limb : remainder.limbs_) {
                const std::uint32_t next_carry = limb >> 31;
                limb = (limb << 1) | carry;
                carry = next_carry;
            }
            if (!remainder.below(divisor)) {
                remainder.subtract_in_place(divisor);
                quotient.limbs_[bit / 32] |= std::uint32_t{1} << (bit % 32);
            }
        }
        quotient.trim();
        remainder.trim();
        return {quotient, remainder};
    }

    bool is_odd() const { return !limbs_.empty() && (limbs_[0] & 1U) != 0; }
    // The value, when it fits in 128 bits.
    std::optional<uint128> to_u128() const {
        if (limbs_.size() > 4) return std::nullopt;
        uint128 value = 0;
        for (std::size_t i = limbs_.size(); i-- > 0;) value = (value << 32) | limbs_[i];
        return value;
    }

private:
    std::uint32_t limb(std::size_t i) const { return i < limbs_.size() ? limbs_[i] : 0; }
    // *this < other, where *this may carry zero limbs on top.
    bool below(const Natural& other) const {
        for (std::size_t i = std::max(limbs_.size(), other.limbs_.size()); i-- > 0;) {
            if (limb(i) != other.limb(i)) return limb(i) < other.limb(i);
        }
        return false;
    }
    // *this -= other, keeping the width. Precondition: *this >= other.
    void subtract_in_place(const Natural& other) {
        std::uint64_t borrow = 0;
        for (std::size_t i = 0; i < limbs_.size(); ++i) {
            const std::uint64_t difference = std::uint64_t{limbs_[i]} - other.limb(i) - borrow;
            limbs_[i] = static_cast<std::uint32_t>(difference);
            borrow = (difference >> 32) & 1U;
        }
    }
    void trim() {
        while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
    }
    std::vector<std::uint32_t> limbs_;
};

const Natural max_coefficient(Decimal::max_coefficient);

// numerator / denominator rounded half to even.
Natural divide_half_even(const Natural& numerator, const Natural& denominator) {
    if (denominator <=> Natural(1) == 0) return numerator;
    auto [quotient, remainder] = divmod(numerator, denominator);
    const std::strong_ordering to_half = remainder * 2 <=> denominator;
    if (to_half > 0 || (to_half == 0 && quotient.is_odd())) quotient = quotient + Natural(1);
    return quotient;
}

// An exact value numerator / (denominator * 10^unit_scale), with its sign.
struct Exact {
    bool negative = false;
    Natural numerator;
    Natural denominator;
    unsigned unit_scale = 0;

    // The coefficient at `scale`, rounded half to even.
    Natural coefficient_at(unsigned scale) const {
        if (scale >= unit_scale) return divide_half_even(numerator * Natural::pow10(scale - unit_scale), denominator);
        return divide_half_even(numerator, denominator * Natural::pow10(unit_scale - scale));
    }
};

// The value at the largest scale up to `top_scale` whose half-even coefficient fits
// in 96 bits; nullopt if none does. The rounded coefficient grows with the scale,
// so the scales that fit run from 0 up to the answer and a binary search finds it.
std::optional<Decimal> model_round(const Exact& value, unsigned top_scale) {
    const Natural at_top = value.coefficient_at(top_scale);
    if (at_top <= max_coefficient) return Decimal::from_parts(value.negative, *at_top.to_u128(), top_scale);
    if (value.coefficient_at(0) > max_coefficient) return std::nullopt;
    unsigned fits = 0;
    unsigned too_large = top_scale + 1;
    while (too_large - fits > 1) {
        const unsigned middle = (fits + too_large) / 2;
        (value.coefficient_at(middle) <= max_coefficient ? fits : too_large) = middle;
    }
    return Decimal::from_parts(value.negative, *value.coefficient_at(fits).to_u128(), fits);
}

// |value| * 10^(scale - value.scale()): the magnitude at a larger common scale.
Natural magnitude_at(const Decimal& value, unsigned scale) {
    return Natural(value.coefficient()) * Natural::pow10(scale - value.scale());
}

std::strong_ordering model_compare(const Decimal& a, const Decimal& b) {
    const auto sign = [](const Decimal& d) { return d.is_zero() ? 0 : d.is_negative() ? -1 : 1; };
    if (sign(a) != sign(b) || sign(a) == 0) return sign(a) <=> sign(b);
    const unsigned scale = std::max(a.scale(), b.scale());
    const std::strong_ordering magnitudes = magnitude_at(a, scale) <=> magnitude_at(b, scale);
    return a.is_negative() ? 0 <=> magnitudes : magnitudes;
}

std::optional<Decimal> model_add(const Decimal& a, const Decimal& b) {
    const unsigned scale = std::max(a.scale(), b.scale());
    const Natural x = magnitude_at(a, scale);
    const Natural y = magnitude_at(b, scale);
    Exact sum{a.is_negative(), x + y, Natural(1), scale};
    if (a.is_negative() != b.is_negative()) {
        sum.negative = x >= y ? a.is_negative() : b.is_negative();
        sum.numerator = x >= y ? x - y : y - x;
    }
    return model_round(sum, scale);
}

// a / b = (ca * 10^sb) / (cb * 10^sa).
std::optional<Decimal> model_divide(const Decimal& a, const Decimal& b) {
    const Exact quotient{a.is_negative() != b.is_negative(), Natural(a.coefficient()) * Natural::pow10(b.scale()),
                         Natural(b.coefficient()) * Natural::pow10(a.scale()), 0};
    return model_round(quotient, Decimal::max_scale);
}

// Coefficients drawn to reach the interesting places: small ones, any bit length,
// just below 2^96, and round numbers whose sums and quotients land on ties.
Decimal random_decimal(std::mt19937_64& random) {
    const uint128 bits = (uint128{random()} << 64) | random();
    const unsigned power = static_cast<unsigned>(random() % 29);
    uint128 ten_to_power = 1;
    for (unsigned i = 0; i < power; ++i) ten_to_power *= 10;
    uint128 coefficient = 0;
    switch (random() % 5) {
        case 0:
            coefficient = random() % 1000;
            break;
        case 1:
            coefficient = bits >> (32 + random() % 96);
            break;
        case 2:
            coefficient = Decimal::max_coefficient - random() % 1000;
            break;
        case 3:
            coefficient = ten_to_power * (1 + random() % 7) - random() % 2;
            break;
        default:
            coefficient = ten_to_power * 5 + (random() % 4 == 0 ? 1 : 0);
            break;
    }
    const unsigned scale_pick = static_cast<unsigned>(random() % 32);
    const unsigned scale =
        scale_pick > Decimal::max_scale ? (scale_pick % 2 == 0 ? 0 : Decimal::max_scale) : scale_pick;
    return Decimal::from_parts((random() & 1) != 0, coefficient, scale);
}

// The iterations of one check: `base` times KESTRAVA_DECIMAL_RANDOM_SCALE (default
// 1), so that a long run can be asked for without a rebuild.
int iterations_for(int base) {
    const char* scale = std::getenv("KESTRAVA_DECIMAL_RANDOM_SCALE");
    const int factor = scale != nullptr ? std::atoi(scale) : 1;
    return base * (factor > 0 ? factor : 1);
}

bool same_representation(const std::optional<Decimal>& a, const std::optional<Decimal>& b) {
    if (!a || !b) return a.has_value() == b.has_value();
    return a->coefficient() == b->coefficient() && a->scale() == b->scale() && a->is_negative() == b->is_negative();
}

std::string shown(const std::optional<Decimal>& value) { return value ? value->to_string() : "failure"; }

TEST(DecimalModel, CompareAgreesWithExactComparisonAndIsAntisymmetric) {
    constexpr std::uint64_t seed = 1;
    const int iterations = iterations_for(200000);
    std::mt19937_64 random(seed);
    for (int i = 0; i < iterations; ++i) {
        const Decimal a = random_decimal(random);
        const Decimal b = random_decimal(random);
        const std::strong_ordering expected = model_compare(a, b);
        ASSERT_TRUE(compare(a, b) == expected && compare(b, a) == 0 <=> expected)
            << "seed " << seed << " iteration " << i << ": compare " << a.to_string() << " with " << b.to_string();
    }
}

TEST(DecimalModel, AddAgreesWithTheRoundedExactSumAndCommutes) {
    constexpr std::uint64_t seed = 2;
    const int iterations = iterations_for(100000);
    std::mt19937_64 random(seed);
    int rounded_or_overflowed = 0;
    for (int i = 0; i < iterations; ++i) {
        const Decimal a = random_decimal(random);
        const Decimal b = random_decimal(random);
        const std::optional<Decimal> expected = model_add(a, b);
        const std::optional<Decimal> sum = checked_add(a, b);
        ASSERT_TRUE(same_representation(sum, expected) && same_representation(checked_add(b, a), expected))
            << "seed " << seed << " iteration " << i << ": " << a.to_string() << " + " << b.to_string() << " gave "
            << shown(sum) << ", expected " << shown(expected);
        if (!expected || expected->scale() < std::max(a.scale(), b.scale())) ++rounded_or_overflowed;
    }
    // The draw must reach the rounding and overflow paths, or the check says little.
    EXPECT_GT(rounded_or_overflowed, iterations / 20);
}

TEST(DecimalModel, DivideAgreesWithTheRoundedExactQuotient) {
    constexpr std::uint64_t seed = 3;
    const int iterations = iterations_for(30000);
    std::mt19937_64 random(seed);
    for (int i = 0; i < iterations; ++i) {
        const Decimal a = random_decimal(random);
        const Decimal b = random_decimal(random);
        const Quotient quotient = divide(a, b);
        std::optional<Decimal> expected;
        DivisionStatus expected_status = DivisionStatus::ok;
        if (b.is_zero()) {
            expected_status = DivisionStatus::division_by_zero;
        } else if (a.is_zero()) {
            expected = Decimal();
        } else {
            expected = model_divide(a, b);
            if (!expected) expected_status = DivisionStatus::overflow;
        }
        const std::optional<Decimal> got =
            quotient.status == DivisionStatus::ok ? std::optional<Decimal>(quotient.value) : std::nullopt;
        ASSERT_TRUE(quotient.status == expected_status && same_representation(got, expected))
            << "seed " << seed << " iteration " << i << ": " << a.to_string() << " / " << b.to_string() << " gave "
            << shown(got) << ", expected " << shown(expected);
    }
}

}  // namespace
}  // namespace kestrava
