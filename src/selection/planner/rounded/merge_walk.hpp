// MergeWalk: the lowest rounded average among the merges whose exact weight under
// the lowest-average tables lies within the limit for their number of periods, with
// the exhaustive search's tie-break: the first in the order (main combination, block
// mask).
//
// It walks the tables' transitions as BandWalk does, but also chooses, gap by gap,
// which admissible cheap blocks the merge takes, so that it knows each merge's
// periods in index order while it goes: the decimal sum is formed on the way, one
// price at a time, as the exhaustive search forms it. A branch is entered only while
// the weight gathered so far, plus the least weight that can follow, stays within
// the limit for the most periods the branch can still end with: those chosen, the
// main periods to come, and every cheap period ahead (limits grow with the count).
//
// Dominated prefixes. A merge's rounded average is its decimal sum, formed in index
// order, divided by its number of periods. Two partial merges that reach the same run
// state, or the same point of the same gap, with the same number of periods have the
// same completions (the state fixes what may follow), and each completion adds the
// same prices to each sum and the same count. Decimal addition and division are
// monotone (band_walk.hpp), so the prefix with the lower or equal sum ends no higher.
// The count matters: prefixes of equal sums and different counts (zero prices,
// prices that cancel) end in different averages. Of two such prefixes the one that
// comes earlier in the order has every completion earlier too (the main periods
// differ inside the prefix, or they agree there and so do the ranks of every later
// block, and the prefix's block mask decides). So an arrival is dominated when an
// earlier arrival in the order, at the same state and count, had a sum no higher:
// each of its completions loses to that twin. Per state the walk keeps the arrivals
// that no other dominates, and walks on only from an arrival that none of them
// dominates. This needs no band: the twin is a valid merge whether or not the walk
// reaches it.
//
// Settled walks. The floor is a rounded average that no merge goes below: that of a
// sum of copies of the lowest price (at_floor()), or, when no sum rounds, that of the
// merge of least exact average (below). Once a merge within the limit is
// known to average at the floor (the exact optimum's own merge, tried before the
// walk, or one the walk finds), the answer averages at the floor too and its main
// combination comes no later than that merge's; the walk then leaves every branch
// whose main periods already make it later (past_answer). Domination stays sound: a
// dominated arrival's completions lose to its twin's, and those lose to the answer
// whether or not the walk left them. On prices a unit of the last decimal apart the
// floor is usually reached at once, and the walk ends soon after the answer's main
// combination. When no sum rounds (win_limits.hpp, Exact sums), a merge's rounded
// average is the division of its exact sum, and division rounds the exact quotient
// alone, monotonically: no merge rounds below the merge of least exact average, so
// its own rounded average is a floor, and one that merge reaches.
//
// Counted arrivals. On a settled walk only merges that average at the floor can win.
// When no sum rounds, an arrival is also dominated by an earlier one at the same
// state of another count that reaches the floor with every completion it does
// (win_limits.hpp): each of its completions that could win has that twin's
// completion, earlier and at the floor too. The counts then share one entry per
// state, which on prices a unit apart folds most of the walk.
//
// Floor weights. There too, a prefix is left as soon as no completion of it can
// average at the floor (floor_tables.hpp).
//
// Reach limits. Whether or not sums round, a sweep over the walk's own states in
// index order gives the least rounded average any merge has, and each state's reach
// limit (floor_reach.hpp): that average is then the floor, known before the walk, and
// an arrival whose sum passes its state's limit has no completion at it. Settled at
// that floor, the walk enters only arrivals that reach it, so the first merge it
// finishes averages at the floor, and past_answer leaves every later main
// combination. This is what folds prices that fall from period to period, where
// every later arrival at a state sums lower than the earlier ones and none is
// dominated.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "decimal/decimal.hpp"
#include "selection/price_sums.hpp"
#include "selection/planner/tables.hpp"
#include "selection/item.hpp"
#include "selection/period_mask.hpp"
#include "selection/planner/rounded/band_walk.hpp"
#include "selection/planner/rounded/floor_reach.hpp"
#include "selection/planner/rounded/floor_tables.hpp"
#include "selection/planner/rounded/win_limits.hpp"

namespace kestrava::planner {

// Where a merge stands in the exhaustive search's order: its main combination
// (lexicographic order of index tuples of one size), then its block mask.
struct MergeOrder {
    PeriodMask main = 0;
    std::uint32_t blocks = 0;  // bit j: the main combination's j-th admissible block is taken

