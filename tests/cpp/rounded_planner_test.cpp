// The planner for sums that round, on requests where the candidates it must value are
// many: exact ties beyond its caps unless equal prefixes fold together. Each answer
// is compared with the exhaustive search's, and the planner must give one itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "planner_requests.hpp"

namespace kestrava {
namespace {

struct TieCase {
    const char* label;
    std::vector<std::string> prices;
    const char* threshold;
    SelectionRules rules;
};

std::vector<std::string> repeated(const char* price, std::size_t n) { return std::vector<std::string>(n, price); }

std::vector<std::string> alternating(const char* low, const char* high, std::size_t n) {
    std::vector<std::string> prices;
    for (std::size_t i = 0; i < n; ++i) prices.push_back(i % 3 == 0 ? low : high);
    return prices;
}

TEST(RoundedPlanner, AnswersMassesOfExactTiesItself) {
    const char* third = "0.3333333333333333333333333333";
    const char* converted = "75.39609432571849668386145910";
    const std::vector<TieCase> cases = {
        // C(20, 10) = 184,756 main combinations of one exact cost, far beyond the cap.
        {"one third everywhere", repeated(third, 20), "0", {10, 1, 19, 19}},
        {"a converted price everywhere", repeated(converted, 20), "0", {10, 2, 19, 19}},
        {"two converted prices, none cheap",
         alternating(converted, "80.12345678901234567890123456", 20),
         "1",
         {9, 1, 19, 19}},
        // Every third period cheap: 2^13 block sets of one exact average per main combination.
        {"two converted prices, the lower cheap",
         alternating(converted, "80.12345678901234567890123456", 20),
         converted,
         {2, 1, 19, 19}},
        {"one third, every third period cheap",
         alternating(third, "0.6666666666666666666666666667", 20),
         third,
         {3, 1, 19, 19}},
    };
    for (const TieCase& tie : cases) {
        for (const bool aggressive : {true, false}) {
            testing::PlannerRequest request{tie.prices, tie.threshold, tie.rules, aggressive};
            const testing::PlannerInput input = testing::input_of(request);
            const auto planned = plan_cheapest_periods_rounded(input.items, input.cheap_items, tie.rules, aggressive);
            const Result<IndexList> expected =
                aggressive ? exhaustive::search_aggressive(input.items, input.cheap_items, tie.rules)
                           : exhaustive::search_conservative(input.items, input.cheap_items, tie.rules);
            ASSERT_TRUE(planned.has_value()) << tie.label << (aggressive ? ", aggressive" : ", conservative");
            ASSERT_TRUE(expected.ok());
            EXPECT_EQ(*planned, expected.value()) << tie.label << (aggressive ? ", aggressive" : ", conservative");
        }
    }
}

}  // namespace
}  // namespace kestrava
