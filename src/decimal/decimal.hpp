// Decimal: an exact signed base-ten number with a 96-bit unsigned coefficient
// and a scale of 0 to 28 (value = (-1)^sign * coefficient / 10^scale).
//
// A plain fixed-size value: no operation but to_string allocates, none throws, and no
// floating-point type is involved anywhere. Failures are values.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrava {

using uint128 = unsigned __int128;

class Decimal {
public:
    static constexpr unsigned max_scale = 28;
    // 2^96 - 1, the largest coefficient.
    static constexpr uint128 max_coefficient = (uint128{1} << 96) - 1;

    // Zero.
    constexpr Decimal() noexcept = default;

    // Precondition: coefficient <= max_coefficient and scale <= max_scale.
    // A zero coefficient never carries the sign.
    static constexpr Decimal from_parts(bool negative, uint128 coefficient, unsigned scale) noexcept {
        Decimal d;
        d.low_ = static_cast<std::uint64_t>(coefficient);
        d.high_ = static_cast<std::uint32_t>(coefficient >> 64);
        d.scale_ = static_cast<std::uint8_t>(scale);
        d.negative_ = negative && coefficient != 0;
        return d;
    }
    static constexpr Decimal from_unsigned(std::uint64_t value) noexcept { return from_parts(false, value, 0); }
    // The largest value: coefficient 2^96 - 1, scale 0, positive.
    static constexpr Decimal max_value() noexcept { return from_parts(false, max_coefficient, 0); }

    // Parses the decimal text grammar: optional leading sign, digits with at most one
    // point (first or last allowed), underscores ignored after the first digit, no
    // white space or exponent. Rounds half up on the first digit that cannot be
    // stored (the 29th fractional digit, or one that would overflow 96 bits) and
    // reads no byte after that digit. Returns nullopt for every kind of rejected
    // text. Accepts any bytes; does not allocate.
    static std::optional<Decimal> parse(std::string_view text) noexcept;

    constexpr bool is_negative() const noexcept { return negative_; }
    constexpr bool is_zero() const noexcept { return (low_ | high_) == 0; }
    constexpr uint128 coefficient() const noexcept { return (uint128{high_} << 64) | low_; }
    constexpr unsigned scale() const noexcept { return scale_; }

    // Plain decimal text of the representation, e.g. "-1.50"; for tests and reports.
    std::string to_string() const;

private:
    // The coefficient as two words (bits 0-63, bits 64-95): 16 bytes in all, half
    // the size of a 128-bit field, which would also force 16-byte alignment.
    std::uint64_t low_ = 0;
    std::uint32_t high_ = 0;
    std::uint8_t scale_ = 0;
    bool negative_ = false;
};

static_assert(sizeof(Decimal) == 16);

// Orders by value: equal values with different scales compare equal. Does not allocate.
std::strong_ordering compare(const Decimal& a, const Decimal& b) noexcept;

inline bool operator==(const Decimal& a, const Decimal& b) noexcept { return compare(a, b) == 0; }
inline std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) noexcept { return compare(a, b); }

// Exact sum at the larger scale; when that does not fit in 96 bits it is rounded
// half to even to the largest smaller scale at which the rounded coefficient fits.
// nullopt: overflow (it does not fit even at scale 0). Does not allocate.
std::optional<Decimal> checked_add(const Decimal& a, const Decimal& b) noexcept;

enum class DivisionStatus {
    ok,                // quotient holds the result
    division_by_zero,  // the divisor is zero
    overflow,          // the quotient does not fit in 96 bits even at scale 0
};

struct Quotient {
    DivisionStatus status = DivisionStatus::ok;
    Decimal value;
};

// The quotient at the largest scale <= 28 at which its coefficient fits in 96 bits,
// rounded half to even on the exact remainder; a rounding carry that reaches 2^96
// costs one more digit of scale. A zero dividend gives zero at scale 0.
Quotient divide(const Decimal& dividend, const Decimal& divisor) noexcept;

}  // namespace kestrava
