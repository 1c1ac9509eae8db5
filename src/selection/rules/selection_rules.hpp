// The timing rules of a request, as the caller gives them, and the checks that both
// request entries make of a request before any search, in their fixed order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "selection/item.hpp"
#include "selection/outcome.hpp"

namespace kestrava {

struct SelectionRules {
    std::uint64_t min_selections = 0;           // the smallest number of periods to select
    std::uint64_t min_consecutive_periods = 0;  // shortest allowed run of adjacent periods
    std::uint64_t max_gap_between_periods = 0;  // longest gap between runs, and after the last one
    std::uint64_t max_gap_from_start = 0;       // longest gap before the first selected period

    friend bool operator==(const SelectionRules&, const SelectionRules&) = default;
};

// The first rule that a request of n prices breaks, in the order in which they are
// tested; an entry takes at most max_n prices. A plan with a carried run of
// running_for periods may ask for min_consecutive_periods up to min_selections +
// running_for, so that a re-plan can ask for the periods that complete a run.
std::optional<ErrorKind> broken_rule(std::size_t n, std::size_t max_n, const SelectionRules& rules,
                                     std::uint64_t running_for = 0) noexcept;

// Every period of n, ascending: the answer when min_selections is n or every price is
// cheap, since taking every period meets every rule of a valid request.
IndexList every_period(std::size_t n);

}  // namespace kestrava
