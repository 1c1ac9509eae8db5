// Past the global bound: the sums the search forms, bounded or witnessed from the tables.
#include "selection/planner/rounded/formed_sums.hpp"

#include <algorithm>
#include <vector>

#include "selection/exhaustive/combination_checks.hpp"
#include "selection/internal_failure.hpp"
#include "selection/period_mask.hpp"
#include "selection/planner/integer_ladder.hpp"
#include "selection/planner/merges.hpp"
#include "selection/planner/planner.hpp"
#include "selection/price_sums.hpp"

namespace kestrava::planner {
namespace {

// The main combination of k periods with the least total weight.
template <class Int>
IndexList least_main(const rules::Shape& shape, std::span<const Int> weights) {
    Planner<Int> planner(shape, weights);
    if (planner.plan_cheapest_main(StopCheck{}) != PlanStatus::done) {
        throw InternalFailure("The planner found no main combination of the smallest valid size");
    }
    return planner.main();
}

// Point 5: for each side, the cheap prices on it (with `count_cheap`), and the most
// that the other prices on it reach in one main combination (the least weight, with
// minus those as weights).
template <class Int>
Int512 bound_of_mains(const RoundedPrices& prices, std::span<const std::uint8_t> cheap, const rules::Shape& shape,
                      bool count_cheap) {
    std::vector<Int> weights(cheap.size());
    Int512 bound{};
    for (const bool negative : {false, true}) {
        Int512 side{};
        for (std::size_t i = 0; i < cheap.size(); ++i) {
            const bool free = count_cheap && cheap[i] != 0;
            const bool counted = !free && prices.units[i].is_negative() == negative;
            weights[i] = counted ? narrow<Int>(negative ? prices.units[i] : -prices.units[i]) : Int{};
            if (free) side += side_magnitude(prices, i, negative);
        }
        for (const std::uint64_t i : least_main<Int>(shape, weights)) {
            if (!(count_cheap && cheap[i] != 0)) side += side_magnitude(prices, i, negative);
        }
        bound = std::max(bound, side);
    }
    return bound;
}

// Price i turned towards a side: as it is for the positive side, negated for the negative.
Int512 towards(const RoundedPrices& prices, std::size_t i, bool negative) noexcept {
    return side_magnitude(prices, i, negative) - side_magnitude(prices, i, !negative);
}

// Point 6: the most that the partial sums of the selections the search sums reach
// on one side, over every cut i: with `with_additions` every merge of every main
// combination (the lowest-average search), without only the main combinations. The
// selection that reaches furthest at each cut goes to `reaching`.
template <class Int>
Int512 prefix_reach(const RoundedPrices& prices, const rules::Shape& shape, bool negative, bool with_additions,
                    std::vector<PeriodMask>& reaching) {
    const auto n = static_cast<std::size_t>(shape.n);
    std::vector<Int> weights(n, Int{});  // 0 past the cut
    Tables<Int> tables(shape);
    IndexList main;
    std::vector<std::uint8_t> marks(n, 0);
    std::vector<CheapBlock> blocks;
    Int512 most{};  // the empty prefix
    for (std::size_t i = 0; i < n; ++i) {
        weights[i] = narrow<Int>(negative ? prices.units[i] : -prices.units[i]);
        // A selection's partial sums grow only at prices on the side.
        if (side_magnitude(prices, i, negative) == Int512{}) continue;
        (void)tables.build(weights, with_additions, StopCheck{});  // a check that never stops
        main.clear();
        tables.first_main(main);
        PeriodMask selection = mask_of_indices(main);
        blocks.clear();
        if (with_additions) admissible_blocks(shape, main, marks, blocks);
        for (const CheapBlock& block : blocks) {
            Int weight{};
            for (int p = block.first; p <= block.last; ++p) weight += weights[static_cast<std::size_t>(p)];
            const auto first = static_cast<std::uint64_t>(block.first);
            if (weight < Int{}) selection |= period_span(first, static_cast<std::uint64_t>(block.last) + 1);
        }
        Int512 reach{};
        for (std::size_t j = 0; j <= i; ++j) {
            if (holds_period(selection, j)) reach += towards(prices, j, negative);
        }
        most = std::max(most, reach);
        reaching.push_back(selection);
    }
    return most;
}

// The search sums every main combination, and for the lowest average every
// admissible merge (and nothing before them but the sum of every price), so when one
// of those reaching furthest overflows, the search fails with "Addition overflowed"
// whatever else the request holds.
void sum_witnesses(std::span<const Item> items, const rules::Shape& shape, std::span<const PeriodMask> reaching) {
    IndexArray indices;
    const auto n = static_cast<std::uint64_t>(items.size());
    const auto min_run = static_cast<std::uint64_t>(shape.min_run);
    for (const PeriodMask selection : reaching) {
        if (exhaustive::meets_block_rule(ascending_indices(selection, indices), min_run, n)) {
            sum_of_prices(items, selection);
        }
    }
}

// The lowest-average search sums the admissible merges of every main combination;
// the cheapest-main search only those of the one it keeps, checked afterwards
// (merges_stay_within).
template <class Int>
[[gnu::noinline]] bool bound_formed_sums(std::span<const Item> items, RoundedPrices& prices,
                                         std::span<const std::uint8_t> cheap, const rules::Shape& shape,
                                         bool aggressive) {
    sum_of_prices(items);
    if (assign_error_scale(prices, bound_of_mains<Int>(prices, cheap, shape, aggressive))) return true;
    std::vector<PeriodMask> reaching;
    Int512 bound{};
    for (const bool negative : {false, true}) {
        bound = std::max(bound, prefix_reach<Int>(prices, shape, negative, aggressive, reaching));
    }
    if (assign_error_scale(prices, bound)) return true;
    sum_witnesses(items, shape, reaching);
    return false;
}

}  // namespace

bool bound_formed_sums(std::span<const Item> items, RoundedPrices& prices, std::span<const std::uint8_t> cheap,
                       const rules::Shape& shape, bool aggressive) {
    switch (rung_for(items.size(), prices.largest_bits)) {
        case Rung::bits64:
            return bound_formed_sums<std::int64_t>(items, prices, cheap, shape, aggressive);
        case Rung::bits128:
            return bound_formed_sums<__int128>(items, prices, cheap, shape, aggressive);
        default:
            return bound_formed_sums<Int256>(items, prices, cheap, shape, aggressive);
    }
}

// A valid merge of C is C with some of the blocks of W \ C (their maximal runs), so
// its partial sum up to i is at most C's prices up to i and, for each block, its
// prices up to i when they add up to more than nothing; likewise below. When that
// fits, no merge's sum overflows (point 1).
bool merges_stay_within(std::span<const Item> items, const RoundedPrices& prices, PeriodMask main, PeriodMask widest) {
    Int512 bound{};
    for (const bool negative : {false, true}) {
        Int512 mains{}, closed{}, open{};
        for (std::size_t i = 0; i < items.size(); ++i) {
            const Int512 price = towards(prices, i, negative);
            if (holds_period(main, i)) mains += price;
            if (holds_period(widest & ~main, i)) {
                open += price;
            } else {
                closed += std::max(open, Int512{});
                open = Int512{};
            }
            bound = std::max(bound, mains + closed + std::max(open, Int512{}));
        }
    }
    if (sums_fit(prices, bound)) return true;
    sum_of_prices(items, widest);
    return false;
}

}  // namespace kestrava::planner