    // Precondition: both main combinations (or prefixes of them up to one period)
    // hold as many periods.
    bool precedes(const MergeOrder& other) const noexcept {
        if (main != other.main) {
            // The first index where two tuples of one size differ is the lowest bit
            // in which their masks differ; the tuple holding it is the smaller.
            const PeriodMask differ = main ^ other.main;
            return (main & (differ & (~differ + 1))) != 0;
        }
        return blocks < other.blocks;
    }
};

struct RoundedMerge {
    MergeOrder order;
    PeriodMask periods = 0;
    Decimal average;
};

template <class Int>
class MergeWalk {
public:
    // limits[m]: the most a merge of m periods may weigh, nondecreasing in m (n + 1 of them).
    MergeWalk(const planner::Tables<Int>& tables, std::span<const Item> items, std::vector<Int> limits,
              std::uint64_t state_cap, std::uint64_t candidate_cap)
        : tables_(tables),
          additions_(tables.additions()),
          shape_(tables.shape()),
          items_(items),
          limits_(std::move(limits)),
          cheap_from_(static_cast<std::size_t>(shape_.n) + 1, 0),
          next_cheap_(static_cast<std::size_t>(shape_.n) + 1, 0),
          state_cap_(state_cap),
          candidate_cap_(candidate_cap) {
        // A run state per period of the path at most: pushing never reallocates.
        run_states_.reserve(static_cast<std::size_t>(shape_.n) + 1);
        next_cheap_[static_cast<std::size_t>(shape_.n)] = shape_.n;
        for (int p = shape_.n; p-- > 0;) {
            const auto at = static_cast<std::size_t>(p);
            cheap_from_[at] = cheap_from_[at + 1] + (shape_.is_cheap(p) ? 1 : 0);
            next_cheap_[at] = shape_.is_cheap(p) ? p : next_cheap_[at + 1];
        }
    }

    // Ends the walk, as the caps do, once this many arrivals have been weighed.
    void cap_arrivals(std::uint64_t cap) noexcept { arrival_cap_ = cap; }

    // Returns false when a cap ended the walk.
    bool run() {
        for (int s = 0; s <= shape_.max_lead; ++s) {
            if (!within(additions_.lead(s), tables_.start_value(s, shape_.size), 0, shape_.size)) continue;
            if (!walk_gap(Gap{-1, s, shape_.size}, 0, Int{}, Decimal())) return false;
        }
        return true;
    }

    const std::optional<RoundedMerge>& best() const noexcept { return best_; }

    // Before run(): `periods`, a merge of the main combination `main`, settles the walk
    // at once when it averages at the floor; always when it is the merge of least exact
    // average and no sum rounds (`exact_sums`).
    void settle_with(PeriodMask main, PeriodMask periods, bool exact_sums) {
        const auto count = Decimal::from_unsigned(static_cast<std::uint64_t>(std::popcount(periods)));
        const Decimal average = divide(sum_of_prices(items_, periods), count).value;
        if (exact_sums || at_floor(average)) settle(main, average);
    }

    // After settle_with, on prices c_i / 10^scale with sum |c_i| = magnitudes <= 2^96 - 1
    // (no sum rounds): when the walk is settled, arrivals of different counts fold
    // together (Counted arrivals), and branches that cannot reach the floor are left
    // (Floor weights).
    void fold_counts(unsigned scale, unsigned __int128 magnitudes) {
        if (!settled_) return;
        win_limits_.emplace(scale, magnitudes, shape_.n, settled_average_);
        floor_ = FloorTables<Int>::weighed(shape_, items_, *win_limits_);
    }

    // Before run(), on prices c_i / 10^scale with sum |c_i| < 2^120: the sweep of
    // Reach limits. The walk is then settled at the least average from its start.
    void reach_floor(unsigned scale) {
        reach_ = std::make_unique<FloorReach>(items_, scale, FloorReach::Value::average);
        swept_weights_.reserve(8192);
        swept_nodes_.assign(static_cast<std::size_t>(shape_.n) + 1, {});
        const auto counts = static_cast<std::size_t>(shape_.size) + 1;
        swept_starts_.assign(static_cast<std::size_t>(shape_.n) * counts, Int{});
        swept_negatives_.assign(static_cast<std::size_t>(shape_.n) + 1, Int{});
        for (int p = shape_.n; p-- > 0;) {
            const Int weight = shape_.is_cheap(p) ? std::min(Int{}, additions_.weight(p)) : Int{};
            swept_negatives_[static_cast<std::size_t>(p)] = swept_negatives_[static_cast<std::size_t>(p) + 1] + weight;
        }
        for (int s = shape_.n; s-- > 0;) {
            for (int c = 0; c <= shape_.size; ++c) {
                const Int here = tables_.start_value(s, c);
                best_start_at(s, c) = s + 1 < shape_.n ? std::min(here, best_start(s + 1, c)) : here;
            }
        }
        const Opening lead{0, shape_.size, std::min(shape_.max_lead, shape_.n - 1), SweptKind::open};
        sweep_to(lead.key(), lead.kind, FloorReach::Periods{}, Int{}, 1);
        // A run state ending at p - 1 leads to the gap states deciding p: it comes first.
        for (std::vector<int>& nodes : swept_nodes_) {
            std::stable_partition(nodes.begin(), nodes.end(), [&](int node) {
                const auto at = static_cast<std::size_t>(node);
                return swept_kinds_[at] == SweptKind::walked && swept_keys_[at].gap_end < 0;
            });
            for (std::size_t i = 0; i < nodes.size(); ++i) sweep_node(nodes[i]);
        }
        if (!reach_->settle()) {
            reach_.reset();
            return;
        }
        least_average_ = reach_->least_value();
    }

private:
    enum class SweptKind : std::uint8_t {
        walked,  // a state the walk also meets (run, gap or start)
        passed,  // a gap swept without its end, past a cheap run passed whole: s > q
        fresh,   // the same right after a main period: s > q, and a cheap run at q touches it
        open,    // the same where s may be q: the lead, and past a period that is not cheap
    };

