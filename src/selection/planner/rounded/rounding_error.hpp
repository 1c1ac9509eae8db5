// How far the decimal sums and averages that define an answer can stray from the
// exact values, for requests whose sums round (more digits than 96 bits hold).
//
// Let every price be c_i / 10^s (s the common scale), P and N the sums of the
// positive prices and of the negative prices' magnitudes, B = max(P, N), n the number
// of prices, and r the largest scale <= 28 with B * 10^r + n <= 2^96 - 1; u = 10^-r.
//
// 1. Additions. A sum over a selection starts from zero and adds one price at a time
//    in index order; each addition is exact, or rounded half to even to the largest
//    scale at which the sum fits 96 bits. Suppose the additions so far each erred by
//    at most u / 2 (fewer than n of them). The next exact sum then lies in
//    [-N - n u / 2, P + n u / 2], so times 10^r it is below B 10^r + n in magnitude:
//    it fits at scale r, and a rounded addition keeps at least r digits and errs by
//    at most u / 2 too (an operand scale below r leaves the sum exact). No addition
//    overflows, and the first addition (0 plus a price) is exact, so a sum of m
//    prices is within (m - 1) u / 2 of the exact sum. When every price is whole
//    (s = 0), B < 2^96 - 1 is enough for r = 0: every sum is exact, with no slack.
//    (Not 2^96 - 1 itself: a period at that price averages at the largest decimal,
//    the lowest-average search's starting mark, and it then goes on to larger sizes.)
// 2. Averages. The quotient of such a sum by its count m is no larger in magnitude, so
//    the division keeps at least r digits too: error at most u / 2, and the rounded
//    average is within (m - 1) u / (2 m) + u / 2 < u of the exact average.
// 3. Candidates. The answer's rounded value is at most the exact optimum's rounded
//    value, so its exact value lies within twice the error of the exact optimum:
//    average within 2u (aggressive), cost within (k - 1) u for k main periods
//    (conservative). Every other candidate can be left out.
//
// 4. Per candidate. Points 1 and 2 hold for each candidate C alone, with its own
//    M_C (the sum of its prices' magnitudes, at least its P and N) in place of B and
//    the scale r_C that M_C allows: its sums add only its own prices. So C can be
//    the answer only if its exact value lies within e_O + e_C of an exact optimum
//    O's, each e the error of point 2 (u for an average, (k - 1) u / 2 for a cost) at
//    its own r. A candidate's weight (rounded_plan.cpp) bounds its magnitudes: with N
//    the sum of the negative prices' magnitudes,
//      aggressive (weight K p_i - Cost per period, K and Cost the optimum's count and
//        cost): K M_C = weight_C + m Cost + 2 K N_C <= weight_C + n max(Cost, 0) + 2 K N;
//      conservative (weight p_i): M_C = weight_C + 2 N_C <= weight_C + 2 N.
//    Suppose every candidate that can be the answer, and O, has M_C <= M. Then their
//    e are at most the bound at r(M), the band at r(M) holds them, and the weight
//    bound turns that band into a new M' (O weighs the least, so it lies in the band
//    too). Starting from the r that bounds every sum formed (point 1, or past B point
//    5 or 6), whose band holds every candidate, and going on while r grows (at most
//    28 steps), the last band holds every candidate that can be the answer: one dear price
//    widens only the bands of candidates that hold it, and they weigh too much to
//    enter. (No candidate overflows: that still rests on the global B of point 1.)
//    Aggressive, per count: O's own e_O needs only K M_O <= K max(Cost, 0) + 2 K N
//    (its weight is 0), and the candidates of m periods are the merges of m periods
//    within e_O + e_C, weighing at most K m (e_O + e_C) with m max(Cost, 0) in the
//    bound above; so each m has its own band, and with few cheap periods no merge
//    can reach the wide bands of many periods.
//
// 5. Few periods. The sums that define an answer are those of the selections the
//    search compares: main combinations of k periods (the smallest valid size) and
//    their merges with whole cheap blocks; and the sum of every price, formed first.
//    A merge's periods that are not cheap all lie in its main combination, so the
//    positive terms of any of its partial sums add up to at most P_k: the positive
//    cheap prices, and the most that the positive prices that are not cheap of one
//    main combination add up to (the tables give it, with those as weights).
//    Likewise N_k for the negative ones. Points 1 to 4 hold for those selections with
//    B_k = max(P_k, N_k) <= B in place of B. The sum of every price is then not
//    bounded: it is formed as the search forms it, and its overflow is the answer,
//    before any other. The cheapest-main search compares the merges of its main
//    combination by their cheap periods first, where the widest stands alone, so
//    their sums matter only for overflow: its P_k and N_k leave the cheap prices out,
//    and those merges are bounded once the main combination is known (point 6).
//
// 6. Prefixes. Each partial sum the search forms is, exactly, the sum of one of its
//    selections' prices up to some period i. Over every cut i, the tables give the
//    most such a sum reaches on a side: weights minus the prices up to i (0 past
//    it); the lowest-average search sums every admissible merge, and the tables with
//    additions weigh exactly those (gap_additions.hpp), each block counted up to i;
//    the cheapest-main search sums main combinations (the tables without them) and
//    the merges of the one it keeps, bounded afterwards from that one alone. A
//    selection's partial sums grow only at prices on that side, so those cuts are
//    enough. Their maximum over both sides, B_pre <= B_k, takes the place of B in
//    points 1 to 4. When it does not fit, the selection reaching furthest at each
//    cut is summed as the search sums it: past 2^96 - 1 + n its rounded partial sum
//    (within n / 2 of the exact one) overflows, and so would the search.
//
// Requests whose furthest partial sum lies within n rounding slack of 2^96 - 1 (so
// only when some price has decimals) are left to the exhaustive search.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "decimal/decimal.hpp"
#include "selection/planner/fixed_int.hpp"
#include "selection/item.hpp"
#include "selection/planner/item_plans.hpp"
#include "selection/prices/price_units.hpp"

