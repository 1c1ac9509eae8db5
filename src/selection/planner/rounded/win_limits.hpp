// WinLimits: for a settled merge walk on prices whose sums never round, whether one
// prefix reaches the least rounded average with every completion that another does,
// whatever the two prefixes' counts.
//
// Exact sums. Let every price be c_i / 10^s and M = sum |c_i| <= 2^96 - 1. A partial
// sum of any merge is a multiple of 10^-s of magnitude at most M / 10^s: it fits at
// scale s, so an addition, which keeps the largest scale at which its sum fits, keeps
// at least s digits and is exact. A merge's decimal sum is its exact sum.
//
// Limits. Let A be the least rounded average any merge can have (merge_walk.hpp, at
// the floor). A merge of m periods whose sum is x 10^-s averages at A exactly when
// divide(x, m) <= A; division is monotone in x, so that holds exactly for x <= t(m),
// t(m) the largest such x in [-M, M] (-M - 1 when there is none).
//
// Covering. Two prefixes a, b at the same state have the same completions. One that
// adds j periods and y to the sum gives sums x_a + y and x_b + y over m_a + j and
// m_b + j periods. If x_a - t(m_a + j) <= x_b - t(m_b + j) for every j <= n - max(m_a,
// m_b), then x_b + y <= t(m_b + j) implies x_a + y <= t(m_a + j): whenever b's merge
// averages at A, so does a's.
#pragma once

#include <cstdint>
#include <vector>

#include "decimal/decimal.hpp"

namespace kestrava::planner {

class WinLimits {
public:
    // `least`: the least rounded average A; `magnitudes`: M. Preconditions: M <= 2^96 - 1,
    // every price a multiple of 10^-scale, scale <= 28, 1 <= count <= 28.
    WinLimits(unsigned scale, unsigned __int128 magnitudes, int count, const Decimal& least);

    // A sum in units of 10^-scale (exact: every sum is a multiple of it).
    __int128 units(const Decimal& sum) const noexcept;

    // True when prefix a (sum_a units over count_a periods) averages at A with every
    // completion that makes prefix b do so. Computes what it needs on first use.
    bool covers(__int128 sum_a, int count_a, __int128 sum_b, int count_b);

    // t(count): the largest sum in units over `count` periods that averages at A, and
    // whether there is one (a sum of magnitude at most M).
    __int128 limit(int count);
    bool reached(int count) { return limit(count) >= -magnitudes_; }

private:
    __int128 slack(int count_a, int count_b);
    bool reaches_least(__int128 sum, int count) const noexcept;

    unsigned scale_;
    __int128 magnitudes_;
    int count_;
    Decimal least_;
    std::vector<__int128> limits_;  // t(m), index m
    std::vector<std::uint8_t> known_;
    std::vector<__int128> slacks_;  // slack(a, b), index a (count + 1) + b
    std::vector<std::uint8_t> slack_known_;
};

}  // namespace kestrava::planner