    // The out periods between main periods e and s: e = -1 before the first main
    // period, s = n after the last; c main periods from s on.
    struct Gap {
        int e = 0;
        int s = 0;
        int c = 0;
    };

    // A period that ends a long enough run, with c main periods after it, and the
    // weight and the decimal sum through it.
    struct RunState {
        int p = 0;
        int c = 0;
        Int gathered{};
        Decimal sum;
    };

    // A partial merge that reached a state: its sum, its place in the order, its periods.
    struct Arrival {
        Decimal sum;
        MergeOrder order;
        int chosen = 0;
        __int128 units = 0;  // the sum in units, with win_limits_
    };

    // Whether a branch can still end within its limit: from period `from` on, c main
    // periods and at most every cheap period may join those chosen.
    bool within(const Int& gathered, const Int& rest, int from, int c) const noexcept {
        return within(gathered, rest, from, c, std::popcount(periods_));
    }
    bool within(const Int& gathered, const Int& rest, int from, int c, int chosen) const noexcept {
        const int most = chosen + c + cheap_from_[static_cast<std::size_t>(from)];
        return gathered + rest <= limits_[static_cast<std::size_t>(std::min(most, shape_.n))];
    }

    static Int block_weight(const planner::GapAdditions<Int>& additions, int first, int last) noexcept {
        return additions.prefix(last + 1) - additions.prefix(first);
    }
    Int block_weight(int first, int last) const noexcept { return block_weight(additions_, first, last); }

    // The helpers of the recursive steps are kept out of line: their locals then take
    // no room in each level of the recursion (a call must fit a 32 KiB thread stack).
    //
    // The next cheap block of the gap at or after `from` that may stand alone, as
    // gap_additions.hpp defines it; first > last when there is none.
    [[gnu::noinline]] planner::CheapBlock next_block(const Gap& gap, int from) const noexcept {
        const int last_out = gap.s - 1;
        for (int q = next_cheap_[static_cast<std::size_t>(from)]; q <= last_out;
             q = next_cheap_[static_cast<std::size_t>(q) + 1]) {
            const int last = std::min(shape_.run_last[static_cast<std::size_t>(q)], last_out);
            const bool touches = (gap.e >= 0 && q == gap.e + 1) || (gap.s < shape_.n && last == gap.s - 1);
            if (touches || last - q + 1 >= shape_.min_run || last == shape_.n - 1) return {q, last};
            q = last;
        }
        return {1, 0};
    }

    // The least weight the blocks of the gap from `from` on can add, under `additions`.
    [[gnu::noinline]] Int best_blocks_from(const planner::GapAdditions<Int>& additions, const Gap& gap,
                                           int from) const noexcept {
        Int best{};
        for (planner::CheapBlock block = next_block(gap, from); block.first <= block.last;
             block = next_block(gap, block.last + 1)) {
            best = std::min(best, best + block_weight(additions, block.first, block.last));
        }
        return best;
    }

    // Whether a prefix with this exact sum, over the periods chosen, can still end at
    // the floor when `rest` is the least floor weight that can follow it.
    [[gnu::noinline]] bool may_reach_floor(const Decimal& sum, const Int& rest) const noexcept {
        return floor_->prefix_weight(win_limits_->units(sum), std::popcount(periods_)) + rest <= Int{};
    }

    [[gnu::noinline]] bool gap_may_reach_floor(const Gap& gap, int from, const Decimal& sum) const noexcept {
        if (!floor_) return true;
        const planner::Tables<Int>& tables = floor_->tables();
        const Int after = gap.s == shape_.n ? Int{} : tables.start_value(gap.s, gap.c);
        return may_reach_floor(sum, best_blocks_from(tables.additions(), gap, from) + after);
    }

    Int after_gap(const Gap& gap) const noexcept {
        return gap.s == shape_.n ? Int{} : tables_.start_value(gap.s, gap.c);
    }

