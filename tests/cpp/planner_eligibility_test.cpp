// The edge of the planner's exact integer path: requests just inside each bound
// are answered, and answered as the exhaustive search answers them; requests just
// outside are declined with the bound they break.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "planner_requests.hpp"
#include "selection/prices/exact_units.hpp"

namespace kestrava {
namespace {

using testing::decimal_text;
using testing::int128;
using testing::PlannerRequest;

constexpr int128 two_to_the(int exponent) { return int128{1} << exponent; }

constexpr int128 power_of_ten(int exponent) {
    int128 power = 1;
    for (int i = 0; i < exponent; ++i) power *= 10;
    return power;
}

// floor((2^96 - 1) / 10^d): the largest price, in units, whose averages keep d guard digits.
constexpr int128 largest_for_averages(int guard_digits) { return (two_to_the(96) - 1) / power_of_ten(guard_digits); }

struct BoundaryCase {
    std::string name;
    PlannerRequest request;
    std::optional<DeclineReason> declined;  // nullopt: answered
};

constexpr std::nullopt_t answered = std::nullopt;
constexpr DeclineReason past_limit = DeclineReason::magnitudes_past_exact_limit;
constexpr DeclineReason past_96_bits = DeclineReason::averages_past_96_bits;
constexpr DeclineReason past_28_decimals = DeclineReason::averages_past_28_decimals;

// Declined by the aggressive strategy alone: the conservative one compares no averages.
std::optional<DeclineReason> when_averaged(bool aggressive, DeclineReason reason) {
    return aggressive ? std::optional(reason) : std::nullopt;
}

PlannerRequest request_of(const std::vector<int128>& units, unsigned scale, bool aggressive) {
    PlannerRequest request;
    for (const int128 u : units) request.prices.push_back(decimal_text(u, scale, 0));
    // The threshold makes the lowest prices cheap, never all of them (the engines'
    // precondition); the rules keep the exhaustive search short.
    std::vector<int128> sorted = units;
    std::sort(sorted.begin(), sorted.end());
    const int128 threshold = sorted[units.size() / 4] < sorted.back() ? sorted[units.size() / 4] : sorted.front();
    request.threshold = decimal_text(threshold, scale, 0);
    const std::uint64_t n = units.size();
    request.rules = SelectionRules{n - 1, 1, 1, 1};
    request.aggressive = aggressive;
    return request;
}

// n prices near 10^(base_digits - scale), a few units of the last decimal apart: their
// averages part only in the last digits of a 28-digit quotient.
std::vector<int128> near(std::size_t n, int base_digits) {
    std::vector<int128> units;
    for (std::size_t i = 0; i < n; ++i)
        units.push_back(power_of_ten(base_digits) + static_cast<int128>((i * 7) % 5) - 2);
    return units;
}

std::vector<BoundaryCase> boundary_cases() {
    std::vector<BoundaryCase> cases;
    const int128 quarter = two_to_the(88);
    for (const bool aggressive : {true, false}) {
        const std::string strategy = aggressive ? " (aggressive)" : " (conservative)";
        // The sum of magnitudes in units of the common scale: at most 2^90.
        cases.push_back({"magnitudes summing to exactly 2^90" + strategy,
                         request_of({quarter, quarter, -quarter, quarter}, 0, aggressive), answered});
        cases.push_back({"magnitudes summing to 2^90 + 1" + strategy,
                         request_of({quarter, quarter, -quarter, quarter + 1}, 0, aggressive), past_limit});
        // 0.5 brings the common scale to 1, so that -1000 counts 10000 units.
        const int128 rest = two_to_the(89) - 10005;
        cases.push_back({"2^90 units at scale 1" + strategy,
                         request_of({5, -10000, two_to_the(89), rest}, 1, aggressive), answered});
        cases.push_back({"2^90 + 1 units at scale 1" + strategy,
                         request_of({5, -10000, two_to_the(89), rest + 1}, 1, aggressive), past_limit});
    }

    // One price may be the whole sum: 2^90 units, a 91-bit magnitude (sums only: its
    // averages would pass 96 bits).
    cases.push_back({"one price of 2^90 units, the rest zero", request_of({two_to_the(90), 0, 0}, 0, false), answered});
    cases.push_back({"one price of 2^90 + 1 units", request_of({two_to_the(90) + 1, 0, 0}, 0, false), past_limit});

    // Averages need the largest price times 10^d to fit in 96 bits: d = 2 for 3 prices,
    // 4 for 23. The conservative strategy compares sums only and takes both.
    for (const bool aggressive : {true, false}) {
        const std::string strategy = aggressive ? " (aggressive)" : " (conservative)";
        cases.push_back({"the largest price for averages over 3" + strategy,
                         request_of({largest_for_averages(2), 1, 2}, 0, aggressive), answered});
        cases.push_back({"one unit above it" + strategy, request_of({largest_for_averages(2) + 1, 1, 2}, 0, aggressive),
                         when_averaged(aggressive, past_96_bits)});
        cases.push_back({"the most negative price for averages over 3" + strategy,
                         request_of({-largest_for_averages(2), 1, 2}, 0, aggressive), answered});
        cases.push_back({"one unit below it" + strategy,
                         request_of({-largest_for_averages(2) - 1, 1, 2}, 0, aggressive),
                         when_averaged(aggressive, past_96_bits)});
        std::vector<int128> twenty_three(23, 3);
        twenty_three[11] = largest_for_averages(4);
        cases.push_back(
            {"the largest price for averages over 23" + strategy, request_of(twenty_three, 0, aggressive), answered});
        twenty_three[11] += 1;
        cases.push_back({"one unit above it, 23 prices" + strategy, request_of(twenty_three, 0, aggressive),
                         when_averaged(aggressive, past_96_bits)});
    }

    // Averages also need the common scale plus d to stay within 28 decimals. The
    // prices are small enough that the other bounds hold: near 1 inside, near 0.1 or
    // 0.001 just outside.
    for (const bool aggressive : {true, false}) {
        const std::string strategy = aggressive ? " (aggressive)" : " (conservative)";
        cases.push_back({"23 prices at 24 decimals" + strategy, request_of(near(23, 24), 24, aggressive), answered});
        cases.push_back({"23 prices at 25 decimals" + strategy,
                         request_of(near(23, 24), 25, aggressive), when_averaged(aggressive, past_28_decimals)});
        cases.push_back({"22 prices at 25 decimals" + strategy, request_of(near(22, 25), 25, aggressive), answered});
        cases.push_back({"22 prices at 26 decimals" + strategy,
                         request_of(near(22, 25), 26, aggressive), when_averaged(aggressive, past_28_decimals)});
        cases.push_back({"2 prices at 27 decimals" + strategy, request_of(near(2, 25), 27, aggressive), answered});
        cases.push_back({"2 prices at 28 decimals" + strategy,
                         request_of(near(2, 25), 28, aggressive), when_averaged(aggressive, past_28_decimals)});
    }

    // Zero digits at the end do not count towards the scale.
    PlannerRequest padded = request_of(near(23, 24), 24, true);
    for (std::string& price : padded.prices) price += "0000";
    cases.push_back({"24 significant decimals written with 28", padded, answered});
    // Two prices allow 27 decimals: 28 written, the last a zero, for small and for
    // wide coefficients.
    for (const int base_digits : {1, 25}) {
        PlannerRequest small = request_of(near(2, base_digits), 27, true);
        for (std::string& price : small.prices) price += "0";
        cases.push_back({"27 significant decimals written with 28, " + std::to_string(base_digits + 1) + " digits",
                         small, answered});
    }

    // A price written with fewer decimals is scaled up to the common scale in 128 bits:
    // exactly up to 2^90 units, and never where the product would wrap around.
    // floor(2^90 / 10^20) = 12379400, and 12379400 * 10^20 + 1 <= 2^90.
    // Conservative: averages would need guard digits that these magnitudes lack.
    const auto scaled = [](std::string whole, std::string fine) {
        return PlannerRequest{{std::move(whole), std::move(fine), "0"}, "0", SelectionRules{2, 1, 1, 1}, false};
    };
    const std::string one_unit_at_20 = "0.00000000000000000001";
    cases.push_back({"scaled by 10^20 to just below 2^90 units", scaled("12379400", one_unit_at_20), answered});
    cases.push_back({"one unit more scales past 2^90", scaled("12379401", one_unit_at_20), past_limit});
    cases.push_back({"the largest decimal scaled by 10^28 would wrap 128 bits",
                     scaled("79228162514264337593543950335", "0.0000000000000000000000000001"), past_limit});
    return cases;
}

TEST(PlannerEligibility, JustInsideAgreesAndJustOutsideFallsBack) {
    for (const BoundaryCase& c : boundary_cases()) {
        SCOPED_TRACE(c.name + ": " + c.request.describe());
        const testing::Comparison comparison = testing::compare_engines(c.request);
        EXPECT_EQ(comparison.declined, c.declined);
        EXPECT_TRUE(comparison.agrees) << comparison.report;
    }
}

TEST(PlannerEligibility, GuardDigitsKeepAveragesOfUpToNPeriodsApart) {
    // The smallest d with 10^d >= 2 n^2.
    const std::vector<std::pair<std::size_t, unsigned>> table = {{1, 1}, {2, 1},  {3, 2},  {7, 2},
                                                                 {8, 3}, {22, 3}, {23, 4}, {28, 4}};
    for (const auto& [n, digits] : table) EXPECT_EQ(planner::average_guard_digits(n), digits) << "n = " << n;
}

}  // namespace
}  // namespace kestrava