namespace kestrava::planner {

struct RoundedPrices {
    int count = 0;
    unsigned scale = 0;                  // the common scale s
    unsigned error_scale = 0;            // r: every rounding keeps at least r digits
    std::vector<planner::Int256> units;  // price i * 10^s, exactly (below 2^190); on the heap for a small stack
    unsigned largest_bits = 0;           // bit width of the largest |units|
    planner::Int512 magnitudes{};        // sum |c_i|
    planner::Int512 negatives{};         // sum |c_i| over the negative prices
    bool merges_unbounded = false;       // r bounds the cheapest-main search's main combinations alone
    RoundedWalk walk = RoundedWalk::quick_first;
};

// The prices as integers, with no r yet (precondition: 1 <= units.size() <= 28, the
// units of decimals; allocates the list of units); B (in units of 10^-s); and the r of a bound on the
// sums compared (B, or B_k of point 5), false when bound + n > 2^96 - 1 leaves none
// (bound >= 2^96 - 1 for whole prices, which need no slack).
RoundedPrices price_units(const PriceUnits& units);
planner::Int512 global_bound(const RoundedPrices& prices) noexcept;
bool assign_error_scale(RoundedPrices& prices, const planner::Int512& bound) noexcept;
// Whether sums bounded so stay within 96 bits at the scale 0 (point 1 with r = 0).
bool sums_fit(const RoundedPrices& prices, const planner::Int512& bound) noexcept;
// |price i| in units when it lies on that side of zero, else 0.
planner::Int512 side_magnitude(const RoundedPrices& prices, std::size_t i, bool negative) noexcept;

// ceil(factor * u) in units of 10^-s: how far, in those units, candidates may lie from
// the exact optimum when their values can each be off by `factor` times u.
// factor <= 2 * 28 * 28 keeps the result below 2^105.
// u = 10^-error_scale; by default the global r.
uint128 error_in_units(const RoundedPrices& prices, std::uint64_t factor, unsigned error_scale) noexcept;
inline uint128 error_in_units(const RoundedPrices& prices, std::uint64_t factor) noexcept {
    return error_in_units(prices, factor, prices.error_scale);
}

// The r of point 4 for candidates with q * M_C <= `scaled_magnitudes` (in units of
// 10^-s): the largest scale <= 28 with scaled_magnitudes 10^r + q n 10^s <= q (2^96 - 1) 10^s,
// and never below the global r. Precondition: 1 <= q <= 28 and scaled_magnitudes
// below 2^300.
unsigned error_scale_within(const RoundedPrices& prices, const planner::Int512& scaled_magnitudes,
                            std::uint64_t q) noexcept;

// The lowest-average candidates' limits (point 4), for an optimum of `count` periods
// costing `cost` units: for m = 0 .. n, the most that a merge of m periods weighs when
// its exact average lies within e_O + e_C of the lowest, K m (u_O + u_m) with u_O at
// the optimum's own r and u_m at the r that such merges allow; nondecreasing in m.
std::vector<uint128> merge_bands(const RoundedPrices& prices, std::uint64_t count, const planner::Int512& cost);

// The conservative candidates' limit: costs of k main periods within (k - 1) u of the least.
inline uint128 cost_band(const RoundedPrices& prices, std::uint64_t k, unsigned error_scale) noexcept {
    return error_in_units(prices, k - 1, error_scale);
}

}  // namespace kestrava::planner
