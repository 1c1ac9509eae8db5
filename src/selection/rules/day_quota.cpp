// The day counts' transitions, each O(1) through prefix counts over the days.
#include "selection/rules/day_quota.hpp"

#include <algorithm>

namespace kestrava::rules {

void DayQuota::assign(const Shape& shape) {
    day_of_ = &shape.day_of;
    quota_ = shape.day_quota;
    const std::size_t days = quota_.size();
    first_.assign(days + 1, shape.n);
    for (int p = shape.n - 1; p >= 0; --p) first_[at(shape.day_of[at(p)])] = p;
    needing_before_.assign(days + 1, 0);
    short_before_.assign(days + 1, 0);
    max_quota_ = 0;
    for (std::size_t d = 0; d < days; ++d) {
        const int length = first_[d + 1] - first_[d];
        needing_before_[d + 1] = needing_before_[d] + (quota_[d] > 0 ? 1 : 0);
        short_before_[d + 1] = short_before_[d] + (length < quota_[d] ? 1 : 0);
        max_quota_ = std::max(max_quota_, quota_[d]);
    }
    reach_.assign(days, shape.n - 1);
    for (std::size_t d = days; d-- > 1;) reach_[d - 1] = quota_[d] > 0 ? first_[d + 1] - 1 : reach_[d];
}

std::optional<int> DayQuota::stepped(int p, int count) const noexcept {
    const int from = day(p);
    const int to = day(p + 1);
    if (to == from) return capped(from, count + 1);
    if (!met(from, count)) return std::nullopt;
    return capped(to, 1);
}

std::optional<int> DayQuota::through(int s, int length, int before) const noexcept {
    const int last = s + length - 1;
    const int from = day(s);
    const int to = day(last);
    if (to == from) return capped(from, before + length);
    // s's day runs to its end; the days between lie wholly inside the stretch.
    if (!met(from, before + first_[at(from + 1)] - s)) return std::nullopt;
    if (short_before_[at(to)] != short_before_[at(from + 1)]) return std::nullopt;
    return capped(to, last - first_[at(to)] + 1);
}

std::optional<int> DayQuota::across_gap(int e, int count, int s) const noexcept {
    const int from = day(e);
    const int to = day(s);
    if (to == from) return count;
    if (!met(from, count) || !none_needed_between(from, to)) return std::nullopt;
    return 0;
}

}  // namespace kestrava::rules
