// The one table of worked requests (tests/data/worked_requests.txt, whose header gives
// the format), run through the selection entry, the exhaustive search, the planner on
// Items and the planner's text entry, for both strategies.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "selection/exhaustive/exhaustive.hpp"
#include "selection/requests/cheapest_periods.hpp"
#include "selection/planner/item_plans.hpp"
#include "selection/prices/decimal_units.hpp"
#include "selection/prices/exact_units.hpp"
#include "selection/requests/request.hpp"
#include "selection_test_support.hpp"

namespace kestrava {
namespace {

struct WorkedRequest {
    int line = 0;
    std::string name;
    std::vector<std::string> prices;
    std::string threshold;
    SelectionRules rules;
    IndexList aggressive;
    IndexList conservative;
    IndexList exact_aggressive;  // the answers in exact arithmetic, where they differ
    IndexList exact_conservative;
};

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t bar; (bar = line.find(" | ", start)) != std::string::npos; start = bar + 3) {
        fields.push_back(line.substr(start, bar - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

template <class T>
std::vector<T> words_of(const std::string& field) {
    std::istringstream in(field);
    std::vector<T> words;
    for (T word; in >> word;) words.push_back(word);
    return words;
}

// nullopt for a line that does not follow the format.
std::optional<WorkedRequest> parse_row(const std::string& line, int number) {
    const std::vector<std::string> fields = fields_of(line);
    if (fields.size() != 6 && fields.size() != 8) return std::nullopt;
    const auto rules = words_of<std::uint64_t>(fields[3]);
    const auto thresholds = words_of<std::string>(fields[2]);
    if (rules.size() != 4 || thresholds.size() != 1) return std::nullopt;
    const std::size_t exact = fields.size() == 8 ? 6 : 4;
    return WorkedRequest{number,
                         fields[0],
                         words_of<std::string>(fields[1]),
                         thresholds[0],
                         SelectionRules{rules[0], rules[1], rules[2], rules[3]},
                         words_of<std::uint64_t>(fields[4]),
                         words_of<std::uint64_t>(fields[5]),
                         words_of<std::uint64_t>(fields[exact]),
                         words_of<std::uint64_t>(fields[exact + 1])};
}

std::vector<WorkedRequest> worked_requests() {
    std::ifstream file(KESTRAVA_WORKED_REQUESTS);
    EXPECT_TRUE(file.is_open()) << "cannot read " << KESTRAVA_WORKED_REQUESTS;
    std::vector<WorkedRequest> rows;
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        if (line.empty() || line.front() == '#') continue;
        const std::optional<WorkedRequest> row = parse_row(line, number);
        EXPECT_TRUE(row.has_value()) << KESTRAVA_WORKED_REQUESTS << ":" << number << ": not a request: " << line;
        if (row) rows.push_back(*row);
    }
    return rows;
}

TEST(WorkedRequests, EveryEngineGivesTheWorkedAnswers) {
    const std::vector<WorkedRequest> rows = worked_requests();
    ASSERT_GE(rows.size(), 20U);
    for (const WorkedRequest& row : rows) {
        const std::vector<Item> items = testing::items_from(row.prices);
        const std::vector<Item> cheap = testing::cheap_items_of(items, row.threshold);
        for (const bool aggressive : {true, false}) {
            SCOPED_TRACE("line " + std::to_string(row.line) + ": " + row.name +
                         (aggressive ? " (aggressive)" : " (conservative)"));
            const IndexList& expected = aggressive ? row.aggressive : row.conservative;

            testing::VectorPriceSource source({row.prices.begin(), row.prices.end()});
            const Outcome<IndexList> entry = get_cheapest_periods(source, row.threshold, row.rules, aggressive);
            ASSERT_TRUE(entry.ok());
            EXPECT_EQ(entry.value(), expected);

            const std::vector<std::string_view> texts(row.prices.begin(), row.prices.end());
            const Outcome<IndexList> exact = planner::cheapest_periods(texts, row.threshold, row.rules, aggressive);
            ASSERT_TRUE(exact.ok());
            EXPECT_EQ(exact.value(), aggressive ? row.exact_aggressive : row.exact_conservative);

            // The entry answers these without a search: every period is cheap, or asked for.
            if (cheap.size() == items.size() || row.rules.min_selections == items.size()) continue;
            const Outcome<IndexList> exhaustive = aggressive ? exhaustive::search_aggressive(items, cheap, row.rules)
                                                            : exhaustive::search_conservative(items, cheap, row.rules);
            ASSERT_TRUE(exhaustive.ok());
            EXPECT_EQ(exhaustive.value(), expected);

            // The planner may decline only prices outside its exact integers.
            const Outcome<IndexList, DeclineReason> planned = plan_exact(items, cheap, row.rules, aggressive);
            planner::PriceUnits units;
            planner::decimal_price_units(items, units);
            EXPECT_EQ(planned.ok(), planner::exact_integer_prices(units, aggressive).ok());
            if (planned.ok()) {
                EXPECT_EQ(planned.value(), expected);
            }
        }
    }
}

}  // namespace
}  // namespace kestrava
