// The labelling search: a forward dynamic programme over the periods, one column of
// states per count of main-combination periods chosen so far.
//
// States after period i (before period i + 1), besides that count:
//   - leading: no main period yet; the leading gap is i + 1 long;
//   - in block r: period i is in the main combination, the last r periods are
//     (r capped at min_run, where it stops mattering);
//   - after block, gap q: period i is not in the main combination, the last main
//     period lies q periods back, and the block that ended there was long enough.
// The leading and after-block states also carry the label of the cheap block in
// progress (when period i is a cheap period outside the main combination): not
// added, added and touching the main combination on its left, or added and
// detached so far. A detached added block must end next to the main combination, at
// the last period, or with at least min_run periods.
//
// After-block states are stored by the first out period of their gap, so that a
// step of the gap moves no data. Every score packs the weight above 28
// tie-break bits: a main period at position p subtracts 2^(27 - p), so that of two
// labellings of equal weight the one whose main combination is first in
// lexicographic order has the lower score.
#include "selection/fast_planner_labelling.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace kestrava::fast_planner {
namespace {

constexpr int tie_break_bits = static_cast<int>(max_price_count);

// Scores: the packed weight of the best partial labelling reaching a state.
// `unreachable` marks states that no labelling reaches. Adding the weights of a path
// to it moves it by less than `unreachable - reachable_below`, and every real score
// stays below reachable_below, so sums from unreachable states never pass for real
// ones and never overflow.
template <class Score>
struct ScoreBounds;

template <>
struct ScoreBounds<std::int64_t> {
    // Used when sum |weights| <= 2^31: packed path sums stay below 2^60.
    static constexpr int128 weight_limit = int128{1} << 31;
    static constexpr std::int64_t unreachable = std::int64_t{1} << 62;
    static constexpr std::int64_t reachable_below = std::int64_t{1} << 61;
};

template <>
struct ScoreBounds<int128> {
    // Taken when sum |weights| < 2^96 (the prices' own bound): packed path sums stay below 2^125.
    static constexpr int128 unreachable = int128{1} << 126;
    static constexpr int128 reachable_below = int128{1} << 125;
};

// The label of the cheap block in progress.
constexpr std::size_t not_added = 0;       // no block in progress, or its periods stay out
constexpr std::size_t added_touching = 1;  // added; the main combination holds the period before it
constexpr std::size_t added_detached = 2;  // added; the period before it is out
constexpr std::size_t label_count = 3;

// The fewest main periods before period p in any state other than the leading one:
// the first lies at max_lead or earlier, the last at p - 1 - max_gap or later (at
// most max_gap out periods follow it), and two in a row lie at most max_gap + 1
// apart. Non-decreasing in p.
int fewest_before(const Layout& layout, int p) noexcept {
    if (p <= layout.max_lead) return 0;  // the leading state, with none
    const int span = p - 1 - layout.max_gap - layout.max_lead;
    const int step = layout.max_gap + 1;
    return 1 + (span > 0 ? (span + step - 1) / step : 0);
}

// The fewest main periods from period p on that any valid completion holds: the last
// lies at n - 1 - max_gap or later, the first at p + max_gap or earlier (the gap
// before it is at most max_gap), and two in a row at most max_gap + 1 apart.
// Non-increasing in p.
int fewest_after(const Layout& layout, int p) noexcept {
    const int last_from = layout.n - 1 - layout.max_gap;
    if (p > last_from) return 0;
    const int span = last_from - (p + layout.max_gap);
    const int step = layout.max_gap + 1;
    return 1 + (span > 0 ? (span + step - 1) / step : 0);
}

// with_blocks: whether cheap blocks may be added (a compile-time choice, so that the
// search without blocks carries none of their bookkeeping).
template <class Score, bool with_blocks>
class LabellingPass {
public:
    Labelling run(const Layout& layout, int size, std::span<const int128> weights) noexcept;

private:
    static constexpr Score unreachable = ScoreBounds<Score>::unreachable;
    static constexpr std::size_t count_slots = max_price_count + 1;  // counts 0 .. 28
    using CountRow = std::array<Score, count_slots>;
    using GapRow = std::array<Score, max_price_count>;  // by the first out period of the gap

