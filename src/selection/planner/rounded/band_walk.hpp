// BandWalk: every main combination whose weight under a filled set of tables lies
// within a limit, in lexicographic order of index tuples.
//
// The walk follows the tables' own transitions (tables.hpp): a first start, a
// forced run head, then at each run state either going on to the next period or
// ending the run and starting again after a gap. A branch is entered only when the
// weight gathered so far plus the least weight that can follow (the state's table
// value) stays within the limit, so every branch entered ends in at least one main
// combination within it, and the work is proportional to the combinations found
// times their length. Going on is tried before any new start, and starts in
// ascending order, which is lexicographic order of the tuples.
//
// The weight reported for a main combination is the tables' weight: its own periods
// together with the best additions of its cheap blocks when the tables were built
// with them.
//
// Dominated prefixes. When a candidate's rounded value depends on its main combination
// alone, through the decimal sum of its prices in index order, two prefixes that
// reach the same run state have the same completions, and each completion adds the
// same prices in the same order to each prefix's sum. Every decimal addition is
// monotone in its operands (the exact sum, rounded half to even to a scale that only
// coarsens as the magnitude grows, never passes a value a smaller sum rounds to), so
// a prefix whose sum is at least an earlier prefix's ends, whatever follows, at a
// rounded value no lower than its twin after the earlier prefix, which comes first
// in lexicographic order and wins every tie. So such a walk keeps, per run state, the
// least sum that has arrived and skips every later arrival that does not lie below
// it: repeated prices and prices a few units apart then cost one branch per new
// least sum instead of one per combination. This needs no band: the twin is a valid
// main combination whether or not the walk reaches it.
//
// Reach limits. When each later prefix at a run state sums lower than every earlier
// one (prices falling from period to period), none is skipped. A sweep over the run
// states in index order (floor_reach.hpp) then gives the least rounded cost of every
// main combination and each run state's reach limit, and the walk enters only
// prefixes whose sum lies within their state's limit: each has a completion at the
// least cost, so the first main combination visited is the answer, and the rest of
// the walk holds only main combinations at that cost.
#pragma once

#include <algorithm>
#include <memory>
#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

#include "decimal/decimal.hpp"
#include "selection/price_sums.hpp"
#include "selection/planner/tables.hpp"
#include "selection/item.hpp"
#include "selection/planner/rounded/floor_reach.hpp"
#include "selection/planner/rounded/prefix_state.hpp"

namespace kestrava::planner {

template <class Int>
class BandWalk {
public:
    // Takes each main combination (ascending indices) and its weight; returns false to
    // end the walk.
    using Visit = bool (*)(void* context, const IndexList& main, const Int& weight);

    // `path` needs room for n entries so that the walk does not allocate.
    BandWalk(const planner::Tables<Int>& tables, const Int& limit, IndexList& path)
        : tables_(tables), shape_(tables.shape()), limit_(limit), path_(path) {
        // A run state per period of the path at most: pushing never reallocates.
        run_states_.reserve(static_cast<std::size_t>(shape_.n) + 1);
    }

    // Skips later prefixes whose decimal sum is no lower at a run state (see above);
    // `items` give the prices. Only for candidates valued by their main prices alone.
    void skip_dominated_prefixes(std::span<const Item> items) noexcept { items_ = items; }

    // Ends the walk, as a visit can, once it has entered this many run states.
    void cap_states(std::uint64_t cap) noexcept { state_cap_ = cap; }

    // After skip_dominated_prefixes, on prices c_i / 10^scale with sum |c_i| < 2^120:
    // the sweep of Reach limits; the walk then enters only prefixes that reach the
    // least rounded cost.
    void reach_floor(unsigned scale) {
        reach_ = std::make_unique<FloorReach>(items_, scale, FloorReach::Value::cost);
        swept_nodes_.assign(static_cast<std::size_t>(shape_.n) + 1, {});
        for (int s = 0; s <= shape_.max_lead; ++s) {
            sweep_to(start_key(s, shape_.size), tables_.additions().lead(s), FloorReach::Periods{});
        }
        for (std::vector<int>& nodes : swept_nodes_) {
            // A run state ending at s - 1 leads to the start at s: it comes first.
            std::stable_partition(nodes.begin(), nodes.end(), [&](int node) {
                return swept_keys_[static_cast<std::size_t>(node)].gap_end < 0;
            });
            for (std::size_t i = 0; i < nodes.size(); ++i) {
                const int node = nodes[i];
                if (swept_keys_[static_cast<std::size_t>(node)].gap_end < 0) {
                    sweep_run(node);
                } else {
                    sweep_start(node);
                }
            }
        }
        if (!reach_->settle()) reach_.reset();
    }

