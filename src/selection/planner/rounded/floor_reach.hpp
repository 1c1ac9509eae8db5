// FloorReach: the least rounded value any candidate has, and, at each state of a
// walk, the largest decimal sum from which some completion still reaches it.
//
// Why. A walk keeps, per state, the partial selections that no earlier one with a
// lower or equal sum dominates (merge_walk.hpp, band_walk.hpp). When each later
// partial selection sums lower than every earlier one at the same state (prices
// falling by a unit of the last decimal, and their noisy or zigzag kin), none is
// dominated: every arrival is walked again, its whole subtree with it. Two facts
// about the states themselves fold that work.
//
// 1. Least folds. Every completion of a state adds the same prices to each arrival's
//    sum, in the same order, and decimal addition is monotone in each operand
//    (band_walk.hpp), so the arrival with the least sum ends, with every completion,
//    no higher than any other at that state and count; division by the count is
//    monotone too. So the least rounded value V over all candidates is the least,
//    over the states where candidates end, of the value of the least sum arriving
//    there, and the least sum at each state comes from the least sums of the states
//    before it. A sweep over the states in index order (every transition moves to a
//    later period, or from a run state to a gap of the same period, swept after it)
//    finds V with one sum per state and count, whatever the order of arrivals.
//
// 2. Reach limits. Let add_p(x) be the decimal sum x + p: the exact sum rounded to
//    the finest grid on which it fits 96 bits. In units of 10^-s (s the prices'
//    common scale) every sum formed is an integer, and add_p is nondecreasing, so the
//    sums x from which one given completion ends at a value <= V are those up to a
//    limit; over every completion of a state, up to the largest of those limits. So
//    each state has a limit L: an arrival whose sum exceeds L ends above V with every
//    completion, and can be left; one within L has a completion at V. L follows from
//    the states after it: at the end, the largest sum whose value is <= V (for an
//    average, found by bisection on the division itself); across a transition adding
//    p, the largest x with add_p(x) <= L', that is the largest x with x + p <= H(L'),
//    H(L') the largest exact sum that rounds to L' or below: L' itself while L' fits
//    96 bits at scale s, since nothing above it rounds down to it; past that, L' lies
//    on the grid 10^k its magnitude allows, and, away from the grid's ends, the sums
//    up to half a step above L' round to it (the half itself when L''s last kept
//    digit is even); at a grid's end, a bisection between L' and L' + 10^(k+1), which
//    rounds above L'. Limits are kept on the values a sum can take (rounded down to
//    the nearest such), so that each step starts from one.
//
// The states. A sweep meets the walk's run states and the starts of runs, under the
// walk's keys, and may cross the rest its own way (merge_walk.hpp sweeps a gap
// without its end), as long as the completions of each state it shares with the walk
// are the walk's. A walk asks for the limit only there; a state the sweep never met
// is given the benefit of the doubt. The transitions are the walk's band checks, each
// held to the least weight that reached the state, which no arrival's is below: no
// transition a walk can take is missed, and every sum the sweep forms is a prefix of
// a merge (or main combination) the search sums, so it fits as the walk's do.
//
// Nodes. The states of one key that differ only in the number of periods chosen m
// share one node: the transitions, their prices and the band's tables are the same
// for each m, only m itself moves on (by the periods a transition adds) and picks the
// band's limit. So a node is expanded once, a transition is recorded once with the
// set of counts that take it (a bit per m, m <= 28), and each count keeps its own
// least sum and limit in a slot of the node's own range of counts: the main periods
// before the node's first undecided period, up to every cheap period before it too.
//
// Dead states. Every arrival at a state sums at least the state's least (point 1),
// so when the least lies above the limit no arrival has a completion at V: the walk
// leaves every arrival there, and the limit may be dropped. A transition to such a
// state then adds nothing to its source's limit for the sums that can arrive there:
// from any x at or above the source's least it reaches at least the target's least
// (add_p is monotone), above the target's limit. So the sweep goes back only
// through transitions into states that can still reach V; on falling near ties they
// are a few dozen among thousands. Its limits agree with the full ones on every sum
// at or above the least, the only sums that arrive.
//
// With V known, a walk is settled at V from its start, and with the limits it enters
// only arrivals that can end at V: the first candidate it reaches is at V, and from
// then on only the merges that come earlier in the order are walked. The sweep
// visits each node once; it costs more than most walks, so a walk runs it only after
// a quick pass runs long (rounded_plan.cpp).
//
// Units as 128-bit integers: the sweep is used when sum |c_i| < 2^120, so that every
// sum, and every limit within a grid step of one, fits with room.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <cstddef>
#include <vector>

#include "decimal/decimal.hpp"
#include "selection/item.hpp"
#include "selection/planner/rounded/prefix_state.hpp"

namespace kestrava::planner {

// The sums a walk forms, in units of 10^-s, and the grid on which decimals hold them.
class SumUnits {
public:
    // Precondition: every price is a multiple of 10^-scale, scale <= 28.
    explicit SumUnits(unsigned scale) noexcept : scale_(scale) {}

    // A sum in units (exact: every sum formed is a multiple of 10^-s).
    __int128 units(const Decimal& value) const noexcept;
    // The largest sum a decimal can hold that is at most `value`; nullopt when none is.
    std::optional<__int128> round_down(__int128 value) const noexcept;
    // round_down of `value`, or of the least sum a decimal holds where `value` lies
    // below it (scale < 9: -(2^96 - 1) in value); above -2^121 there always is one.
    __int128 round_down_within(__int128 value) const noexcept;
    // add_p of point 2 on exact sums: the decimal sum's value; nullopt on overflow.
    std::optional<__int128> rounded_sum(__int128 exact) const noexcept;
    // The largest x with add(x, price) <= limit, over the sums a decimal holds;
    // `limit` is one of them. nullopt when there is none.
    std::optional<__int128> limit_before(__int128 limit, __int128 price) const noexcept;
    // The decimal holding a value that round_down keeps.
    Decimal decimal(__int128 value) const noexcept;
    unsigned scale() const noexcept { return scale_; }

private:
    // The exponent k of the finest grid 10^k on which |value| fits 96 bits; 29 past scale 0.
    unsigned grid_of(__int128 value) const noexcept;

