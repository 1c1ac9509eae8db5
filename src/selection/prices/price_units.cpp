// The one value of price_units.hpp and its text reader.
#include "selection/prices/price_units.hpp"

#include <bit>

#include "selection/planner/integer_ladder.hpp"

namespace kestrava::planner {

unsigned PriceUnits::common_scale() const noexcept {
    return in_words_ ? static_cast<unsigned>(words_.common_scale) : static_cast<unsigned>(digits_.common_scale);
}

unsigned PriceUnits::largest_bits() const noexcept {
    if (in_words_) return static_cast<unsigned>(std::bit_width(words_.largest_magnitude));
    const std::size_t largest = largest_magnitude(digits_);
    if (digits_.unit_digits(largest) > ExactDecimal::word_digits) {
        return magnitude_bit_width(units_of<Int512>(digits_, largest));
    }
    // Below 10^18 < 2^63.
    return magnitude_bit_width(units_of<std::int64_t>(digits_, largest));
}

std::optional<Error> PriceUnits::check_digits(std::size_t digit_limit) const noexcept {
    // Words are below 10^18, far within any limit a request has.
    return in_words_ ? std::nullopt : check_unit_digits(digits_, digit_limit);
}

std::size_t PriceUnits::held_bytes() const noexcept {
    return words_.units.capacity() * sizeof(std::int64_t) + words_.written.capacity() + digits_.digits.capacity() +
           digits_.prices.capacity() * sizeof(ExactDecimal);
}

bool read_price_words(std::span<const std::string_view> price_texts, PriceUnits& units) {
    return read_short_price_texts(price_texts, units.words_);
}

bool read_word_threshold(std::string_view threshold, PriceUnits& units) noexcept {
    units.in_words_ = read_short_threshold(threshold, units.words_);
    return units.in_words_;
}

std::optional<Error> read_price_digits(std::span<const std::string_view> price_texts, std::string_view threshold,
                                       PriceUnits& units) {
    units.in_words_ = false;
    return read_exact_prices(price_texts, threshold, units.digits_);
}

std::optional<Error> read_price_units(std::span<const std::string_view> price_texts, std::string_view threshold,
                                      PriceUnits& units) {
    if (read_price_words(price_texts, units) && read_word_threshold(threshold, units)) return std::nullopt;
    return read_price_digits(price_texts, threshold, units);
}

}  // namespace kestrava::planner
