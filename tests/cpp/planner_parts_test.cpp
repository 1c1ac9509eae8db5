// The planner's parts against literal brute force on small requests: the smallest
// valid size, the admissible cheap blocks, the lowest-average merge and the labelling
// search.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "planner_requests.hpp"
#include "selection/exhaustive/combination_checks.hpp"
#include "selection/period_mask.hpp"
#include "selection/planner/blocks.hpp"
#include "selection/planner/labelling.hpp"
#include "selection/planner/layout.hpp"
#include "selection_test_support.hpp"

namespace kestrava {
namespace {

using planner::int128;

IndexArray index_buffer;

std::span<const std::uint64_t> indices_of_mask(PeriodMask mask) { return ascending_indices(mask, index_buffer); }

bool valid(PeriodMask mask, const SelectionRules& rules, std::size_t n) {
    return exhaustive::is_valid_combination(indices_of_mask(mask), rules, n);
}

// Lexicographic order of the ascending index tuples of two sets of equal size: the
// one holding the lowest index where they differ comes first.
bool lexicographically_first(PeriodMask a, PeriodMask b) {
    const PeriodMask differ = a ^ b;
    return differ != 0 && (a & (differ & (~differ + 1))) != 0;
}

std::vector<Item> zero_priced_items(std::size_t n) {
    std::vector<Item> items;
    for (std::size_t i = 0; i < n; ++i) items.push_back(Item{i, Decimal{}});
    return items;
}

// Every rule set over n <= 9 periods: the size search finds the fewest periods of any
// valid combination, and the constructed bound is never below it.
TEST(PlannerParts, SmallestValidSizeMatchesEveryCombination) {
    for (std::size_t n = 2; n <= 9; ++n) {
        const PeriodMask all = (PeriodMask{1} << n) - 1;
        for (std::uint64_t run = 1; run < n; ++run) {
            for (std::uint64_t gap = 0; gap <= n; ++gap) {
                for (std::uint64_t lead = 0; lead <= gap; ++lead) {
                    const SelectionRules rules{run, run, gap, lead};
                    std::size_t fewest = n;
                    for (PeriodMask mask = 1; mask <= all; ++mask) {
                        if (valid(mask, rules, n)) fewest = std::min(fewest, period_count(mask));
                    }
                    const planner::Layout layout = planner::make_layout(n, {}, rules);
                    SCOPED_TRACE("n " + std::to_string(n) + ", min run " + std::to_string(run) + ", max gap " +
                                 std::to_string(gap) + ", max lead " + std::to_string(lead));
                    EXPECT_EQ(planner::smallest_valid_size(layout), static_cast<int>(fewest));
                    EXPECT_GE(planner::valid_size_upper_bound(layout), static_cast<int>(fewest));
                }
            }
        }
    }
}

struct BlockCase {
    std::string name;
    std::size_t n;
    std::uint64_t min_run;
    std::vector<std::uint64_t> cheap;
    std::vector<std::uint64_t> main;
    std::vector<std::vector<std::uint64_t>> admissible;
};

const std::vector<BlockCase> block_cases = {
    {"a lone cheap period touching nothing is too short", 8, 2, {0, 2, 5, 6}, {3, 4}, {{2}, {5, 6}}},
    {"a cheap run split by the main combination touches it on both sides", 8, 3, {2, 3, 4}, {3}, {{2}, {4}}},
    {"a detached run of min_run periods stands alone", 8, 3, {0, 1, 2}, {6, 7}, {{0, 1, 2}}},
    {"a short detached run is admissible only at the last period", 8, 3, {5, 6}, {0, 1, 2}, {}},
    {"the same run ending at the last period", 7, 3, {5, 6}, {0, 1, 2}, {{5, 6}}},
    {"a block starting at period 0 has no exemption", 6, 2, {0}, {3, 4}, {}},
    {"no cheap period outside the main combination", 6, 1, {1, 2}, {1, 2}, {}},
};

TEST(PlannerParts, AdmissibleBlocks) {
    for (const BlockCase& c : block_cases) {
        SCOPED_TRACE(c.name);
        std::vector<Item> items = zero_priced_items(c.n);
        std::vector<Item> cheap;
        for (const std::uint64_t i : c.cheap) cheap.push_back(items[i]);
        const planner::Layout layout = planner::make_layout(c.n, cheap, SelectionRules{c.min_run, c.min_run, c.n, c.n});
        const auto prices = planner::exact_integer_prices(items, true);
        ASSERT_TRUE(prices.has_value());
        const auto admissible = planner::admissible_blocks(layout, *prices, mask_of(testing::items_at(c.main)));
        std::vector<std::vector<std::uint64_t>> found;
        for (int j = 0; j < admissible.count; ++j) {
            const auto indices = indices_of_mask(admissible.blocks[j].periods);
            found.emplace_back(indices.begin(), indices.end());
        }
        EXPECT_EQ(found, c.admissible);
    }
}

// A small request with random integer prices (many ties), a random cheap set and a
// valid main combination.
struct SmallCase {
    std::vector<Item> items;
    std::vector<Item> cheap;
    SelectionRules rules;
    PeriodMask main = 0;
};

SmallCase random_small_case(testing::RequestRandom& random, std::size_t n) {
    SmallCase c;
    for (std::size_t i = 0; i < n; ++i) {
        c.items.push_back(Item{i, Decimal::from_parts(random.chance(20), random.between(0, 6), 0)});
        if (random.chance(40)) c.cheap.push_back(c.items.back());
    }
    const std::uint64_t run = random.between(1, 3);
    const std::uint64_t gap = random.between(0, n);
    c.rules = SelectionRules{run, run, gap, random.between(0, gap)};
    do {
        c.main = static_cast<PeriodMask>(random.between(1, (std::uint64_t{1} << n) - 1));
    } while (!valid(c.main, c.rules, n));
    return c;
}

// The first block mask, in ascending order, whose merge passes the block rule and
// reaches the lowest average: the literal reading.
PeriodMask literal_lowest_average_merge(const SmallCase& c) {
    IndexArray remaining;
    std::size_t count = 0;
    for (const Item& item : c.cheap) {
        if (!holds_period(c.main, item.index)) remaining[count++] = item.index;
    }
    const exhaustive::BlockMasks blocks =
        exhaustive::group_consecutive_indices(std::span<const std::uint64_t>(remaining.data(), count));
    const auto prices = planner::exact_integer_prices(c.items, true);
    PeriodMask best = c.main;
    int128 best_cost = planner::cost_of(*prices, best);
    for (std::uint32_t block_mask = 1; block_mask < (1U << blocks.count); ++block_mask) {
        PeriodMask merge = c.main;
        for (std::size_t j = 0; j < blocks.count; ++j) {
            if ((block_mask >> j) & 1U) merge |= blocks.blocks[j];
        }
        if (!exhaustive::meets_block_rule(indices_of_mask(merge), c.rules.min_consecutive_periods, c.items.size()))
            continue;
        const int128 cost = planner::cost_of(*prices, merge);
        if (cost * std::popcount(best) < best_cost * std::popcount(merge)) {
            best = merge;
            best_cost = cost;
        }
    }
    return best;
}

TEST(PlannerParts, LowestAverageMergeIsTheFirstLowestMask) {
    testing::RequestRandom random(99, 0);
    for (int trial = 0; trial < 3000; ++trial) {
        const SmallCase c = random_small_case(random, random.between(2, 12));
        const auto prices = planner::exact_integer_prices(c.items, true);
        const planner::Layout layout = planner::make_layout(c.items.size(), c.cheap, c.rules);
        const planner::Merge merge = planner::lowest_average_merge(layout, *prices, c.main);
        ASSERT_EQ(merge.periods, literal_lowest_average_merge(c)) << "trial " << trial;
        EXPECT_EQ(merge.cost, planner::cost_of(*prices, merge.periods));
        EXPECT_EQ(merge.count, std::popcount(merge.periods));
    }
}

// The labelling search against every valid combination of the size and, with
// blocks, every passing merge: least weight, then the lexicographically first main
// combination.
TEST(PlannerParts, LightestLabellingMatchesEveryLabelling) {
    testing::RequestRandom random(7, 0);
    for (int trial = 0; trial < 3000; ++trial) {
        SmallCase c = random_small_case(random, random.between(2, 10));
        const std::size_t n = c.items.size();
        const bool with_blocks = random.chance(60);
        const planner::Layout layout = planner::make_layout(n, c.cheap, c.rules);
        const int smallest = planner::smallest_valid_size(layout);
        ASSERT_GE(smallest, 1);
        ASSERT_LE(smallest, static_cast<int>(n));
        const int size = static_cast<int>(random.between(static_cast<std::uint64_t>(smallest), n));
        std::vector<int128> weights(n);
        for (auto& w : weights) w = static_cast<int128>(random.between(0, 8)) - 4;
        auto weight_of = [&](PeriodMask mask) {
            int128 total = 0;
            for (const std::uint64_t i : indices_of_mask(mask)) total += weights[i];
            return total;
        };

        std::optional<int128> best_weight;
        PeriodMask best_main = 0;
        for (PeriodMask main = 1; main < (PeriodMask{1} << n); ++main) {
            if (std::popcount(main) != size || !valid(main, c.rules, n)) continue;
            int128 lightest = weight_of(main);
            if (with_blocks) {
                c.main = main;
                IndexArray remaining;
                std::size_t count = 0;
                for (const Item& item : c.cheap) {
                    if (!holds_period(main, item.index)) remaining[count++] = item.index;
                }
                const exhaustive::BlockMasks blocks =
                    exhaustive::group_consecutive_indices(std::span<const std::uint64_t>(remaining.data(), count));
                for (std::uint32_t block_mask = 1; block_mask < (1U << blocks.count); ++block_mask) {
                    PeriodMask merge = main;
                    for (std::size_t j = 0; j < blocks.count; ++j) {
                        if ((block_mask >> j) & 1U) merge |= blocks.blocks[j];
                    }
                    if (exhaustive::meets_block_rule(indices_of_mask(merge), c.rules.min_consecutive_periods, n)) {
                        lightest = std::min(lightest, weight_of(merge));
                    }
                }
            }
            if (!best_weight || lightest < *best_weight ||
                (lightest == *best_weight && lexicographically_first(main, best_main))) {
                best_weight = lightest;
                best_main = main;
            }
        }
        const planner::Labelling labelling =
            planner::lightest_labelling(planner::thread_labelling_workspace(), layout, size, weights, with_blocks);
        ASSERT_TRUE(best_weight.has_value());
        ASSERT_TRUE(labelling.found) << "trial " << trial;
        ASSERT_EQ(labelling.weight, *best_weight) << "trial " << trial;
        ASSERT_EQ(labelling.main_combination, best_main) << "trial " << trial;
    }
}

}  // namespace
}  // namespace kestrava
