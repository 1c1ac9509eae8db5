// The exhaustive search's StopCheck: a check that answers true ends either strategy
// with `interrupted` wherever the search is (main combinations or merges), and a
// check that never does leaves every answer as the planner gives it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "planner_requests.hpp"
#include "selection/exhaustive/exhaustive.hpp"
#include "selection/requests/request.hpp"
#include "selection_test_support.hpp"

namespace kestrava::exhaustive {
namespace {

using testing::PollCounter;

Outcome<IndexList> search(std::span<const Item> items, std::span<const Item> cheap, const SelectionRules& rules,
                         bool aggressive, PollCounter& counter) {
    const StopCheck check{&PollCounter::poll, &counter};
    return aggressive ? search_aggressive(items, cheap, rules, check) : search_conservative(items, cheap, rules, check);
}

// 2^96 - 21 and then 0.3 and -0.3 in turn, none cheap, with (12, 1, 27, 27): a main
// combination's partial sums reach 2^96 - 17.7, within the rounding slack of 28
// additions, yet none overflows once rounded; so no planner bounds the sums and 30
// million main combinations are left to the search.
std::vector<std::string> long_search_prices() {
    std::vector<std::string> prices{"79228162514264337593543950315"};
    for (std::size_t i = 1; i < max_price_count; ++i) prices.push_back(i % 2 ? "0.3" : "-0.3");
    return prices;
}

// Alternating cheap and dear periods with min_selections 1: the main combinations
// are few (28), but each leaves 13 or 14 cheap blocks, thousands of merges to try.
std::vector<std::string> many_merges_prices() {
    std::vector<std::string> prices;
    for (std::size_t i = 0; i < max_price_count; ++i) prices.push_back(i % 2 ? "1" : std::to_string(50 + i));
    return prices;
}

struct LongSearch {
    std::string name;
    std::vector<std::string> prices;
    std::string threshold;
    SelectionRules rules;
};

const std::vector<LongSearch>& long_searches() {
    static const std::vector<LongSearch> searches = {
        {"combinations", long_search_prices(), "-1", {12, 1, 27, 27}},
        {"merges", many_merges_prices(), "1", {1, 1, 27, 27}},
    };
    return searches;
}

TEST(ExhaustiveStop, AStopCheckThatAnswersTrueEndsEitherSearchAsInterrupted) {
    for (const LongSearch& row : long_searches()) {
        const std::vector<Item> items = testing::items_from(row.prices);
        const std::vector<Item> cheap = testing::cheap_items_of(items, row.threshold);
        for (const bool aggressive : {true, false}) {
            for (const int stop_at : {1, 2, 5}) {
                SCOPED_TRACE(row.name + (aggressive ? " aggressive" : " conservative") + ", stop at poll " +
                             std::to_string(stop_at));
                PollCounter counter{0, stop_at};
                const Outcome<IndexList> result = search(items, cheap, row.rules, aggressive, counter);
                ASSERT_FALSE(result.ok());
                EXPECT_EQ(result.error().kind, ErrorKind::interrupted);
                // Once it has answered true the check is not asked again.
                EXPECT_EQ(counter.polls, stop_at);
            }
        }
    }
}

TEST(ExhaustiveStop, TheSelectionEntryPassesTheStopCheckOn) {
    const LongSearch& row = long_searches().front();
    for (const bool aggressive : {true, false}) {
        testing::VectorPriceSource source({row.prices.begin(), row.prices.end()});
        PollCounter counter{0, 3};
        const Outcome<IndexList> result =
            get_cheapest_periods(source, row.threshold, row.rules, aggressive, StopCheck{&PollCounter::poll, &counter});
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().kind, ErrorKind::interrupted);
        EXPECT_EQ(counter.polls, 3);
    }
}

TEST(ExhaustiveStop, TheMergesOfAFewMainCombinationsArePolled) {
    const LongSearch& row = long_searches().back();
    const std::vector<Item> items = testing::items_from(row.prices);
    const std::vector<Item> cheap = testing::cheap_items_of(items, row.threshold);
    for (const bool aggressive : {true, false}) {
        PollCounter counter;
        const Outcome<IndexList> result = search(items, cheap, row.rules, aggressive, counter);
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result.value(), plan_exact(items, cheap, row.rules, aggressive).value());
        // 28 main combinations are far fewer than one poll interval.
        EXPECT_GE(counter.polls, 8) << (aggressive ? "aggressive" : "conservative");
    }
}

TEST(ExhaustiveStop, ACheckThatNeverStopsLeavesTheAnswersAsThePlannerGivesThem) {
    constexpr std::uint64_t seed = 20240607;
    int polled_requests = 0;
    for (std::uint64_t number = 0; number < 400; ++number) {
        const testing::PlannerRequest request = testing::random_request(seed, number, 16);
        const testing::PlannerInput input = testing::input_of(request);
        const Outcome<IndexList, DeclineReason> planned =
            plan_exact(input.items, input.cheap_items, request.rules, request.aggressive);
        ASSERT_TRUE(planned.ok()) << request.describe();
        PollCounter counter;
        const Outcome<IndexList> searched =
            search(input.items, input.cheap_items, request.rules, request.aggressive, counter);
        ASSERT_TRUE(searched.ok()) << request.describe();
        EXPECT_EQ(searched.value(), planned.value()) << request.describe();
        polled_requests += counter.polls > 0 ? 1 : 0;
    }
    // Enough of them ran past a poll for a poll that skips or repeats a step to show.
    EXPECT_GE(polled_requests, 20);
}

}  // namespace
}  // namespace kestrava::exhaustive
