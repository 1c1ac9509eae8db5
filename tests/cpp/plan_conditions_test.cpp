// Seeded differential fuzzing of plans under conditions: the planner's plan entry
// against the literal definition (plan_definition.hpp) on random masks and carried
// states, n <= 14, both strategies, the cause of every plan that has none. The
// generator aims at the edges of the planner's reasoning: blocked stretches of
// exactly G and G + 1, stretches of allowed periods exactly min_run long (sizes with
// holes), carried runs of min_run - 1 and min_run, off_for that makes the lead exactly
// tight, cheap blocks at period 0 and beside blocked periods; under a strict end, a
// cheap run of min_run - 1 or min_run periods at the last period; the most expensive
// plan (prices and threshold negated by the literal definition only).
//
// KESTRAVA_FUZZ_CONDITIONS sets the number of requests (default 4000),
// KESTRAVA_FUZZ_SEED the seed and KESTRAVA_FUZZ_FIRST the first request's number; a
// mismatch prints the request.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "plan_definition.hpp"
#include "planner_requests.hpp"
#include "selection/requests/cheapest_periods.hpp"

namespace kestrava {
namespace {

using testing::LiteralAnswer;
using testing::LiteralPlan;
using testing::RequestRandom;

std::uint64_t setting(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

void block_stretch(LiteralPlan& plan, RequestRandom& random, std::uint64_t length) {
    const std::uint64_t n = plan.n();
    if (length == 0 || length > n) return;
    const std::uint64_t first = random.between(0, n - length);
    for (std::uint64_t p = first; p < first + length; ++p) plan.allowed[p] = false;
}

// Allowed stretches of exactly min_run periods between single blocked ones.
void exact_stretches(LiteralPlan& plan) {
    const std::size_t step = plan.rules.min_consecutive_periods + 1;
    for (std::size_t p = plan.rules.min_consecutive_periods; p < plan.n(); p += step) plan.allowed[p] = false;
}

void random_mask(LiteralPlan& plan, RequestRandom& random) {
    const std::uint64_t gap = plan.rules.max_gap_between_periods;
    switch (random.between(0, 5)) {
        case 0:
            break;  // nothing blocked: the carried state alone
        case 1:
            for (std::size_t p = 0; p < plan.n(); ++p) plan.allowed[p] = !random.chance(25);
            break;
        case 2:
            block_stretch(plan, random, gap);
            block_stretch(plan, random, random.between(1, 3));
            break;
        case 3:
            block_stretch(plan, random, gap + 1);
            break;
        case 4:
            exact_stretches(plan);
            break;
        default:
            plan.allowed[0] = false;
            block_stretch(plan, random, random.between(1, 2));
            break;
    }
}

void random_carried(LiteralPlan& plan, RequestRandom& random) {
    const SelectionRules& rules = plan.rules;
    const std::uint64_t run = rules.min_consecutive_periods;
    switch (random.between(0, 4)) {
        case 0:
            break;
        case 1:
            plan.running_for = run > 1 ? run - 1 : 1;
            break;
        case 2:
            plan.running_for = random.between(1, run + 2);
            break;
        case 3:  // the lead exactly tight, or one past
            plan.off_for = rules.max_gap_between_periods - rules.max_gap_from_start + random.between(0, 1);
            break;
        default:
            plan.off_for = random.between(1, rules.max_gap_between_periods + 2);
            break;
    }
}

// A cheap run of min_run - 1 or min_run periods at the end, kept apart by a dear
// period before it: the strict end decides whether it stands alone.
void cheap_tail(LiteralPlan& plan, RequestRandom& random) {
    const std::size_t n = plan.n();
    const std::size_t run = plan.rules.min_consecutive_periods - random.between(0, 1);
    if (run == 0 || run + 1 > n) return;
    const std::int64_t cheap = plan.most_expensive ? plan.threshold + 1 : plan.threshold - 1;
    const std::int64_t dear = plan.most_expensive ? plan.threshold - 3 : plan.threshold + 3;
    for (std::size_t p = n - run; p < n; ++p) plan.prices[p] = cheap;
    plan.prices[n - run - 1] = dear;
}

// Days of random lengths, down to one period, so that boundaries fall inside heads,
// runs and gaps; quotas from 0 to a day's length and now and then one more, the first
// day's lowered as done_today lowers it, and days cut by either end of the horizon.
void random_days(LiteralPlan& plan, RequestRandom& random) {
    if (!random.chance(50)) return;
    const std::size_t n = plan.n();
    const std::uint64_t longest = random.chance(30) ? 2 : n;
    std::uint32_t day = 0;
    std::size_t left = random.between(1, longest);
    for (std::size_t p = 0; p < n; ++p, --left) {
        if (left == 0) {
            ++day;
            left = random.between(1, longest);
        }
        plan.day_of.push_back(day);
    }
    plan.day_quota.assign(day + 1, 0);
    std::vector<std::uint32_t> lengths(day + 1, 0);
    for (const std::uint32_t d : plan.day_of) ++lengths[d];
    for (std::size_t d = 0; d <= day; ++d) {
        const std::uint64_t most = lengths[d] + (random.chance(5) ? 1 : 0);
        plan.day_quota[d] = static_cast<std::uint32_t>(random.chance(70) ? random.between(0, most) : 0);
    }
}

LiteralPlan random_plan(std::uint64_t seed, std::uint64_t number, std::uint64_t min_n = 2, std::uint64_t max_n = 14) {
    RequestRandom random(seed, number);
    LiteralPlan plan;
    const std::size_t n = random.between(min_n, max_n);
    const bool ties = random.chance(40);
    for (std::size_t p = 0; p < n; ++p) {
        plan.prices.push_back(ties ? static_cast<std::int64_t>(random.between(0, 4))
                                   : static_cast<std::int64_t>(random.between(0, 40)) - 15);
    }
    plan.threshold = plan.prices[random.between(0, n - 1)] - static_cast<std::int64_t>(random.between(0, 1));
    SelectionRules& rules = plan.rules;
    rules.min_selections = random.between(1, random.chance(20) ? n : (n + 1) / 2);
    rules.min_consecutive_periods = random.between(1, std::min<std::uint64_t>(rules.min_selections, 4 + n / 8));
    rules.max_gap_between_periods = random.between(1, n / 2 + 1);
    rules.max_gap_from_start = random.between(0, rules.max_gap_between_periods);
    plan.allowed.assign(n, true);
    random_carried(plan, random);
    // A carried run may ask for the periods that complete it.
    if (plan.running_for > 0 && random.chance(25)) rules.min_consecutive_periods += random.between(1, plan.running_for);
    random_mask(plan, random);
    random_days(plan, random);
    plan.aggressive = random.chance(50);
    plan.most_expensive = random.chance(30);
    plan.strict_end = random.chance(40);
    if (plan.strict_end && random.chance(50)) cheap_tail(plan, random);
    return plan;
}

std::string described(const LiteralPlan& plan) {
    std::ostringstream out;
    out << "prices [";
    for (std::size_t p = 0; p < plan.n(); ++p) out << (p ? ", " : "") << plan.prices[p];
    out << "], threshold " << plan.threshold << ", rules " << plan.rules.min_selections << " "
        << plan.rules.min_consecutive_periods << " " << plan.rules.max_gap_between_periods << " "
        << plan.rules.max_gap_from_start << ", allowed ";
    for (const bool allowed : plan.allowed) out << (allowed ? '1' : '0');
    out << ", running_for " << plan.running_for << ", off_for " << plan.off_for << ", "
        << (plan.aggressive ? "aggressive" : "conservative") << (plan.strict_end ? ", strict end" : "")
        << (plan.most_expensive ? ", most expensive" : "");
    if (!plan.day_quota.empty()) {
        out << ", days ";
        for (const std::uint32_t day : plan.day_of) out << day << ' ';
        out << "quotas";
        for (const std::uint32_t quota : plan.day_quota) out << ' ' << quota;
    }
    return out.str();
}

int cause_of(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::blocked_stretch_too_long:
            return 1;
        case ErrorKind::too_few_allowed:
            return 2;
        case ErrorKind::carried_run_cut:
            return 3;
        case ErrorKind::off_for_no_start:
            return 4;
        case ErrorKind::day_below_quota:
            return 5;
        case ErrorKind::short_last_run:
            return 6;
        case ErrorKind::no_plan:
            return 7;
        default:
            return -1;
    }
}

// The planner's answer in the literal form.
LiteralAnswer planned(const LiteralPlan& plan) {
    std::vector<std::string> texts;
    for (const std::int64_t price : plan.prices) texts.push_back(std::to_string(price));
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    const std::vector<std::uint8_t> allowed(plan.allowed.begin(), plan.allowed.end());
    rules::Conditions conditions;
    conditions.allowed = allowed;
    conditions.running_for = plan.running_for;
    conditions.off_for = plan.off_for;
    conditions.strict_end = plan.strict_end;
    conditions.most_expensive = plan.most_expensive;
    conditions.day_of = plan.day_of;
    conditions.day_quota = plan.day_quota;
    const Outcome<planner::PlanAnswer> outcome = planner::plan_periods(
        views, std::to_string(plan.threshold), plan.rules, conditions, plan.aggressive);
    if (!outcome.ok()) return LiteralAnswer{cause_of(outcome.error().kind), {}, 0};
    return LiteralAnswer{0, outcome.value().periods, outcome.value().base_size};
}

std::string answer_text(const LiteralAnswer& answer) {
    if (answer.cause != 0) return "no plan, cause " + std::to_string(answer.cause);
    std::string text = "[";
    for (std::size_t i = 0; i < answer.periods.size(); ++i) text += (i ? ", " : "") + std::to_string(answer.periods[i]);
    return text + "] base " + std::to_string(answer.base_size);
}

TEST(PlanConditionsFuzz, AgreesWithTheLiteralDefinition) {
    const std::uint64_t seed = setting("KESTRAVA_FUZZ_SEED", 20240101);
    const std::uint64_t requests = setting("KESTRAVA_FUZZ_CONDITIONS", 4000);
    std::uint64_t mismatches = 0;
    std::uint64_t planned_count = 0;
    std::uint64_t causes[8] = {};
    for (std::uint64_t number = setting("KESTRAVA_FUZZ_FIRST", 0); number < requests && mismatches < 10; ++number) {
        const LiteralPlan plan = random_plan(seed, number);
        const LiteralAnswer expected = testing::literal_answer(plan);
        LiteralAnswer answer;
        ASSERT_NO_THROW(answer = planned(plan)) << "request " << number << ": " << described(plan);
        ++causes[expected.cause];
        planned_count += expected.cause == 0 ? 1 : 0;
        const bool agrees = answer.cause == expected.cause &&
                            (expected.cause != 0 ||
                             (answer.periods == expected.periods && answer.base_size == expected.base_size));
        if (agrees) continue;
        ++mismatches;
        ADD_FAILURE() << "request " << number << ": " << described(plan) << "\n  planner: " << answer_text(answer)
                      << "\n  literal: " << answer_text(expected);
    }
    std::cout << "[ fuzz     ] seed " << seed << ": " << requests << " plans, " << causes[0] << " planned, causes 1-7:";
    for (int cause = 1; cause <= 7; ++cause) std::cout << ' ' << causes[cause];
    std::cout << ", "
              << mismatches << " mismatches\n";
}

// Beyond the literal definition's reach (n from 15 to 160): every answer keeps every
// rule, chooses no blocked period, holds at least its base size, and no request ends
// in an internal failure (a band that missed a state of a valid selection would).
TEST(PlanConditionsFuzz, LongerPlansKeepEveryRule) {
    const std::uint64_t seed = setting("KESTRAVA_FUZZ_SEED", 20240101);
    const std::uint64_t requests = setting("KESTRAVA_FUZZ_CONDITIONS", 4000) / 4;
    std::uint64_t planned_count = 0;
    for (std::uint64_t number = 0; number < requests; ++number) {
        const LiteralPlan plan = random_plan(seed, number, 15, 160);
        LiteralAnswer answer;
        ASSERT_NO_THROW(answer = planned(plan)) << described(plan);
        if (answer.cause != 0) continue;
        ++planned_count;
        testing::Chosen chosen(plan.n(), false);
        for (const std::uint64_t p : answer.periods) chosen[p] = true;
        ASSERT_TRUE(testing::meets_rules(plan, chosen) && testing::meets_quota(plan, chosen)) << described(plan) << "\n  planner: " << answer_text(answer);
        ASSERT_GE(answer.base_size, plan.rules.min_selections) << described(plan);
        ASSERT_LE(answer.base_size, answer.periods.size()) << described(plan);
    }
    std::cout << "[ fuzz     ] seed " << seed << ": " << requests << " longer plans, " << planned_count << " planned\n";
}

}  // namespace
}  // namespace kestrava