    // Whether an arrival inside a gap, before its end, may still reach the sweep's
    // floor. The sweep meets the trailing gap's states as the walk does; a gap before a
    // start it crosses without its end, as an opening (Opening): at the gap's first
    // period (fresh after a main period) and past each cheap run passed whole, the
    // only points where the walk decides a block with s still ahead. An opening's
    // completions are those of every end s up to its deadline, each with the walk's own
    // blocks: those of the walk's state, for its own s, are among them.
    [[gnu::noinline]] bool gap_may_reach(const Gap& gap, int from, const Decimal& sum) const noexcept {
        const int chosen = std::popcount(periods_);
        if (gap.s == shape_.n) return reach_->may_reach(PrefixState{from, 0, shape_.n, chosen}, sum);
        const int deadline = std::min(gap.e < 0 ? shape_.max_lead : gap.e + 1 + shape_.max_gap, shape_.n - 1);
        const SweptKind kind = from == gap.e + 1 ? (gap.e < 0 ? SweptKind::open : SweptKind::fresh) : SweptKind::passed;
        PrefixState key = Opening{from, gap.c, deadline, kind}.key();
        key.chosen = chosen;
        return reach_->may_reach(key, sum, static_cast<std::uint32_t>(kind));
    }

    // Chooses the gap's blocks from `from` on, then goes on at s.
    bool walk_gap(const Gap& gap, int from, const Int& gathered, const Decimal& sum) {
        if (!gap_may_reach_floor(gap, from, sum)) return true;
        if (reach_ && from < gap.s && !gap_may_reach(gap, from, sum)) return true;
        if (dominated(PrefixState{from, gap.c, gap.s, std::popcount(periods_)}, sum)) return true;
        const planner::CheapBlock block = next_block(gap, from);
        if (block.first > block.last) {
            return gap.s == shape_.n ? finish(sum) : walk_start(gap.s, gap.c, gathered, sum);
        }
        const Int rest = best_blocks_from(additions_, gap, block.last + 1) + after_gap(gap);
        const std::uint32_t bit = std::uint32_t{1} << rank_;
        ++rank_;
        bool going_on = true;
        const Int taken = gathered + block_weight(block.first, block.last);
        if (within(taken, rest, block.first, gap.c)) {
            const PeriodMask block_periods = period_span(static_cast<std::uint64_t>(block.first),
                                                         static_cast<std::uint64_t>(block.last) + 1);
            periods_ |= block_periods;
            order_.blocks |= bit;
            going_on = walk_gap(gap, block.last + 1, taken, sum_through(sum, block.first, block.last));
            periods_ &= ~block_periods;
            order_.blocks &= ~bit;
        }
        if (going_on && within(gathered, rest, block.first, gap.c)) {
            going_on = walk_gap(gap, block.last + 1, gathered, sum);
        }
        --rank_;
        return going_on;
    }

    // A run starts at s: its head is forced.
    bool walk_start(int s, int c, const Int& gathered, const Decimal& sum) {
        if (!within(gathered, tables_.start_value(s, c), s, c)) return true;
        if (floor_ && !may_reach_floor(sum, floor_->tables().start_value(s, c))) return true;
        // The sweep met this start as the end of a gap (s, c, s, chosen).
        if (reach_ && !reach_->may_reach(PrefixState{s, c, s, std::popcount(periods_)}, sum)) return true;
        const int head_end = std::min(s + shape_.min_run, shape_.n);
        const PeriodMask head = period_span(static_cast<std::uint64_t>(s), static_cast<std::uint64_t>(head_end));
        if (past_answer(order_.main | head, head_end - 1)) return true;
        order_.main |= head;
        periods_ |= head;
        const Decimal through_head = sum_through(sum, s, head_end - 1);
        const Int weight = gathered + additions_.run_head(s);
        const bool going_on = head_end == shape_.n ? finish(through_head)
                                                   : walk_run(head_end - 1, c - shape_.min_run, weight, through_head);
        order_.main &= ~head;
        periods_ &= ~head;
        return going_on;
    }

