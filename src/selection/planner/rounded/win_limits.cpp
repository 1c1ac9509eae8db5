// The limits t(m) of win_limits.hpp, found by bisection on the decimal division
// itself, and the covering test, with the least gap between limits per pair of counts.
#include "selection/planner/rounded/win_limits.hpp"

#include <algorithm>

#include "decimal/powers_of_ten.hpp"

namespace kestrava::planner {

WinLimits::WinLimits(unsigned scale, unsigned __int128 magnitudes, int count, const Decimal& least)
    : scale_(scale),
      magnitudes_(static_cast<__int128>(magnitudes)),
      count_(count),
      least_(least),
      limits_(static_cast<std::size_t>(count) + 1, 0),
      known_(static_cast<std::size_t>(count) + 1, 0),
      slacks_(static_cast<std::size_t>((count + 1) * (count + 1)), 0),
      slack_known_(slacks_.size(), 0) {}

__int128 WinLimits::units(const Decimal& value) const noexcept {
    const unsigned __int128 coefficient = value.coefficient();
    const unsigned __int128 magnitude = value.scale() <= scale_ ? coefficient * pow10_u128[scale_ - value.scale()]
                                                                : coefficient / pow10_u128[value.scale() - scale_];
    return value.is_negative() ? -static_cast<__int128>(magnitude) : static_cast<__int128>(magnitude);
}

// Precondition: |sum| <= M.
bool WinLimits::reaches_least(__int128 sum, int count) const noexcept {
    const auto magnitude = static_cast<unsigned __int128>(sum < 0 ? -sum : sum);
    const Decimal value = Decimal::from_parts(sum < 0, magnitude, scale_);
    return !(least_ < divide(value, Decimal::from_unsigned(static_cast<std::uint64_t>(count))).value);
}

__int128 WinLimits::limit(int count) {
    const auto index = static_cast<std::size_t>(count);
    if (known_[index] != 0) return limits_[index];
    __int128 reached = -magnitudes_ - 1;  // the largest sum known to reach A
    if (reaches_least(-magnitudes_, count)) {
        reached = -magnitudes_;
        __int128 missed = magnitudes_ + 1;  // the smallest sum known not to (past M: none)
        while (missed - reached > 1) {
            const __int128 middle = reached + (missed - reached) / 2;
            (reaches_least(middle, count) ? reached : missed) = middle;
        }
    }
    known_[index] = 1;
    limits_[index] = reached;
    return reached;
}

// min over j <= n - max(count_a, count_b) of t(count_a + j) - t(count_b + j).
__int128 WinLimits::slack(int count_a, int count_b) {
    const auto index = static_cast<std::size_t>(count_a * (count_ + 1) + count_b);
    if (slack_known_[index] != 0) return slacks_[index];
    __int128 least = limit(count_a) - limit(count_b);
    for (int j = 1; j <= count_ - std::max(count_a, count_b); ++j) {
        least = std::min(least, limit(count_a + j) - limit(count_b + j));
    }
    slack_known_[index] = 1;
    slacks_[index] = least;
    return least;
}

// x_a - t(m_a + j) <= x_b - t(m_b + j) for every j is x_a - x_b <= slack(m_a, m_b).
bool WinLimits::covers(__int128 sum_a, int count_a, __int128 sum_b, int count_b) {
    return count_a == count_b ? sum_a <= sum_b : sum_a - sum_b <= slack(count_a, count_b);
}

}  // namespace kestrava::planner
