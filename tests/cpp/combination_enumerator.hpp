// CombinationEnumerator: every k-combination of a list of Items, one at a time, in
// lexicographic order of positions: the literal order of the exhaustive search, which
// its walk over the valid ones (valid_combinations.hpp) is checked against.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "selection/item.hpp"

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

}  // namespace kestrava::exhaustive
