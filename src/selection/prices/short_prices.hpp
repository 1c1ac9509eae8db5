// Prices in the form nearly every request brings: plain decimal texts such as "43.06"
// or "-0.5", whose units at the common scale stay below 10^18. They are read in one
// pass straight into 64-bit units, with no digit buffer, and compared with the
// threshold in 128 bits. Any other request (underscores, more digits, a text that
// breaks the grammar) is left to read_exact_prices, which reads every decimal text and
// reports every fault; for the requests read here both give the same units, common
// scale and cheap flags.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kestrava::planner {

struct ShortPrices {
    std::vector<std::int64_t> units;  // each price at the common scale, below 10^18 in magnitude
    std::vector<std::uint8_t> written;  // each price's decimals as written, trailing zeros and all
    std::uint64_t largest_magnitude = 0;
    int common_scale = 0;  // the most decimals of any price, trailing zeros dropped
    // A price u is cheap when u * threshold_factor <= threshold_units: both sides at the
    // larger of the common scale and the threshold's, each below 10^36 < 2^127.
    __int128 threshold_units = 0;
    __int128 threshold_factor = 1;

    bool is_cheap(std::size_t i) const noexcept { return units[i] * threshold_factor <= threshold_units; }
    // At or above the threshold: cheap once prices and threshold are negated.
    bool is_dear(std::size_t i) const noexcept { return units[i] * threshold_factor >= threshold_units; }
};

// Reads the prices and the threshold when every text is plain (an optional sign,
// digits, at most one point) with at most 18 significant digits, the prices' units
// stay below 10^18 at their common scale and the threshold has at most 18 decimals.
// False otherwise, with `prices` left to be overwritten. Allocates only its arrays.
bool read_short_prices(std::span<const std::string_view> price_texts, std::string_view threshold,
                       ShortPrices& prices);

// The two halves of read_short_prices: the prices, then the threshold against them,
// which a caller that keeps the prices' reading may read alone for each request.
bool read_short_price_texts(std::span<const std::string_view> price_texts, ShortPrices& prices);
bool read_short_threshold(std::string_view threshold, ShortPrices& prices) noexcept;

// The threshold ±digits / 10^scale (no trailing zero in the digits) against prices
// already read; false unless digits < 10^18 and scale <= 18.
bool set_short_threshold(bool negative, std::uint64_t digits, int scale, ShortPrices& prices) noexcept;

}  // namespace kestrava::planner
