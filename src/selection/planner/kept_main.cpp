// The kept combination of kept_main.hpp.
#include "selection/planner/kept_main.hpp"

#include <algorithm>

namespace kestrava::planner {

const IndexList* KeptMain::find(std::span<const std::int64_t> units, const rules::Shape& shape) const noexcept {
    if (!held_ || !std::ranges::equal(units, units_) || !(shape == shape_)) return nullptr;
    return &main_;
}

void KeptMain::keep(std::span<const std::int64_t> units, const rules::Shape& shape, const IndexList& main) {
    // Held only once kept whole: a failed allocation leaves nothing to match.
    held_ = false;
    units_.assign(units.begin(), units.end());
    shape_ = shape;
    main_ = main;
    held_ = true;
}

}  // namespace kestrava::planner
