// Tables<Int>: the planner's backward dynamic programme. For one set of period
// weights it gives the least weight of a valid main combination of k periods
// together with the best additions of its cheap blocks (gap_additions.hpp), the best
// completion weight from every state, and the first main combination in
// lexicographic order that reaches the least weight.
//
// States, each valued by the least weight of what follows it (R = min_run,
// G = max_gap, L = max_lead):
//   run(p, c)   p is main and its run is already at least R long at p; c main
//               periods follow p. The run may go on at p + 1 or end at p.
//   start(s, c) a run starts at s; c main periods from s on, s included.
//   exit(e, c)  a long enough run ended at e and e + 1 is out; c main periods follow.
// Transitions:
//   start(s, c) = head(s) + run(s + R - 1, c - R)    (head: the weight of s .. s + R - 1)
//               = weight of s .. n - 1 if c = n - s  (a run too short for R must end at n - 1;
//                                                    unreachable under a strict end)
//   run(p, c)   = min(weight(p + 1) + run(p + 1, c - 1), exit(p, c))
//   exit(e, 0)  = trailing(e) when n - 1 - e <= G, and 0 for e = n - 1
//   exit(e, c)  = min over s in e + 2 .. e + 1 + G of between(e, s) + start(s, c)
//   optimum     = min over s in 0 .. L of lead(s) + start(s, k)
// Under a plan's conditions (rules/conditions.hpp) a carried run makes start(0, k) a
// head of carried_head periods, and blocked periods are never chosen: the run states
// at stalled periods (a blocked period within R of them) read as unreachable, and so
// does the short last run that holds one; a blocked period is then neither stepped
// onto nor part of a head. A strict end reads every short last run as unreachable, so
// that the only accepting states are runs at least R long (and a carried head longer
// than the horizon stays unreachable).
// The exit minimum is a sliding-window minimum per count (min_window.hpp), so a pass
// costs O(1) per stored state: O(n k) at most, far less where the rules pin the
// counts down (band.hpp).
//
// Values are exact. States that lie on no valid selection read as unreachable, a
// sentinel of about 2^(W-3) far above every reachable value (integer_ladder.hpp
// proves the bounds); is_reachable() tells them apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "selection/rules/band.hpp"
#include "selection/planner/fixed_int.hpp"
#include "selection/planner/gap_additions.hpp"
#include "selection/planner/integer_ladder.hpp"
#include "selection/planner/min_window.hpp"
#include "selection/rules/shape.hpp"
#include "selection/item.hpp"
#include "selection/stop_check.hpp"

namespace kestrava::planner {

template <class Int>
class Tables {
public:
    static constexpr Int unreachable() noexcept { return unreachable_; }
    static constexpr bool is_reachable(const Int& value) noexcept { return value < reachable_below_; }

    Tables() = default;
    // Allocates the whole workspace for this shape (the banded run table and O(n)
    // scratch). Keeps a reference to `shape`, which must outlive the tables (or the
    // next reset()). Precondition: 1 <= shape.size < shape.n (so shape.max_gap >= 1).
    explicit Tables(const rules::Shape& shape) { reset(shape); }
    // As the constructor, in the workspace already held where it is large enough.
    void reset(const rules::Shape& shape);

    // Fills the tables for these weights, one per period, with or without the cheap
    // blocks' additions. The weights must satisfy the bound of integer_ladder.hpp.
    // Polls `stop` every few thousand states and returns false as soon as it asks to
    // stop (the tables are then incomplete). Does not allocate.
    bool build(std::span<const Int> weights, bool with_additions, const StopCheck& stop) noexcept;

    // The least weight over all valid main combinations of k periods (with their
    // best additions when built with them); unreachable only if there is none.
    const Int& optimum() const noexcept { return optimum_; }

    // The states' values as defined above; unreachable outside the band.
    Int run_value(int p, int c) const noexcept;
    Int start_value(int s, int c) const noexcept;
    // Not stored: a scan of the O(G) starts that may follow e.
    Int exit_value(int e, int c) const noexcept;

    const GapAdditions<Int>& additions() const noexcept { return additions_; }
    const rules::Shape& shape() const noexcept { return *shape_; }
    const rules::Band& band() const noexcept { return *band_; }

