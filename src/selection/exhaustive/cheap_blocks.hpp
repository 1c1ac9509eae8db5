// The cheap blocks of a main combination (the consecutive blocks of the cheap items
// it does not hold) and the merges that a block mask selects from them; shared by
// both strategies.
#pragma once

#include <cstdint>
#include <span>

#include "selection/exhaustive/combination_checks.hpp"
#include "selection/item.hpp"
#include "selection/period_mask.hpp"

namespace kestrava::exhaustive {

// Walks the cheap items in order, keeps those whose index `main_combination` lacks,
// and splits them into consecutive blocks: block 0 holds the lowest indices.
// Preconditions: cheap_items ascending, at most max_price_count of them, every index
// below max_price_count. Does not allocate.
BlockMasks remaining_cheap_blocks(std::span<const Item> cheap_items, PeriodMask main_combination) noexcept;

// The main combination together with every block j whose bit j is set in block_mask.
constexpr PeriodMask merge_of(PeriodMask main_combination, const BlockMasks& cheap_blocks,
                              std::uint32_t block_mask) noexcept {
    PeriodMask merge = main_combination;
    for (std::size_t j = 0; j < cheap_blocks.count; ++j) {
        if ((block_mask >> j) & 1U) merge |= cheap_blocks.blocks[j];
    }
    return merge;
}

// The number of block masks to try: 1 .. 2^count - 1.
constexpr std::uint32_t block_mask_end(const BlockMasks& cheap_blocks) noexcept {
    return std::uint32_t{1} << cheap_blocks.count;
}

}  // namespace kestrava::exhaustive
