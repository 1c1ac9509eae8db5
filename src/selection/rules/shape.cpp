// The request's shape and the counting bounds, in closed form.
//
// Counting argument. Cover a stretch of y periods by a leading gap of at most
// `lead`, t runs and the gaps between and after them (each at most G). Runs hold at
// least R periods each, except a run that ends at the last period of the day, which
// holds at least one (unless the end is strict). The out periods number at most lead + (gaps) * G, so the main
// periods number at least y - lead - (gaps) G, and at least the sum of the run
// minima. Both bounds are met at once by runs of the right lengths (runs that touch
// merge into longer ones, which the rules allow), so the fewest main periods for t
// runs is the larger bound, and the fewest overall is the least over t. The larger
// of an increasing and a non-increasing linear function of t is convex in t, so its
// least integer value lies next to where the two lines cross.
#include "selection/rules/shape.hpp"

#include <algorithm>

namespace kestrava::rules {
namespace {

using Count = std::int64_t;

// The least of max(a t + b, d - e t) over integers t >= first, for a >= 1, e >= 0.
Count least_over_runs(Count first, Count a, Count b, Count d, Count e) noexcept {
    auto larger = [&](Count t) { return std::max(a * t + b, d - e * t); };
    if (e == 0) return larger(first);
    const Count numerator = d - b;
    const Count denominator = a + e;
    Count crossing = numerator / denominator;
    if (numerator % denominator != 0 && numerator < 0) --crossing;  // floor, not truncation
    return std::min(larger(std::max(first, crossing)), larger(std::max(first, crossing + 1)));
}

// least_over_runs for a d that rises from one call to the next: the best t never
// falls as d rises (the crossing of the two lines moves right), so a pointer that
// only moves up finds it, without the division, in O(1) amortized per call.
class RisingLeastOverRuns {
public:
    RisingLeastOverRuns(Count first, Count a, Count b, Count e) noexcept : t_(first), a_(a), b_(b), e_(e) {}

    Count at(Count d) noexcept {
        while (larger(t_ + 1, d) <= larger(t_, d)) ++t_;
        return larger(t_, d);
    }

private:
    Count larger(Count t, Count d) const noexcept { return std::max(a_ * t + b_, d - e_ * t); }

    Count t_;
    Count a_;
    Count b_;
    Count e_;
};

}  // namespace

int smallest_valid_size(int n, int min_run, int max_gap, int max_lead, bool strict_end) noexcept {
    const Count y = n - max_lead;
    // t >= 1 runs of at least R, then a trailing gap: t gaps of at most G besides the lead.
    // A trailing gap of 0 is a last run of R ending at the last period, all a strict end allows.
    const Count with_trailing_gap = least_over_runs(1, min_run, 0, y, max_gap);
    if (strict_end) return static_cast<int>(std::min(with_trailing_gap, static_cast<Count>(n)));
    // j >= 0 runs of at least R, then one of at least 1 ending at the last period: j gaps.
    const Count ending_at_last = least_over_runs(0, min_run, 1, y, max_gap);
    return static_cast<int>(std::min({with_trailing_gap, ending_at_last, static_cast<Count>(n)}));
}

void fewest_main_after_each(const Shape& shape, std::span<int> fewest) noexcept {
    const Count g = shape.max_gap;
    // t >= 1 new runs and a trailing gap: t + 1 gaps (the first right after p's run).
    RisingLeastOverRuns with_trailing_gap(1, shape.min_run, 0, g);
    // t >= 1 new runs, the last ending at the last period: t gaps. (p's run going on
    // and then stopping needs x - G periods too, as many as t = 1 here.)
    RisingLeastOverRuns ending_at_last(1, shape.min_run, 1 - shape.min_run, g);
    // x, the periods after p, rises as p falls.
    for (int p = shape.n - 1; p >= 0; --p) {
        const Count x = shape.n - 1 - p;
        // With x <= G the selection may end at p.
        fewest[static_cast<std::size_t>(p)] =
            x <= g ? 0 : static_cast<int>(std::min(with_trailing_gap.at(x - g), ending_at_last.at(x)));
    }
}

void fewest_main_through_each(const Shape& shape, std::span<int> fewest) noexcept {
    // t >= 1 runs of at least R in 0 .. p, the last one ending at p: t - 1 gaps.
    RisingLeastOverRuns runs(1, shape.min_run, 0, shape.max_gap);
    for (int p = 0; p < shape.n; ++p) {
        fewest[static_cast<std::size_t>(p)] = static_cast<int>(runs.at(p + 1 - shape.max_lead + shape.max_gap));
    }
}

Shape make_shape(std::span<const std::uint8_t> cheap, const SelectionRules& rules) {
    Shape shape;
    make_shape(shape, cheap, rules);
    return shape;
}

void make_shape(Shape& shape, std::span<const std::uint8_t> cheap, const SelectionRules& rules) {
    shape.n = static_cast<int>(cheap.size());
    const std::uint64_t longest_gap = cheap.size() - 1;
    shape.min_run = static_cast<int>(rules.min_consecutive_periods);
    shape.max_gap = static_cast<int>(std::min(rules.max_gap_between_periods, longest_gap));
    shape.max_lead = static_cast<int>(std::min(rules.max_gap_from_start, longest_gap));
    shape.size = std::max(static_cast<int>(rules.min_selections),
                          smallest_valid_size(shape.n, shape.min_run, shape.max_gap, shape.max_lead));
    shape.carried = 0;
    shape.carried_head = 0;
    shape.last_blocked = -1;
    shape.allowed.clear();
    shape.stalled.clear();
    shape.strict_end = false;
    shape.day_of.clear();
    shape.day_quota.clear();
    shape.cheap.assign(cheap.begin(), cheap.end());
    shape.run_first.assign(cheap.size(), 0);
    shape.run_last.assign(cheap.size(), 0);
    for (int p = 0; p < shape.n; ++p) {
        if (!shape.is_cheap(p)) continue;
        const auto at = static_cast<std::size_t>(p);
        shape.run_first[at] = shape.is_cheap(p - 1) ? shape.run_first[at - 1] : p;
    }
    for (int p = shape.n - 1; p >= 0; --p) {
        if (!shape.is_cheap(p)) continue;
        const auto at = static_cast<std::size_t>(p);
        shape.run_last[at] = shape.is_cheap(p + 1) ? shape.run_last[at + 1] : p;
    }
}

}  // namespace kestrava::rules
