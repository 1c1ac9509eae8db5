// The timing-rule check, the block rule and the consecutive-block split.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "selection/exhaustive/cheap_blocks.hpp"
#include "selection/exhaustive/combination_checks.hpp"
#include "selection_test_support.hpp"

namespace kestrava::exhaustive {
namespace {

using testing::items_at;

struct ValidityCase {
    std::string name;
    std::vector<std::uint64_t> indices;
    std::uint64_t n;
    std::uint64_t min_consecutive_periods;
    std::uint64_t max_gap_between_periods;
    std::uint64_t max_gap_from_start;
    bool valid;
};

// n = 6, max_gap_from_start 0, max gap 2 and min block 3 unless a row says otherwise.
const std::vector<ValidityCase> validity_cases = {
    {"short last block ending at the final period", {0, 1, 2, 5}, 6, 3, 2, 0, true},
    {"short last block before the final period", {0, 1, 2, 4}, 6, 3, 2, 0, false},
    {"trailing gap above the max gap", {0, 1, 2}, 6, 3, 2, 0, false},
    {"trailing gap equal to the max gap", {0, 1, 2}, 6, 3, 3, 0, true},
    {"leading gap above max_gap_from_start", {1, 2, 3, 4, 5}, 6, 3, 2, 0, false},
    {"leading gap equal to max_gap_from_start", {1, 2, 3, 4, 5}, 6, 3, 2, 1, true},
    {"a block at period 0 has no exemption", {0, 3, 4, 5}, 6, 2, 2, 0, false},
    {"single final period, any block minimum", {5}, 6, 6, 5, 5, true},
    {"single period before the end, minimum 1", {4}, 6, 1, 5, 5, true},
    {"single period before the end, minimum 2", {4}, 6, 2, 5, 5, false},
    {"empty selection", {}, 6, 1, 5, 5, false},
    {"empty selection with no periods", {}, 0, 1, 0, 0, false},
    {"inner gap above the max gap", {0, 1, 4, 5}, 6, 2, 1, 0, false},
    {"inner gap equal to the max gap", {0, 1, 4, 5}, 6, 2, 2, 0, true},
    // The leading gap is bounded by both limits, whichever is smaller.
    {"leading gap within the start limit but above the max gap", {2, 3}, 4, 1, 1, 3, false},
    // The trailing gap answers to the max gap, never to the start limit.
    {"trailing gap above the start limit but within the max gap", {0, 1}, 5, 1, 3, 0, true},
    {"a short middle block fails even when the last is long", {0, 1, 2, 4, 6, 7, 8}, 9, 3, 1, 0, false},
    {"every period", {0, 1, 2, 3, 4, 5}, 6, 6, 0, 0, true},
    {"two short blocks, the second reaching the end", {0, 1, 3, 4}, 5, 2, 1, 0, true},
    {"two blocks, the last one period short of the end", {0, 1, 3, 4}, 6, 2, 1, 0, true},
    {"last block of one period short of the end", {0, 1, 3}, 5, 2, 1, 0, false},
};

TEST(IsValidCombination, AnswersEveryRowForIndicesAndItems) {
    for (const ValidityCase& row : validity_cases) {
        SCOPED_TRACE(row.name);
        // min_selections is the caller's concern; a value above every size shows it is not read.
        const SelectionRules rules{99, row.min_consecutive_periods, row.max_gap_between_periods,
                                   row.max_gap_from_start};
        EXPECT_EQ(is_valid_combination(std::span<const std::uint64_t>(row.indices), rules, row.n), row.valid);
        const std::vector<Item> items = items_at(row.indices);
        EXPECT_EQ(is_valid_combination(std::span<const Item>(items), rules, row.n), row.valid);
    }
}

struct BlockRuleCase {
    std::string name;
    std::vector<std::uint64_t> indices;
    std::uint64_t n;
    std::uint64_t min_consecutive_periods;
    bool holds;
};

TEST(MeetsBlockRule, IgnoresGapsAndChecksBlocksOnly) {
    const std::vector<BlockRuleCase> cases = {
        {"far apart long blocks", {0, 1, 20, 21}, 30, 2, true},
        {"leading gap is not its concern", {10, 11}, 30, 2, true},
        {"short first block", {0, 5, 6}, 30, 2, false},
        {"short last block ending at n - 1", {3, 4, 29}, 30, 2, true},
        {"short last block ending before n - 1", {3, 4, 28}, 30, 2, false},
        {"one block meeting the minimum exactly", {7, 8, 9}, 30, 3, true},
        {"empty", {}, 30, 1, false},
    };
    for (const BlockRuleCase& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(meets_block_rule(row.indices, row.min_consecutive_periods, row.n), row.holds);
    }
}

struct GroupingCase {
    std::vector<std::uint64_t> indices;
    std::vector<std::vector<std::uint64_t>> blocks;
};

const std::vector<GroupingCase> grouping_cases = {
    {{0, 1, 3, 4, 5, 7}, {{0, 1}, {3, 4, 5}, {7}}},
    {{6}, {{6}}},
    {{}, {}},
    {{0, 2, 4, 6}, {{0}, {2}, {4}, {6}}},
    {{25, 26, 27}, {{25, 26, 27}}},
    // The split follows the input order only; it does not sort.
    {{4, 5, 1, 2}, {{4, 5}, {1, 2}}},
};

TEST(GroupConsecutiveItems, SplitsWhereIndicesAreNotAdjacentAndCopiesTheItems) {
    for (const GroupingCase& row : grouping_cases) {
        std::vector<Item> items;
        // Distinct prices show that each block holds copies of the input's own Items.
        for (std::uint64_t index : row.indices) items.push_back(Item{index, Decimal::from_unsigned(100 + index)});
        const BlockList blocks = group_consecutive_items(items);
        ASSERT_EQ(blocks.size(), row.blocks.size());
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            EXPECT_EQ(testing::indices_of(blocks[b]), row.blocks[b]);
            for (const Item& item : blocks[b]) EXPECT_EQ(item.price, Decimal::from_unsigned(100 + item.index));
        }
    }
}

TEST(GroupConsecutiveIndices, GivesTheSameBlocksAsMasks) {
    for (const GroupingCase& row : grouping_cases) {
        const BlockMasks masks = group_consecutive_indices(row.indices);
        ASSERT_EQ(masks.count, row.blocks.size());
        for (std::size_t b = 0; b < masks.count; ++b) {
            PeriodMask expected = 0;
            for (std::uint64_t index : row.blocks[b]) expected |= PeriodMask{1} << index;
            EXPECT_EQ(masks.blocks[b], expected);
        }
    }
}

TEST(GroupConsecutiveIndices, HoldsTheMostBlocksThatThirtyTwoPeriodsAllow) {
    std::vector<std::uint64_t> every_other;
    for (std::uint64_t index = 0; index < 32; index += 2) every_other.push_back(index);
    const BlockMasks masks = group_consecutive_indices(every_other);
    ASSERT_EQ(masks.count, BlockMasks::capacity);
    EXPECT_EQ(masks.blocks[15], PeriodMask{1} << 30);
}

struct RemainingBlocksCase {
    std::string name;
    std::vector<std::uint64_t> cheap;
    std::vector<std::uint64_t> main_combination;
    std::vector<std::vector<std::uint64_t>> blocks;
    std::vector<std::uint32_t> block_masks;                   // masks to merge ...
    std::vector<std::vector<std::uint64_t>> expected_merges;  // ... and what they give
};

TEST(RemainingCheapBlocks, SplitsCheapRunsAroundTheMainCombination) {
    const std::vector<RemainingBlocksCase> cases = {
        {"a cheap run partly covered by the main combination splits",
         {1, 2, 3, 5, 7, 8},
         {2, 7},
         {{1}, {3}, {5}, {8}},
         {1, 6, 15},
         {{1, 2, 7}, {2, 3, 5, 7}, {1, 2, 3, 5, 7, 8}}},
        {"no cheap item outside the main combination", {0, 1}, {0, 1, 4}, {}, {}, {}},
        {"no cheap items at all", {}, {3}, {}, {}, {}},
        {"runs kept whole", {0, 1, 2, 6, 7}, {4}, {{0, 1, 2}, {6, 7}}, {2, 3}, {{4, 6, 7}, {0, 1, 2, 4, 6, 7}}},
    };
    for (const RemainingBlocksCase& row : cases) {
        SCOPED_TRACE(row.name);
        const std::vector<Item> cheap = items_at(row.cheap);
        const std::vector<Item> main_items = items_at(row.main_combination);
        const PeriodMask main_mask = mask_of(main_items);
        const BlockMasks blocks = remaining_cheap_blocks(cheap, main_mask);
        ASSERT_EQ(blocks.count, row.blocks.size());
        for (std::size_t b = 0; b < blocks.count; ++b) {
            EXPECT_EQ(index_list_of(blocks.blocks[b]), row.blocks[b]);
        }
        EXPECT_EQ(block_mask_end(blocks), std::uint32_t{1} << row.blocks.size());
        for (std::size_t m = 0; m < row.block_masks.size(); ++m) {
            EXPECT_EQ(index_list_of(merge_of(main_mask, blocks, row.block_masks[m])), row.expected_merges[m]);
        }
    }
}

}  // namespace
}  // namespace kestrava::exhaustive
