// Exact reading and comparison of decimal texts.
#include "selection/prices/exact_prices.hpp"

#include <algorithm>

#include "decimal/decimal_text.hpp"

namespace kestrava::planner {
namespace {

std::uint64_t word_of(const char* digits, std::size_t length) noexcept {
    std::uint64_t word = 0;
    for (std::size_t d = 0; d < length; ++d) word = word * 10 + static_cast<std::uint64_t>(digits[d] - '0');
    return word;
}

// Writes the value's significant digits at digits[used..] and moves `used` past them;
// nullopt (and `used` as it was) when the text breaks the grammar. Leading zeros are
// never stored; trailing zeros after the point are dropped at the end. The buffer has
// room: a text holds at least as many characters as it has digits.
std::optional<ExactDecimal> parse_exact(std::string_view text, char* digits, std::size_t& used) {
    // The word holds every stored digit while there are at most 19 (10^19 - 1 < 2^64),
    // and stays exact as trailing zeros are dropped: each drop divides by 10.
    constexpr std::size_t word_capacity = 19;
    ExactDecimal value;
    value.first = used;
    std::size_t end = used;
    const LexedText lexed = lex_decimal_text(text, [&](unsigned digit, bool after_point) {
        if (after_point) ++value.scale;
        if (digit != 0 || end > value.first) {
            digits[end++] = static_cast<char>('0' + digit);
            value.word = value.word * 10 + digit;
        }
        return DigitStep::next;
    });
    if (lexed.form != TextForm::complete) return std::nullopt;
    value.negative = lexed.negative;
    const std::size_t stored = end - value.first;
    // Digits after the point that were leading zeros stay counted in the scale; they
    // only place the significant digits.
    while (value.scale > 0 && end > value.first && digits[end - 1] == '0') {
        --end;
        --value.scale;
        value.word /= 10;
    }
    value.length = end - value.first;
    if (stored > word_capacity && value.fits_word()) value.word = word_of(digits + value.first, value.length);
    if (value.length == 0) value = ExactDecimal{false, value.first, 0, 0, 0};
    used = end;
    return value;
}

}  // namespace

std::optional<Error> read_exact_prices(std::span<const std::string_view> price_texts, std::string_view threshold,
                                       ExactPrices& prices) {
    std::size_t characters = threshold.size();
    for (const std::string_view text : price_texts) characters += text.size();
    prices.digits.resize(characters);  // the most digits the texts can hold
    prices.prices.clear();
    prices.prices.reserve(price_texts.size());
    prices.common_scale = 0;
    std::size_t used = 0;
    const auto failed = [&](Error error) {
        prices.digits.resize(used);
        return error;
    };
    for (std::size_t i = 0; i < price_texts.size(); ++i) {
        const std::optional<ExactDecimal> price = parse_exact(price_texts[i], prices.digits.data(), used);
        if (!price) return failed(Error{ErrorKind::invalid_price, i});
        prices.prices.push_back(*price);
        prices.common_scale = std::max(prices.common_scale, price->scale);
    }
    const std::optional<ExactDecimal> limit = parse_exact(threshold, prices.digits.data(), used);
    if (!limit) return failed(Error{ErrorKind::invalid_threshold});
    prices.threshold = *limit;
    prices.digits.resize(used);
    return std::nullopt;
}

std::size_t ExactPrices::unit_digits(std::size_t i) const noexcept {
    const ExactDecimal& price = prices[i];
    return price.length == 0 ? 0 : price.length + (common_scale - price.scale);
}

std::strong_ordering ExactPrices::compare_magnitudes(const ExactDecimal& a, const ExactDecimal& b) const noexcept {
    if (a.length == 0 || b.length == 0) return (a.length != 0) <=> (b.length != 0);
    // length - scale is the position of the leading digit: one more is ten times larger.
    if (a.length + b.scale != b.length + a.scale) return a.length + b.scale <=> b.length + a.scale;
    if (a.fits_word() && b.fits_word()) {
        // Same leading position: pad the shorter with zeros to the longer's length,
        // at most 18 digits, and compare the whole numbers.
        const std::size_t length = std::max(a.length, b.length);
        return a.word * static_cast<std::uint64_t>(word_powers_of_ten[length - a.length]) <=>
               b.word * static_cast<std::uint64_t>(word_powers_of_ten[length - b.length]);
    }
    // Digit by digit, a missing digit reading as 0.
    for (std::size_t d = 0; d < std::max(a.length, b.length); ++d) {
        const char digit_a = d < a.length ? digits[a.first + d] : '0';
        const char digit_b = d < b.length ? digits[b.first + d] : '0';
        if (digit_a != digit_b) return digit_a <=> digit_b;
    }
    return std::strong_ordering::equal;
}

std::strong_ordering ExactPrices::compare(const ExactDecimal& a, const ExactDecimal& b) const noexcept {
    if (a.negative != b.negative) return a.negative ? std::strong_ordering::less : std::strong_ordering::greater;
    const std::strong_ordering magnitude = compare_magnitudes(a, b);
    return a.negative ? 0 <=> magnitude : magnitude;
}

std::size_t largest_magnitude(const ExactPrices& prices) noexcept {
    std::size_t largest = 0;
    for (std::size_t i = 1; i < prices.prices.size(); ++i) {
        if (prices.compare_magnitudes(prices.prices[i], prices.prices[largest]) > 0) largest = i;
    }
    return largest;
}

std::optional<Error> check_unit_digits(const ExactPrices& prices, std::size_t digit_limit) noexcept {
    for (std::size_t i = 0; i < prices.prices.size(); ++i) {
        if (prices.unit_digits(i) <= digit_limit) continue;
        if (prices.prices[i].length > digit_limit) return Error{ErrorKind::price_too_large, i};
        // Within the limit at its own scale: the common scale is to blame.
        for (std::size_t j = 0; j < prices.prices.size(); ++j) {
            if (prices.prices[j].scale == prices.common_scale) return Error{ErrorKind::price_too_precise, j};
        }
    }
    return std::nullopt;
}

}  // namespace kestrava::planner
