// The one-pass reader of short_prices.hpp.
#include "selection/planner/short_prices.hpp"

#include <algorithm>

#include "selection/planner/exact_prices.hpp"

namespace kestrava::planner {
namespace {

constexpr int word_digits = static_cast<int>(ExactDecimal::word_digits);

// ±digits / 10^scale, trailing zeros after the point dropped.
struct ShortDecimal {
    std::uint64_t digits = 0;
    int scale = 0;
    bool negative = false;
};

// Adds the digits from `at` on to `digits` up to the first byte that is not one, and
// returns where it stopped. Unsigned, so a long text wraps harmlessly: its count is
// checked after.
const char* read_digits(const char* at, const char* end, std::uint64_t& digits) noexcept {
    for (; at != end; ++at) {
        const unsigned digit = static_cast<unsigned char>(*at) - unsigned{'0'};
        if (digit > 9) break;
        digits = digits * 10 + digit;
    }
    return at;
}

// False for any text that is not plain or holds more than 18 digits (10^18 - 1 < 2^63).
// The grammar is lex_decimal_text's less its underscores: a text this reads, that one
// reads alike.
bool read_short(std::string_view text, ShortDecimal& value) noexcept {
    const char* at = text.data();
    const char* const end = at + text.size();
    bool negative = false;
    if (at != end && (*at == '-' || *at == '+')) negative = *at++ == '-';
    std::uint64_t digits = 0;
    const char* const whole = at;
    at = read_digits(at, end, digits);
    std::ptrdiff_t count = at - whole;
    int scale = 0;
    if (at != end && *at == '.') {
        const char* const decimals = ++at;
        at = read_digits(at, end, digits);
        scale = static_cast<int>(at - decimals);
        count += at - decimals;
    }
    if (at != end || count == 0 || count > word_digits) return false;
    while (scale > 0 && digits % 10 == 0) {
        digits /= 10;
        --scale;
    }
    value = ShortDecimal{digits, scale, negative};
    return true;
}

std::uint64_t power_of_ten(int exponent) noexcept {
    return static_cast<std::uint64_t>(word_powers_of_ten[static_cast<std::size_t>(exponent)]);
}

std::int64_t signed_units(const ShortDecimal& value) noexcept {
    const auto magnitude = static_cast<std::int64_t>(value.digits);
    return value.negative ? -magnitude : magnitude;
}

// The threshold against units at common_scale: both sides brought to the larger scale.
bool set_threshold(const ShortDecimal& threshold, int common_scale, ShortPrices& prices) noexcept {
    if (threshold.scale > word_digits) return false;
    const int scale = std::max(common_scale, threshold.scale);
    const __int128 magnitude = static_cast<__int128>(threshold.digits) * power_of_ten(scale - threshold.scale);
    prices.threshold_units = threshold.negative ? -magnitude : magnitude;
    prices.threshold_factor = power_of_ten(scale - common_scale);
    return true;
}

}  // namespace

bool read_short_price_texts(std::span<const std::string_view> price_texts, ShortPrices& prices) {
    // First each price's signed digits and scale, so that the common scale is known.
    const std::size_t n = price_texts.size();
    prices.units.resize(n);
    prices.scales.resize(n);
    int common_scale = 0;
    for (std::size_t i = 0; i < n; ++i) {
        ShortDecimal price;
        if (!read_short(price_texts[i], price) || price.scale > word_digits) return false;
        prices.units[i] = signed_units(price);
        prices.scales[i] = static_cast<std::uint8_t>(price.scale);
        common_scale = std::max(common_scale, price.scale);
    }
    // Then the units, each within 18 digits once padded to the common scale.
    prices.largest_magnitude = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int padding = common_scale - prices.scales[i];
        const std::int64_t digits = prices.units[i];
        const std::uint64_t magnitude = digits < 0 ? 0 - static_cast<std::uint64_t>(digits) : static_cast<std::uint64_t>(digits);
        if (magnitude >= power_of_ten(word_digits - padding)) return false;
        prices.units[i] = digits * static_cast<std::int64_t>(power_of_ten(padding));
        prices.largest_magnitude = std::max(prices.largest_magnitude, magnitude * power_of_ten(padding));
    }
    prices.common_scale = common_scale;
    return true;
}

bool read_short_threshold(std::string_view threshold, ShortPrices& prices) noexcept {
    ShortDecimal limit;
    return read_short(threshold, limit) && set_threshold(limit, prices.common_scale, prices);
}

bool read_short_prices(std::span<const std::string_view> price_texts, std::string_view threshold,
                       ShortPrices& prices) {
    return read_short_price_texts(price_texts, prices) && read_short_threshold(threshold, prices);
}

}  // namespace kestrava::planner
