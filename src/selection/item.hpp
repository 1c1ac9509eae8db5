// One period of a request and the index lists that selections are made of.
#pragma once

#include <cstdint>
#include <vector>

#include "decimal/decimal.hpp"

namespace kestrava {

// The period at position `index` of the request's prices, with its own copy of the price.
struct Item {
    std::uint64_t index = 0;
    Decimal price;
};

// Period indices, ascending, as a selection returns them.
using IndexList = std::vector<std::uint64_t>;

// A request holds at most this many prices.
inline constexpr std::size_t max_price_count = 28;

}  // namespace kestrava