    unsigned scale_;
};

// Beyond every sum formed (sum |c_i| < 2^120, and n rounding steps above it).
inline constexpr __int128 sum_bound = static_cast<__int128>(1) << 121;

class FloorReach {
public:
    // What a candidate's rounded value is: its average, or its sum (a cost).
    enum class Value { average, cost };

    // Bit m: m periods chosen (at most 28).
    using Counts = std::uint32_t;

    // The periods first .. last, in index order; none when last < first.
    struct Periods {
        int first = 0;
        int last = -1;
        int size() const noexcept { return last - first + 1; }
    };

    // Allocates the price units and room for the nodes.
    FloorReach(std::span<const Item> items, unsigned scale, Value value);

    // Building, in the sweep's order: a node is expanded after every node that leads
    // to it; transitions before the first expand() leave from the start, with nothing
    // summed and nothing chosen.
    // The node of a key (its `chosen` aside), made on first use with room for the
    // counts lowest .. highest (lowest <= highest <= 28). A tag (below 4) keeps nodes
    // of the sweep's own apart from a walk's.
    int node(const PrefixState& key, std::uint32_t tag, int lowest, int highest);
    // The counts that have reached a node so far.
    Counts counts(int node) const noexcept { return nodes_[at(node)].counts; }
    // Every (node, count) in the node's range has a slot below slots(), for a caller's
    // own values per state.
    std::size_t slot(int node, int count) const noexcept { return static_cast<std::size_t>(slot_base(node) + count); }
    // slot(node, count) = slot_base(node) + count.
    std::ptrdiff_t slot_base(int node) const noexcept {
        const Node& held = nodes_[at(node)];
        return static_cast<std::ptrdiff_t>(held.first_slot) - held.lowest;
    }
    std::size_t slots() const noexcept { return least_.size(); }
    void expand(int node) noexcept;
    // A transition from the node being expanded, for each of `counts` (of that node),
    // adding the prices of `added` in turn: to `target`, as many more periods chosen;
    // or ending a candidate of that many periods.
    void lead_to(int target, Periods added, Counts counts);
    void end(Periods added, Counts counts);

    // After the sweep: V and the limits. False when no candidate ends, or when the
    // sweep broke its own order (then it proves nothing).
    bool settle();
    const Decimal& least_value() const noexcept { return least_value_; }

    // True when an arrival at `key` (a node's key and tag, with its count) with this
    // sum has a completion at V; states the sweep never met are given the benefit of
    // the doubt.
    bool may_reach(const PrefixState& key, const Decimal& sum, std::uint32_t tag = 0) const noexcept;

private:
    struct Node {
        std::uint32_t first_slot = 0;
        int lowest = 0;
        int highest = 0;
        Counts counts = 0;
        Counts live = 0;  // after settle: the counts with a completion at V
        std::uint32_t first_step = 0;
        std::uint32_t steps = 0;
        bool expanded = false;
    };
    struct Step {
        int target = 0;  // a node, or -1 for an end
        Periods added;
        Counts counts = 0;
    };
    struct Entry {
        std::uint32_t key = 0;  // packed, with its tag
        int node = -1;          // -1 where free
    };

    static std::size_t at(int node) noexcept { return static_cast<std::size_t>(node); }
    static std::uint32_t packed(const PrefixState& key, std::uint32_t tag) noexcept;
    std::size_t entry_of(std::uint32_t key) const noexcept;
    void grow_entries();
    bool holds(int node, Counts counts, int size) const noexcept;
    __int128 least_at(int count) const noexcept;
    __int128 through(__int128 sum, Periods added) const;
    __int128 plus(__int128 sum, std::size_t p) const;
    std::optional<__int128> on_tens(__int128 sum, std::size_t p) const noexcept;
    __int128 back_through(__int128 limit, Periods added) const noexcept;
    __int128 end_limit(int count);
    std::optional<__int128> average_limit(int count) const noexcept;
    __int128 bisect_end_limit(__int128 low, __int128 high, int count) const noexcept;
    bool value_within(__int128 sum, int count) const noexcept;
    void settle_node(Node& node);

    SumUnits units_;
    Value value_;
    // A price in tens of units and the rest: c = 10 tens + rest, 0 <= rest < 10.
    struct Tens {
        __int128 tens = 0;
        int rest = 0;
    };

    std::vector<__int128> prices_;      // in units
    std::vector<Tens> tens_;            // of each price
    std::vector<__int128> sums_;        // of the prices before p
    std::vector<__int128> magnitudes_;  // of |price| before p
    std::vector<Entry> entries_;
    std::vector<Node> nodes_;
    std::vector<__int128> least_;  // per slot
    std::vector<__int128> limit_;  // per slot; no_limit where no completion reaches V
    std::vector<Step> steps_;
    std::vector<int> expanded_;
    int expanding_ = -1;
    bool broken_ = false;
    std::vector<__int128> end_least_;   // per count; no_sum where none ends
    std::vector<__int128> end_limits_;  // per count, once known
    std::vector<std::uint8_t> end_known_;
    Decimal least_value_;
};

}  // namespace kestrava::planner
