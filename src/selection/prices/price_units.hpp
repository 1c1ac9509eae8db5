// PriceUnits: a request's prices as whole numbers of units at their common scale (the
// most decimals any price has once trailing zeros are dropped), and where each stands
// against the threshold. Every tier reads its prices from here, whoever read them:
// the text reader (read_price_units below) and the decimal adapter (decimal_units.hpp).
//
// Three forms hold the same values. Words: every unit below 10^18 in magnitude, one
// int64_t each, the form of nearly every request. Digits: texts of any other length,
// each price's significant digits and scale (exact_prices.hpp). Decimals: 96-bit
// decimals of any other size, each a coefficient and the power of ten that pads it.
// The last two make units of any width on demand.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "decimal/powers_of_ten.hpp"
#include "selection/outcome.hpp"
#include "selection/prices/exact_prices.hpp"
#include "selection/prices/short_prices.hpp"

namespace kestrava::planner {

class PriceUnits {
public:
    enum class Form : std::uint8_t { words, digits, decimals };

    Form form() const noexcept { return form_; }
    std::size_t size() const noexcept;
    unsigned common_scale() const noexcept;
    // The bit width of the largest magnitude in units.
    unsigned largest_bits() const noexcept;

    bool in_words() const noexcept { return form_ == Form::words; }
    // Precondition: in_words().
    std::span<const std::int64_t> words() const noexcept { return words_.units; }
    const ShortPrices& word_prices() const noexcept { return words_; }

    // Price i in units. Precondition: Int holds it (largest_bits() fits).
    template <class Int>
    Int unit(std::size_t i) const noexcept;
    // Every price's units into `out` (of size()), negated when `negated`: one form
    // asked once, not once a price.
    template <class Int>
    void write_units(std::span<Int> out, bool negated) const noexcept;

    // Price i against the threshold, by value.
    std::strong_ordering against_threshold(std::size_t i) const noexcept;
    bool is_cheap(std::size_t i) const noexcept { return against_threshold(i) <= 0; }
    // At or above the threshold: cheap once prices and threshold are negated.
    bool is_dear(std::size_t i) const noexcept { return against_threshold(i) >= 0; }

    // price_too_large or price_too_precise when some price's units need more than
    // `digit_limit` significant digits (check_unit_digits); only digits may.
    std::optional<Error> check_digits(std::size_t digit_limit) const noexcept;

    // The bytes its arrays hold, for a space kept per thread.
    std::size_t held_bytes() const noexcept;

private:
    friend bool read_word_threshold(std::string_view, PriceUnits&) noexcept;
    friend bool read_price_words(std::span<const std::string_view>, PriceUnits&);
    friend std::optional<Error> read_price_digits(std::span<const std::string_view>, std::string_view, PriceUnits&);
    friend void read_unit_words(std::span<const std::int64_t>, unsigned, PriceUnits&);
    friend class DecimalUnitsWriter;

    // ±digits * 10^padding units: below 2^96 * 10^28 < 2^190.
    struct DecimalUnit {
        uint128 digits = 0;
        unsigned padding = 0;
        bool negative = false;
    };
    struct Decimals {
        std::vector<DecimalUnit> units;
        std::vector<std::int8_t> sides;  // each price against the threshold: -1, 0 or 1
        unsigned common_scale = 0;
        unsigned largest_bits = 0;
    };

    ShortPrices words_;
    ExactPrices digits_;
    Decimals decimals_;
    Form form_ = Form::words;
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
// Prices a caller holds as integers already (a table's decimal column): units of
// 10^-scale, each below 10^18 in magnitude, scale at most 18. Read as words; their
// threshold then by read_word_threshold, or, for a threshold words do not take, by
// read_price_digits from the prices' texts (write_word_texts).
void read_unit_words(std::span<const std::int64_t> units, unsigned scale, PriceUnits& prices);
// The texts of the words, at their common scale, one after another in `texts`, and
// `views` of each (both kept by the caller, so that a row allocates nothing once they grew).
void write_word_texts(const PriceUnits& units, std::string& texts, std::vector<std::string_view>& views);

// The digits form alone, which leaves a words reading of the prices as it was.
std::optional<Error> read_price_digits(std::span<const std::string_view> price_texts, std::string_view threshold,
                                       PriceUnits& units);

// ---- implementation details ----

// A non-negative value below 2^127 as Int. Precondition: Int holds it, or it is 0's
// factor (a wrapped power of ten times zero is still zero).
template <class Int>
Int int_of_magnitude(uint128 value) noexcept {
    if constexpr (std::is_same_v<Int, std::int64_t> || std::is_same_v<Int, __int128>) {
        return static_cast<Int>(value);
    } else {
        return Int::from_int128(static_cast<__int128>(value));
    }
}

template <class Int>
Int PriceUnits::unit(std::size_t i) const noexcept {
    switch (form_) {
        case Form::words:
            return static_cast<Int>(words_.units[i]);
        case Form::digits:
            return units_of<Int>(digits_, i);
        case Form::decimals:
            break;
    }
    const DecimalUnit& unit = decimals_.units[i];
    const Int magnitude = int_of_magnitude<Int>(unit.digits) * int_of_magnitude<Int>(pow10_u128[unit.padding]);
    return unit.negative ? -magnitude : magnitude;
}

template <class Int>
void PriceUnits::write_units(std::span<Int> out, bool negated) const noexcept {
    if (form_ == Form::words) {
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<Int>(words_.units[i]);
    } else {
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = unit<Int>(i);
    }
    if (negated) {
        for (Int& value : out) value = -value;
    }
}

}  // namespace kestrava::planner
