// The planner for requests whose sums round: the exact optimum on wide integers,
// then every candidate that rounding could still make win (rounding_error.hpp),
// evaluated with the decimal sums and averages themselves, in the exhaustive
// search's order.
//
// Aggressive: the candidates are the merges (a main combination with a set of its
// admissible cheap blocks) whose exact average lies within 2u of the lowest. Under
// the lowest-average tables' weights (count * p - cost at that average, so every
// merge weighs at least 0) that is a weight of at most 2u * count * |merge|, below
// 2u * count * n. The merge walk (merge_walk.hpp) goes through exactly those and
// keeps the first, in the order (main combination, block mask), with the lowest
// rounded average: the exhaustive search keeps that one, since it replaces its best
// only on a strict improvement.
//
// Conservative: the candidates are the main combinations whose exact cost lies within
// (k - 1) u of the least; the first with the lowest rounded cost is the main
// combination, and its widest merge (unique: the union of all admissible blocks) is
// the answer.
//
// On real prices the candidates are the exact ties of the optimum, and repeated
// prices fold together in both walks. Beyond a cap on candidates or states the
// request is left to the exhaustive search.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "selection/exhaustive/combination_checks.hpp"
#include "selection/internal_failure.hpp"
#include "selection/price_sums.hpp"
#include "selection/planner/integer_ladder.hpp"
#include "selection/planner/merges.hpp"
#include "selection/planner/planner.hpp"
#include "selection/rules/shape.hpp"
#include "selection/planner/workspace.hpp"
#include "selection/period_mask.hpp"
#include "selection/planner/rounded/band_walk.hpp"
#include "selection/planner/rounded/formed_sums.hpp"
#include "selection/planner/rounded/merge_walk.hpp"
#include "selection/planner/item_plans.hpp"
#include "selection/planner/rounded/rounding_error.hpp"

namespace kestrava::planner {
namespace {

using planner::Int256;
using planner::IntegerWidth;

// The most candidates evaluated, and run states entered, before the request is left
// to the exhaustive search: some 10 ms of decimal sums either way.
constexpr std::uint64_t candidate_cap = 20000;
constexpr std::uint64_t state_cap = 100000;
// Most walks end within this many run states and arrivals; one that does not is
// walked again after the sweep of reach limits (floor_reach.hpp), which costs more
// than such a walk, or, where the sweep does not fit, again in full.
constexpr std::uint64_t quick_cap = 200;

enum class Walk {
    quick,  // capped at quick_cap
    swept,  // after the sweep
    full,   // neither
};

// The sweep keeps its sums in 128 bits (floor_reach.hpp).
bool sweep_fits(const RoundedPrices& prices) noexcept {
    return prices.magnitudes < planner::Int512::power_of_two(120);
}

// optimum + error, at most 2^(W-5): above every reachable weight (below 2^(W-7),
// integer_ladder.hpp) and below every unreachable one, so the cut loses nothing.
template <class Int>
Int band_limit(const Int& optimum, uint128 error) noexcept {
    constexpr int top_bit = IntegerWidth<Int>::bits - 5;
    const Int top = planner::power_of_two<Int>(top_bit);
    const uint128 ceiling = uint128{1} << std::min(top_bit, 120);
    const Int room = narrow<Int>(Int256::from_int128(static_cast<__int128>(std::min(error, ceiling))));
    const Int limit = optimum + room;
    return limit < top ? limit : top;
}

// Precondition: 0 <= value < 2^127.
uint128 low_bits(const planner::Int512& value) noexcept {
    return static_cast<uint128>(value.limb(0)) | (static_cast<uint128>(value.limb(1)) << 64);
}

struct RoundedCost {
    PeriodMask periods = 0;
    Decimal cost;
};

class ConservativeCandidates {
public:
    explicit ConservativeCandidates(std::span<const Item> items) : items_(items) {}

    template <class Int>
    static bool visit(void* context, const IndexList& main, const Int& /*weight*/) {
        return static_cast<ConservativeCandidates*>(context)->take_main(main);
    }

    const std::optional<RoundedCost>& best() const noexcept { return best_; }

private:
    bool take_main(const IndexList& main) {
        const PeriodMask periods = mask_of_indices(main);
        const Decimal cost = sum_of_prices(items_, periods);
        if (!best_ || cost < best_->cost) best_ = RoundedCost{periods, cost};
        return ++evaluated_ <= candidate_cap;
    }

