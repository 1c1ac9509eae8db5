// PrefixState: where a partial selection stands in a walk of the tables'
// transitions, the key under which the walks fold their arrivals.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrava::planner {

// A state a prefix reaches: a run state (period, count), or a point inside a gap (the
// next period to decide, the count from the gap's end on, and that end).
struct PrefixState {
    int period = 0;
    int count = 0;
    int gap_end = -1;  // -1 for a run state
    // Periods chosen so far. A main prefix's is fixed by (period, count); a merge's
    // also counts its cheap blocks, and its average depends on it.
    int chosen = 0;

    bool operator==(const PrefixState&) const noexcept = default;
};

struct PrefixStateHash {
    std::size_t operator()(const PrefixState& key) const noexcept {
        const std::uint64_t h = static_cast<std::uint64_t>(key.period) | (static_cast<std::uint64_t>(key.count) << 16) |
                                (static_cast<std::uint64_t>(key.gap_end + 1) << 32) |
                                (static_cast<std::uint64_t>(key.chosen) << 48);
        return static_cast<std::size_t>(h * 0xBF58476D1CE4E5B9ULL);
    }
};

}  // namespace kestrava::planner
