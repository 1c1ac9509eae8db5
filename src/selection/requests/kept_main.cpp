// The kept combination of kept_main.hpp.
#include "selection/requests/kept_main.hpp"

#include <algorithm>

namespace kestrava::planner {

const IndexList* KeptMain::find(std::span<const std::int64_t> units, const rules::Shape& shape) const noexcept {
    if (!held_ || !std::ranges::equal(units, units_) || !(shape == shape_)) return nullptr;
    return &main_;
}

void KeptMain::keep(std::span<const std::int64_t> units, const rules::Shape& shape, const IndexList& main,
                    const SelectionRules& rules, const rules::Conditions& conditions) {
    // Held only once kept whole: a failed allocation leaves nothing to match.
    held_ = false;
    merged_ = false;
    units_.assign(units.begin(), units.end());
    shape_ = shape;
    main_ = main;
    rules_ = rules;
    masked_ = conditions.allowed.has_value();
    if (masked_) allowed_.assign(conditions.allowed->begin(), conditions.allowed->end());
    running_for_ = conditions.running_for;
    off_for_ = conditions.off_for;
    strict_end_ = conditions.strict_end;
    held_ = true;
}

bool KeptMain::holds_request(std::span<const std::int64_t> units, std::span<const std::uint8_t> cheap,
                             const SelectionRules& rules, const rules::Conditions& conditions) const noexcept {
    const bool same_conditions = conditions.running_for == running_for_ && conditions.off_for == off_for_ &&
                                 conditions.strict_end == strict_end_ &&
                                 conditions.allowed.has_value() == masked_ &&
                                 (!masked_ || std::ranges::equal(*conditions.allowed, allowed_));
    return held_ && rules == rules_ && same_conditions && std::ranges::equal(cheap, shape_.cheap) &&
           std::ranges::equal(units, units_);
}

const IndexList* KeptMain::widest_merge(std::span<const std::int64_t> units, std::span<const std::uint8_t> cheap,
                                        const SelectionRules& rules, const rules::Conditions& conditions) {
    if (!holds_request(units, cheap, rules, conditions)) return nullptr;
    if (!merged_) {
        marks_.assign(units_.size(), 0);
        admissible_blocks(shape_, main_, marks_, blocks_);
        // Every block joins, so the prices are not read.
        Merges<std::int64_t>::merge({}, main_, blocks_, nullptr, merge_);
        merged_ = true;
    }
    return &merge_;
}

}  // namespace kestrava::planner
