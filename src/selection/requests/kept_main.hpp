// KeptMain: the first cheapest main combination of the last request planned through
// it on 64-bit units, with the units and the shape it was found for, and the rules
// and conditions that shape was made from. Both strategies start from that
// combination (planner.hpp), so a request with the same units and shape, such as a
// backtest's other strategy for the same day and rules, skips the pass that finds it.
// A request with the same units, cheap flags, rules and conditions has the same shape
// too, so the cheapest main's strategy answers it from here, with neither a shape nor
// a planner: its answer is that combination with every admissible block. "The same"
// is checked in full, value for value: a match says nothing about where the request
// came from, only that planning would find the same.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "selection/item.hpp"
#include "selection/planner/merges.hpp"
#include "selection/rules/selection_rules.hpp"
#include "selection/rules/conditions.hpp"
#include "selection/rules/shape.hpp"

namespace kestrava::planner {

class KeptMain {
public:
    // The combination kept for exactly these units and this shape, else nullptr. It
    // lives until the next keep().
    const IndexList* find(std::span<const std::int64_t> units, const rules::Shape& shape) const noexcept;
    // Keeps `main`, the first cheapest main combination of these units and shape, the
    // shape being made from `cheap`, `rules` and `conditions`.
    void keep(std::span<const std::int64_t> units, const rules::Shape& shape, const IndexList& main,
              const SelectionRules& rules, const rules::Conditions& conditions);

    // The cheapest main strategy's periods for exactly the request kept, else nullptr;
    // they live until the next call. The base plan's size is then base_size().
    const IndexList* widest_merge(std::span<const std::int64_t> units, std::span<const std::uint8_t> cheap,
                                  const SelectionRules& rules, const rules::Conditions& conditions);
    std::size_t base_size() const noexcept { return static_cast<std::size_t>(shape_.size); }

private:
    bool holds_request(std::span<const std::int64_t> units, std::span<const std::uint8_t> cheap,
                       const SelectionRules& rules, const rules::Conditions& conditions) const noexcept;

    std::vector<std::int64_t> units_;
    rules::Shape shape_;
    IndexList main_;
    SelectionRules rules_;
    std::vector<std::uint8_t> allowed_;  // the conditions' mask, when they have one
    bool masked_ = false;
    std::uint64_t running_for_ = 0;
    std::uint64_t off_for_ = 0;
    bool strict_end_ = false;
    bool held_ = false;  // the fields above belong together
    // The widest merge's scratch and answer, for held_'s request once asked.
    std::vector<std::uint8_t> marks_;
    std::vector<CheapBlock> blocks_;
    IndexList merge_;
    bool merged_ = false;
};

}  // namespace kestrava::planner
