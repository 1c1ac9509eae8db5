// PriceReading: the short reading (short_prices.hpp) of the last price texts read
// through it, kept by a caller that plans many requests in turn, such as the rows of
// a table, where a whole fleet or a backtest's rule sets share each day's prices. A
// request whose texts are the same as the last ones, text for text and byte for byte,
// reuses their units and reads only its threshold.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "selection/prices/short_prices.hpp"

namespace kestrava::planner {

class PriceReading {
public:
    // The prices and this threshold as read_short_prices reads them, or nullptr when it
    // would not take them. The answer lives until the next call.
    const ShortPrices* read(std::span<const std::string_view> texts, std::string_view threshold);
    // What the last read() answered, until the next.
    const ShortPrices* last_read() const noexcept { return answered_ ? &prices_ : nullptr; }

private:
    bool holds(std::span<const std::string_view> texts) const noexcept;
    void keep(std::span<const std::string_view> texts);

    ShortPrices prices_;
    std::string texts_;              // the texts last read, one after another
    std::vector<std::size_t> ends_;  // where each ends in texts_
    bool held_ = false;              // prices_ holds their reading
    bool answered_ = false;          // and the last threshold's
};

}  // namespace kestrava::planner
