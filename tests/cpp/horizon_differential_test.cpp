// Seeded differential tests of the horizon planner's text entry against the
// explicit-state reference (horizon_reference.hpp) at n = 30 .. 200.
//
// KESTRAVA_HORIZON_LONG_REQUESTS (default 300); KESTRAVA_HORIZON_SEED and
// KESTRAVA_HORIZON_FIRST pick the seed and the first request number. A mismatch
// prints the command that replays it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "horizon_reference.hpp"
#include "planner_requests.hpp"
#include "selection/planner/cheapest_periods.hpp"
#include "selection/rules/shape.hpp"

namespace kestrava {
namespace {

using testing::indices_text;
using testing::PlannerRequest;
using testing::RequestRandom;

std::uint64_t setting(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

Outcome<IndexList> horizon_answer(const PlannerRequest& request) {
    const std::vector<std::string_view> texts(request.prices.begin(), request.prices.end());
    Outcome<IndexList> outcome =
        planner::cheapest_periods(texts, request.threshold, request.rules, request.aggressive);
    if (!outcome.ok()) return Error{.kind = ErrorKind::no_valid_combination, .item_count = 0};
    return std::move(outcome).value();
}

// ---- n = 30 .. 200 against the reference ----

struct LongRequest {
    testing::ReferenceRequest reference;
    PlannerRequest texts;
};

// Prices with many cheap blocks near the run length, ties and negative values;
// rules at their edges (runs of 1, gaps of 1 or just below the run length, gap
// limits that never bind, no lead).
std::vector<std::int64_t> long_prices(RequestRandom& random, int n, int min_run) {
    std::vector<std::int64_t> units(static_cast<std::size_t>(n));
    auto small = [&](std::uint64_t range) { return static_cast<std::int64_t>(random.between(0, range)); };
    switch (random.between(0, 4)) {
        case 0:
            for (auto& u : units) u = small(5);
            break;
        case 1: {  // cheap and dear runs, the cheap ones around min_run long
            std::size_t p = 0;
            for (bool dear = random.chance(50); p < units.size(); dear = !dear) {
                const std::uint64_t run =
                    dear ? random.between(1, 4) : random.between(1, static_cast<std::uint64_t>(min_run) + 2);
                for (std::uint64_t i = 0; i < run && p < units.size(); ++i, ++p)
                    units[p] = dear ? 5 + small(10) : small(6) - 3;
            }
            break;
        }
        case 2:
            for (auto& u : units) u = small(40) - 20;
            break;
        case 3: {
            const std::int64_t value = small(8) - 3;
            for (auto& u : units) u = value;
            break;
        }
        default: {
            const std::int64_t values[] = {-2, 0, 1, 7};
            for (auto& u : units) u = values[random.between(0, 3)];
            break;
        }
    }
    return units;
}

LongRequest long_request(std::uint64_t seed, std::uint64_t number) {
    RequestRandom random(seed, number);
    const int n = static_cast<int>(random.chance(70) ? random.between(30, 80) : random.between(81, 200));
    const std::uint64_t run_choices[] = {1, 2, 3, random.between(1, 8)};
    const std::uint64_t run = run_choices[random.between(0, 3)];
    const std::uint64_t gap_choices[] = {1,
                                         std::max<std::uint64_t>(1, run - 1),
                                         run,
                                         random.between(1, 25),
                                         static_cast<std::uint64_t>(n - 1),
                                         1000000000000ULL};
    const std::uint64_t gap = gap_choices[random.between(0, 5)];
    const std::uint64_t lead_choices[] = {0, gap, random.between(0, std::min<std::uint64_t>(gap, 30))};
    const std::uint64_t most = random.chance(80) ? std::min<std::uint64_t>(static_cast<std::uint64_t>(n) - 1, 60)
                                                 : static_cast<std::uint64_t>(n) - 1;

    LongRequest request;
    SelectionRules& rules = request.texts.rules;
    rules = SelectionRules{random.between(run, std::max(run, most)), run, gap, lead_choices[random.between(0, 2)]};
    request.texts.aggressive = random.chance(50);
    const std::vector<std::int64_t> units = long_prices(random, n, static_cast<int>(run));
    std::vector<std::int64_t> sorted = units;
    std::sort(sorted.begin(), sorted.end());
    std::int64_t threshold =
        random.chance(10) ? sorted[0] - 1 : sorted[random.between(0, static_cast<std::uint64_t>(n) - 2)];
    if (threshold >= sorted.back()) threshold = sorted.back() - 1;  // every period cheap needs no search
    const unsigned scale = static_cast<unsigned>(random.between(0, 3));
    for (const std::int64_t u : units) request.texts.prices.push_back(testing::decimal_text(u, scale, 0));
    request.texts.threshold = testing::decimal_text(threshold, scale, 0);

    testing::ReferenceRequest& reference = request.reference;
    reference.prices = units;
    for (const std::int64_t u : units) reference.cheap.push_back(u <= threshold);
    reference.min_selections = static_cast<int>(rules.min_selections);
    reference.min_run = static_cast<int>(run);
    reference.max_gap = static_cast<int>(std::min<std::uint64_t>(gap, static_cast<std::uint64_t>(n) - 1));
    reference.max_lead =
        static_cast<int>(std::min<std::uint64_t>(rules.max_gap_from_start, static_cast<std::uint64_t>(n) - 1));
    return request;
}

std::string list_text(const std::vector<int>& indices) {
    std::string text = "[";
    for (std::size_t i = 0; i < indices.size(); ++i) text += (i ? ", " : "") + std::to_string(indices[i]);
    return text + "]";
}

TEST(HorizonDifferential, AgreesWithTheReferenceFromThirtyToTwoHundredPeriods) {
    const std::uint64_t seed = setting("KESTRAVA_HORIZON_SEED", 20250101);
    const std::uint64_t first = setting("KESTRAVA_HORIZON_FIRST", 0);
    const std::uint64_t requests = setting("KESTRAVA_HORIZON_LONG_REQUESTS", 300);
    std::uint64_t mismatches = 0;
    for (std::uint64_t number = first; number < first + requests && mismatches < 10; ++number) {
        const LongRequest request = long_request(seed, number);
        testing::ReferencePlanner reference(request.reference);
        const bool everything =
            request.texts.rules.min_selections == request.reference.prices.size() ||
            std::all_of(request.reference.cheap.begin(), request.reference.cheap.end(), [](bool b) { return b; });
        std::vector<int> expected;
        if (everything) {
            for (int p = 0; p < static_cast<int>(request.reference.prices.size()); ++p) expected.push_back(p);
        } else {
            expected = request.texts.aggressive ? reference.aggressive() : reference.conservative();
        }
        if (!everything) {
            std::vector<std::uint8_t> cheap(request.reference.cheap.begin(), request.reference.cheap.end());
            EXPECT_EQ(rules::make_shape(cheap, request.texts.rules).size, reference.size())
                << request.texts.describe();
        }
        const Outcome<IndexList> actual = horizon_answer(request.texts);
        std::vector<int> actual_list;
        if (actual.ok()) {
            for (const std::uint64_t p : actual.value()) actual_list.push_back(static_cast<int>(p));
        }
        if (actual.ok() && actual_list == expected) continue;
        ++mismatches;
        ADD_FAILURE() << "mismatch; replay with KESTRAVA_HORIZON_SEED=" << seed << " KESTRAVA_HORIZON_FIRST=" << number
                      << " KESTRAVA_HORIZON_LONG_REQUESTS=1 kestrava_core_tests "
                         "--gtest_filter=HorizonDifferential.*Reference*\n  "
                      << request.texts.describe() << "\n  reference (k = " << reference.size()
                      << "): " << list_text(expected) << "\n  horizon:   " << indices_text(actual);
    }
    std::cout << "[ horizon  ] seed " << seed << ": " << requests
              << " requests of 30 to 200 periods compared with the reference\n";
}

}  // namespace
}  // namespace kestrava