    // Period p ends a long enough run; c main periods follow. Going on lengthens the
    // run, and the exits of each period come after those of the periods beyond it, as
    // in a recursion per period; a loop over the run keeps the stack to a few frames
    // per run instead.
    bool walk_run(int p, int c, const Int& gathered, const Decimal& sum) {
        const std::size_t base = run_states_.size();
        RunState state{p, c, gathered, sum};
        bool going_on = true;
        while (within(state.gathered, tables_.run_value(state.p, state.c), state.p + 1, state.c)) {
            if (++entered_ > state_cap_ || arrived_ > arrival_cap_) {
                going_on = false;
                break;
            }
            if (past_answer(order_.main, state.p)) break;
            if (floor_ && !may_reach_floor(state.sum, floor_->tables().run_value(state.p, state.c))) break;
            const PrefixState key{state.p, state.c, -1, std::popcount(periods_)};
            if (reach_ && !reach_->may_reach(key, state.sum)) break;
            if (dominated(key, state.sum)) break;
            run_states_.push_back(state);
            if (state.c == 0 || state.p + 1 >= shape_.n) break;
            const int next = state.p + 1;
            const Int gathered_next = state.gathered + additions_.weight(next);
            // Only a prefix of a candidate is summed: past the bound of few periods
            // (rounding_error.hpp) no other sum is sure to fit.
            if (!within(gathered_next, tables_.run_value(next, state.c - 1), next, state.c)) break;
            set_period(next, true);
            state = RunState{next, state.c - 1, gathered_next, sum_through(state.sum, next, next)};
        }
        int last = state.p;
        while (run_states_.size() > base) {
            const RunState entered = run_states_.back();
            run_states_.pop_back();
            for (; last > entered.p; --last) set_period(last, false);
            if (going_on) going_on = walk_exits(entered);
        }
        for (; last > p; --last) set_period(last, false);
        return going_on;
    }

    // The run ends at state.p: the trailing gap, or a gap and a new start.
    [[gnu::noinline]] bool walk_exits(const RunState& state) {
        if (state.c == 0) return walk_gap(Gap{state.p, shape_.n, 0}, state.p + 1, state.gathered, state.sum);
        const int farthest = std::min(state.p + 1 + shape_.max_gap, shape_.n - 1);
        for (int s = state.p + 2; s <= farthest; ++s) {
            const Int gathered = state.gathered + additions_.between(state.p, s);
            if (!within(gathered, tables_.start_value(s, state.c), state.p + 1, state.c)) continue;
            if (!walk_gap(Gap{state.p, s, state.c}, state.p + 1, state.gathered, state.sum)) return false;
        }
        return true;
    }

    // The sweep of Reach limits: the walk's transitions from each node once, for each
    // count that reached it under the least weight that reached it with that count
    // (which every arrival's band check is held to). Its nodes are the run states, the
    // points of a gap where a block is to be taken or not, and the starts; a transition
    // adds what lies between two of them.
    using Counts = FloorReach::Counts;

    // The node of `key`, made on first use with room for every count it can be reached
    // with: the size - c main periods before the first period it decides, and at most
    // every cheap period before that one too (the blocks), at most one per period.
    int swept_node(const PrefixState& key, SweptKind kind) {
        // A run state decides period p + 1 next; a gap state, period `period`.
        const int decides = kind == SweptKind::walked && key.gap_end < 0 ? key.period + 1 : key.period;
        const int lowest = shape_.size - key.count;
        const int cheap_before = cheap_from_[0] - cheap_from_[static_cast<std::size_t>(decides)];
        const int node = reach_->node(key, static_cast<std::uint32_t>(kind), lowest, std::min(lowest + cheap_before, decides));
        if (static_cast<std::size_t>(node) == swept_keys_.size()) {
            swept_keys_.push_back(key);
            swept_kinds_.push_back(kind);
            swept_weights_.resize(reach_->slots());
            swept_nodes_[static_cast<std::size_t>(decides)].push_back(node);
        }
        return node;
    }

    // The least weight that reached the node being swept with `count` periods chosen;
    // nothing at the start.
    Int swept_weight(int count) const noexcept {
        return swept_ < 0 ? Int{} : swept_weights_[static_cast<std::size_t>(swept_base_ + count)];
    }

    // The counts of `counts` whose branch, its weight grown by `added`, stays within
    // the limit with `rest` to follow: from period `from` on, c main periods and every
    // cheap period may join the count's own periods and `shift` more.
    Counts passing(Counts counts, const Int& added, const Int& rest, int from, int c, int shift) const noexcept {
        Counts kept = 0;
        for (Counts left = counts; left != 0; left &= left - 1) {
            const int count = std::countr_zero(left);
            if (within(swept_weight(count) + added, rest, from, c, count + shift)) kept |= Counts{1} << count;
        }
        return kept;
    }

    // A transition of `counts` from the node being swept to `key`'s node, adding the
    // periods `added` of weight `weight`.
    void sweep_to(const PrefixState& key, SweptKind kind, FloorReach::Periods added, const Int& weight, Counts counts) {
        if (counts == 0) return;
        const int target = swept_node(key, kind);
        const std::ptrdiff_t base = reach_->slot_base(target) + std::max(added.size(), 0);
        const Counts known = reach_->counts(target) >> std::max(added.size(), 0);
        for (Counts left = counts; left != 0; left &= left - 1) {
            const int count = std::countr_zero(left);
            const Int arriving = swept_weight(count) + weight;
            Int& least = swept_weights_[static_cast<std::size_t>(base + count)];
            least = (known >> count & 1) != 0 ? std::min(least, arriving) : arriving;
        }
        reach_->lead_to(target, added, counts);
    }

