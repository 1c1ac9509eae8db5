// The selection entry: turns price texts into decimals, validates a request and
// dispatches it to a strategy. Plain C++; the interpreter stays behind PriceTextSource.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "selection/item.hpp"
#include "selection/outcome.hpp"
#include "selection/rules/selection_rules.hpp"
#include "selection/stop_check.hpp"

namespace kestrava {

// Gives the request's price texts, one element at a time, in order.
class PriceTextSource {
public:
    virtual ~PriceTextSource() = default;
    // The number of elements now; it may change between reads.
    virtual std::size_t current_size() const noexcept = 0;
    // The text of element `index` (below current_size()), or nullopt when the element
    // cannot be taken as text; the source then keeps its own error for the caller.
    virtual std::optional<std::string_view> text_at(std::size_t index) noexcept = 0;
};

// Reads the prices (while the index is below both the starting and the current size),
// parses them and the threshold, validates the rules in a fixed order, answers the two
// cases that need no search, and otherwise runs the aggressive or the conservative
// strategy. May throw InternalFailure ("Addition overflowed"). A long search polls `stop`
// and ends with `interrupted` when it answers true.
Outcome<IndexList> get_cheapest_periods(PriceTextSource& prices, std::string_view low_price_threshold,
                                       const SelectionRules& rules, bool aggressive, const StopCheck& stop = {});

}  // namespace kestrava
