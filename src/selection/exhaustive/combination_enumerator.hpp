// CombinationEnumerator: the k-combinations of a list of Items, one at a time, in
// lexicographic order of positions; and for_each_valid_combination, the one loop of
// the exhaustive search over them. The strategies' tie-breaks rest on this order.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "selection/exhaustive/combination_checks.hpp"
#include "selection/exhaustive/stop_poller.hpp"
#include "selection/item.hpp"
#include "selection/rules.hpp"

namespace kestrava::exhaustive {

// For a list L of m Items and a size k, next() hands out (0, 1, ..., k-1) first;
// then the last position runs up to m - 1, the one before it advances by one and
// the last restarts right behind it, and so on up to (m-k, ..., m-1): C(m, k)
// combinations, each in L's order. k = 0 gives one empty combination (also for an
// empty L); k > m gives none. Once next() has answered nullopt it always does.
//
// The enumerator reads L (which must outlive it) and never changes it. Its storage
// is allocated once, at construction; next() does not allocate.
class CombinationEnumerator {
public:
    CombinationEnumerator(std::span<const Item> list, std::size_t k);

    // The next combination as a view of the enumerator's own copies of the Items,
    // valid until the next call; nullopt when the enumeration is over.
    std::optional<std::span<const Item>> next() noexcept;

    // The positions in L of the combination last handed out, ascending.
    std::span<const std::size_t> positions() const noexcept { return positions_; }

private:
    enum class Stage { fresh, running, exhausted };

    // Copies L's Items at positions_[first..] into the combination.
    void copy_items_from(std::size_t first) noexcept;

    std::span<const Item> list_;
    std::vector<std::size_t> positions_;
    std::vector<Item> combination_;
    Stage stage_ = Stage::fresh;
};

// Calls on_valid(combination) for each combination of `size` of the items that passes
// is_valid_combination, in the enumerator's order; the span is valid during the call.
// Every combination is a step of `stop`; the loop ends early once it has stopped.
// Allocates the enumerator's storage once.
template <class OnValid>
void for_each_valid_combination(std::span<const Item> items, std::size_t size, const SelectionRules& rules,
                                StopPoller& stop, OnValid&& on_valid) {
    CombinationEnumerator combinations(items, size);
    while (!stop.step()) {
        const std::optional<std::span<const Item>> combination = combinations.next();
        if (!combination) return;
        if (is_valid_combination(*combination, rules, items.size())) on_valid(*combination);
    }
}

}  // namespace kestrava::exhaustive