    // after_block_[label][count][first out period]: the live gaps at a period are one
    // contiguous stretch of first out periods.
    std::array<std::array<GapRow, count_slots>, label_count> after_block_;
    std::array<CountRow, max_price_count> in_block_;  // [r - 1][count]
    std::array<Score, label_count> leading_;
    CountRow entering_;  // best score before a new block of the main combination starts
    // The least not-added score over the live gaps, per count, and the first out
    // period of the gap that holds it. Rescanned only when that gap grows too long
    // or a cheap block closes; new gaps are folded in as they open.
    CountRow window_least_;
    std::array<int, count_slots> window_holder_;
};

template <class Score, bool with_blocks>
Labelling LabellingPass<Score, with_blocks>::run(const Layout& layout, int size,
                                                 std::span<const int128> weights) noexcept {
    const int n = layout.n;
    const int min_run = layout.min_run;
    const int max_gap = layout.max_gap;
    const std::size_t k = static_cast<std::size_t>(size);
    const std::size_t last_run = static_cast<std::size_t>(min_run - 1);

    std::array<Score, max_price_count> added_score{};
    std::array<Score, max_price_count> main_score{};
    for (int p = 0; p < n; ++p) {
        const std::size_t at = static_cast<std::size_t>(p);
        added_score[at] = static_cast<Score>(weights[at]) * (Score{1} << tie_break_bits);
        main_score[at] = added_score[at] - (Score{1} << (tie_break_bits - 1 - p));
    }

    for (std::size_t r = 0; r <= last_run; ++r) {
        for (std::size_t c = 0; c <= k; ++c) in_block_[r][c] = unreachable;
    }
    leading_ = {0, unreachable, unreachable};
    // No gap yet: nothing to lose when the window moves.
    for (std::size_t c = 0; c <= k; ++c) {
        window_least_[c] = unreachable;
        window_holder_[c] = n;
    }
    bool window_stale = false;

    for (int p = 0; p < n; ++p) {
        const std::size_t at = static_cast<std::size_t>(p);
        // Counts that can have been reached and from which `size` can still be reached.
        // A labelling of that size passes through this band at every period, so an
        // empty band means that there is none.
        const int lowest = std::max({0, size - (n - p), fewest_before(layout, p)});
        const int highest = std::min({size, p, size - fewest_after(layout, p)});
        if (highest < lowest) return Labelling{};
        const std::size_t lo = static_cast<std::size_t>(lowest);
        const std::size_t hi = static_cast<std::size_t>(highest);
        const bool previous_cheap = layout.is_cheap(p - 1);
        const bool cheap = layout.is_cheap(p);
        // Gaps whose first out period is first_live .. p - 1 are live: at most max_gap long.
        const std::size_t first_live = static_cast<std::size_t>(std::max(0, p - max_gap));
        const std::size_t labels_in_play = with_blocks && previous_cheap ? label_count : 1;

        // A new main block may start at p after any live gap; a detached added block
        // that ends here ends next to the main combination and is admissible. Only
        // counts below `size` can grow.
        const std::size_t top = std::min(hi, k - 1);
        for (std::size_t c = lo; c <= top; ++c) {
            if (window_stale || window_holder_[c] < static_cast<int>(first_live)) {
                Score least = unreachable;
                int holder = n;
                const GapRow& row = after_block_[not_added][c];
                for (std::size_t first_out = first_live; first_out < at; ++first_out) {
                    if (row[first_out] < least) {
                        least = row[first_out];
                        holder = static_cast<int>(first_out);
                    }
                }
                window_least_[c] = least;
                window_holder_[c] = holder;
            }
            Score best = window_least_[c];
            for (std::size_t label = 1; label < labels_in_play; ++label) {
                const GapRow& row = after_block_[label][c];
                for (std::size_t first_out = first_live; first_out < at; ++first_out) best = std::min(best, row[first_out]);
            }
            entering_[c] = best;
        }
        window_stale = false;
        if (p <= layout.max_lead && lo == 0) {
            entering_[0] = std::min({entering_[0], leading_[not_added], leading_[added_detached]});
        }

        // Period p stays out of the main combination: the label of the cheap block in
        // progress moves on, in every gap that can still grow and in the leading gap.
        if (with_blocks && (previous_cheap || cheap)) {
            const Score added = added_score[at];
            // A detached block that ends before an out period needs min_run periods.
            const bool detached_long_enough = previous_cheap && p - layout.cheap_run_start[at - 1] >= min_run;
            // Gaps shorter than max_gap can take p as well.
            const std::size_t first_growing = static_cast<std::size_t>(std::max(0, p - max_gap + 1));
            auto move_labels = [&](Score& out, Score& touching, Score& detached) {
                if (previous_cheap && cheap) {  // the block goes on with its label
                    touching += added;
                    detached += added;
                } else if (previous_cheap) {  // the block ends before p
                    out = std::min({out, touching, detached_long_enough ? detached : unreachable});
                    touching = unreachable;
                    detached = unreachable;
                } else {  // a block starts at p, after an out period
                    detached = out + added;
                }
            };
            for (std::size_t c = lo; c <= hi; ++c) {
                GapRow& out = after_block_[not_added][c];
                GapRow& touching = after_block_[added_touching][c];
                GapRow& detached = after_block_[added_detached][c];
                for (std::size_t first_out = first_growing; first_out < at; ++first_out) {
                    move_labels(out[first_out], touching[first_out], detached[first_out]);
                }
            }
            if (p < layout.max_lead) move_labels(leading_[not_added], leading_[added_touching], leading_[added_detached]);
            // A closing block lowers not-added scores inside the window.
            if (previous_cheap && !cheap) window_stale = true;
        }
        if (p >= layout.max_lead) leading_ = {unreachable, unreachable, unreachable};

        // A long enough main block ends before p: p is the first out period of a new
        // gap. Its entries above `hi` are unreachable; below `lo` they are never read.
        if (max_gap >= 1) {
            const CountRow& ended = in_block_[last_run];
            const bool may_add = with_blocks && cheap;
            for (std::size_t c = lo; c <= k; ++c) {
                const Score entry = c <= hi ? ended[c] : unreachable;
                after_block_[not_added][c][at] = entry;
                if (with_blocks) {
                    after_block_[added_touching][c][at] = may_add ? entry + added_score[at] : unreachable;
                    after_block_[added_detached][c][at] = unreachable;
                }
                if (entry < window_least_[c]) {
                    window_least_[c] = entry;
                    window_holder_[c] = p;
                }
            }
        }

        // Period p joins the main combination: the count grows by one. Descending
        // counts let each row be rewritten in place.
        const Score joined = main_score[at];
        if (k >= 1 && top >= lo) {
            if (min_run == 1) {
                CountRow& row = in_block_[0];
                for (std::size_t c = top + 1; c-- > lo;) row[c + 1] = std::min(row[c], entering_[c]) + joined;
            } else {
                CountRow& longest = in_block_[last_run];
                const CountRow& shorter = in_block_[last_run - 1];
                for (std::size_t c = top + 1; c-- > lo;) longest[c + 1] = std::min(longest[c], shorter[c]) + joined;
                for (std::size_t r = last_run - 1; r >= 1; --r) {
                    CountRow& row = in_block_[r];
                    const CountRow& before = in_block_[r - 1];
                    for (std::size_t c = top + 1; c-- > lo;) row[c + 1] = before[c] + joined;
                }
                CountRow& first = in_block_[0];
                for (std::size_t c = top + 1; c-- > lo;) first[c + 1] = entering_[c] + joined;
            }
        }
        // Count lo with period p in the main combination would have come from count
        // lo - 1, which cannot reach `size`.
        for (std::size_t r = 0; r <= last_run; ++r) in_block_[r][lo] = unreachable;
    }

    // The main combination may end in a short block at the last period, or leave a
    // trailing gap of up to max_gap periods; a detached added block that ends at the
    // last period is admissible.
    Score best = unreachable;
    for (std::size_t r = 0; r <= last_run; ++r) best = std::min(best, in_block_[r][k]);
    const std::size_t first_live = static_cast<std::size_t>(std::max(0, n - max_gap));
    for (std::size_t label = 0; label < (with_blocks ? label_count : 1); ++label) {
        for (std::size_t first_out = first_live; first_out < static_cast<std::size_t>(n); ++first_out) {
            best = std::min(best, after_block_[label][k][first_out]);
        }
    }
    if (best >= ScoreBounds<Score>::reachable_below) return Labelling{};

    // best = weight * 2^28 - key with 0 <= key < 2^28.
    const int128 packed = best;
    const int128 weight = -((-packed) >> tie_break_bits);
    const int128 key = weight * (int128{1} << tie_break_bits) - packed;
    PeriodMask main_combination = 0;
    for (int p = 0; p < n; ++p) {
        if ((key >> (tie_break_bits - 1 - p)) & 1) main_combination |= period_bit(static_cast<std::uint64_t>(p));
    }
    return Labelling{true, weight, main_combination};
}

int128 magnitude_sum(std::span<const int128> weights) noexcept {
    int128 sum = 0;
    for (const int128 weight : weights) sum += weight < 0 ? -weight : weight;
    return sum;
}

// One pass on its own stack frame: about 27 kB for 64-bit scores and 54 kB for
// 128-bit ones, so that the common narrow search does not reserve the wide one's
// space. The workspace is left uninitialized on purpose: run() writes every entry
// before reading it, and clearing it would cost more than the search.
template <class Score, bool with_blocks>
[[gnu::noinline]] Labelling run_pass(const Layout& layout, int size, std::span<const int128> weights) noexcept {
    LabellingPass<Score, with_blocks> pass;
    return pass.run(layout, size, weights);
}

}  // namespace

Labelling lightest_labelling(const Layout& layout, int size, std::span<const int128> weights,
                             bool with_blocks) noexcept {
    const bool narrow = magnitude_sum(weights) <= ScoreBounds<std::int64_t>::weight_limit;
    if (narrow) {
        return with_blocks ? run_pass<std::int64_t, true>(layout, size, weights)
                           : run_pass<std::int64_t, false>(layout, size, weights);
    }
    return with_blocks ? run_pass<int128, true>(layout, size, weights) : run_pass<int128, false>(layout, size, weights);
}

}  // namespace kestrava::fast_planner
