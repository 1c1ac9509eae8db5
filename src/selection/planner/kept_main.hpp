// KeptMain: the first cheapest main combination of the last request planned through
// it on 64-bit units, with the units and the shape it was found for. Both strategies
// start from that combination (planner.hpp), so a request with the same units and
// shape, such as a backtest's other strategy for the same day and rules, skips the
// pass that finds it. "The same" is checked in full, value for value: a match says
// nothing about where the request came from, only that the pass would find the same.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "selection/item.hpp"
#include "selection/rules/shape.hpp"

namespace kestrava::planner {

class KeptMain {
public:
    // The combination kept for exactly these units and this shape, else nullptr. It
    // lives until the next keep().
    const IndexList* find(std::span<const std::int64_t> units, const rules::Shape& shape) const noexcept;
    // Keeps `main`, the first cheapest main combination of these units and shape.
    void keep(std::span<const std::int64_t> units, const rules::Shape& shape, const IndexList& main);

private:
    std::vector<std::int64_t> units_;
    rules::Shape shape_;
    IndexList main_;
    bool held_ = false;  // the three above belong together
};

}  // namespace kestrava::planner
