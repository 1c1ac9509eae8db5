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
//
// Each period is one step of five transitions, in this order (LabellingPass::run):
// open a main block after a live gap or the leading gap, carry the cheap-block labels
// across the period as an out period, close the leading gap once it is too long, open
// a gap after a long enough main block, and join the period to the main combination.
// The tables live in a workspace on the heap, one per thread, not on the stack.
#include "selection/planner/labelling.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
#include <optional>

namespace kestrava::planner {
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
constexpr int not_added = 0;       // no block in progress, or its periods stay out
constexpr int added_touching = 1;  // added; the main combination holds the period before it
constexpr int added_detached = 2;  // added; the period before it is out
constexpr int label_count = 3;

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

// The search's tables for one score type; every entry is written before it is read.
template <class Score>
struct alignas(64) LabellingTables {
    static constexpr int count_slots = max_periods + 1;  // counts 0 .. 28
    using CountRow = IntIndexed<Score, count_slots>;
    using GapRow = PerPeriod<Score>;  // by the first out period of the gap

    // after_block[label][count][first out period]: the live gaps at a period are one
    // contiguous stretch of first out periods.
    IntIndexed<IntIndexed<GapRow, count_slots>, label_count> after_block;
    PerPeriod<CountRow> in_block;  // [r - 1][count]
    CountRow entering;             // best score before a new block of the main combination starts
    // The least not-added score over the live gaps, per count, and the first out
    // period of the gap that holds it. Rescanned only when that gap grows too long
    // or a cheap block closes; new gaps are folded in as they open.
    CountRow window_least;
    IntIndexed<int, count_slots> window_holder;
};

}  // namespace

// About 27 kB and 54 kB of tables for the two score widths. Cache-line aligned, so
// that where the rows fall does not depend on the allocator's choice of address.
struct alignas(64) LabellingWorkspace {
    LabellingTables<std::int64_t> narrow;
    LabellingTables<int128> wide;
};

namespace {

// One search for one size and one set of weights. with_blocks: whether cheap blocks
// may be added (a compile-time choice, so that the search without blocks carries none
// of their bookkeeping).
template <class Score, bool with_blocks>
class LabellingPass {
public:
    LabellingPass(LabellingTables<Score>& tables, const Layout& layout, int size,
                  std::span<const int128> weights) noexcept;
    Labelling run() noexcept;

private:
    static constexpr Score unreachable = ScoreBounds<Score>::unreachable;
    using CountRow = typename LabellingTables<Score>::CountRow;
    using GapRow = typename LabellingTables<Score>::GapRow;

    // Period p and what the transitions at p read: the band of counts lo .. hi that
    // can have been reached and can still reach `size`, and the live gaps. Passed by
    // value, so that the compiler sees that the tables' stores cannot change it.
    struct Step {
        int p;
        int lo;
        int hi;
        int top;  // the highest count that can still grow: min(hi, size - 1)
        bool previous_cheap;
        bool cheap;
        int first_live;  // gaps whose first out period is first_live .. p - 1 are at most max_gap long
    };

    std::optional<Step> step_at(int p) const noexcept;
    void open_main_blocks(Step step) noexcept;
    void rescan_window(int count, Step step) noexcept;
    void carry_cheap_labels(Step step) noexcept;
    static void move_labels(Score& out, Score& touching, Score& detached, Step step, Score added,
                            bool detached_long_enough) noexcept;
    void close_leading_gap(Step step) noexcept;
    void open_gaps(Step step) noexcept;
    void join_main_combination(Step step) noexcept;
    void extend_runs(Step step) noexcept;
    Score best_final_score() const noexcept;
    static Labelling decode(Score best) noexcept;

