// CombinationEnumerator: the order of the combinations, the edge sizes, and that it
// stays exhausted. ValidCombinations against it: the valid ones, in the same order.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <string>
#include <vector>

#include "combination_enumerator.hpp"
#include "selection/exhaustive/valid_combinations.hpp"
#include "selection_test_support.hpp"

namespace kestrava::exhaustive {
namespace {

using Positions = std::vector<std::size_t>;

// Drains the enumerator; checks on the way that each combination holds copies of
// the list's Items at the reported positions.
std::vector<Positions> drain(CombinationEnumerator& enumerator, std::span<const Item> list) {
    std::vector<Positions> seen;
    while (const auto combination = enumerator.next()) {
        const auto positions = enumerator.positions();
        EXPECT_EQ(combination->size(), positions.size());
        for (std::size_t slot = 0; slot < positions.size(); ++slot) {
            EXPECT_EQ((*combination)[slot].index, list[positions[slot]].index);
            EXPECT_EQ((*combination)[slot].price, list[positions[slot]].price);
        }
        seen.emplace_back(positions.begin(), positions.end());
    }
    return seen;
}

// A list of m Items whose indices are not their positions, so that a mix-up shows.
std::vector<Item> list_of(std::size_t m) {
    std::vector<Item> list;
    for (std::size_t p = 0; p < m; ++p) list.push_back(Item{10 + 3 * p, Decimal::from_unsigned(p)});
    return list;
}

// Every k-subset of 0..m-1 as an ascending tuple, sorted: the order the enumerator
// must produce, built from all bit patterns rather than by stepping positions.
std::vector<Positions> sorted_subsets(std::size_t m, std::size_t k) {
    std::vector<Positions> subsets;
    for (std::uint32_t bits = 0; bits < (std::uint32_t{1} << m); ++bits) {
        if (static_cast<std::size_t>(std::popcount(bits)) != k) continue;
        Positions subset;
        for (std::size_t p = 0; p < m; ++p) {
            if ((bits >> p) & 1U) subset.push_back(p);
        }
        subsets.push_back(subset);
    }
    std::sort(subsets.begin(), subsets.end());
    return subsets;
}

// Sizes 0 (one empty combination) to m + 1 (none), empty lists included.
TEST(CombinationEnumerator, ProducesEverySubsetOnceInSortedOrderThenStaysExhausted) {
    for (std::size_t m = 0; m <= 10; ++m) {
        for (std::size_t k = 0; k <= m + 1; ++k) {
            SCOPED_TRACE("m=" + std::to_string(m) + " k=" + std::to_string(k));
            const std::vector<Item> list = list_of(m);
            CombinationEnumerator enumerator(list, k);
            EXPECT_EQ(drain(enumerator, list), sorted_subsets(m, k));
            for (int again = 0; again < 3; ++again) EXPECT_FALSE(enumerator.next().has_value());
        }
    }
}

// Every rule set over up to 9 periods (limits past n included), and every size, with
// a strict end for odd leads: the walk hands out what filtering every combination
// gives, in its order.
TEST(ValidCombinations, HandsOutTheValidCombinationsInTheLiteralOrder) {
    std::uint64_t compared = 0;
    for (std::size_t n = 1; n <= 9; ++n) {
        std::vector<Item> items;
        for (std::size_t i = 0; i < n; ++i) items.push_back(Item{i, Decimal::from_unsigned(i)});
        for (std::uint64_t gap = 0; gap <= n + 1; ++gap) {
            for (std::uint64_t lead = 0; lead <= n + 1; ++lead) {
                for (std::uint64_t run = 1; run <= n; ++run) {
                    const SelectionRules rules{1, run, gap, lead};
                    const bool strict_end = lead % 2 == 1;
                    for (std::size_t k = 0; k <= n + 1; ++k) {
                        CombinationEnumerator every(items, k);
                        std::vector<Positions> expected;
                        while (const auto combination = every.next()) {
                            if (is_valid_combination(*combination, rules, n, strict_end)) {
                                expected.emplace_back(every.positions().begin(), every.positions().end());
                            }
                        }
                        ValidCombinations valid(items, k, rules, strict_end);
                        std::vector<Positions> walked;
                        while (const auto combination = valid.next()) {
                            Positions positions;
                            for (const Item& item : *combination) positions.push_back(item.index);
                            walked.push_back(positions);
                        }
                        EXPECT_FALSE(valid.next().has_value());
                        ASSERT_EQ(walked, expected) << "n " << n << ", k " << k << ", run " << run << ", gap "
                                                    << gap << ", lead " << lead << ", strict " << strict_end;
                        compared += expected.size();
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 100000U);
}

}  // namespace
}  // namespace kestrava::exhaustive
