// The checks of selection_rules.hpp.
#include "selection/rules/selection_rules.hpp"

#include <numeric>

namespace kestrava {

std::optional<ErrorKind> broken_rule(std::size_t n, std::size_t max_n, const SelectionRules& rules,
                                     std::uint64_t running_for) noexcept {
    if (n == 0) return ErrorKind::prices_empty;
    if (n > max_n) return ErrorKind::too_many_prices;
    if (rules.min_selections == 0) return ErrorKind::min_selections_zero;
    if (rules.min_selections > n) return ErrorKind::min_selections_above_count;
    if (rules.min_consecutive_periods == 0) return ErrorKind::min_consecutive_zero;
    // min_consecutive_periods > min_selections + running_for, without the sum's overflow.
    if (rules.min_consecutive_periods > rules.min_selections &&
        rules.min_consecutive_periods - rules.min_selections > running_for) {
        return ErrorKind::min_consecutive_above_selections;
    }
    if (rules.max_gap_from_start > rules.max_gap_between_periods) return ErrorKind::start_gap_above_gap;
    return std::nullopt;
}

IndexList every_period(std::size_t n) {
    IndexList periods(n);
    std::iota(periods.begin(), periods.end(), std::uint64_t{0});
    return periods;
}

}  // namespace kestrava