    void sweep_node(int node) {
        const auto at = static_cast<std::size_t>(node);
        swept_ = node;
        swept_base_ = reach_->slot_base(node);
        if (swept_kinds_[at] != SweptKind::walked) return sweep_opening(node);
        const PrefixState key = swept_keys_[at];
        if (key.gap_end < 0) return sweep_run(node, key.period, key.count);
        if (key.period == key.gap_end) return sweep_start(node, key.period, key.count);
        sweep_gap(node, key);
    }

    // Goes on into the gap at `from`: its next block's state, or, with no block left,
    // the state at its end (from = s), where the exits of many run states meet.
    void sweep_into(const Gap& gap, int from, FloorReach::Periods added, const Int& weight, Counts counts) {
        const planner::CheapBlock block = next_block(gap, from);
        if (block.first <= block.last) return sweep_to(PrefixState{from, gap.c, gap.s}, SweptKind::walked, added, weight, counts);
        if (gap.s == shape_.n) return reach_->end(added, counts);
        sweep_to(PrefixState{gap.s, gap.c, gap.s}, SweptKind::walked, added, weight, counts);
    }

    // A gap state: its next block taken or not.
    void sweep_gap(int node, const PrefixState& key) {
        reach_->expand(node);
        const Counts counts = reach_->counts(node);
        // Past a block the next period is not cheap, so e = from - 1 decides as the gap's own e.
        const Gap gap{key.period - 1, key.gap_end, key.count};
        const planner::CheapBlock block = next_block(gap, key.period);
        const Int rest = best_blocks_from(additions_, gap, block.last + 1) + after_gap(gap);
        const Int taken = block_weight(block.first, block.last);
        sweep_into(gap, block.last + 1, FloorReach::Periods{block.first, block.last}, taken,
                   passing(counts, taken, rest, block.first, gap.c, 0));
        sweep_into(gap, block.last + 1, FloorReach::Periods{}, Int{}, passing(counts, Int{}, rest, block.first, gap.c, 0));
    }

    // The gaps before a run starts, swept without their end s (which the walk chooses
    // first): the out periods from q on, a run to start at s <= deadline. Its blocks
    // are those of next_block for the s it comes to: a cheap run passed whole (s past
    // it) is a block when it touches the main period before the gap (fresh: q is that
    // period plus one), has min_run periods or ends at the last period; one that s
    // cuts short, or ends at s - 1, touches s. So the states need no s, and the exits
    // of many run states meet in them. A period that is not cheap is passed one at a
    // time (open), so that the gaps of many run states, which differ only in where they
    // begin, meet at each later period instead of each leading to every start.
    struct Opening {
        int q = 0;
        int c = 0;
        int deadline = 0;
        SweptKind kind = SweptKind::open;

        PrefixState key() const noexcept { return PrefixState{q, c, deadline}; }
    };

    Int& best_start_at(int s, int c) noexcept {
        return swept_starts_[static_cast<std::size_t>(s * (shape_.size + 1) + c)];
    }
    // The least weight any start from s on can follow with (past the deadline too: a
    // bound that lets more through loses nothing).
    const Int& best_start(int s, int c) const noexcept {
        return swept_starts_[static_cast<std::size_t>(s * (shape_.size + 1) + c)];
    }

    // A start at s, the gap's blocks settled: through the state at the gap's end.
    void sweep_to_start(int s, int c, Counts counts) {
        sweep_to(PrefixState{s, c, s}, SweptKind::walked, FloorReach::Periods{}, Int{},
                 passing(counts, Int{}, tables_.start_value(s, c), s, c, 0));
    }

