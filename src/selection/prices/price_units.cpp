// The one value of price_units.hpp and its text reader.
#include "selection/prices/price_units.hpp"

#include <algorithm>
#include <bit>

#include "selection/planner/integer_ladder.hpp"

namespace kestrava::planner {

std::size_t PriceUnits::size() const noexcept {
    switch (form_) {
        case Form::words:
            return words_.units.size();
        case Form::digits:
            return digits_.prices.size();
        case Form::decimals:
            break;
    }
    return decimals_.units.size();
}

unsigned PriceUnits::common_scale() const noexcept {
    switch (form_) {
        case Form::words:
            return static_cast<unsigned>(words_.common_scale);
        case Form::digits:
            return static_cast<unsigned>(digits_.common_scale);
        case Form::decimals:
            break;
    }
    return decimals_.common_scale;
}

unsigned PriceUnits::largest_bits() const noexcept {
    switch (form_) {
        case Form::words:
            return static_cast<unsigned>(std::bit_width(words_.largest_magnitude));
        case Form::decimals:
            return decimals_.largest_bits;
        case Form::digits:
            break;
    }
    const std::size_t largest = largest_magnitude(digits_);
    if (digits_.unit_digits(largest) > ExactDecimal::word_digits) {
        return magnitude_bit_width(units_of<Int512>(digits_, largest));
    }
    // Below 10^18 < 2^63.
    return magnitude_bit_width(units_of<std::int64_t>(digits_, largest));
}

std::strong_ordering PriceUnits::against_threshold(std::size_t i) const noexcept {
    switch (form_) {
        case Form::words:
            return words_.units[i] * words_.threshold_factor <=> words_.threshold_units;
        case Form::digits:
            return digits_.compare(digits_.prices[i], digits_.threshold);
        case Form::decimals:
            break;
    }
    return decimals_.sides[i] <=> 0;
}

std::optional<Error> PriceUnits::check_digits(std::size_t digit_limit) const noexcept {
    // Words are below 10^18 and decimals below 2^190 < 10^58, far within any limit a
    // request has.
    return form_ == Form::digits ? check_unit_digits(digits_, digit_limit) : std::nullopt;
}

std::size_t PriceUnits::held_bytes() const noexcept {
    return words_.units.capacity() * sizeof(std::int64_t) + words_.written.capacity() + digits_.digits.capacity() +
           digits_.prices.capacity() * sizeof(ExactDecimal) + decimals_.units.capacity() * sizeof(DecimalUnit) +
           decimals_.sides.capacity();
}

bool read_price_words(std::span<const std::string_view> price_texts, PriceUnits& units) {
    return read_short_price_texts(price_texts, units.words_);
}

bool read_word_threshold(std::string_view threshold, PriceUnits& units) noexcept {
    if (!read_short_threshold(threshold, units.words_)) return false;
    units.form_ = PriceUnits::Form::words;
    return true;
}

void read_unit_words(std::span<const std::int64_t> units, unsigned scale, PriceUnits& prices) {
    ShortPrices& words = prices.words_;
    words.units.assign(units.begin(), units.end());
    words.written.assign(units.size(), static_cast<std::uint8_t>(scale));
    std::uint64_t largest = 0;
    for (const std::int64_t unit : units) largest = std::max(largest, static_cast<std::uint64_t>(unit < 0 ? -unit : unit));
    // The common scale drops the zeros every price ends with, as the text reader's does.
    // The first price that does not end in one nearly always ends the search.
    const auto all_end_in_zero = [&] {
        for (const std::int64_t unit : words.units) {
            if (unit % 10 != 0) return false;
        }
        return true;
    };
    for (; scale > 0 && largest != 0 && all_end_in_zero(); --scale) {
        for (std::int64_t& unit : words.units) unit /= 10;
        largest /= 10;
    }
    words.largest_magnitude = largest;
    words.common_scale = static_cast<int>(largest == 0 ? 0 : scale);
}

void write_word_texts(const PriceUnits& units, std::string& texts, std::vector<std::string_view>& views) {
    const ShortPrices& words = units.word_prices();
    const auto scale = static_cast<std::size_t>(words.common_scale);
    texts.clear();
    views.clear();
    // A sign, at most 19 digits or scale + 1, and a point: the buffer never moves below.
    texts.reserve(words.units.size() * (scale + 21));
    for (const std::int64_t unit : words.units) {
        // Least significant digit first, then reversed: at least scale + 1 digits, so that a
        // value below 1 reads "0.0..".
        const std::size_t start = texts.size();
        auto magnitude = static_cast<std::uint64_t>(unit < 0 ? -unit : unit);
        std::size_t digits = 0;
        do {
            if (scale > 0 && digits == scale) texts.push_back('.');
            texts.push_back(static_cast<char>('0' + magnitude % 10));
            magnitude /= 10;
            ++digits;
        } while (magnitude != 0 || digits <= scale);
        if (unit < 0) texts.push_back('-');
        std::reverse(texts.begin() + static_cast<std::ptrdiff_t>(start), texts.end());
        views.emplace_back(texts.data() + start, texts.size() - start);
    }
}

std::optional<Error> read_price_digits(std::span<const std::string_view> price_texts, std::string_view threshold,
                                       PriceUnits& units) {
    units.form_ = PriceUnits::Form::digits;
    return read_exact_prices(price_texts, threshold, units.digits_);
}

std::optional<Error> read_price_units(std::span<const std::string_view> price_texts, std::string_view threshold,
                                      PriceUnits& units) {
    if (read_price_words(price_texts, units) && read_word_threshold(threshold, units)) return std::nullopt;
    return read_price_digits(price_texts, threshold, units);
}

}  // namespace kestrava::planner
