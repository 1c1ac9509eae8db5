// The two strategies on requests whose answers were worked out by hand, their
// overflow failures, and the no-result errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "selection/internal_failure.hpp"
#include "selection/strategies.hpp"
#include "selection_test_support.hpp"

namespace kestrava {
namespace {

using testing::cheap_items_of;
using testing::items_from;

struct StrategyCase {
    std::string name;
    std::vector<std::string> prices;
    std::string threshold;
    SelectionRules rules;  // min_selections, min_consecutive_periods, max gap, max gap from start
    IndexList aggressive;
    IndexList conservative;
};

const std::vector<StrategyCase> strategy_cases = {
    {"no cheap items: the cheapest single period", {"5", "1", "5", "5"}, "0", {1, 1, 3, 3}, {1}, {1}},
    {"no single period fits, so size two", {"3", "9", "1"}, "0", {1, 1, 1, 0}, {0, 2}, {0, 2}},
    {"a cheap block lowers the average", {"4", "1", "1", "9", "9", "2"}, "1", {1, 1, 5, 0}, {0, 1, 2}, {0, 1, 2}},
    {"a lone cheap period would be a short block", {"4", "4", "9", "1", "9", "9"}, "1", {2, 2, 5, 0}, {0, 1}, {0, 1}},
    {"a cheap run long enough to stand alone",
     {"4", "4", "9", "1", "1", "9"},
     "1",
     {2, 2, 5, 0},
     {0, 1, 3, 4},
     {0, 1, 3, 4}},
    {"a short cheap block ending at the final period",
     {"4", "4", "9", "9", "9", "1"},
     "1",
     {2, 2, 5, 0},
     {0, 1, 5},
     {0, 1, 5}},
    // Aggressive: the merge only ties the main combination's average of 2. Conservative:
    // more cheap periods always win.
    {"a merge of equal average does not replace", {"2", "2", "9", "2", "2", "9"}, "2", {2, 2, 5, 0}, {0, 1}, {0, 1, 3, 4}},
    {"equal averages at size four keep the earlier",
     {"1", "1", "4", "6", "6"},
     "1",
     {2, 2, 1, 0},
     {0, 1, 2, 3},
     {0, 1, 2, 3}},
    // Aggressive: [1] averages 1 and every merge with index 3 or 5 only ties it.
    {"cheap blocks added to the cheapest period",
     {"5", "1", "9", "1", "8", "1"},
     "2",
     {1, 1, 5, 5},
     {1},
     {1, 3, 5}},
    {"only every period fits", {"5", "1", "9", "1", "8", "1"}, "2", {1, 1, 0, 0}, {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5}},
    {"a short last block exempt at the final period",
     {"7", "2", "6", "6", "1", "7", "1"},
     "1",
     {2, 2, 5, 0},
     {0, 1, 6},
     {0, 1, 6}},
    {"a cheap block that joins the main combination's block",
     {"6", "2", "9", "7", "1", "1", "8"},
     "2",
     {2, 2, 3, 3},
     {3, 4, 5},
     {3, 4, 5}},
    {"equal costs keep the earlier period", {"3", "0", "0"}, "-1", {1, 1, 2, 2}, {1}, {1}},
    {"the first valid combination is taken whatever its cost", {"2", "0"}, "-1", {1, 1, 1, 0}, {0}, {0}},
    {"equal singles at both ends", {"1", "5", "1"}, "0", {1, 1, 2, 2}, {0}, {0}},
    // Values compare by value, whatever their scales: 1.50 ties 1.5.
    {"scales do not break ties", {"1.50", "9", "1.5"}, "0", {1, 1, 2, 2}, {0}, {0}},
    {"negative prices", {"-0.5", "3", "-0.25", "-2"}, "-1", {1, 1, 3, 3}, {3}, {3}},
    // [0, 1, 2] averages 1/3, which the division rounds to 28 threes after the point:
    // exactly the average of [1, 2, 3]. As rounded quotients the two tie, so the earlier
    // stays; exact fractions would have picked [1, 2, 3], the cheaper in total.
    {"averages compare as rounded quotients",
     {"1", "0", "0", "0.9999999999999999999999999999"},
     "-1",
     {3, 3, 3, 3},
     {0, 1, 2},
     {1, 2, 3}},
};

TEST(Strategies, AnswerTheWorkedRequests) {
    for (const StrategyCase& row : strategy_cases) {
        SCOPED_TRACE(row.name);
        const std::vector<Item> items = items_from(row.prices);
        const std::vector<Item> cheap = cheap_items_of(items, row.threshold);

        const Result<IndexList> aggressive = get_cheapest_periods_aggressive(items, cheap, row.rules);
        ASSERT_TRUE(aggressive.ok());
        EXPECT_EQ(aggressive.value(), row.aggressive);

        const Result<IndexList> conservative = get_cheapest_periods_conservative(items, cheap, row.rules);
        ASSERT_TRUE(conservative.ok());
        EXPECT_EQ(conservative.value(), row.conservative);
    }
}

// 2^96 - 1, the largest decimal.
const std::string largest = "79228162514264337593543950335";
const std::string minus_largest = "-" + largest;

struct OverflowCase {
    std::string name;
    std::vector<std::string> prices;
    SelectionRules rules;
};

TEST(Strategies, FailInternallyWhenAnExactSumOverflows) {
    const std::vector<OverflowCase> cases = {
        // Either period alone would pass; the sum of all prices is formed first.
        {"the sum of all prices", {largest, largest}, {1, 1, 1, 1}},
        // The total comes back to the largest value, but [0, 2] is valid and its cost
        // overflows; [0, 1] (cost 0) was taken before it.
        {"the cost of a main combination", {largest, minus_largest, largest}, {2, 1, 1, 0}},
    };
    for (const OverflowCase& row : cases) {
        SCOPED_TRACE(row.name);
        const std::vector<Item> items = items_from(row.prices);
        const std::vector<Item> cheap = cheap_items_of(items, "-1");
        for (const bool aggressive : {true, false}) {
            try {
                if (aggressive) {
                    static_cast<void>(get_cheapest_periods_aggressive(items, cheap, row.rules));
                } else {
                    static_cast<void>(get_cheapest_periods_conservative(items, cheap, row.rules));
                }
                ADD_FAILURE() << "no internal failure, aggressive=" << aggressive;
            } catch (const InternalFailure& failure) {
                EXPECT_EQ(failure.message(), "Addition overflowed");
            }
        }
    }
}

TEST(Strategies, ReportTheItemCountWhenNoSizeIsLeftToTry) {
    // Validated requests always succeed by size n at the latest; a first size beyond n
    // leaves nothing to try, which is the only road to these errors.
    for (const std::size_t n : {2U, 5U}) {
        const std::vector<Item> items = items_from(std::vector<std::string>(n, "1"));
        const SelectionRules rules{n + 1, 1, 0, 0};

        const Result<IndexList> aggressive = get_cheapest_periods_aggressive(items, {}, rules);
        ASSERT_FALSE(aggressive.ok());
        EXPECT_EQ(aggressive.error(), (SelectionError{SelectionErrorKind::no_valid_combination, n}));

        const Result<IndexList> conservative = get_cheapest_periods_conservative(items, {}, rules);
        ASSERT_FALSE(conservative.ok());
        EXPECT_EQ(conservative.error(), (SelectionError{SelectionErrorKind::no_valid_main_combination, n}));
    }
}

}  // namespace
}  // namespace kestrava