    void sweep_opening(int node) {
        const auto at = static_cast<std::size_t>(node);
        const PrefixState key = swept_keys_[at];
        const Opening gap{key.period, key.count, key.gap_end, swept_kinds_[at]};
        reach_->expand(node);
        const Counts counts = reach_->counts(node);
        // A fresh gap holds a period at least; a passed one was led to s = q by the
        // opening before it, with the run taken or not (the piece touching s), from
        // every arrival and under the same checks.
        if (gap.kind == SweptKind::open) sweep_to_start(gap.q, gap.c, counts);
        if (!shape_.is_cheap(gap.q)) return sweep_past(gap, counts);
        const int last = shape_.run_last[static_cast<std::size_t>(gap.q)];
        // s inside the cheap run or just past it: the piece before s touches s.
        for (int s = gap.q + 1; s <= std::min(last + 1, gap.deadline); ++s) {
            sweep_to_start(s, gap.c, counts);
            // The walk's own check at this start, with the piece among the periods chosen.
            const Int taken = block_weight(gap.q, s - 1);
            sweep_to(PrefixState{s, gap.c, s}, SweptKind::walked, FloorReach::Periods{gap.q, s - 1}, taken,
                     passing(counts, taken, tables_.start_value(s, gap.c), s, gap.c, s - gap.q));
        }
        // s past the run: the whole run is a block or not, and the gap goes on. The
        // walk holds either choice to what may follow the run, its later blocks
        // included, and counts the run among the cheap periods ahead: the same here, with
        // a bound below every later start's weight and blocks' additions.
        if (last + 2 > gap.deadline) return;
        const Int after = best_start(last + 2, gap.c) + swept_negatives_[static_cast<std::size_t>(last) + 1];
        const Opening on{last + 1, gap.c, gap.deadline, SweptKind::passed};
        const bool block = gap.kind == SweptKind::fresh || last - gap.q + 1 >= shape_.min_run;
        const Int taken = block_weight(gap.q, last);
        if (block) {
            sweep_to(on.key(), on.kind, FloorReach::Periods{gap.q, last}, taken,
                     passing(counts, taken, after, gap.q, gap.c, 0));
        }
        sweep_to(on.key(), on.kind, FloorReach::Periods{}, Int{}, passing(counts, Int{}, after, gap.q, gap.c, 0));
    }

    // Past period q, which is not cheap, to the opening at q + 1 where s may be q + 1:
    // held to a bound below every later start's weight and blocks' additions, with
    // every cheap period from there on among those ahead.
    void sweep_past(const Opening& gap, Counts counts) {
        if (gap.q + 1 > gap.deadline) return;
        const Opening on{gap.q + 1, gap.c, gap.deadline, SweptKind::open};
        const Int after = best_start(on.q, gap.c) + swept_negatives_[static_cast<std::size_t>(on.q)];
        sweep_to(on.key(), on.kind, FloorReach::Periods{}, Int{}, passing(counts, Int{}, after, on.q, gap.c, 0));
    }

    void sweep_start(int node, int s, int c) {
        const Counts counts = passing(reach_->counts(node), Int{}, tables_.start_value(s, c), s, c, 0);
        if (counts == 0) return;
        reach_->expand(node);
        const int head_end = std::min(s + shape_.min_run, shape_.n);
        const FloorReach::Periods head{s, head_end - 1};
        if (head_end == shape_.n) return reach_->end(head, counts);
        sweep_to(PrefixState{head_end - 1, c - shape_.min_run, -1}, SweptKind::walked, head, additions_.run_head(s),
                 counts);
    }

    void sweep_run(int node, int p, int c) {
        const Counts counts = passing(reach_->counts(node), Int{}, tables_.run_value(p, c), p + 1, c, 0);
        if (counts == 0) return;
        reach_->expand(node);
        if (c == 0) return sweep_into(Gap{p, shape_.n, 0}, p + 1, FloorReach::Periods{}, Int{}, counts);
        const int farthest = std::min(p + 1 + shape_.max_gap, shape_.n - 1);
        if (p + 2 <= farthest) {
            const Opening gap{p + 1, c, farthest, SweptKind::fresh};
            sweep_to(gap.key(), gap.kind, FloorReach::Periods{}, Int{}, counts);
        }
        if (p + 1 >= shape_.n) return;
        const Int next = additions_.weight(p + 1);
        sweep_to(PrefixState{p + 1, c - 1, -1}, SweptKind::walked, FloorReach::Periods{p + 1, p + 1}, next,
                 passing(counts, next, tables_.run_value(p + 1, c - 1), p + 1, c, 0));
    }

    void set_period(int p, bool main) noexcept {
        const PeriodMask bit = period_bit(static_cast<std::uint64_t>(p));
        order_.main = main ? order_.main | bit : order_.main & ~bit;
        periods_ = main ? periods_ | bit : periods_ & ~bit;
    }

    // True when an arrival kept at this state comes earlier in the order and is no
    // worse; otherwise this arrival is kept, and those it dominates are dropped. With
    // win_limits_ the counts share one entry per state (Counted arrivals).
    [[gnu::noinline]] bool dominated(const PrefixState& state, const Decimal& sum) {
        ++arrived_;
        PrefixState key = state;
        if (win_limits_) key.chosen = 0;
        std::vector<Arrival>& kept = arrivals_[key];
        const Arrival arrival{sum, order_, state.chosen, win_limits_ ? win_limits_->units(sum) : 0};
        for (const Arrival& other : kept) {
            if (other.order.precedes(order_) && no_worse(other, arrival)) return true;
        }
        std::erase_if(kept, [&](const Arrival& other) { return order_.precedes(other.order) && no_worse(arrival, other); });
        kept.push_back(arrival);
        return false;
    }

