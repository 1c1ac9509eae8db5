// The day counts' prefix counts over the days; the transitions, inline, are in the header.
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
    quota_before_.assign(days + 1, 0);
    max_quota_ = 0;
    for (std::size_t d = 0; d < days; ++d) {
        const int length = first_[d + 1] - first_[d];
        needing_before_[d + 1] = needing_before_[d] + (quota_[d] > 0 ? 1 : 0);
        short_before_[d + 1] = short_before_[d] + (length < quota_[d] ? 1 : 0);
        quota_before_[d + 1] = quota_before_[d] + quota_[d];
        max_quota_ = std::max(max_quota_, quota_[d]);
    }
    reach_.assign(days, shape.n - 1);
    for (std::size_t d = days; d-- > 1;) reach_[d - 1] = quota_[d] > 0 ? first_[d + 1] - 1 : reach_[d];
}

}  // namespace kestrava::rules
