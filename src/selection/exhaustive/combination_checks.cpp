// The timing-rule check and the consecutive-block split. One template walks any
// ascending sequence of indices, so the Item and the plain-index forms cannot drift.
#include "selection/exhaustive/combination_checks.hpp"

namespace kestrava::exhaustive {
namespace {

std::uint64_t index_of(const Item& item) noexcept { return item.index; }
std::uint64_t index_of(std::uint64_t index) noexcept { return index; }

template <class Element>
bool block_rule_holds(std::span<const Element> selection, std::uint64_t min_consecutive_periods, std::uint64_t n,
                      bool strict_end) noexcept {
    if (selection.empty()) return false;
    // Every block but the last ends where the next index is not adjacent.
    std::uint64_t block_length = 1;
    for (std::size_t i = 1; i < selection.size(); ++i) {
        if (index_of(selection[i]) == index_of(selection[i - 1]) + 1) {
            ++block_length;
        } else {
            if (block_length < min_consecutive_periods) return false;
            block_length = 1;
        }
    }
    // The last block may be short only when it runs to the final period, and the end is not strict.
    if (index_of(selection.back()) == n - 1 && !strict_end) return true;
    return block_length >= min_consecutive_periods;
}

template <class Element>
bool timing_rules_hold(std::span<const Element> selection, const SelectionRules& rules, std::uint64_t n,
                       bool strict_end) noexcept {
    if (selection.empty()) return false;
    const std::uint64_t leading_gap = index_of(selection.front());
    if (leading_gap > rules.max_gap_from_start) return false;
    if (leading_gap > rules.max_gap_between_periods) return false;
    const std::uint64_t trailing_gap = n - 1 - index_of(selection.back());
    if (trailing_gap > rules.max_gap_between_periods) return false;
    for (std::size_t i = 1; i < selection.size(); ++i) {
        const std::uint64_t gap = index_of(selection[i]) - index_of(selection[i - 1]) - 1;
        if (gap > rules.max_gap_between_periods) return false;
    }
    return block_rule_holds(selection, rules.min_consecutive_periods, n, strict_end);
}

}  // namespace

bool is_valid_combination(std::span<const Item> combination, const SelectionRules& rules, std::uint64_t n,
                          bool strict_end) noexcept {
    return timing_rules_hold(combination, rules, n, strict_end);
}

bool is_valid_combination(std::span<const std::uint64_t> indices, const SelectionRules& rules, std::uint64_t n,
                          bool strict_end) noexcept {
    return timing_rules_hold(indices, rules, n, strict_end);
}

bool meets_block_rule(std::span<const std::uint64_t> indices, std::uint64_t min_consecutive_periods, std::uint64_t n,
                      bool strict_end) noexcept {
    return block_rule_holds(indices, min_consecutive_periods, n, strict_end);
}

BlockList group_consecutive_items(std::span<const Item> items) {
    BlockList blocks;
    if (items.empty()) return blocks;
    std::vector<Item> open_block{items.front()};
    for (std::size_t i = 1; i < items.size(); ++i) {
        if (items[i].index != items[i - 1].index + 1) {
            blocks.push_back(std::move(open_block));
            open_block.clear();
        }
        open_block.push_back(items[i]);
    }
    blocks.push_back(std::move(open_block));
    return blocks;
}

BlockMasks group_consecutive_indices(std::span<const std::uint64_t> indices) noexcept {
    BlockMasks result;
    if (indices.empty()) return result;
    PeriodMask open_block = period_bit(indices.front());
    for (std::size_t i = 1; i < indices.size(); ++i) {
        if (indices[i] != indices[i - 1] + 1) {
            result.blocks[result.count++] = open_block;
            open_block = 0;
        }
        open_block |= period_bit(indices[i]);
    }
    result.blocks[result.count++] = open_block;
    return result;
}

}  // namespace kestrava::exhaustive
