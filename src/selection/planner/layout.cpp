// The request's layout for the planner, and the smallest size that has a valid
// combination, found by a dynamic programme over the periods.
#include "selection/planner/layout.hpp"

#include <algorithm>

namespace kestrava::planner {

Layout make_layout(std::size_t n, std::span<const Item> cheap_items, const SelectionRules& rules) noexcept {
    // Each fits in an int: n <= 28, the gaps are clamped to n - 1, and
    // min_consecutive_periods <= min_selections <= n.
    Layout layout;
    layout.n = static_cast<int>(n);
    const std::uint64_t longest_gap = n - 1;
    layout.min_run = static_cast<int>(rules.min_consecutive_periods);
    layout.max_gap = static_cast<int>(std::min(rules.max_gap_between_periods, longest_gap));
    layout.max_lead = static_cast<int>(std::min(rules.max_gap_from_start, longest_gap));
    for (const Item& item : cheap_items) layout.cheap |= period_bit(item.index);
    for (int period = 0; period < layout.n; ++period) {
        if (!layout.is_cheap(period)) continue;
        const bool continues_run = layout.is_cheap(period - 1);
        layout.cheap_run_start[period] = continues_run ? layout.cheap_run_start[period - 1] : period;
    }
    return layout;
}

int valid_size_upper_bound(const Layout& layout) noexcept {
    // Block j (from 1) starts at max_lead + (j - 1) * (min_run + max_gap); t blocks leave
    // a trailing gap of at most max_gap when max_lead + t * (min_run + max_gap) >= n.
    const int stride = layout.min_run + layout.max_gap;
    const int blocks = (layout.n - layout.max_lead + stride - 1) / stride;
    return blocks * layout.min_run;
}

// The states after each period: no period selected yet (the leading gap still open),
// inside a block of r selected periods (r capped at min_run), or q periods after the
// end of a block that was long enough. Each holds the fewest periods selected so far.
int smallest_valid_size(const Layout& layout) noexcept {
    constexpr int unreachable = 1 << 20;
    const int min_run = layout.min_run;
    const int max_gap = layout.max_gap;
    IntIndexed<int, max_periods + 1> in_block;     // in_block[r], 1 <= r <= min_run
    IntIndexed<int, max_periods + 1> after_block;  // after_block[q], 1 <= q <= max_gap
    in_block.fill(unreachable);
    after_block.fill(unreachable);

    for (int period = 0; period < layout.n; ++period) {
        // Fewest periods before a new block starts here.
        int before_new_block = unreachable;
        for (int q = 1; q <= max_gap; ++q) before_new_block = std::min(before_new_block, after_block[q]);
        if (period <= layout.max_lead) before_new_block = 0;

        // Not selecting this period: the gap grows, or a long enough block ends.
        for (int q = max_gap; q >= 2; --q) after_block[q] = after_block[q - 1];
        if (max_gap >= 1) after_block[1] = in_block[min_run];

        // Selecting it: the block grows, or a new one starts.
        if (min_run == 1) {
            in_block[1] = std::min(in_block[1], before_new_block) + 1;
        } else {
            in_block[min_run] = std::min(in_block[min_run], in_block[min_run - 1]) + 1;
            for (int r = min_run - 1; r >= 2; --r) in_block[r] = in_block[r - 1] + 1;
            in_block[1] = before_new_block + 1;
        }
    }
    // A block that ends at the last period may be short; a trailing gap of up to
    // max_gap periods is allowed.
    int fewest = unreachable;
    for (int r = 1; r <= min_run; ++r) fewest = std::min(fewest, in_block[r]);
    for (int q = 1; q <= max_gap; ++q) fewest = std::min(fewest, after_block[q]);
    return fewest;
}

}  // namespace kestrava::planner
