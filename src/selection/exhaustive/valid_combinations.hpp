// ValidCombinations: the k-combinations of a request's periods that meet every timing
// rule (is_valid_combination), in lexicographic order of positions: the order the
// exhaustive search's tie-breaks rest on. It walks the positions depth first and
// leaves out only prefixes that no valid combination extends, so it hands out the
// same combinations, in the same order, as taking every k-combination in that order
// and keeping the valid ones; when few are valid, it visits few.
// for_each_valid_combination is the one loop of the search over them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "selection/exhaustive/combination_checks.hpp"
#include "selection/exhaustive/stop_poller.hpp"
#include "selection/item.hpp"
#include "selection/rules/selection_rules.hpp"

namespace kestrava::exhaustive {

class ValidCombinations {
public:
    // Precondition: items[i].index == i. Reads `items` (which must outlive it); its
    // storage is allocated once, here, and next() does not allocate.
    ValidCombinations(std::span<const Item> items, std::size_t k, const SelectionRules& rules, bool strict_end);

    // The next valid combination as a view of copies of the Items, valid until the
    // next call; nullopt once there is none, and from then on.
    std::optional<std::span<const Item>> next() noexcept;

private:
    // The lowest and highest period the combination's slot j may hold, given the slots
    // before it: a gap of at most G after the previous one (or a lead within the start
    // limits), and room for the slots after it both to fit and to reach within G of
    // the last period.
    std::int64_t lowest_at(std::size_t j) const noexcept;
    std::int64_t highest_at(std::size_t j) const noexcept;
    // Puts candidate c in slot j when the block rule allows it; false when no
    // candidate from c on can stand in slot j.
    bool place(std::size_t j, std::int64_t c) noexcept;

    std::span<const Item> items_;
    std::int64_t n_ = 0;
    std::size_t k_ = 0;
    std::int64_t gap_ = 0;   // G, at most n
    std::int64_t lead_ = 0;  // min(S, G)
    std::int64_t min_run_ = 0;
    const SelectionRules& rules_;
    bool strict_end_ = false;
    std::vector<std::int64_t> positions_;
    std::vector<std::int64_t> run_lengths_;  // the block's length up to each slot
    std::vector<Item> combination_;
    std::size_t depth_ = 0;        // the slot being chosen
    std::int64_t candidate_ = 0;   // the next period tried in it
    bool exhausted_ = false;
};

// Calls on_valid(combination) for each valid combination of `size` of the items, in
// lexicographic order (strict_end: as is_valid_combination's); the span is valid during
// the call. Every combination is a step of `stop`; the loop ends early once it has stopped.
template <class OnValid>
void for_each_valid_combination(std::span<const Item> items, std::size_t size, const SelectionRules& rules,
                                bool strict_end, StopPoller& stop, OnValid&& on_valid) {
    ValidCombinations combinations(items, size, rules, strict_end);
    while (!stop.step()) {
        const std::optional<std::span<const Item>> combination = combinations.next();
        if (!combination) return;
        on_valid(*combination);
    }
}

}  // namespace kestrava::exhaustive
