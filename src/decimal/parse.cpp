// Decimal::parse: the text grammar of decimal numbers, read byte by byte, left to
// right: an optional sign as the first byte, digits with at most one point, and
// underscores (ignored) anywhere after the first digit.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

#include "decimal/decimal.hpp"
#include "decimal/rounding.hpp"

namespace kestrava {
namespace {

using decimal_detail::classify_remainder;
using decimal_detail::DroppedPart;
using decimal_detail::RoundingMode;
using decimal_detail::rounds_up;

// A text of at most 17 bytes holds at most 17 digits: below 10^17 < 2^57, with at
// most 17 fractional digits. It can neither overflow 96 bits nor reach the 29th
// fractional digit, so a 64-bit accumulator without bound checks reads it.
constexpr std::size_t short_text_bytes = 17;

constexpr bool is_digit(unsigned char byte) noexcept { return byte >= '0' && byte <= '9'; }

// Ends a long text at the first digit that could not be stored (the 29th fractional
// digit, or a fractional digit that would overflow 96 bits): that digit rounds the
// magnitude half up, and no byte after it is read.
std::optional<Decimal> finish_at_rounding_digit(uint128 coefficient, unsigned scale, unsigned rounding_digit,
                                                bool negative) noexcept {
    const DroppedPart dropped = classify_remainder(rounding_digit, 10, DroppedPart::zero);
    if (rounds_up(RoundingMode::half_up, dropped, (coefficient & 1) != 0)) ++coefficient;
    if (coefficient > Decimal::max_coefficient) {
        // Only 2^96 - 1 + 1 gets here. It takes one digit of scale less; there is none
        // to give at scale 0. 2^96 ends in 6, so the division rounds up.
        if (scale == 0) return std::nullopt;
        const auto last_digit = static_cast<unsigned>(coefficient % 10);
        coefficient /= 10;
        --scale;
        const DroppedPart last = classify_remainder(last_digit, 10, DroppedPart::zero);
        if (rounds_up(RoundingMode::half_up, last, (coefficient & 1) != 0)) ++coefficient;
    }
    return Decimal::from_parts(negative, coefficient, scale);
}

// Reads the digits, points and underscores from `start` on. `Accumulator` is
// std::uint64_t for short texts (no bound can be reached) and uint128 for long ones
// (the coefficient stays at most 2^96 - 1, so ten times it plus a digit is below
// 2^100 and the 128-bit working integer never wraps).
//
// An underscore after the 28th fractional digit is skipped like any other: the
// first digit after it is the rounding digit, and the bytes before that digit are
// still checked against the grammar.
template <typename Accumulator>
std::optional<Decimal> parse_body(std::string_view text, std::size_t start, bool negative) noexcept {
    constexpr bool long_text = std::is_same_v<Accumulator, uint128>;
    Accumulator coefficient = 0;
    unsigned scale = 0;
    bool seen_digit = false;
    bool seen_point = false;
    for (std::size_t i = start; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (is_digit(byte)) {
            const unsigned digit = byte - unsigned{'0'};
            seen_digit = true;
            if constexpr (long_text) {
                if (seen_point && scale == Decimal::max_scale) {
                    return finish_at_rounding_digit(coefficient, scale, digit, negative);
                }
                const uint128 next = coefficient * 10 + digit;
                if (next > Decimal::max_coefficient) {
                    // Integer digits are never rounded away.
                    if (!seen_point) return std::nullopt;
                    return finish_at_rounding_digit(coefficient, scale, digit, negative);
                }
                coefficient = next;
            } else {
                coefficient = coefficient * 10 + digit;
            }
            if (seen_point) ++scale;
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
    return Decimal::from_parts(negative, coefficient, scale);
}

}  // namespace

std::optional<Decimal> Decimal::parse(std::string_view text) noexcept {
    if (text.empty()) return std::nullopt;
    std::size_t start = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        start = 1;
    }
    if (text.size() <= short_text_bytes) return parse_body<std::uint64_t>(text, start, negative);
    return parse_body<uint128>(text, start, negative);
}

}  // namespace kestrava