    std::span<const Item> items_;
    std::uint64_t evaluated_ = 0;
    std::optional<RoundedCost> best_;
};

template <class Int>
planner::Int512 to_wide(const Int& value) noexcept {
    if constexpr (std::is_same_v<Int, Int256>) {
        const Int256 magnitude = value.is_negative() ? -value : value;
        planner::Int512 result{};
        for (std::size_t limb = 4; limb-- > 0;) {
            result = result * planner::Int512::power_of_two(64) +
                     planner::Int512::from_int128(static_cast<__int128>(magnitude.limb(limb)));
        }
        return value.is_negative() ? -result : result;
    } else {
        return planner::Int512::from_int128(static_cast<__int128>(value));
    }
}

// The lowest-average limits per count (rounding_error.hpp, point 4), as weights.
template <class Int>
std::vector<Int> average_limits(const RoundedPrices& prices, const planner::Average<Int>& lowest) {
    const std::vector<uint128> bands =
        merge_bands(prices, static_cast<std::uint64_t>(lowest.count), to_wide(lowest.cost));
    std::vector<Int> limits(bands.size());
    for (std::size_t m = 0; m < bands.size(); ++m) limits[m] = band_limit(Int{}, bands[m]);
    return limits;
}

// The same for the cheapest-main band: M_C <= weight_C + 2 N, at most sum |p|.
template <class Int>
unsigned cost_error_scale(const RoundedPrices& prices, const Int& least, std::uint64_t k) noexcept {
    using planner::Int512;
    const Int512 fixed = to_wide(least) + Int512(2) * prices.negatives;
    for (unsigned r = prices.error_scale;;) {
        const Int512 scaled = std::clamp(fixed + to_wide(cost_band(prices, k, r)), Int512{}, prices.magnitudes);
        const unsigned next = error_scale_within(prices, scaled, 1);
        if (next <= r) return r;
        r = next;
    }
}

// The merge walk's best candidate, or why it has none.
template <class Int>
Outcome<RoundedMerge, DeclineReason> walk_merges(std::span<const Item> items, const RoundedPrices& prices,
                                                 const planner::Planner<Int>& planner,
                                                 const std::vector<Int>& limits, Walk how) {
    const auto walk = std::make_unique<MergeWalk<Int>>(planner.tables(), items, limits,
                                                       how == Walk::quick ? quick_cap : state_cap, candidate_cap);
    if (how == Walk::quick) walk->cap_arrivals(quick_cap);
    // With sum |c_i| within 96 bits no sum rounds (win_limits.hpp).
    const bool exact_sums =
        prices.magnitudes <= planner::Int512::from_int128(static_cast<__int128>(Decimal::max_coefficient));
    // On near ties the exact optimum's own merge often rounds to the least average.
    walk->settle_with(mask_of_indices(planner.main()), mask_of_indices(planner.selection()), exact_sums);
    if (exact_sums) walk->fold_counts(prices.scale, low_bits(prices.magnitudes));
    if (how == Walk::swept) walk->reach_floor(prices.scale);
    if (!walk->run()) return DeclineReason::candidates_past_cap;
    if (!walk->best()) return DeclineReason::no_candidate_in_band;
    return *walk->best();
}

// Whether a walk stopped at its cap: a quick walk is then walked again after the sweep, or in full.
template <class T>
bool reached_cap(const Outcome<T, DeclineReason>& walked) noexcept {
    return !walked.ok() && walked.error() == DeclineReason::candidates_past_cap;
}

template <class Int>
Outcome<IndexList, DeclineReason> lowest_rounded_average(std::span<const Item> items, const RoundedPrices& prices,
                                                         planner::Planner<Int>& planner) {
    planner.plan_lowest_average(StopCheck{});
    const std::vector<Int> limits = average_limits(prices, planner.lowest_average());
    const bool quick = prices.walk == RoundedWalk::quick_first && sweep_fits(prices);
    Outcome<RoundedMerge, DeclineReason> best = DeclineReason::candidates_past_cap;  // as if a quick walk had
    if (quick) best = walk_merges(items, prices, planner, limits, Walk::quick);
    if (reached_cap(best)) {
        best = walk_merges(items, prices, planner, limits, sweep_fits(prices) ? Walk::swept : Walk::full);
    }
    if (!best.ok()) return best.error();
    return index_list_of(best.value().periods);
}

// The band walk's first main combination of least rounded cost within the limit, or
// why it has none.
template <class Int>
Outcome<RoundedCost, DeclineReason> walk_mains(std::span<const Item> items, const RoundedPrices& prices,
                                               const planner::Planner<Int>& planner, const Int& limit, Walk how) {
    ConservativeCandidates candidates(items);
    IndexList main;
    main.reserve(items.size());
    const auto walk = std::make_unique<BandWalk<Int>>(planner.tables(), limit, main);
    walk->cap_states(how == Walk::quick ? quick_cap : state_cap);
    walk->skip_dominated_prefixes(items);
    if (how == Walk::swept) walk->reach_floor(prices.scale);
    if (!walk->run(&ConservativeCandidates::visit<Int>, &candidates)) return DeclineReason::candidates_past_cap;
    if (!candidates.best()) return DeclineReason::no_candidate_in_band;
    return *candidates.best();
}

template <class Int>
Outcome<IndexList, DeclineReason> cheapest_rounded_main(std::span<const Item> items, const RoundedPrices& prices,
                                                        const rules::Shape& shape, planner::Planner<Int>& planner) {
    planner.plan_cheapest_main(StopCheck{});
    const auto k = static_cast<std::uint64_t>(shape.size);
    const unsigned error_scale = cost_error_scale(prices, planner.least_cost(), k);
    const Int limit = band_limit(planner.least_cost(), cost_band(prices, k, error_scale));
    const bool quick = prices.walk == RoundedWalk::quick_first && sweep_fits(prices);
    Outcome<RoundedCost, DeclineReason> best = DeclineReason::candidates_past_cap;  // as if a quick walk had
    if (quick) best = walk_mains(items, prices, planner, limit, Walk::quick);
    if (reached_cap(best)) {
        best = walk_mains(items, prices, planner, limit, sweep_fits(prices) ? Walk::swept : Walk::full);
    }
    if (!best.ok()) return best.error();
    // The widest merge of the chosen main combination: every admissible block.
    const IndexList chosen = index_list_of(best.value().periods);
    std::vector<std::uint8_t> marks(static_cast<std::size_t>(shape.n), 0);
    std::vector<planner::CheapBlock> blocks;
    planner::admissible_blocks(shape, chosen, marks, blocks);
    PeriodMask widest = best.value().periods;
    for (const planner::CheapBlock& block : blocks) {
        widest |= period_span(static_cast<std::uint64_t>(block.first), static_cast<std::uint64_t>(block.last) + 1);
    }
    if (prices.merges_unbounded && !merges_stay_within(items, prices, best.value().periods, widest)) {
        return DeclineReason::sums_near_96_bits;
    }
    return index_list_of(widest);
}

// Not inlined: only the one width in use holds a frame under the walks.
template <class Int>
[[gnu::noinline]] Outcome<IndexList, DeclineReason> plan_rounded(std::span<const Item> items, const RoundedPrices& prices,
                                                        const rules::Shape& shape, bool aggressive) {
    // The planner (in this thread's workspace) and the walks live on the heap: the
    // walks recurse, and a call must fit a 32 KiB thread stack.
    const planner::WorkspaceLease<Int> lease;
    std::vector<Int>& units = lease->units;
    units.resize(items.size());
    for (int i = 0; i < prices.count; ++i)
        units[static_cast<std::size_t>(i)] = narrow<Int>(prices.units[static_cast<std::size_t>(i)]);
    planner::Planner<Int>& planner = lease->planner;
    planner.reset(shape, units);
    return aggressive ? lowest_rounded_average(items, prices, planner)
                      : cheapest_rounded_main(items, prices, shape, planner);
}

// A price below 2^190 and n <= 28 need at most 208 bits (integer_ladder.hpp).
Outcome<IndexList, DeclineReason> plan_rounded_within(std::span<const Item> items, const RoundedPrices& prices,
                                             const rules::Shape& shape, bool aggressive) {
    switch (rung_for(items.size(), prices.largest_bits)) {
        case Rung::bits64:
            return plan_rounded<std::int64_t>(items, prices, shape, aggressive);
        case Rung::bits128:
            return plan_rounded<__int128>(items, prices, shape, aggressive);
        default:
            return plan_rounded<Int256>(items, prices, shape, aggressive);
    }
}

}  // namespace
}  // namespace kestrava::planner

