// What the cheap blocks in the out periods of a gap add, at best, to a selection's
// weight under one set of period weights; split into a term of the gap's start and a
// term of its end, so that the planner's gap transition is a sliding-window minimum.
//
// Which blocks count. A cheap block of a main combination is a maximal run of cheap
// periods outside it, so it lies inside one gap. Added alone it must touch the main
// combination on a side, have at least min_run periods, or end at the last period;
// the merges that keep every rule are exactly the sets of such blocks (adding a block
// only shortens gaps and lengthens runs it touches). Each admissible block adds
// min(0, its weight) at best. Inside the gap e+1 .. s-1 (e, s main periods):
//   - the piece of a cheap run that starts at e+1 touches e: admissible;
//   - the piece of a cheap run that ends at s-1 touches s: admissible;
//   - a whole cheap run strictly inside (first >= e+2, last <= s-2) is admissible
//     when it has at least min_run periods (or, in the trailing gap, ends at n-1
//     unless the end is strict);
//   - when every period of the gap is cheap, the gap is one block touching both.
// Unless the gap is wholly cheap, the first piece depends on e alone and the second
// on s alone, and the runs strictly inside are those that start after e+1 less
// those that end before s-1: prefix sums over runs. So
//   between(e, s) = after_end(e) + before_start(s)               (not wholly cheap)
//   between(e, s) = min(0, prefix(s) - prefix(e + 1))            (wholly cheap)
// The leading gap (no main period before) and the trailing gap (none after) are the
// same with one side missing, and there the split form also holds when the gap is
// wholly cheap (its one run is the piece touching the main period). A run starting
// at period 0 has no exemption unless a carried run (rules/conditions.hpp) is there to
// touch; one ending at n - 1 stands alone unless the end is strict. Blocked periods
// are never cheap.
//
// Bounds: every term is a sum of weights of disjoint periods, or a difference of two
// such sums, so each is at most 2 S in magnitude (S = sum of |weights|); see
// integer_ladder.hpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "selection/planner/fixed_int.hpp"
#include "selection/rules/shape.hpp"

namespace kestrava::planner {

template <class Int>
class GapAdditions {
public:
    GapAdditions() = default;
    // Sizes the arrays for the shape; assign() then reuses them. Keeps a reference
    // to `shape`, which must outlive this object (or the next reset()).
    explicit GapAdditions(const rules::Shape& shape) { reset(shape); }
    // As the constructor, in the arrays already held where they are large enough.
    void reset(const rules::Shape& shape);

    // Every term for these weights (one per period). Without additions every gap
    // adds 0: the main combination alone is weighed. Does not allocate.
    void assign(std::span<const Int> weights, bool with_additions) noexcept;

    bool adds_blocks() const noexcept { return with_additions_; }
    const Int& weight(int p) const noexcept { return weights_[at(p)]; }
    // The weight of periods 0 .. p - 1.
    const Int& prefix(int p) const noexcept { return prefix_[at(p)]; }
    // The weight of the periods s .. min(s + min_run, n) - 1, the forced head of a run.
    const Int& run_head(int s) const noexcept { return run_heads_[at(s)]; }

    // The best additions of the leading gap 0 .. s - 1 (first main period s).
    Int lead(int s) const noexcept;
    // Of the gap e + 1 .. s - 1 between main periods e and s. Precondition: e + 2 <= s < n.
    Int between(int e, int s) const noexcept;
    // Of the trailing gap e + 1 .. n - 1 after the last main period e.
    Int trailing(int e) const noexcept;

    // The split terms of between(); valid when the gap is not wholly cheap.
    const Int& after_end(int e) const noexcept { return after_end_[at(e)]; }
    const Int& before_start(int s) const noexcept { return before_start_[at(s)]; }
    // The largest s for which the gap e + 1 .. s - 1 is wholly cheap: past the end of
    // the cheap run at e + 1, or e + 1 when period e + 1 is not cheap (no such gap).
    // Precondition: 0 <= e < n.
    int wholly_cheap_until(int e) const noexcept { return wholly_cheap_until_[at(e)]; }

private:
    static std::size_t at(int p) noexcept { return static_cast<std::size_t>(p); }
    // min(0, weight of the cheap run first .. last) when it may stand alone, else 0.
    Int run_value(int first, int last) const noexcept;

    const rules::Shape* shape_ = nullptr;
    bool with_additions_ = false;
    std::vector<Int> weights_;
    std::vector<Int> prefix_;  // n + 1 entries
    std::vector<Int> run_heads_;
    std::vector<Int> started_before_;  // value of the runs whose first period is below x; n + 2 entries
    std::vector<Int> ended_before_;    // value of the runs whose last period is below x; n + 1 entries
    std::vector<Int> after_end_;
    std::vector<Int> before_start_;
    std::vector<int> wholly_cheap_until_;  // of the shape, read in every pass's inner loop
    Int all_runs_{};  // value of every run that may stand alone
};

// Inline: the passes and the walk read these in their inner loops.

// A wholly cheap leading gap is one run touching s: the split form already counts
// it, as the piece before s, and no run ends before it.
template <class Int>
inline Int GapAdditions<Int>::lead(int s) const noexcept {
    return with_additions_ && s > 0 ? before_start(s) : Int{};
}

template <class Int>
inline Int GapAdditions<Int>::between(int e, int s) const noexcept {
    if (!with_additions_) return Int{};
    if (s <= wholly_cheap_until(e)) return std::min(Int{}, prefix(s) - prefix(e + 1));
    return after_end(e) + before_start(s);
}

// A wholly cheap trailing gap is one run touching e: the split form counts it as the
// piece after e, and takes it back out of all_runs_ as a run starting by e + 1.
template <class Int>
inline Int GapAdditions<Int>::trailing(int e) const noexcept {
    if (!with_additions_ || e == shape_->n - 1) return Int{};
    return after_end(e) + all_runs_;
}

extern template class GapAdditions<std::int64_t>;
extern template class GapAdditions<__int128>;
extern template class GapAdditions<FixedInt<4>>;
extern template class GapAdditions<FixedInt<8>>;

}  // namespace kestrava::planner
