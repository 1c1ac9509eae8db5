// Admissible cheap blocks and the merges built from them.
#include "selection/planner/merges.hpp"

#include <algorithm>

namespace kestrava::planner {
namespace {

void mark(std::span<const std::uint64_t> periods, std::vector<std::uint8_t>& marks, std::uint8_t value) noexcept {
    for (const std::uint64_t p : periods) marks[static_cast<std::size_t>(p)] = value;
}

}  // namespace

// Only the cheap runs are walked, each split where main periods lie in it.
void admissible_blocks(const rules::Shape& shape, std::span<const std::uint64_t> main, std::vector<std::uint8_t>& marks,
                       std::vector<CheapBlock>& blocks) {
    const int n = shape.n;
    mark(main, marks, 1);
    auto in_main = [&](int p) { return p >= 0 && p < n && marks[static_cast<std::size_t>(p)] != 0; };
    blocks.clear();
    const auto cheap_from = [&](int p) {
        const auto is_cheap = [](std::uint8_t flag) { return flag != 0; };
        return static_cast<int>(std::find_if(shape.cheap.begin() + p, shape.cheap.end(), is_cheap) - shape.cheap.begin());
    };
    for (int run = cheap_from(0); run < n; run = cheap_from(shape.run_last[static_cast<std::size_t>(run)] + 1)) {
        const int run_last = shape.run_last[static_cast<std::size_t>(run)];
        for (int p = run; p <= run_last; ++p) {
            if (in_main(p)) continue;
            int last = p;
            while (last < run_last && !in_main(last + 1)) ++last;
            // A block at period 0 touches a carried run.
            const bool touches_main = in_main(p - 1) || in_main(last + 1) || (p == 0 && shape.carried > 0);
            const bool exempt_end = last == n - 1 && !shape.strict_end;
            if (touches_main || last - p + 1 >= shape.min_run || exempt_end) blocks.push_back(CheapBlock{p, last});
            p = last;
        }
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

// Main periods and blocks are apart and each ascending: one pass merges them.
template <class Int>
void Merges<Int>::merge(std::span<const Int> price_prefix, std::span<const std::uint64_t> main,
                        std::span<const CheapBlock> blocks, const Average<Int>* limit, IndexList& selection) {
    selection.clear();
    std::size_t next_main = 0;
    for (const CheapBlock& block : blocks) {
        if (limit != nullptr && !below(Average<Int>{block_cost(price_prefix, block), block.size()}, *limit)) continue;
        const auto first = static_cast<std::uint64_t>(block.first);
        while (next_main < main.size() && main[next_main] < first) selection.push_back(main[next_main++]);
        for (int p = block.first; p <= block.last; ++p) selection.push_back(static_cast<std::uint64_t>(p));
    }
    selection.insert(selection.end(), main.begin() + static_cast<std::ptrdiff_t>(next_main), main.end());
}

template struct Merges<std::int64_t>;
template struct Merges<__int128>;
template struct Merges<FixedInt<4>>;
template struct Merges<FixedInt<8>>;

}  // namespace kestrava::planner
