// PreparedRequest: one request as every tier reads it, built once per call from the
// entry's checked input. The <= 28 chain (exact, rounded, then the exhaustive search)
// and the any-length planner take this, and nothing is converted again on the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "selection/prices/price_units.hpp"
#include "selection/requests/request_memory.hpp"
#include "selection/rules/conditions.hpp"
#include "selection/rules/selection_rules.hpp"
#include "selection/rules/shape.hpp"

namespace kestrava::planner {

inline constexpr rules::Conditions no_conditions{};

struct PreparedRequest {
    const PriceUnits* units = nullptr;
    // 1 for a period allowed and priced at or below the threshold (at or above it for
    // the most expensive plan).
    std::vector<std::uint8_t> cheap;
    rules::Shape shape;  // the rules compiled against the cheap flags
    SelectionRules rules;
    const rules::Conditions* conditions = &no_conditions;
    bool aggressive = false;
    // What a caller that plans request after request keeps (a table's thread); none for
    // a lone request.
    RequestMemory* memory = nullptr;

    std::size_t size() const noexcept { return units->size(); }
    // The units planned with: the prices', negated for the most expensive plan (the
    // same magnitudes, so the same width holds them).
    bool mirrored() const noexcept { return conditions->most_expensive; }
};

// Sets the cheap flags from the units and the conditions; the count of cheap periods.
std::size_t mark_cheap(PreparedRequest& request);

// What a request prepares into, kept per thread (ThreadLease) so that a call allocates
// only its answer once the arrays have grown.
struct PreparedSpace {
    PriceUnits units;
    PreparedRequest request;

    std::size_t held_bytes() const noexcept;
};

// The request as an entry gives it, in `space`, its prices still to be read into
// space.units and its flags and shape still to be made.
PreparedRequest& prepare(PreparedSpace& space, const SelectionRules& rules, const rules::Conditions& conditions,
                         bool aggressive, RequestMemory* memory) noexcept;

}  // namespace kestrava::planner