namespace kestrava {

Outcome<IndexList, DeclineReason> plan_rounded(std::span<const Item> items, const planner::PreparedRequest& request,
                                               RoundedWalk walk) {
    using namespace planner;
    const rules::Shape& shape = request.shape;
    const bool aggressive = request.aggressive;
    RoundedPrices prices = price_units(*request.units);
    const bool within_global_bound = assign_error_scale(prices, global_bound(prices));
    if (!within_global_bound) {
        // Taking every period sums every price twice over: the search is as quick.
        if (shape.size >= shape.n || !bound_formed_sums(items, prices, request.cheap, shape, aggressive)) {
            return DeclineReason::sums_near_96_bits;
        }
    }
    // Every period is the only selection of n periods.
    if (shape.size >= shape.n) return index_list_of(static_cast<PeriodMask>((std::uint64_t{1} << items.size()) - 1));
    prices.merges_unbounded = !within_global_bound && !aggressive;
    prices.walk = walk;
    return plan_rounded_within(items, prices, shape, aggressive);
}

Outcome<IndexList, DeclineReason> plan_rounded(std::span<const Item> items, std::span<const Item> cheap_items,
                                               const SelectionRules& rules, bool aggressive, RoundedWalk walk) {
    const planner::ThreadLease<planner::PreparedSpace> space;
    return plan_rounded(items, prepare_items(*space, items, cheap_items, rules, aggressive), walk);
}

}  // namespace kestrava