    LabellingTables<Score>& t_;
    const Layout& layout_;
    const int size_;
    const int last_run_;            // the index of the in-block row of min_run periods
    PerPeriod<Score> added_score_;  // the packed weight of period p as an added period
    PerPeriod<Score> main_score_;   // the same less p's tie-break bit, as a main period
    IntIndexed<Score, label_count> leading_;
    bool window_stale_ = false;  // a cheap block closed: the window's least may have dropped
};

template <class Score, bool with_blocks>
LabellingPass<Score, with_blocks>::LabellingPass(LabellingTables<Score>& tables, const Layout& layout, int size,
                                                 std::span<const int128> weights) noexcept
    : t_(tables), layout_(layout), size_(size), last_run_(layout.min_run - 1) {
    int p = 0;
    for (const int128 weight : weights) {
        added_score_[p] = static_cast<Score>(weight) * (Score{1} << tie_break_bits);
        main_score_[p] = added_score_[p] - (Score{1} << (tie_break_bits - 1 - p));
        ++p;
    }
    for (int r = 0; r <= last_run_; ++r) {
        for (int c = 0; c <= size_; ++c) t_.in_block[r][c] = unreachable;
    }
    leading_ = {{0, unreachable, unreachable}};
    // No gap yet: nothing to lose when the window moves.
    for (int c = 0; c <= size_; ++c) {
        t_.window_least[c] = unreachable;
        t_.window_holder[c] = layout_.n;
    }
}

template <class Score, bool with_blocks>
Labelling LabellingPass<Score, with_blocks>::run() noexcept {
    for (int p = 0; p < layout_.n; ++p) {
        const std::optional<Step> step = step_at(p);
        // A labelling of `size` passes through the band at every period, so an empty
        // band means that there is none.
        if (!step) return Labelling{};
        open_main_blocks(*step);
        carry_cheap_labels(*step);
        close_leading_gap(*step);
        open_gaps(*step);
        join_main_combination(*step);
    }
    return decode(best_final_score());
}

template <class Score, bool with_blocks>
auto LabellingPass<Score, with_blocks>::step_at(int p) const noexcept -> std::optional<Step> {
    const int n = layout_.n;
    const int lo = std::max({0, size_ - (n - p), fewest_before(layout_, p)});
    const int hi = std::min({size_, p, size_ - fewest_after(layout_, p)});
    if (hi < lo) return std::nullopt;
    return Step{p,
                lo,
                hi,
                std::min(hi, size_ - 1),
                layout_.is_cheap(p - 1),
                layout_.is_cheap(p),
                std::max(0, p - layout_.max_gap)};
}

// A new main block may start at p after any live gap; a detached added block that
// ends here ends next to the main combination and is admissible. Only counts below
// `size` can grow. The leading gap, while short enough, opens one with count 0.
template <class Score, bool with_blocks>
void LabellingPass<Score, with_blocks>::open_main_blocks(Step step) noexcept {
    const int labels_in_play = with_blocks && step.previous_cheap ? label_count : 1;
    const bool stale = window_stale_;
    for (int c = step.lo; c <= step.top; ++c) {
        if (stale || t_.window_holder[c] < step.first_live) rescan_window(c, step);
        Score best = t_.window_least[c];
        for (int label = 1; label < labels_in_play; ++label) {
            const GapRow& row = t_.after_block[label][c];
            for (int first_out = step.first_live; first_out < step.p; ++first_out) {
                best = std::min(best, row[first_out]);
            }
        }
        t_.entering[c] = best;
    }
    window_stale_ = false;
    if (step.p <= layout_.max_lead && step.lo == 0) {
        t_.entering[0] = std::min({t_.entering[0], leading_[not_added], leading_[added_detached]});
    }
}

template <class Score, bool with_blocks>
void LabellingPass<Score, with_blocks>::rescan_window(int count, Step step) noexcept {
    Score least = unreachable;
    int holder = layout_.n;
    const GapRow& row = t_.after_block[not_added][count];
    for (int first_out = step.first_live; first_out < step.p; ++first_out) {
        if (row[first_out] < least) {
            least = row[first_out];
            holder = first_out;
        }
    }
    t_.window_least[count] = least;
    t_.window_holder[count] = holder;
}

// Period p stays out of the main combination: the label of the cheap block in
// progress moves on, in every gap that can still grow and in the leading gap.
template <class Score, bool with_blocks>
void LabellingPass<Score, with_blocks>::carry_cheap_labels(Step step) noexcept {
    if (!with_blocks || !(step.previous_cheap || step.cheap)) return;
    const int p = step.p;
    const Score added = added_score_[p];
    // A detached block that ends before an out period needs min_run periods.
    const bool detached_long_enough = step.previous_cheap && p - layout_.cheap_run_start[p - 1] >= layout_.min_run;
    // Gaps shorter than max_gap can take p as well.
    const int first_growing = std::max(0, p - layout_.max_gap + 1);
    for (int c = step.lo; c <= step.hi; ++c) {
        GapRow& out = t_.after_block[not_added][c];
        GapRow& touching = t_.after_block[added_touching][c];
        GapRow& detached = t_.after_block[added_detached][c];
        for (int first_out = first_growing; first_out < p; ++first_out) {
            move_labels(out[first_out], touching[first_out], detached[first_out], step, added, detached_long_enough);
        }
    }
    if (p < layout_.max_lead) {
        move_labels(leading_[not_added], leading_[added_touching], leading_[added_detached], step, added,
                    detached_long_enough);
    }
    // A closing block lowers not-added scores inside the window.
    if (step.previous_cheap && !step.cheap) window_stale_ = true;
}

template <class Score, bool with_blocks>
void LabellingPass<Score, with_blocks>::move_labels(Score& out, Score& touching, Score& detached, Step step,
                                                    Score added, bool detached_long_enough) noexcept {
    if (step.previous_cheap && step.cheap) {  // the block goes on with its label
        touching += added;
        detached += added;
    } else if (step.previous_cheap) {  // the block ends before p
        out = std::min({out, touching, detached_long_enough ? detached : unreachable});
        touching = unreachable;
        detached = unreachable;
    } else {  // a block starts at p, after an out period
        detached = out + added;
    }
}

template <class Score, bool with_blocks>
void LabellingPass<Score, with_blocks>::close_leading_gap(Step step) noexcept {
    if (step.p >= layout_.max_lead) leading_ = {{unreachable, unreachable, unreachable}};
}

// A long enough main block ends before p: p is the first out period of a new gap.
// Its entries above `hi` are unreachable; below `lo` they are never read.
template <class Score, bool with_blocks>
void LabellingPass<Score, with_blocks>::open_gaps(Step step) noexcept {
    if (layout_.max_gap < 1) return;
    const int p = step.p;
    const int size = size_;
    const CountRow& ended = t_.in_block[last_run_];
    const bool may_add = with_blocks && step.cheap;
    const Score added = added_score_[p];
    for (int c = step.lo; c <= size; ++c) {
        const Score entry = c <= step.hi ? ended[c] : unreachable;
        t_.after_block[not_added][c][p] = entry;
        if constexpr (with_blocks) {
            t_.after_block[added_touching][c][p] = may_add ? entry + added : unreachable;
            t_.after_block[added_detached][c][p] = unreachable;
        }
        if (entry < t_.window_least[c]) {
            t_.window_least[c] = entry;
            t_.window_holder[c] = p;
        }
    }
}

// Period p joins the main combination: the count grows by one. Count lo with p in the
// main combination would have come from count lo - 1, which cannot reach `size`.
template <class Score, bool with_blocks>
void LabellingPass<Score, with_blocks>::join_main_combination(Step step) noexcept {
    if (step.top >= step.lo) extend_runs(step);
    const int last_run = last_run_;
    for (int r = 0; r <= last_run; ++r) t_.in_block[r][step.lo] = unreachable;
}

// Descending counts let each row be rewritten in place. A run of min_run periods
// stays at min_run; a shorter one grows by one; a new run starts from `entering`.
template <class Score, bool with_blocks>
void LabellingPass<Score, with_blocks>::extend_runs(Step step) noexcept {
    const Score joined = main_score_[step.p];
    const int lo = step.lo;
    const int last_run = last_run_;
    CountRow& longest = t_.in_block[last_run];
    if (last_run == 0) {
        for (int c = step.top; c >= lo; --c) longest[c + 1] = std::min(longest[c], t_.entering[c]) + joined;
        return;
    }
    const CountRow& shorter = t_.in_block[last_run - 1];
    for (int c = step.top; c >= lo; --c) longest[c + 1] = std::min(longest[c], shorter[c]) + joined;
    for (int r = last_run - 1; r >= 1; --r) {
        CountRow& row = t_.in_block[r];
        const CountRow& before = t_.in_block[r - 1];
        for (int c = step.top; c >= lo; --c) row[c + 1] = before[c] + joined;
    }
    CountRow& first = t_.in_block[0];
    for (int c = step.top; c >= lo; --c) first[c + 1] = t_.entering[c] + joined;
}

// The main combination may end in a short block at the last period, or leave a
// trailing gap of up to max_gap periods; a detached added block that ends at the
// last period is admissible.
template <class Score, bool with_blocks>
Score LabellingPass<Score, with_blocks>::best_final_score() const noexcept {
    Score best = unreachable;
    for (int r = 0; r <= last_run_; ++r) best = std::min(best, t_.in_block[r][size_]);
    const int first_live = std::max(0, layout_.n - layout_.max_gap);
    for (int label = 0; label < (with_blocks ? label_count : 1); ++label) {
        const GapRow& row = t_.after_block[label][size_];
        for (int first_out = first_live; first_out < layout_.n; ++first_out) best = std::min(best, row[first_out]);
    }
    return best;
}

// best = weight * 2^28 - key with 0 <= key < 2^28; bit 27 - p of the key is period p.
template <class Score, bool with_blocks>
Labelling LabellingPass<Score, with_blocks>::decode(Score best) noexcept {
    if (best >= ScoreBounds<Score>::reachable_below) return Labelling{};
    const int128 packed = best;
    const int128 weight = -((-packed) >> tie_break_bits);
    const int128 key = weight * (int128{1} << tie_break_bits) - packed;
    PeriodMask main_combination = 0;
    for (auto bits = static_cast<std::uint32_t>(key); bits != 0; bits &= bits - 1) {
        main_combination |= PeriodMask{1} << (tie_break_bits - 1 - std::countr_zero(bits));
    }
    return Labelling{true, weight, main_combination};
}

int128 magnitude_sum(std::span<const int128> weights) noexcept {
    int128 sum = 0;
    for (const int128 weight : weights) sum += weight < 0 ? -weight : weight;
    return sum;
}

template <class Score, bool with_blocks>
Labelling run_pass(LabellingTables<Score>& tables, const Layout& layout, int size,
                   std::span<const int128> weights) noexcept {
    LabellingPass<Score, with_blocks> pass(tables, layout, size, weights);
    return pass.run();
}

}  // namespace

bool narrow_scores_suffice(std::span<const int128> weights) noexcept {
    return magnitude_sum(weights) <= ScoreBounds<std::int64_t>::weight_limit;
}

LabellingWorkspace& thread_labelling_workspace() {
    thread_local std::unique_ptr<LabellingWorkspace> workspace;
    // Left uninitialized: each pass writes every entry before reading it.
    if (!workspace) workspace = std::make_unique_for_overwrite<LabellingWorkspace>();
    return *workspace;
}

Labelling lightest_labelling(LabellingWorkspace& workspace, const Layout& layout, int size,
                             std::span<const int128> weights, bool with_blocks) noexcept {
    if (narrow_scores_suffice(weights)) {
        return with_blocks ? run_pass<std::int64_t, true>(workspace.narrow, layout, size, weights)
                           : run_pass<std::int64_t, false>(workspace.narrow, layout, size, weights);
    }
    return with_blocks ? run_pass<int128, true>(workspace.wide, layout, size, weights)
                       : run_pass<int128, false>(workspace.wide, layout, size, weights);
}

}  // namespace kestrava::planner
