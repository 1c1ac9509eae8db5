// The cheap blocks that lie outside a main combination.
#include "selection/exhaustive/cheap_blocks.hpp"

namespace kestrava::exhaustive {

BlockMasks remaining_cheap_blocks(std::span<const Item> cheap_items, PeriodMask main_combination) noexcept {
    IndexArray remaining;
    std::size_t count = 0;
    for (const Item& item : cheap_items) {
        if (!holds_period(main_combination, item.index)) remaining[count++] = item.index;
    }
    return group_consecutive_indices(std::span<const std::uint64_t>(remaining.data(), count));
}

}  // namespace kestrava::exhaustive
