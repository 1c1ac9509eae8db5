// The timing-rule check of a candidate selection, and the split of an ascending
// list of Items into consecutive blocks (maximal runs of adjacent indices). Both
// strategies share them. All functions are pure: they read their input only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "selection/item.hpp"
#include "selection/period_mask.hpp"
#include "selection/rules/selection_rules.hpp"

namespace kestrava::exhaustive {

// True when the ascending selection meets every timing rule of a request over n
// periods, tested in this order (the first failure answers false); min_selections is
// not read, the size being the caller's concern:
//   - it is not empty;
//   - the leading gap (the first index) is at most max_gap_from_start and at most
//     max_gap_between_periods;
//   - the trailing gap (n - 1 - last index) is at most max_gap_between_periods;
//   - every gap between neighbours (later - earlier - 1) is at most max_gap_between_periods;
//   - meets_block_rule(...).
// Preconditions: strictly ascending indices, each below n. Never allocates, never throws.
bool is_valid_combination(std::span<const Item> combination, const SelectionRules& rules, std::uint64_t n,
                          bool strict_end = false) noexcept;
bool is_valid_combination(std::span<const std::uint64_t> indices, const SelectionRules& rules, std::uint64_t n,
                          bool strict_end = false) noexcept;

// The block rule alone: every consecutive block holds at least min_consecutive_periods
// indices, except the last block when it ends at index n - 1 and the end is not
// strict. A block starting at 0 has no exemption. False for an empty list. Same
// preconditions, never allocates.
bool meets_block_rule(std::span<const std::uint64_t> indices, std::uint64_t min_consecutive_periods, std::uint64_t n,
                      bool strict_end = false) noexcept;

// Consecutive blocks in input order, each a non-empty list of copies of the input's Items.
using BlockList = std::vector<std::vector<Item>>;

// Splits `items` where an index is not the previous input index + 1. Does not sort:
// the blocks read one after another give back the input. Empty input, no blocks.
BlockList group_consecutive_items(std::span<const Item> items);

// The same split into fixed storage, each block as the mask of its indices, for the
// strategies' inner loops. 32 bit positions hold at most 16 blocks, since two blocks
// are always separated by at least one missing index.
struct BlockMasks {
    static constexpr std::size_t capacity = 16;
    std::array<PeriodMask, capacity> blocks{};
    std::size_t count = 0;
};

// Precondition: indices ascending, each below 32. Does not allocate.
BlockMasks group_consecutive_indices(std::span<const std::uint64_t> indices) noexcept;

}  // namespace kestrava::exhaustive
