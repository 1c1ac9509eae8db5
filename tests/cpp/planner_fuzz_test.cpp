// Seeded differential fuzzing: the planner, on Items and through its text entry,
// against the exhaustive search on random requests (n <= 28, both strategies, ties,
// negative prices, every amount of cheap periods, tight and loose rules). Longer
// requests are checked against the Python model (tests/python/test_plan_differential.py).
//
// The default run is short. For the long tier set KESTRAVA_FUZZ_REQUESTS (for
// example 10000000); KESTRAVA_FUZZ_SEED picks another seed, KESTRAVA_FUZZ_FIRST the
// first request number, KESTRAVA_FUZZ_MAX_N the largest n (default and most 16).
// A mismatch prints the command that replays that one request.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

#include "planner_requests.hpp"

namespace kestrava {
namespace {

std::uint64_t setting(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

TEST(PlannerFuzz, AgreesWithTheExhaustiveSearch) {
    const std::uint64_t seed = setting("KESTRAVA_FUZZ_SEED", 20240101);
    const std::uint64_t first = setting("KESTRAVA_FUZZ_FIRST", 0);
    const std::uint64_t requests = setting("KESTRAVA_FUZZ_REQUESTS", 20000);
    const std::size_t max_n = static_cast<std::size_t>(std::min<std::uint64_t>(setting("KESTRAVA_FUZZ_MAX_N", 16), 16));

    std::uint64_t answered = 0;
    std::uint64_t mismatches = 0;
    for (std::uint64_t number = first; number < first + requests; ++number) {
        const testing::PlannerRequest request = testing::random_request(seed, number, max_n);
        const testing::Comparison comparison = testing::compare_engines(request);
        answered += comparison.answered ? 1 : 0;
        if (!comparison.agrees) {
            ++mismatches;
            ADD_FAILURE() << "mismatch; replay with KESTRAVA_FUZZ_SEED=" << seed << " KESTRAVA_FUZZ_FIRST=" << number
                          << " KESTRAVA_FUZZ_REQUESTS=1 KESTRAVA_FUZZ_MAX_N=" << max_n
                          << " kestrava_core_tests --gtest_filter=PlannerFuzz.*\n  " << comparison.report;
            if (mismatches >= 10) break;
        }
    }
    // Every generated price fits the exact fast path, so the planner must take each request.
    EXPECT_EQ(answered, requests) << "requests left to the exhaustive search";
    std::cout << "[ fuzz     ] seed " << seed << ": " << answered << " requests compared, " << mismatches
              << " mismatches\n";
}

// n from 17 to 28, with rules under which the exhaustive search stays short: the
// tie-break bits, masks and count columns at their full width.
TEST(PlannerFuzz, AgreesWithTheExhaustiveSearchUpToTwentyEightPeriods) {
    const std::uint64_t seed = setting("KESTRAVA_FUZZ_SEED", 20240101);
    const std::uint64_t first = setting("KESTRAVA_FUZZ_FIRST", 0);
    const std::uint64_t requests = setting("KESTRAVA_FUZZ_LARGE_REQUESTS", 300);

    std::uint64_t mismatches = 0;
    for (std::uint64_t number = first; number < first + requests; ++number) {
        const testing::PlannerRequest request = testing::random_request(seed, number, 28, true);
        const testing::Comparison comparison = testing::compare_engines(request);
        EXPECT_TRUE(comparison.answered) << request.describe();
        if (!comparison.agrees) {
            ++mismatches;
            ADD_FAILURE() << "mismatch; replay with KESTRAVA_FUZZ_SEED=" << seed << " KESTRAVA_FUZZ_FIRST=" << number
                          << " KESTRAVA_FUZZ_LARGE_REQUESTS=1"
                          << " kestrava_core_tests --gtest_filter=PlannerFuzz.*TwentyEight*\n  " << comparison.report;
            if (mismatches >= 10) break;
        }
    }
}

}  // namespace
}  // namespace kestrava
