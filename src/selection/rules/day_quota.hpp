// The quota per local day as the planner's quota tables read it: a count of the main
// periods chosen so far in the current day, capped at that day's quota, carried along
// a selection and checked and reset where a day ends, inside a run, a run's forced
// head or a gap alike.
//
// A day's count only needs to reach its quota, so counts above it behave alike and
// are kept as the quota itself: the state holds at most max_quota() + 1 counts.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "selection/rules/shape.hpp"

namespace kestrava::rules {

class DayQuota {
public:
    DayQuota() = default;
    // Precondition: shape.has_quota(); its days as conditions.hpp describes them.
    // Allocates.
    void assign(const Shape& shape);

    int max_quota() const noexcept { return max_quota_; }
    int day(int p) const noexcept { return (*day_of_)[at(p)]; }
    int quota(int day) const noexcept { return quota_[at(day)]; }
    int capped(int day, int count) const noexcept { return count < quota(day) ? count : quota(day); }
    bool met(int day, int count) const noexcept { return count >= quota(day); }
    int first(int day) const noexcept { return first_[at(day)]; }
    int last(int day) const noexcept { return first_[at(day) + 1] - 1; }
    // The last period a gap from inside `day` may reach: the end of the first later day
    // that needs a main period, or of the horizon.
    int reach(int day) const noexcept { return reach_[at(day)]; }
    // The quotas of the days before `day`, and of those after it.
    int quota_before(int day) const noexcept { return quota_before_[at(day)]; }
    int quota_after(int day) const noexcept { return quota_before_.back() - quota_before_[at(day) + 1]; }

    // The count at p + 1 after main periods p (count `count`) and p + 1; nullopt when
    // p + 1 starts a day that p's leaves short.
    std::optional<int> stepped(int p, int count) const noexcept;
    // The count at the last of the `length` main periods from s, with `before` counted
    // in s's day before s; nullopt when the stretch leaves a day short.
    std::optional<int> through(int s, int length, int before) const noexcept;
    // The count before s after main period e (count `count`) and a gap to s; nullopt
    // when the gap leaves a day short, e's or one it wholly covers.
    std::optional<int> across_gap(int e, int count, int s) const noexcept;
    // Whether no day before s's needs a main period: the leading gap holds none.
    bool lead_allowed(int s) const noexcept { return needing_before_[at(day(s))] == 0; }
    // Whether a selection may end at main period e with `count` in its day.
    bool end_allowed(int e, int count) const noexcept {
        return met(day(e), count) && needing_before_.back() == needing_before_[at(day(e) + 1)];
    }

private:
    static std::size_t at(int i) noexcept { return static_cast<std::size_t>(i); }
    // Whether every day strictly between `from` and `to` needs no main period.
    bool none_needed_between(int from, int to) const noexcept {
        return to <= from + 1 || needing_before_[at(to)] == needing_before_[at(from + 1)];
    }

    const std::vector<int>* day_of_ = nullptr;
    std::vector<int> quota_;
    std::vector<int> first_;           // each day's first period
    std::vector<int> needing_before_;  // days below d whose quota is positive; one per day and one more
    std::vector<int> short_before_;    // days below d with fewer periods than their quota
    std::vector<int> reach_;
    std::vector<int> quota_before_;    // the quotas of the days below d; one per day and one more
    int max_quota_ = 0;
};

// Inline: the quota tables' passes call these for every state.

inline std::optional<int> DayQuota::stepped(int p, int count) const noexcept {
    const int from = day(p);
    const int to = day(p + 1);
    if (to == from) return capped(from, count + 1);
    if (!met(from, count)) return std::nullopt;
    return capped(to, 1);
}

inline std::optional<int> DayQuota::through(int s, int length, int before) const noexcept {
    const int last = s + length - 1;
    const int from = day(s);
    const int to = day(last);
    if (to == from) return capped(from, before + length);
    // s's day runs to its end; the days between lie wholly inside the stretch.
    if (!met(from, before + first_[at(from + 1)] - s)) return std::nullopt;
    if (short_before_[at(to)] != short_before_[at(from + 1)]) return std::nullopt;
    return capped(to, last - first_[at(to)] + 1);
}

inline std::optional<int> DayQuota::across_gap(int e, int count, int s) const noexcept {
    const int from = day(e);
    const int to = day(s);
    if (to == from) return count;
    if (!met(from, count) || !none_needed_between(from, to)) return std::nullopt;
    return 0;
}

}  // namespace kestrava::rules