    // True when every completion leaves a's merge no worse than b's: a lower or equal
    // sum over as many periods, or, on a settled walk whose sums never round,
    // reaching the least average whenever b's does.
    bool no_worse(const Arrival& a, const Arrival& b) {
        if (win_limits_) return win_limits_->covers(a.units, a.chosen, b.units, b.chosen);
        return !(b.sum < a.sum);
    }

    [[gnu::noinline]] Decimal sum_through(Decimal sum, int first, int last) const {
        for (int p = first; p <= last; ++p) add_price(sum, items_[static_cast<std::size_t>(p)].price);
        return sum;
    }

    [[gnu::noinline]] bool finish(const Decimal& sum) {
        if (++evaluated_ > candidate_cap_) return false;
        const Quotient average =
            divide(sum, Decimal::from_unsigned(static_cast<std::uint64_t>(std::popcount(periods_))));
        const RoundedMerge merge{order_, periods_, average.value};
        if (!best_ || merge.average < best_->average ||
            (merge.average == best_->average && merge.order.precedes(best_->order))) {
            best_ = merge;
            // A merge at the floor found by the walk comes no later than settled_main_.
            if (settled_ ? !(settled_average_ < merge.average) : at_floor(merge.average)) {
                settle(merge.order.main, merge.average);
            }
        }
        return true;
    }

    // True when no merge averages below `average`. A merge of m periods forms its sum
    // in index order, one price at a time; the same fold over m copies of the lowest
    // price is, step by step, no higher (decimal addition is monotone in each
    // operand), and division by m is monotone, so no merge of m periods averages
    // below that fold divided by m. A fold that overflows proves nothing.
    [[gnu::noinline]] bool at_floor(const Decimal& average) const {
        if (least_average_) return !(*least_average_ < average);
        Decimal lowest = items_.front().price;
        for (const Item& item : items_) lowest = std::min(lowest, item.price);
        Decimal sum;
        for (int m = 1; m <= shape_.n; ++m) {
            const std::optional<Decimal> next = checked_add(sum, lowest);
            if (!next) return false;
            sum = *next;
            if (divide(sum, Decimal::from_unsigned(static_cast<std::uint64_t>(m))).value < average) return false;
        }
        return true;
    }

    void settle(PeriodMask main, const Decimal& average) noexcept {
        settled_ = true;
        settled_main_ = main;
        settled_average_ = average;
    }

    // Settled: a merge of the main combination settled_main_ has the least rounded
    // average any merge can have, so the answer is a merge at that average whose main
    // combination comes no later. A branch whose main periods through `last` differ
    // from settled_main_, first at a period settled_main_ holds, holds only later main
    // combinations (MergeOrder::precedes), and can be left.
    bool past_answer(PeriodMask main, int last) const noexcept {
        if (!settled_) return false;
        const PeriodMask differ = (main ^ settled_main_) & period_span(0, static_cast<std::uint64_t>(last) + 1);
        return (settled_main_ & differ & (~differ + 1)) != 0;
    }

    const planner::Tables<Int>& tables_;
    const planner::GapAdditions<Int>& additions_;
    const rules::Shape& shape_;
    std::span<const Item> items_;
    std::vector<Int> limits_;
    std::vector<int> cheap_from_;  // the cheap periods from p on
    std::vector<int> next_cheap_;  // the first cheap period from p on; n when none
    std::uint64_t state_cap_;
    std::uint64_t candidate_cap_;
    std::uint64_t arrival_cap_ = UINT64_MAX;
    MergeOrder order_;
    PeriodMask periods_ = 0;
    int rank_ = 0;  // admissible blocks met so far: the rank of the next one
    std::uint64_t entered_ = 0;
    std::uint64_t arrived_ = 0;  // arrivals weighed against those kept
    std::uint64_t evaluated_ = 0;
    std::unordered_map<PrefixState, std::vector<Arrival>, PrefixStateHash> arrivals_;
    std::vector<RunState> run_states_;
    std::optional<RoundedMerge> best_;
    bool settled_ = false;
    PeriodMask settled_main_ = 0;
    Decimal settled_average_;
    std::optional<WinLimits> win_limits_;
    std::unique_ptr<FloorTables<Int>> floor_;  // with win_limits_
    std::unique_ptr<FloorReach> reach_;        // after reach_floor
    std::optional<Decimal> least_average_;     // the floor, when the sweep found it
    std::vector<PrefixState> swept_keys_;  // per node of reach_
    std::vector<SweptKind> swept_kinds_;
    std::vector<Int> swept_starts_;     // best_start, per (s, c)
    std::vector<Int> swept_negatives_;  // the negative weights of the cheap periods from p on
    std::vector<Int> swept_weights_;    // per slot of reach_: the least weight that reached the state
    std::vector<std::vector<int>> swept_nodes_;  // by the period they decide next
    int swept_ = -1;                             // the node being swept
    std::ptrdiff_t swept_base_ = 0;              // its slot_base
};

}  // namespace kestrava::planner