    // Visits every main combination of the tables' size whose weight is at most the
    // limit. Returns false when a visit ended the walk.
    bool run(Visit visit, void* context) {
        visit_ = visit;
        context_ = context;
        path_.clear();
        const auto& additions = tables_.additions();
        for (int s = 0; s <= shape_.max_lead; ++s) {
            if (!walk_start(s, shape_.size, additions.lead(s), Decimal())) return false;
        }
        return true;
    }

private:
    // A period that ends a long enough run, with c main periods after it, and the
    // weight and (when prefixes are compared) the decimal sum through it.
    struct RunState {
        int p = 0;
        int c = 0;
        Int gathered{};
        Decimal sum;
    };

    bool within(const Int& gathered, const Int& rest) const noexcept { return gathered + rest <= limit_; }

    // The sum grown by the prices of periods first .. last, in index order, as
    // candidates are valued; nothing when prefixes are not compared.
    [[gnu::noinline]] Decimal sum_through(Decimal sum, int first, int last) const {
        if (items_.empty()) return sum;
        for (int p = first; p <= last; ++p) add_price(sum, items_[static_cast<std::size_t>(p)].price);
        return sum;
    }

    // `gathered` and `sum`: the weight and the sum of everything before period s.
    bool walk_start(int s, int c, const Int& gathered, const Decimal& sum) {
        if (!within(gathered, tables_.start_value(s, c))) return true;
        const int head_end = std::min(s + shape_.min_run, shape_.n);
        const std::size_t depth = path_.size();
        for (int p = s; p < head_end; ++p) path_.push_back(static_cast<std::uint64_t>(p));
        const Int through_head = gathered + tables_.additions().run_head(s);
        // A run too short for the minimum reaches the last period and ends the selection.
        const bool going_on = head_end == shape_.n ? visit_(context_, path_, through_head)
                                                   : walk_run(RunState{head_end - 1, c - shape_.min_run, through_head,
                                                                       sum_through(sum, s, head_end - 1)});
        path_.resize(depth);
        return going_on;
    }

    // `state.p` ends a run that is long enough; state.c main periods follow.
    // Going on lengthens the run, and the exits of each period come after those of the
    // periods beyond it, as in a recursion per period; a loop over the run keeps the
    // stack to a few frames per run instead. Only a prefix within the limit is summed
    // (the search forms its sum too).
    bool walk_run(RunState state) {
        const int p = state.p;
        const std::size_t depth = path_.size();
        const std::size_t base = run_states_.size();
        bool going_on = true;
        while (within(state.gathered, tables_.run_value(state.p, state.c))) {
            if (++entered_ > state_cap_) {
                going_on = false;
                break;
            }
            if (!items_.empty() && !lowers_least_sum(run_key(state.p, state.c), state.sum)) break;
            run_states_.push_back(state);
            if (state.c == 0 || state.p + 1 >= shape_.n) break;
            const int next = state.p + 1;
            const Int gathered = state.gathered + tables_.additions().weight(next);
            if (!within(gathered, tables_.run_value(next, state.c - 1))) break;
            path_.push_back(static_cast<std::uint64_t>(next));
            state = RunState{next, state.c - 1, gathered, sum_through(state.sum, next, next)};
        }
        while (run_states_.size() > base) {
            const RunState entered = run_states_.back();
            run_states_.pop_back();
            path_.resize(depth + static_cast<std::size_t>(entered.p - p));
            if (going_on) going_on = walk_exits(entered);
        }
        path_.resize(depth);
        return going_on;
    }

    // The run ends at state.p: the selection ends, or a gap and a new start follow.
    [[gnu::noinline]] bool walk_exits(const RunState& state) {
        if (state.c == 0) {
            const Int total = state.gathered + tables_.exit_value(state.p, 0);
            return within(total, Int{}) ? visit_(context_, path_, total) : true;
        }
        const int farthest = std::min(state.p + 1 + shape_.max_gap, shape_.n - 1);
        for (int s = state.p + 2; s <= farthest; ++s) {
            if (!walk_start(s, state.c, state.gathered + tables_.additions().between(state.p, s), state.sum)) {
                return false;
            }
        }
        return true;
    }