    // Appends to `main` (ascending) the first main combination in lexicographic order
    // of index tuples whose weight is the optimum: from the smallest first period
    // that keeps the optimum, a run goes on rather than ends when both keep it, and
    // an ended run is followed by the smallest start that keeps it. Throws
    // InternalFailure if the optimum is unreachable or the tables disagree.
    void first_main(IndexList& main) const;

    // Bytes held by the workspace.
    std::size_t workspace_bytes() const noexcept;

private:
    static constexpr Int unreachable_ = unreachable_sentinel<Int>();
    static constexpr Int reachable_below_ = power_of_two<Int>(IntegerWidth<Int>::bits - 4);

    static std::size_t at(int p) noexcept { return static_cast<std::size_t>(p); }

    // One column of the run table, for reads inside a pass.
    struct Column {
        const Int* cells = nullptr;  // the cell of period `first`
        int first = 0;
        int last = -1;
        Int at(int p) const noexcept { return p >= first && p <= last ? cells[p - first] : unreachable_; }
    };
    Column column(int c) const noexcept;

    void fill_final_column() noexcept;
    struct StartRange {
        int first = 0;
        int last = -1;
    };
    int fill_plain_column(int c) noexcept;
    StartRange reachable_starts(int c, int lowest, int highest) const noexcept;
    void plain_starts(int c, int lowest, const StartRange& reachable, std::span<Int> keys) const noexcept;
    // The windows of one weighted column's pass.
    struct Windows {
        MinWindow gap;    // starts after a gap that is not wholly cheap
        MinWindow kept;   // starts after a wholly cheap gap, block left out
        MinWindow taken;  // starts after a wholly cheap gap, block added
    };
    int fill_column(int c) noexcept;
    int highest_start(int c, const Column& heads_end) const noexcept;
    bool fits_arrays(int first, int last) const noexcept;
    Int start_from(int s, int c, const Column& heads_end) const noexcept;
    int fill_column_by_windows(int c, const Column& heads_end, int highest) noexcept;
    void fill_column_from_arrays(int c, const Column& heads_end, int highest) noexcept;
    Int scanned_exit(int e, int lowest, int highest) const noexcept;
    // Inlined into fill_column(), so that the windows' ends stay in registers.
    [[gnu::always_inline]] inline void enter_start(int s, int c, const Column& heads_end, Windows& windows) noexcept;
    [[gnu::always_inline]] inline int slide_windows(int e, int next_gap_start, Windows& windows) const noexcept;
    [[gnu::always_inline]] inline Int exit_from_windows(int e, const Windows& windows) const noexcept;
    Int continue_value(int p, int c) const noexcept;
    Int least_lead_total() const noexcept;
    void mark_stalled(int c) noexcept;
    // The forced head of a run starting at s, and the value of a first start there (a
    // run from 0 joins a carried run).
    int head_length(int s) const noexcept;
    Int first_start_value(int s, int c) const noexcept;
    int first_start_after(int e, int c, const Int& target) const;

    const rules::Shape* shape_ = nullptr;
    // On the heap, so that band_ still points into it after a move.
    std::unique_ptr<rules::BandCache> bands_ = std::make_unique<rules::BandCache>();
    const rules::Band* band_ = nullptr;  // this shape's, in *bands_
    GapAdditions<Int> additions_;
    // run(p, c) over the band, column by column. Left uninitialized: a pass writes
    // every cell before any read, and zeroing would cost a pass of its own.
    std::unique_ptr<Int[]> runs_;
    std::size_t run_capacity_ = 0;
    // Per column, indexed by start period: start(s, c), and the window keys
    // start + before_start(s) (gaps not wholly cheap) and start + prefix(s)
    // (wholly cheap gaps whose block is added).
    std::vector<Int> starts_;
    std::vector<Int> gap_keys_;
    std::vector<Int> taken_keys_;
    std::vector<Int> block_right_;
    // The slots of the weighted passes' three windows, n + 1 each.
    std::vector<int> window_slots_;
    Int optimum_{};
};

extern template class Tables<std::int64_t>;
extern template class Tables<__int128>;
extern template class Tables<FixedInt<4>>;
extern template class Tables<FixedInt<8>>;

}  // namespace kestrava::planner
