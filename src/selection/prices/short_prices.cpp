// The one-pass reader of short_prices.hpp.
#include "selection/prices/short_prices.hpp"

#include <algorithm>

#include "selection/prices/exact_prices.hpp"

namespace kestrava::planner {
namespace {

constexpr int word_digits = static_cast<int>(ExactDecimal::word_digits);

std::uint64_t power_of_ten(int exponent) noexcept {
    return static_cast<std::uint64_t>(word_powers_of_ten[static_cast<std::size_t>(exponent)]);
}

// ±digits / 10^written as the text writes it, and how many of its decimals are
// trailing zeros, which the common scale leaves out.
struct ShortDecimal {
    std::uint64_t digits = 0;
    int written = 0;
    int trailing_zeros = 0;
    bool negative = false;

    int scale() const noexcept { return written - trailing_zeros; }
};

// False for any text that is not plain or holds more than 18 digits (10^18 - 1 < 2^63).
// The grammar is lex_decimal_text's less its underscores: a text this reads, that one
// reads alike. One loop over the bytes, digits and one point taken as they come.
bool read_short_decimal(std::string_view text, ShortDecimal& value) noexcept {
    const char* at = text.data();
    const char* const end = at + text.size();
    bool negative = false;
    if (at != end && (*at == '-' || *at == '+')) negative = *at++ == '-';
    const char* point = nullptr;
    std::uint64_t digits = 0;  // wraps harmlessly for a long text, whose count fails below
    for (const char* byte = at; byte != end; ++byte) {
        const unsigned digit = static_cast<unsigned char>(*byte) - unsigned{'0'};
        if (digit <= 9) {
            digits = digits * 10 + digit;
        } else if (*byte == '.' && point == nullptr) {
            point = byte;
        } else {
            return false;
        }
    }
    const std::ptrdiff_t count = (end - at) - (point == nullptr ? 0 : 1);
    if (count == 0 || count > word_digits) return false;
    const int written = point == nullptr ? 0 : static_cast<int>(end - point - 1);
    int zeros = 0;
    while (zeros < written && end[-1 - zeros] == '0') ++zeros;
    value = ShortDecimal{digits, written, zeros, negative};
    return true;
}


// Units at the common scale as the prices come: a price of more decimals than any
// before it pads those already read. Each padded magnitude stays below 10^18, checked
// as it grows: on entry, and through the largest one when the scale rises.
bool read_padded(std::span<const std::string_view> price_texts, ShortPrices& prices) noexcept {
    int common_scale = 0;
    std::uint64_t largest = 0;
    for (std::size_t i = 0; i < price_texts.size(); ++i) {
        ShortDecimal price;
        if (!read_short_decimal(price_texts[i], price)) return false;
        const int scale = price.scale();
        if (scale > common_scale) {
            const int padding = scale - common_scale;
            if (largest >= power_of_ten(word_digits - padding)) return false;
            const auto factor = static_cast<std::int64_t>(power_of_ten(padding));
            for (std::size_t j = 0; j < i; ++j) prices.units[j] *= factor;
            largest *= static_cast<std::uint64_t>(factor);
            common_scale = scale;
        }
        const int padding = common_scale - scale;
        // Most prices have no trailing zero, and then no division.
        const std::uint64_t digits = price.trailing_zeros == 0 ? price.digits
                                                               : price.digits / power_of_ten(price.trailing_zeros);
        if (digits >= power_of_ten(word_digits - padding)) return false;
        const std::uint64_t magnitude = digits * power_of_ten(padding);
        const auto units = static_cast<std::int64_t>(magnitude);
        prices.units[i] = price.negative ? -units : units;
        prices.written[i] = static_cast<std::uint8_t>(price.written);
        largest = std::max(largest, magnitude);
    }
    prices.largest_magnitude = largest;
    prices.common_scale = common_scale;
    return true;
}

}  // namespace

bool set_short_threshold(bool negative, std::uint64_t digits, int scale, ShortPrices& prices) noexcept {
    if (scale > word_digits || digits >= power_of_ten(word_digits)) return false;
    // Both sides at the larger scale, at most 18: each below 10^18 * 10^18 < 2^127.
    const int common = std::max(prices.common_scale, scale);
    const __int128 magnitude = static_cast<__int128>(digits) * power_of_ten(common - scale);
    prices.threshold_units = negative ? -magnitude : magnitude;
    prices.threshold_factor = power_of_ten(common - prices.common_scale);
    return true;
}

bool read_short_price_texts(std::span<const std::string_view> price_texts, ShortPrices& prices) {
    prices.units.resize(price_texts.size());
    prices.written.resize(price_texts.size());
    return read_padded(price_texts, prices);
}

bool read_short_threshold(std::string_view threshold, ShortPrices& prices) noexcept {
    ShortDecimal limit;
    return read_short_decimal(threshold, limit) &&
           set_short_threshold(limit.negative, limit.digits / power_of_ten(limit.trailing_zeros), limit.scale(),
                               prices);
}

bool read_short_prices(std::span<const std::string_view> price_texts, std::string_view threshold,
                       ShortPrices& prices) {
    return read_short_price_texts(price_texts, prices) && read_short_threshold(threshold, prices);
}

}  // namespace kestrava::planner
