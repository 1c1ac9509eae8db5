// The smallest size from min_selections up that some valid selection of a plan has.
// Without conditions the sizes with a valid selection run from the fewest up to n
// (shape.hpp), and counting finds the fewest. Blocked periods break that: a stretch
// of allowed periods exactly min_run long between blocked ones holds a run of min_run
// periods or none, so a plan may have valid selections of 4 and of 6 periods and none
// of 5. Here the sizes are found, not counted.
#pragma once

#include <optional>

#include "selection/rules/shape.hpp"

namespace kestrava::rules {

// The smallest c >= min_selections such that a selection of exactly c periods meets
// the rules and conditions that `shape` holds (its size is not read); nullopt when
// there is none. O(n^2 / 64) word operations and O(n^2 / 64) words of memory.
// Allocates.
std::optional<int> smallest_valid_size_from(const Shape& shape, int min_selections);

}  // namespace kestrava::rules
