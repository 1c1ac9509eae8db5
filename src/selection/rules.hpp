// The timing rules of a request, as the caller gives them.
#pragma once

#include <cstdint>

namespace kestrava {

struct SelectionRules {
    std::uint64_t min_selections = 0;           // the smallest number of periods to select
    std::uint64_t min_consecutive_periods = 0;  // shortest allowed run of adjacent periods
    std::uint64_t max_gap_between_periods = 0;  // longest gap between runs, and after the last one
    std::uint64_t max_gap_from_start = 0;       // longest gap before the first selected period
};

}  // namespace kestrava
