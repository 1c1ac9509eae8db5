// The cheap blocks of one main combination that a merge may add, and the two merges
// the strategies pick: the one with the lowest average price and the widest one.
//
// A cheap block is a maximal run of cheap periods outside the main combination. Added
// alone it keeps every rule exactly when it touches the main combination on a side
// (or, at period 0, a carried run), has at least min_run periods, or ends at the last
// period unless the end is strict; the merges that keep the
// rules are exactly the sets of such admissible blocks (gap_additions.hpp says why).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "selection/planner/fixed_int.hpp"
#include "selection/rules/shape.hpp"
#include "selection/item.hpp"

namespace kestrava::planner {

struct CheapBlock {
    int first = 0;
    int last = 0;
    int size() const noexcept { return last - first + 1; }
};

// An average as the exact fraction cost / count, count >= 1.
template <class Int>
struct Average {
    Int cost{};
    std::int64_t count = 0;
};

// a < b as fractions, by cross-multiplication (both counts are positive).
template <class Int>
bool below(const Average<Int>& a, const Average<Int>& b) noexcept {
    return a.cost * static_cast<Int>(b.count) < b.cost * static_cast<Int>(a.count);
}

// Replaces `blocks` by the admissible cheap blocks of `main` (ascending indices),
// in index order. `marks` has n entries, all 0, and is left so. Does not allocate
// when `blocks` has room for n / 2 + 1 entries.
void admissible_blocks(const rules::Shape& shape, std::span<const std::uint64_t> main, std::vector<std::uint8_t>& marks,
                       std::vector<CheapBlock>& blocks);

template <class Int>
Int block_cost(std::span<const Int> price_prefix, const CheapBlock& block) noexcept {
    return price_prefix[static_cast<std::size_t>(block.last + 1)] - price_prefix[static_cast<std::size_t>(block.first)];
}

// The merges of one main combination, for prices given by their prefix sums
// (n + 1 entries).
template <class Int>
struct Merges {
    // The lowest average among `main` merged with any subset of `blocks`. Adds blocks
    // in order of their own average while each lies strictly below the merge so far:
    // a block below the merge's average lowers it, one at or above does not, and the
    // blocks that lower the best merge are exactly those below its average, a prefix
    // of that order. Reorders `blocks`; does not allocate.
    static Average<Int> lowest_average(std::span<const Int> price_prefix, std::span<const std::uint64_t> main,
                                       std::vector<CheapBlock>& blocks);

    // Replaces `selection` by `main` with the blocks whose own average lies strictly
    // below `*limit` (every block when limit is nullptr), ascending. The blocks must be
    // in index order, as admissible_blocks gives them. Does not allocate when
    // `selection` has room for n entries.
    static void merge(std::span<const Int> price_prefix, std::span<const std::uint64_t> main,
                      std::span<const CheapBlock> blocks, const Average<Int>* limit, IndexList& selection);
};

extern template struct Merges<std::int64_t>;
extern template struct Merges<__int128>;
extern template struct Merges<FixedInt<4>>;
extern template struct Merges<FixedInt<8>>;

}  // namespace kestrava::planner
