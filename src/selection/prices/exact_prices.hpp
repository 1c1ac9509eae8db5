// Price texts read exactly, with any number of digits: the grammar of
// Decimal::parse (an optional sign, digits with at most one point, '_' anywhere after
// the first digit) but nothing is ever rounded. Each value is kept as its significant
// digits and a scale; the cheap flags compare prices with the threshold exactly, and
// the prices become integers at their common scale (the most decimals any price
// has once trailing zeros are dropped) in whichever width the request needs.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "selection/outcome.hpp"

namespace kestrava::planner {

// (-1)^negative * digits / 10^scale, with the digits in a buffer shared by a request.
struct ExactDecimal {
    bool negative = false;   // never set for zero
    std::size_t first = 0;   // position of the most significant digit in the buffer
    std::size_t length = 0;  // significant digits, no leading zero; 0 for zero
    std::size_t scale = 0;   // how many of them lie after the point; the last of those is not 0
    std::uint64_t word = 0;  // the significant digits as a whole number, when length <= word_digits

    // 10^18 < 2^63: so many digits make a whole number that any 64-bit integer holds.
    static constexpr std::size_t word_digits = 18;
    bool fits_word() const noexcept { return length <= word_digits; }
};

struct ExactPrices {
    std::string digits;  // '0' .. '9', every value's digits one after another
    std::vector<ExactDecimal> prices;
    ExactDecimal threshold;
    std::size_t common_scale = 0;  // the largest scale of any price

    // Significant digits of price i as a whole number of units at the common scale.
    std::size_t unit_digits(std::size_t i) const noexcept;
    // Orders two values of this request by value, and by magnitude.
    std::strong_ordering compare_magnitudes(const ExactDecimal& a, const ExactDecimal& b) const noexcept;
    std::strong_ordering compare(const ExactDecimal& a, const ExactDecimal& b) const noexcept;
    bool is_cheap(std::size_t i) const noexcept { return compare(prices[i], threshold) <= 0; }
    // At or above the threshold: cheap once prices and threshold are negated.
    bool is_dear(std::size_t i) const noexcept { return compare(prices[i], threshold) >= 0; }
};

// Reads every price, then the threshold. The first price that is not a decimal text
// fails the call with invalid_price and its index; then an invalid threshold with
// invalid_threshold. Allocates the digit buffer and the list.
std::optional<Error> read_exact_prices(std::span<const std::string_view> price_texts, std::string_view threshold,
                                       ExactPrices& prices);

// The price of largest magnitude (the first such); precondition: at least one price.
std::size_t largest_magnitude(const ExactPrices& prices) noexcept;

// Fails with price_too_large (a price over the limit at its own scale) or
// price_too_precise (one within it that the common scale pushes over; the index is
// the first price that has the common scale) when some price's units need more than
// `digit_limit` significant digits.
std::optional<Error> check_unit_digits(const ExactPrices& prices, std::size_t digit_limit) noexcept;

// Price i in units of the common scale. Precondition: Int holds the value.
template <class Int>
Int units_of(const ExactPrices& prices, std::size_t i) noexcept;

// ---- implementation details ----

// 10^0 .. 10^18, each within int64_t.
inline constexpr auto word_powers_of_ten = [] {
    std::array<std::int64_t, ExactDecimal::word_digits + 1> table{};
    table[0] = 1;
    for (std::size_t d = 1; d < table.size(); ++d) table[d] = table[d - 1] * 10;
    return table;
}();

template <class Int>
Int units_of(const ExactPrices& prices, std::size_t i) noexcept {
    // Eighteen digits at a time keep every chunk within int64_t.
    constexpr std::size_t chunk_digits = ExactDecimal::word_digits;
    auto power_of_ten = [](std::size_t exponent) { return static_cast<Int>(word_powers_of_ten[exponent]); };
    const ExactDecimal& price = prices.prices[i];
    Int value = static_cast<Int>(static_cast<std::int64_t>(price.word));
    if (!price.fits_word()) {
        value = Int{};
        for (std::size_t done = 0; done < price.length; done += chunk_digits) {
            const std::size_t take = price.length - done < chunk_digits ? price.length - done : chunk_digits;
            std::int64_t chunk = 0;
            for (std::size_t d = 0; d < take; ++d) chunk = chunk * 10 + (prices.digits[price.first + done + d] - '0');
            value = value * power_of_ten(take) + static_cast<Int>(chunk);
        }
    }
    for (std::size_t zeros = prices.common_scale - price.scale; zeros > 0;) {
        const std::size_t take = zeros < chunk_digits ? zeros : chunk_digits;
        value = value * power_of_ten(take);
        zeros -= take;
    }
    return price.negative ? -value : value;
}

}  // namespace kestrava::planner
