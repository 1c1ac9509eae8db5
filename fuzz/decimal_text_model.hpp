// A reference reading of the decimal text grammar on unbounded integers, for the
// parser fuzzer. It follows the grammar one byte at a time without the parser's
// short-text path or its 128-bit bound tricks: every coefficient is a BigNatural, and
// the bounds (2^96 - 1, 28 fractional digits) are plain comparisons against it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrava_fuzz {

// An unbounded natural number: 32-bit limbs, least significant first, no leading zero limb.
class BigNatural {
public:
    BigNatural() = default;

    static BigNatural largest_coefficient() {  // 2^96 - 1
        BigNatural n;
        n.limbs_ = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
        return n;
    }

    bool is_zero() const noexcept { return limbs_.empty(); }

    // this = this * multiplier + addend
    void multiply_add(std::uint32_t multiplier, std::uint32_t addend) {
        std::uint64_t carry = addend;
        for (std::uint32_t& limb : limbs_) {
            const std::uint64_t product = std::uint64_t{limb} * multiplier + carry;
            limb = static_cast<std::uint32_t>(product);
            carry = product >> 32;
        }
        if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
        trim();
    }

    // this = this / divisor; returns the remainder.
    std::uint32_t divide(std::uint32_t divisor) {
        std::uint64_t remainder = 0;
        for (std::size_t i = limbs_.size(); i-- > 0;) {
            const std::uint64_t current = (remainder << 32) | limbs_[i];
            limbs_[i] = static_cast<std::uint32_t>(current / divisor);
            remainder = current % divisor;
        }
        trim();
        return static_cast<std::uint32_t>(remainder);
    }

    friend bool operator>(const BigNatural& a, const BigNatural& b) noexcept {
        if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() > b.limbs_.size();
        return std::lexicographical_compare(b.limbs_.rbegin(), b.limbs_.rend(), a.limbs_.rbegin(), a.limbs_.rend());
    }

    // The value as 128 bits, when it has at most four limbs.
    std::optional<unsigned __int128> to_u128() const noexcept {
        if (limbs_.size() > 4) return std::nullopt;
        unsigned __int128 value = 0;
        for (std::size_t i = limbs_.size(); i-- > 0;) value = (value << 32) | limbs_[i];
        return value;
    }

private:
    void trim() {
        while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
    }

    std::vector<std::uint32_t> limbs_;
};

struct ModelDecimal {
    bool negative = false;
    BigNatural coefficient;
    unsigned scale = 0;
};

namespace model_detail {

constexpr unsigned max_scale = 28;

// The digit that could not be stored rounds the magnitude half up. A carry to 2^96
// gives up one digit of scale (that digit rounds half up too); at scale 0 there is
// none to give.
inline std::optional<ModelDecimal> round_at(ModelDecimal value, unsigned rounding_digit) {
    if (rounding_digit >= 5) value.coefficient.multiply_add(1, 1);
    if (value.coefficient > BigNatural::largest_coefficient()) {
        if (value.scale == 0) return std::nullopt;
        const std::uint32_t dropped = value.coefficient.divide(10);
        if (dropped >= 5) value.coefficient.multiply_add(1, 1);
        --value.scale;
    }
    value.negative = value.negative && !value.coefficient.is_zero();
    return value;
}

}  // namespace model_detail

// The grammar: an optional sign as the first byte; digits with at most one point;
// underscores ignored once a digit has been seen; nothing else. Integer digits beyond
// 2^96 - 1 reject the text; the first fractional digit that cannot be stored (the
// 29th, or one that would pass 2^96 - 1) rounds, and nothing after it is read.
inline std::optional<ModelDecimal> model_parse(std::string_view text) {
    using model_detail::max_scale;
    if (text.empty()) return std::nullopt;
    ModelDecimal value;
    std::size_t position = 0;
    if (text[0] == '+' || text[0] == '-') {
        value.negative = text[0] == '-';
        position = 1;
    }
    const BigNatural largest = BigNatural::largest_coefficient();
    bool seen_digit = false;
    bool seen_point = false;
    for (; position < text.size(); ++position) {
        const char byte = text[position];
        if (byte >= '0' && byte <= '9') {
            const auto digit = static_cast<std::uint32_t>(byte - '0');
            seen_digit = true;
            BigNatural next = value.coefficient;
            next.multiply_add(10, digit);
            if (seen_point && (value.scale == max_scale || next > largest)) {
                return model_detail::round_at(value, digit);
            }
            if (next > largest) return std::nullopt;  // integer digits alone do not fit
            value.coefficient = next;
            if (seen_point) ++value.scale;
        } else if (byte == '.') {
            if (seen_point) return std::nullopt;
            seen_point = true;
        } else if (byte == '_') {
            if (!seen_digit) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (!seen_digit) return std::nullopt;
    value.negative = value.negative && !value.coefficient.is_zero();
    return value;
}

}  // namespace kestrava_fuzz