    // True when the path's decimal sum, formed in index order as candidates are valued,
    // lies below every earlier arrival's at this state (it is then the least), and,
    // after reach_floor, within the state's reach limit.
    [[gnu::noinline]] bool lowers_least_sum(const PrefixState& state, const Decimal& sum) {
        if (reach_ && !reach_->may_reach(state, sum)) return false;
        const auto [entry, inserted] = least_sums_.try_emplace(state, sum);
        if (inserted) return true;
        if (!(sum < entry->second)) return false;
        entry->second = sum;
        return true;
    }

    // The sweep of Reach limits: the walk's transitions from each state once, under
    // the least weight that reached it. Its states are the run states (p, c) and the
    // starts of a run at s with c main periods to come (keyed with gap_end = s). A
    // main prefix's periods chosen are those of its state: size - c.
    PrefixState run_key(int p, int c) const noexcept { return PrefixState{p, c, -1, shape_.size - c}; }
    PrefixState start_key(int s, int c) const noexcept { return PrefixState{s, c, s, shape_.size - c}; }

    // As the walk, a sum is formed only into a state that can still end within the
    // limit (the search forms it too, as a prefix of a main combination it sums).
    void sweep_to(const PrefixState& key, const Int& gathered, FloorReach::Periods added) {
        const bool start = key.gap_end >= 0;
        if (!within(gathered, start ? tables_.start_value(key.period, key.count) : tables_.run_value(key.period, key.count))) {
            return;
        }
        const int node = reach_->node(key, 0, key.chosen, key.chosen);
        const auto at = static_cast<std::size_t>(node);
        if (at == swept_keys_.size()) {
            swept_keys_.push_back(key);
            swept_weights_.push_back(gathered);
            // A run state decides period p + 1 next; a start, period s.
            const int decides = start ? key.period : key.period + 1;
            swept_nodes_[static_cast<std::size_t>(decides)].push_back(node);
        } else {
            swept_weights_[at] = std::min(swept_weights_[at], gathered);
        }
        // One count per node: the one of the state it leaves.
        reach_->lead_to(node, added, FloorReach::Counts{1} << (key.chosen - std::max(added.size(), 0)));
    }

    void sweep_start(int node) {
        const PrefixState key = swept_keys_[static_cast<std::size_t>(node)];
        const Int gathered = swept_weights_[static_cast<std::size_t>(node)];
        const int s = key.period;
        const int c = key.count;
        reach_->expand(node);
        const int head_end = std::min(s + shape_.min_run, shape_.n);
        const FloorReach::Periods head{s, head_end - 1};
        if (head_end == shape_.n) return reach_->end(head, FloorReach::Counts{1} << key.chosen);
        sweep_to(run_key(head_end - 1, c - shape_.min_run), gathered + tables_.additions().run_head(s), head);
    }

    void sweep_run(int node) {
        const PrefixState key = swept_keys_[static_cast<std::size_t>(node)];
        const Int gathered = swept_weights_[static_cast<std::size_t>(node)];
        const int p = key.period;
        const int c = key.count;
        reach_->expand(node);
        if (c == 0) {
            if (within(gathered + tables_.exit_value(p, 0), Int{})) reach_->end(FloorReach::Periods{}, FloorReach::Counts{1} << key.chosen);
            return;
        }
        const int farthest = std::min(p + 1 + shape_.max_gap, shape_.n - 1);
        for (int s = p + 2; s <= farthest; ++s) {
            sweep_to(start_key(s, c), gathered + tables_.additions().between(p, s), FloorReach::Periods{});
        }
        if (p + 1 >= shape_.n) return;
        sweep_to(run_key(p + 1, c - 1), gathered + tables_.additions().weight(p + 1), FloorReach::Periods{p + 1, p + 1});
    }

    const planner::Tables<Int>& tables_;
    const rules::Shape& shape_;
    Int limit_;
    IndexList& path_;
    std::span<const Item> items_;
    std::unordered_map<PrefixState, Decimal, PrefixStateHash> least_sums_;
    std::vector<RunState> run_states_;
    std::uint64_t entered_ = 0;
    std::uint64_t state_cap_ = UINT64_MAX;
    Visit visit_ = nullptr;
    void* context_ = nullptr;
    std::unique_ptr<FloorReach> reach_;  // after reach_floor
    std::vector<PrefixState> swept_keys_;       // per node of reach_ (one state each)
    std::vector<Int> swept_weights_;            // the least weight that reached it
    std::vector<std::vector<int>> swept_nodes_;  // by the period they decide next
};

}  // namespace kestrava::planner
