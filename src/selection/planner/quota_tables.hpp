// QuotaTables<Int>: the planner's tables (tables.hpp) for a plan with a quota of main
// periods per local day, which the Planner uses in their place only when a quota is
// given. The states and transitions are those of tables.hpp, each with one more
// coordinate q, the main periods counted so far in the state's day, capped at its
// quota (rules/day_quota.hpp):
//   run(p, c, q)    p is main, its run at least R long at p, c main periods follow,
//                   q counted in p's day through p;
//   start(s, c, q)  a run starts at s, c main periods from s on, q counted in s's
//                   day before s;
//   exit(e, c, q)   min over s in e + 2 .. e + 1 + G of between(e, s) + start(s, c, q')
//                   where q' is q in e's day and 0 in a later one, reached only when
//                   the gap leaves no day short;
//   run(p, c, q)    = min(weight(p + 1) + run(p + 1, c - 1, stepped q), exit(p, c, q)).
// A forced head and a run going on count their periods day by day; the trailing gap
// and the end need the last day counted met and no later day to need a period; the
// leading gap needs no earlier day to. Cheap blocks are weighed by the same
// additions (gap_additions.hpp) and never count. With shape.strict_end a run too
// short for R never ends at the last period.
//
// Why exact: a valid selection meeting every day's quota splits into lead, heads,
// steps and gaps as in tables.hpp, and q at each piece is a function of the pieces
// before it; the tests on q are exactly the days' quotas (a count capped at the quota
// meets it exactly when the uncapped one does). The band (band.hpp) holds every (p, c)
// of a valid selection with or without quotas, which only take selections away.
//
// The exit minima are sliding-window minima (min_window.hpp), as in tables.hpp, one set
// of windows per day count over the starts of e's own day and one over the starts of
// later days (entered with count 0), rebuilt where a day begins.
//
// Counts that no selection of k periods meeting every quota reaches are never stored:
// with c main periods still to come, a day's count q needs q + c to cover its quota and
// every later day's, and q + (every earlier day's quota) <= k - c. Along a valid
// selection both hold at every state, and a state that keeps the second hands it on to
// the states after it, so reading the others as unreachable changes no value that a
// selection reads. Where k is the sum of the quotas this pins q to one count per
// column and day.
//
// Cost: the band's cells times the counts that column's days allow (at most max_quota
// + 1, one when the quotas add up to k), O(1) amortized each, and per column and day the
// G starts the later days' windows take in again: O((cells + days G) (Q + 1)) a pass at
// most.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "selection/item.hpp"
#include "selection/planner/fixed_int.hpp"
#include "selection/planner/gap_additions.hpp"
#include "selection/planner/integer_ladder.hpp"
#include "selection/planner/min_window.hpp"
#include "selection/rules/band.hpp"
#include "selection/rules/day_quota.hpp"
#include "selection/rules/shape.hpp"
#include "selection/stop_check.hpp"

namespace kestrava::planner {

template <class Int>
class QuotaTables {
public:
    static constexpr Int unreachable() noexcept { return unreachable_; }
    static constexpr bool is_reachable(const Int& value) noexcept { return value < reachable_below_; }

    // As Tables<Int>: allocates the workspace for this shape and keeps a reference to
    // it. Preconditions: 1 <= shape.size < shape.n, shape.has_quota().
    void reset(const rules::Shape& shape);
    // As Tables<Int>::build. Does not allocate.
    bool build(std::span<const Int> weights, bool with_additions, const StopCheck& stop) noexcept;
    const Int& optimum() const noexcept { return optimum_; }
    // As Tables<Int>::first_main: the first main combination in lexicographic order
    // whose weight is the optimum. Throws InternalFailure if there is none.
    void first_main(IndexList& main) const;
    std::size_t workspace_bytes() const noexcept;

private:
    static constexpr Int unreachable_ = unreachable_sentinel<Int>();
    static constexpr Int reachable_below_ = power_of_two<Int>(IntegerWidth<Int>::bits - 4);
    static std::size_t at(int i) noexcept { return static_cast<std::size_t>(i); }
    static Int settled(const Int& value) noexcept { return is_reachable(value) ? value : unreachable_; }

    bool allowed_through(int first, int last) const noexcept {
        return blocked_before_[at(last + 1)] == blocked_before_[at(first)];
    }
    // The day counts that a state of column c in `day` may hold on a selection of
    // shape.size periods that meets every quota; empty when first > last.
    struct CountRange {
        int first;
        int last;
    };
    CountRange live_counts(int c, int day) const noexcept;
    Int run(int p, int c, int q) const noexcept;
    Int start(int s, int c, int before) const noexcept;
    Int first_start(int s, int c) const noexcept;
    Int going_on(int p, int c, int q) const noexcept;
    Int trailing(int e, int q) const noexcept;
    void fill_column(int c) noexcept;
    void fill_final_column() noexcept;
    void fill_keys(int c, int lowest, int highest) noexcept;
    void set_keys(int q, int s, const Int& start_value) noexcept;
    void fill_day(int c, int day, int lowest, int highest) noexcept;

    // The windows over the starts after an exit e, split as tables.hpp splits them at
    // the end of the cheap run at e + 1; keys of one day count. Starts enter from the
    // top down; `entered` is the lowest entered so far.
    struct ExitWindows {
        MinWindow gap;
        MinWindow kept;
        MinWindow taken;
        const Int* kept_keys;
        const Int* gap_keys;
        const Int* taken_keys;
        int entered;
        int next_gap_start;
    };
    ExitWindows windows_for(std::size_t group, int q, int top) noexcept;
    void take_in(ExitWindows& windows, int lowest) const noexcept;
    Int least_exit(ExitWindows& windows, int e, int lowest, int highest) const noexcept;
    std::size_t key_at(int q, int s) const noexcept { return at(q) * at(shape_->n) + at(s); }
    int head_length(int s) const noexcept;
    int first_start_after(int e, int c, int q, const Int& target) const;

    const rules::Shape* shape_ = nullptr;
    std::unique_ptr<rules::BandCache> bands_ = std::make_unique<rules::BandCache>();
    const rules::Band* band_ = nullptr;
    rules::DayQuota days_;
    GapAdditions<Int> additions_;
    std::vector<int> blocked_before_;  // blocked periods below p, n + 1 entries
    // run(p, c, q) at band cell (p, c) times slots_ plus q; written by a pass before any read.
    std::vector<Int> runs_;
    std::size_t slots_ = 1;
    // Per day count q and start s of the column filled: start(s, c, q), and with it plus
    // before_start(s) and plus prefix(s), the keys of tables.hpp's three windows.
    std::vector<Int> kept_keys_;
    std::vector<Int> gap_keys_;
    std::vector<Int> taken_keys_;
    std::vector<int> window_slots_;  // 3 (n + 1) per day count, and as many for the later days'
    std::vector<ExitWindows> own_windows_;  // per day count of the day being filled
    Int optimum_{};
};

// The smallest size from `from` up, below shape.n, at which some selection meets the
// rules, conditions and quotas that `shape` holds (its size is not read); nullopt
// when none below n does. One reachability pass per size tried. Allocates.
std::optional<int> smallest_size_with_quota(const rules::Shape& shape, int from);

extern template class QuotaTables<std::int64_t>;
extern template class QuotaTables<__int128>;
extern template class QuotaTables<FixedInt<4>>;
extern template class QuotaTables<FixedInt<8>>;

}  // namespace kestrava::planner
