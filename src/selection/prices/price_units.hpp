// PriceUnits: a request's prices as whole numbers of units at their common scale (the
// most decimals any price has once trailing zeros are dropped), and where each stands
// against the threshold. Every tier reads its prices from here, whoever read them:
// the text reader (read_price_units below) and the decimal adapter (decimal_units.hpp).
//
// Two forms hold the same values. Words: every unit below 10^18 in magnitude, one
// int64_t each, the form of nearly every request. Digits: any other request, each
// price's significant digits and scale (exact_prices.hpp), made into units of any
// width on demand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "selection/outcome.hpp"
#include "selection/prices/exact_prices.hpp"
#include "selection/prices/short_prices.hpp"

namespace kestrava::planner {

class PriceUnits {
public:
    std::size_t size() const noexcept { return in_words_ ? words_.units.size() : digits_.prices.size(); }
    unsigned common_scale() const noexcept;
    // The bit width of the largest magnitude in units.
    unsigned largest_bits() const noexcept;

    bool in_words() const noexcept { return in_words_; }
    // Precondition: in_words().
    std::span<const std::int64_t> words() const noexcept { return words_.units; }
    const ShortPrices& word_prices() const noexcept { return words_; }

    // Price i in units. Precondition: Int holds it (largest_bits() fits).
    template <class Int>
    Int unit(std::size_t i) const noexcept {
        return in_words_ ? static_cast<Int>(words_.units[i]) : units_of<Int>(digits_, i);
    }

    bool is_cheap(std::size_t i) const noexcept { return in_words_ ? words_.is_cheap(i) : digits_.is_cheap(i); }
    // At or above the threshold: cheap once prices and threshold are negated.
    bool is_dear(std::size_t i) const noexcept { return in_words_ ? words_.is_dear(i) : digits_.is_dear(i); }

    // price_too_large or price_too_precise when some price's units need more than
    // `digit_limit` significant digits (check_unit_digits); words never do.
    std::optional<Error> check_digits(std::size_t digit_limit) const noexcept;

    // The bytes its arrays hold, for a space kept per thread.
    std::size_t held_bytes() const noexcept;

private:
    friend std::optional<Error> read_price_units(std::span<const std::string_view>, std::string_view, PriceUnits&);
    friend bool read_price_words(std::span<const std::string_view>, PriceUnits&);
    friend bool read_word_threshold(std::string_view, PriceUnits&) noexcept;
    friend std::optional<Error> read_price_digits(std::span<const std::string_view>, std::string_view, PriceUnits&);
    friend class DecimalUnitsWriter;

    ShortPrices words_;
    ExactPrices digits_;
    bool in_words_ = true;
};

// Reads the prices, then the threshold: as words where every text is plain and short
// (short_prices.hpp), else as digits, which reads any decimal text and names the first
// that is not one (invalid_price with its index, then invalid_threshold).
std::optional<Error> read_price_units(std::span<const std::string_view> price_texts, std::string_view threshold,
                                      PriceUnits& units);

// The two halves of the words form, for a caller that keeps the prices' reading and
// reads each request's threshold alone (price_reading.hpp). False where the words form
// does not take them. The units are in words once both halves have read.
bool read_price_words(std::span<const std::string_view> price_texts, PriceUnits& units);
bool read_word_threshold(std::string_view threshold, PriceUnits& units) noexcept;
// The digits form alone, which leaves a words reading of the prices as it was.
std::optional<Error> read_price_digits(std::span<const std::string_view> price_texts, std::string_view threshold,
                                       PriceUnits& units);

}  // namespace kestrava::planner
