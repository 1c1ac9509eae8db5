// Admissible cheap blocks and the merges built from them.
#include "selection/planner/merges.hpp"

#include <algorithm>

namespace kestrava::planner {
namespace {

void mark(std::span<const std::uint64_t> periods, std::vector<std::uint8_t>& marks, std::uint8_t value) noexcept {
    for (const std::uint64_t p : periods) marks[static_cast<std::size_t>(p)] = value;
}

}  // namespace

void admissible_blocks(const rules::Shape& shape, std::span<const std::uint64_t> main, std::vector<std::uint8_t>& marks,
                       std::vector<CheapBlock>& blocks) {
    const int n = shape.n;
    mark(main, marks, 1);
    auto in_main = [&](int p) { return p >= 0 && p < n && marks[static_cast<std::size_t>(p)] != 0; };
    auto outside_cheap = [&](int p) { return shape.is_cheap(p) && !in_main(p); };
    blocks.clear();
    for (int p = 0; p < n; ++p) {
        if (!outside_cheap(p)) continue;
        int last = p;
        while (outside_cheap(last + 1)) ++last;
        // A block at period 0 touches a carried run.
        const bool touches_main = in_main(p - 1) || in_main(last + 1) || (p == 0 && shape.carried > 0);
        if (touches_main || last - p + 1 >= shape.min_run || last == n - 1) blocks.push_back(CheapBlock{p, last});
        p = last;
    }
    mark(main, marks, 0);
}

template <class Int>
Average<Int> Merges<Int>::lowest_average(std::span<const Int> price_prefix, std::span<const std::uint64_t> main,
                                         std::vector<CheapBlock>& blocks) {
    Average<Int> merge{Int{}, static_cast<std::int64_t>(main.size())};
    for (const std::uint64_t p : main) {
        merge.cost += price_prefix[static_cast<std::size_t>(p + 1)] - price_prefix[static_cast<std::size_t>(p)];
    }
    auto average_of = [&](const CheapBlock& block) {
        return Average<Int>{block_cost(price_prefix, block), block.size()};
    };
    std::sort(blocks.begin(), blocks.end(),
              [&](const CheapBlock& a, const CheapBlock& b) { return below(average_of(a), average_of(b)); });
    for (const CheapBlock& block : blocks) {
        const Average<Int> own = average_of(block);
        if (!below(own, merge)) break;
        merge.cost += own.cost;
        merge.count += own.count;
    }
    return merge;
}

template <class Int>
void Merges<Int>::merge(std::span<const Int> price_prefix, std::span<const std::uint64_t> main,
                        std::span<const CheapBlock> blocks, const Average<Int>* limit, std::vector<std::uint8_t>& marks,
                        IndexList& selection) {
    mark(main, marks, 1);
    for (const CheapBlock& block : blocks) {
        if (limit != nullptr && !below(Average<Int>{block_cost(price_prefix, block), block.size()}, *limit)) continue;
        for (int p = block.first; p <= block.last; ++p) marks[static_cast<std::size_t>(p)] = 1;
    }
    selection.clear();
    for (std::size_t p = 0; p < marks.size(); ++p) {
        if (marks[p] == 0) continue;
        selection.push_back(p);
        marks[p] = 0;
    }
}

template struct Merges<std::int64_t>;
template struct Merges<__int128>;
template struct Merges<FixedInt<4>>;
template struct Merges<FixedInt<8>>;

}  // namespace kestrava::planner
