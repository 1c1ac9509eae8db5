// Decimal::parse: a decimal text (decimal_text.hpp) to the nearest Decimal, rounding
// half up at the first digit that does not fit 96 bits or 28 decimals.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

#include "decimal/decimal.hpp"
#include "decimal/decimal_text.hpp"
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

// The digits of a text into a coefficient and scale. `Accumulator` is std::uint64_t
// for short texts (no bound can be reached) and uint128 for long ones (the
// coefficient stays at most 2^96 - 1, so ten times it plus a digit is below 2^100 and
// the 128-bit working integer never wraps).
//
// An underscore after the 28th fractional digit is skipped like any other: the
// first digit after it is the rounding digit, and the bytes before that digit are
// still checked against the grammar.
template <typename Accumulator>
std::optional<Decimal> parse_digits(std::string_view text) noexcept {
    constexpr bool long_text = std::is_same_v<Accumulator, uint128>;
    Accumulator coefficient = 0;
    unsigned scale = 0;
    // The sign the grammar reads from the first byte, for a text that ends early.
    const bool negative = !text.empty() && text[0] == '-';
    // Set when a digit cannot be stored: it rounds, or an integer overflows.
    std::optional<std::optional<Decimal>> ended;
    const LexedText lexed = lex_decimal_text(text, [&](unsigned digit, bool after_point) noexcept {
        if constexpr (long_text) {
            const uint128 next = coefficient * 10 + digit;
            if ((after_point && scale == Decimal::max_scale) || next > Decimal::max_coefficient) {
                // Integer digits are never rounded away.
                ended = after_point ? finish_at_rounding_digit(coefficient, scale, digit, negative) : std::nullopt;
                return DigitStep::stop;
            }
            coefficient = next;
        } else {
            coefficient = coefficient * 10 + digit;
        }
        if (after_point) ++scale;
        return DigitStep::next;
    });
    switch (lexed.form) {
        case TextForm::malformed:
            return std::nullopt;
        case TextForm::stopped:
            return *ended;
        case TextForm::complete:
            break;
    }
    return Decimal::from_parts(lexed.negative, coefficient, scale);
}

}  // namespace

std::optional<Decimal> Decimal::parse(std::string_view text) noexcept {
    if (text.size() <= short_text_bytes) return parse_digits<std::uint64_t>(text);
    return parse_digits<uint128>(text);
}

}  // namespace kestrava
