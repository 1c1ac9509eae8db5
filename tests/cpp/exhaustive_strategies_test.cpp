// The exhaustive search's own failures: exact sums that overflow, and the no-result
// errors. Its answers are checked in worked_requests_test.cpp and against the
// planner in the planner tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "selection/exhaustive/exhaustive.hpp"
#include "selection/internal_failure.hpp"
#include "selection_test_support.hpp"

namespace kestrava::exhaustive {
namespace {

using testing::cheap_items_of;
using testing::items_from;

// 2^96 - 1, the largest decimal.
const std::string largest = "79228162514264337593543950335";
const std::string minus_largest = "-" + largest;

struct OverflowCase {
    std::string name;
    std::vector<std::string> prices;
    SelectionRules rules;
};

TEST(ExhaustiveSearch, FailInternallyWhenAnExactSumOverflows) {
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
                    static_cast<void>(search_aggressive(items, cheap, row.rules));
                } else {
                    static_cast<void>(search_conservative(items, cheap, row.rules));
                }
                ADD_FAILURE() << "no internal failure, aggressive=" << aggressive;
            } catch (const InternalFailure& failure) {
                EXPECT_EQ(failure.message(), "Addition overflowed");
            }
        }
    }
}

TEST(ExhaustiveSearch, ReportTheItemCountWhenNoSizeIsLeftToTry) {
    // Validated requests always succeed by size n at the latest; a first size beyond n
    // leaves nothing to try, which is the only road to these errors.
    for (const std::size_t n : {2U, 5U}) {
        const std::vector<Item> items = items_from(std::vector<std::string>(n, "1"));
        const SelectionRules rules{n + 1, 1, 0, 0};

        const Outcome<IndexList> aggressive = search_aggressive(items, {}, rules);
        ASSERT_FALSE(aggressive.ok());
        EXPECT_EQ(aggressive.error(), (Error{.kind = ErrorKind::no_valid_combination, .item_count = n}));

        const Outcome<IndexList> conservative = search_conservative(items, {}, rules);
        ASSERT_FALSE(conservative.ok());
        EXPECT_EQ(conservative.error(), (Error{.kind = ErrorKind::no_valid_main_combination, .item_count = n}));
    }
}

}  // namespace
}  // namespace kestrava::exhaustive
