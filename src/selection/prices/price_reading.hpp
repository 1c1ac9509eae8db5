// PriceReading: the units of the last price texts read through it, kept by a caller
// that plans many requests in turn, such as the rows of a table, where a whole fleet
// or a backtest's rule sets share each day's prices. A request whose texts are the same
// as the last ones, text for text and byte for byte (or integer for integer), and were
// read as words, reuses their units and reads only its threshold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "selection/outcome.hpp"
#include "selection/prices/price_units.hpp"

namespace kestrava::planner {

class PriceReading {
public:
    // The prices and this threshold as read_price_units reads them, into units().
    std::optional<Error> read(std::span<const std::string_view> texts, std::string_view threshold);
    // The same for prices held as integers (read_unit_words): units of 10^-scale.
    std::optional<Error> read_words(std::span<const std::int64_t> units, unsigned scale, std::string_view threshold);
    // What the last read read, until the next.
    const PriceUnits& units() const noexcept { return units_; }

private:
    bool holds(std::span<const std::string_view> texts) const noexcept;
    void keep(std::span<const std::string_view> texts);

    PriceUnits units_;
    std::string texts_;              // the texts last read, one after another
    std::vector<std::size_t> ends_;  // where each ends in texts_
    bool held_ = false;              // units_ holds their words
    std::vector<std::int64_t> words_;  // the integers last read by read_words
    unsigned words_scale_ = 0;
    bool words_held_ = false;  // units_ holds their words
    // The words written as texts, for a threshold words do not take.
    std::string word_texts_;
    std::vector<std::string_view> word_views_;
};

}  // namespace kestrava::planner
