// The depth-first walk over valid combinations.
//
// Every cut below is a rule that every valid combination meets, read on a prefix:
//   - slot 0 holds at most min(S, G) (the lead);
//   - slot j holds at most G + 1 after slot j - 1, and at most n - (k - j), so that
//     the later slots fit;
//   - the last slot lies within G of the last period, and each slot after j at most
//     G + 1 further on, so slot j holds at least n - 1 - G - (k - 1 - j)(G + 1);
//   - a block that ends before slot j (slot j not adjacent) holds at least R periods.
// A complete combination is checked by is_valid_combination itself, so the walk hands
// out exactly the valid ones; ascending candidates per slot keep lexicographic order.
#include "selection/exhaustive/valid_combinations.hpp"

#include <algorithm>

namespace kestrava::exhaustive {

ValidCombinations::ValidCombinations(std::span<const Item> items, std::size_t k, const SelectionRules& rules,
                                     bool strict_end)
    : items_(items),
      n_(static_cast<std::int64_t>(items.size())),
      k_(k),
      rules_(rules),
      strict_end_(strict_end),
      positions_(k),
      run_lengths_(k),
      combination_(k) {
    // Gaps and leads never exceed n, so larger limits act as n.
    gap_ = static_cast<std::int64_t>(std::min<std::uint64_t>(rules.max_gap_between_periods, items.size()));
    lead_ = std::min(gap_, static_cast<std::int64_t>(std::min<std::uint64_t>(rules.max_gap_from_start, items.size())));
    min_run_ = static_cast<std::int64_t>(std::min<std::uint64_t>(rules.min_consecutive_periods, items.size() + 1));
    exhausted_ = k == 0 || k > items.size();
    candidate_ = exhausted_ ? 0 : lowest_at(0);
}

std::int64_t ValidCombinations::lowest_at(std::size_t j) const noexcept {
    const std::int64_t after = static_cast<std::int64_t>(k_ - 1 - j);
    const std::int64_t reach = n_ - 1 - gap_ - after * (gap_ + 1);
    return std::max(j == 0 ? std::int64_t{0} : positions_[j - 1] + 1, reach);
}

std::int64_t ValidCombinations::highest_at(std::size_t j) const noexcept {
    const std::int64_t fit = n_ - static_cast<std::int64_t>(k_ - j);
    return std::min(j == 0 ? lead_ : positions_[j - 1] + 1 + gap_, fit);
}

bool ValidCombinations::place(std::size_t j, std::int64_t c) noexcept {
    std::int64_t run = 1;
    if (j > 0) {
        const bool adjacent = c == positions_[j - 1] + 1;
        // Any later candidate closes the block before slot j too.
        if (!adjacent && run_lengths_[j - 1] < min_run_) return false;
        if (adjacent) run = run_lengths_[j - 1] + 1;
    }
    positions_[j] = c;
    run_lengths_[j] = run;
    return true;
}

std::optional<std::span<const Item>> ValidCombinations::next() noexcept {
    while (!exhausted_) {
        if (candidate_ > highest_at(depth_) || !place(depth_, candidate_)) {
            // Slot depth_ has no candidate left: back to the slot before it.
            if (depth_ == 0) {
                exhausted_ = true;
                break;
            }
            --depth_;
            candidate_ = positions_[depth_] + 1;
            continue;
        }
        if (depth_ + 1 < k_) {
            ++depth_;
            candidate_ = lowest_at(depth_);
            continue;
        }
        // A complete combination; the next one tries the last slot further on.
        candidate_ = positions_[depth_] + 1;
        for (std::size_t slot = 0; slot < k_; ++slot) {
            combination_[slot] = items_[static_cast<std::size_t>(positions_[slot])];
        }
        if (is_valid_combination(std::span<const Item>(combination_), rules_, items_.size(), strict_end_)) {
            return std::span<const Item>(combination_);
        }
    }
    return std::nullopt;
}

}  // namespace kestrava::exhaustive
