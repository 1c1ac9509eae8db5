// Seeded differential fuzzing aimed at the rounding regime: prices with 20 to 40
// decimals, converted prices, magnitudes at the 96-bit bounds, near-ties and near ties
// that fall a unit at a time, where a decimal sum rounds (or overflows) and the exact
// planner steps aside. The selection entry, planner_answer (the exact planner, then
// the one for sums that round) and swept_answer (the same, sweeping the reach limits
// at once) are each compared with the exhaustive search on the same items, "Addition
// overflowed" included.
//
// KESTRAVA_FUZZ_ROUNDING_REQUESTS sets the number of requests (n <= 16, at most
// KESTRAVA_FUZZ_ROUNDING_MAX_N), KESTRAVA_FUZZ_ROUNDING_LARGE_REQUESTS those at n = 17
// to 24; KESTRAVA_FUZZ_SEED and KESTRAVA_FUZZ_FIRST pick the seed and first request.
// A mismatch prints the command that replays that one request.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decimal/decimal.hpp"
#include "planner_requests.hpp"
#include "selection/exhaustive/exhaustive.hpp"
#include "selection/internal_failure.hpp"
#include "selection/planner/item_plans.hpp"
#include "selection/requests/request.hpp"
#include "selection_test_support.hpp"

namespace kestrava {
namespace {

using testing::decimal_text;
using testing::int128;
using testing::PlannerRequest;
using testing::RequestRandom;

// The planners as the selection entry tries them; nullopt leaves a request to the
// exhaustive search.
std::optional<IndexList> planner_answer(std::span<const Item> items, std::span<const Item> cheap_items,
                                        const SelectionRules& rules, bool aggressive) {
    auto planned = plan_exact(items, cheap_items, rules, aggressive);
    if (planned.ok()) return std::move(planned).value();
    auto rounded = plan_rounded(items, cheap_items, rules, aggressive);
    if (rounded.ok()) return std::move(rounded).value();
    return std::nullopt;
}

// The same with the rounded walks swept at once (floor_reach.hpp), not only when a
// quick walk runs long.
std::optional<IndexList> swept_answer(std::span<const Item> items, std::span<const Item> cheap_items,
                                      const SelectionRules& rules, bool aggressive) {
    auto planned = plan_exact(items, cheap_items, rules, aggressive);
    if (planned.ok()) return std::move(planned).value();
    auto rounded = plan_rounded(items, cheap_items, rules, aggressive, RoundedWalk::swept);
    if (rounded.ok()) return std::move(rounded).value();
    return std::nullopt;
}

std::uint64_t setting(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

Decimal value_of(const std::string& text) { return Decimal::parse(text).value(); }

std::string quotient_text(const std::string& dividend, const std::string& divisor) {
    return divide(value_of(dividend), value_of(divisor)).value.to_string();
}

// ---------------------------------------------------------------------------
// Price generators, one per way a rounded sum could part the engines.

enum class Family {
    long_decimals,  // 20 to 28 decimals, or 29 to 40 that parsing rounds
    converted,      // short real prices divided by a rate, or a double's binary value
    near_bounds,    // coefficients near 2^96, sums near 2^90, 2^95 and 2^96
    near_ties,      // thirds, neighbours 10^-28 apart, repeats, cheap/dear runs
    near_zero,      // optima within a few rounding units of zero
    lopsided,       // one dear price beside long small ones; ties far below the rounding unit
    falling,        // near ties that fall (or zigzag, or rise) a unit at a time, sums crossing 2^96
    count
};

// `decimals` random fraction digits behind an integer part of at most `whole_limit`.
std::string random_fraction_text(RequestRandom& random, std::uint64_t whole_limit, unsigned decimals, bool negative) {
    std::string text;
    if (negative) text.push_back('-');
    text.append(std::to_string(random.between(0, whole_limit)));
    text.push_back('.');
    for (unsigned d = 0; d < decimals; ++d) text.push_back(static_cast<char>('0' + random.between(0, 9)));
    return text;
}

void long_decimals(RequestRandom& random, std::vector<std::string>& prices) {
    const bool rounded_by_parsing = random.chance(30);
    const std::uint64_t whole_limit = random.chance(50) ? 2 : 300;
    for (std::string& price : prices) {
        const unsigned decimals =
            static_cast<unsigned>(rounded_by_parsing ? random.between(29, 40) : random.between(20, 28));
        price = random_fraction_text(random, whole_limit, decimals, random.chance(20));
    }
}

// A real-looking price: -50.00 to 300.00, at 0 to 2 decimals.
std::string short_price(RequestRandom& random) {
    const int128 cents = static_cast<int128>(random.between(0, 35000)) - 5000;
    const unsigned scale = static_cast<unsigned>(random.between(0, 2));
    return decimal_text(scale == 2 ? cents : cents / (scale == 1 ? 10 : 100), scale, 0);
}

std::string binary_value_text(const std::string& price) {
    // glibc prints the exact expansion of the double; trailing zeros go.
    char digits[1200];
    std::snprintf(digits, sizeof digits, "%.1074f", std::strtod(price.c_str(), nullptr));
    std::string text = digits;
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
    return text;
}

void converted(RequestRandom& random, std::vector<std::string>& prices) {
    static const char* const rates[] = {"1.0856", "1.19", "3", "7", "1000"};
    const bool as_double = random.chance(25);
    const char* rate = rates[random.between(0, 4)];
    for (std::string& price : prices) {
        price = as_double ? binary_value_text(short_price(random)) : quotient_text(short_price(random), rate);
    }
}

// Prices of either sign whose sides add up past 2^96 while a few of them, with the
// cheap ones, or their partial sums, may not: magnitudes spread below 2^96 / j, some with decimals. Sums of
// k periods and their cheap blocks then come near 2^96 from both sides, and the sum
// of every price overflows in some index orders and not in others.
void past_the_bound(RequestRandom& random, std::vector<std::string>& prices) {
    const std::uint64_t spread = random.between(1, 6);
    const unsigned negative_percent = static_cast<unsigned>(random.between(0, 60));
    const unsigned scale = random.chance(70) ? 0 : static_cast<unsigned>(random.between(1, 3));
    for (std::string& price : prices) {
        const int128 limit = (int128{1} << 96) / static_cast<int128>(random.between(1, spread));
        const int128 whole = (static_cast<int128>(random.next()) << 32 ^ static_cast<int128>(random.next())) % limit;
        int128 units = whole;
        for (unsigned d = 0; d < scale; ++d) units = units * 10 + static_cast<int128>(random.between(0, 9));
        price = decimal_text(random.chance(negative_percent) ? -units : units, scale, 0);
    }
    // One sign first: partial sums run far past what whole selections add up to.
    if (random.chance(30)) {
        const bool positives_first = random.chance(50);
        std::stable_partition(prices.begin(), prices.end(),
                              [&](const std::string& price) { return (price.front() == '-') != positives_first; });
    }
}

// Magnitudes at the edges of 96 bits: sums that round to a smaller scale, and at
// scale 0 overflow, which both engines must report alike.
void near_bounds(RequestRandom& random, std::vector<std::string>& prices) {
    if (random.chance(40)) return past_the_bound(random, prices);
    const unsigned scale = static_cast<unsigned>(random.chance(30) ? random.between(0, 2) : random.between(0, 28));
    const int128 top = int128{1} << 96;
    int128 magnitude = top - 1;
    if (random.chance(70)) {
        static const unsigned sum_bits[] = {90, 95, 96};
        const int128 sum = int128{1} << sum_bits[random.between(0, 2)];
        magnitude = std::min(top - 1, sum / static_cast<int128>(random.between(1, prices.size())));
    }
    const unsigned negative_percent = static_cast<unsigned>(random.between(0, 60));
    for (std::string& price : prices) {
        const int128 units = magnitude - static_cast<int128>(random.between(0, 1000));
        price = decimal_text(random.chance(negative_percent) ? -units : units, scale, 0);
    }
}

// Cheap and dear runs of 1 to 3 from two price pools.
void alternating(RequestRandom& random, std::vector<std::string>& prices, const std::vector<std::string>& cheap,
                 const std::vector<std::string>& dear) {
    bool is_dear = random.chance(50);
    std::size_t run = random.between(1, 3);
    for (std::string& price : prices) {
        const std::vector<std::string>& pool = is_dear ? dear : cheap;
        price = pool[random.between(0, pool.size() - 1)];
        if (--run == 0) {
            run = random.between(1, 3);
            is_dear = !is_dear;
        }
    }
}

// x, x + d, x - d in turn (d a unit of the last decimal), now and then another of
// them: many merges reach the least average any merge can have, and the first in
// the order must win (a settled merge walk).
void floor_cycle(RequestRandom& random, std::vector<std::string>& prices) {
    const unsigned scale = static_cast<unsigned>(random.between(26, 28));
    int128 base = static_cast<int128>(random.between(0, 7));
    for (unsigned d = 0; d < scale; ++d) base *= 10;
    static const int offsets[] = {0, 1, -1};
    const std::size_t shift = random.between(0, 2);
    for (std::size_t i = 0; i < prices.size(); ++i) {
        const std::size_t pick = random.chance(20) ? random.between(0, 2) : (i + shift) % 3;
        prices[i] = decimal_text(base + offsets[pick], scale, 0);
    }
}

void near_ties(RequestRandom& random, std::vector<std::string>& prices) {
    std::vector<std::string> pool;
    const std::uint64_t shape = random.between(0, 4);
    if (shape == 4) return floor_cycle(random, prices);
    if (shape == 0) {  // k / 3 at 28 digits: three thirds do not sum to one
        for (int k = -3; k <= 6; ++k) pool.push_back(quotient_text(std::to_string(k), "3"));
    } else if (shape == 1) {  // a few units of the 28th decimal apart
        const int128 base = static_cast<int128>(random.next() % 7'000'000'000'000'000'000ULL) * 10'000'000'000;
        for (int k = 0; k < 6; ++k)
            pool.push_back(decimal_text(base + static_cast<int128>(random.between(0, 5)), 28, 0));
    } else {  // two or three long prices, repeated: many exact ties
        for (std::uint64_t k = random.between(2, 3); k > 0; --k)
            pool.push_back(random_fraction_text(random, 9, 28, random.chance(20)));
    }
    if (shape == 3) {
        std::vector<std::string> dear;
        for (int k = 0; k < 3; ++k)
            dear.push_back(random_fraction_text(random, 300, static_cast<unsigned>(random.between(20, 26)), false));
        alternating(random, prices, pool, dear);
        return;
    }
    for (std::string& price : prices) price = pool[random.between(0, pool.size() - 1)];
}

// Zero prices beside a few units of the 28th decimal, either sign, and now and then
// a dear period: merges of equal sums and different counts.
void tiny_around_zero(RequestRandom& random, std::vector<std::string>& prices) {
    for (std::string& price : prices) {
        const int128 units = static_cast<int128>(random.between(0, 10)) - 5;
        price = random.chance(10)   ? decimal_text(static_cast<int128>(random.between(1, 300)), 0, 0)
                : random.chance(40) ? std::string("0")
                                    : decimal_text(units, static_cast<unsigned>(random.between(26, 28)), 0);
    }
}

// Long decimals and their negations, with zeros between: selections that cancel.
void cancelling_pairs(RequestRandom& random, std::vector<std::string>& prices) {
    std::vector<std::string> pool{"0"};
    for (std::uint64_t k = random.between(1, 3); k > 0; --k) {
        const std::string value = random_fraction_text(random, random.chance(50) ? 0 : 9, 28, false);
        pool.push_back(value);
        pool.push_back("-" + value);
    }
    for (std::string& price : prices) price = pool[random.between(0, pool.size() - 1)];
}

// A day in another currency: dear mornings and evenings, zero and slightly negative
// hours in a midday stretch, every price divided by an exchange rate.
void converted_midday(RequestRandom& random, std::vector<std::string>& prices) {
    static const char* const rates[] = {"0.8571", "1.0856", "1.19", "3", "7"};
    const char* rate = rates[random.between(0, 4)];
    const std::size_t n = prices.size();
    const std::size_t first = random.between(0, n - 1);
    const std::size_t last = std::min(n - 1, first + random.between(0, n / 2));
    for (std::size_t i = 0; i < n; ++i) {
        const bool midday = i >= first && i <= last;
        const int128 cents = midday ? (random.chance(50) ? 0 : -static_cast<int128>(random.between(1, 500)))
                                    : static_cast<int128>(random.between(0, 30000));
        prices[i] = quotient_text(decimal_text(cents, 2, 0), rate);
    }
}

// Dear prices of 10^e make the sums round at about 28 - e digits; the cheap ones are
// zero or a few units of those last digits, so the optimum's average is within a few
// rounding units of zero.
void at_the_rounding_unit(RequestRandom& random, std::vector<std::string>& prices) {
    const unsigned e = static_cast<unsigned>(random.between(1, 26));
    for (std::string& price : prices) {
        if (random.chance(30)) {
            price = std::to_string(random.between(1, 9)) + random_fraction_text(random, 0, 28, false).substr(1);
            price.insert(1, e, '0');
            price.resize(price.size() - e);
            continue;
        }
        const unsigned scale = static_cast<unsigned>(std::min<std::uint64_t>(28, 28 - e + random.between(0, 3)));
        price = random.chance(30) ? std::string("0")
                                  : decimal_text(static_cast<int128>(random.between(0, 10)) - 5, scale, 0);
    }
}

void near_zero(RequestRandom& random, std::vector<std::string>& prices) {
    switch (random.between(0, 3)) {
        case 0:
            return tiny_around_zero(random, prices);
        case 1:
            return cancelling_pairs(random, prices);
        case 2:
            return converted_midday(random, prices);
        default:
            return at_the_rounding_unit(random, prices);
    }
}

// One price of 10^e (either sign) beside long-decimal small prices: the global bound
// rounds every sum coarsely, while candidates without the dear price keep fine sums.
// The magnitude now and then takes the global bound to just below 2^96.
void dear_beside_small(RequestRandom& random, std::vector<std::string>& prices) {
    const unsigned e = static_cast<unsigned>(random.between(14, 28));
    const bool negative_small = random.chance(30);
    for (std::string& price : prices) {
        price = random_fraction_text(random, random.chance(50) ? 2 : 300,
                                     static_cast<unsigned>(random.between(20, 28)), negative_small && random.chance(30));
    }
    std::string dear = std::to_string(random.between(1, 7)) + std::string(e - 1, '0');
    if (e == 28 && random.chance(50)) dear = "792281625142643375935439" + std::to_string(random.between(1000, 4999));
    prices[random.between(0, prices.size() - 1)] = (random.chance(20) ? "-" : "") + dear;
}

// Prices a few units of the 24th to 28th decimal around one real price (parsing
// rounds those past 96 bits).
void units_apart(RequestRandom& random, std::vector<std::string>& prices) {
    const unsigned scale = static_cast<unsigned>(random.between(24, 28));
    int128 base = static_cast<int128>(random.between(0, 35000)) - 5000;  // cents
    for (unsigned d = 2; d < scale; ++d) base *= 10;
    const std::uint64_t spread = random.chance(50) ? 5 : 20000;
    for (std::string& price : prices) {
        const int128 offset = static_cast<int128>(random.between(0, spread)) - static_cast<int128>(spread / 2);
        price = decimal_text(base + offset, scale, 0);
    }
}

void lopsided(RequestRandom& random, std::vector<std::string>& prices) {
    if (random.chance(50)) return dear_beside_small(random, prices);
    units_apart(random, prices);
}

// The bases of the falling shapes, in units of the last decimal: 0.3 to 1.0 at 28
// decimals; (2^96 - 1) / h, so that the sums cross 2^96 - 1 units (where decimal
// sums start to round) at about h periods, h near n / 2 or anywhere; or a few units
// from a multiple of a tenth of that, where a rounded sum lands on a tie of the
// coarser grid.
int128 falling_base(RequestRandom& random, std::size_t n) {
    const int128 top = (int128{1} << 96) - 1;
    switch (random.between(0, 3)) {
        case 0:
            return static_cast<int128>(random.between(3000, 10000)) * 1'000'000'000'000 * 1'000'000'000'000;
        case 1:
            return top / static_cast<int128>(std::max<std::uint64_t>(1, n / 2 + random.between(0, 2) - 1)) -
                   static_cast<int128>(random.between(0, 3));
        case 2:
            return top / static_cast<int128>(random.between(1, n)) + static_cast<int128>(random.between(0, 8)) - 4;
        default:
            return top / static_cast<int128>(random.between(1, n)) / 10 * 10 + 5;
    }
}

// Near ties where each later partial selection sums lower than the earlier ones at
// the same state: falling by a unit (or two, zigzagging), with noise, with every
// third price dearer, now and then rising instead, or negated (mostly negative near
// ties, whose sums cross -2^96). At scale 0 the largest bases overflow, as the search
// must report.
void falling(RequestRandom& random, std::vector<std::string>& prices) {
    const std::size_t n = prices.size();
    const unsigned scale = static_cast<unsigned>(random.chance(60) ? 28 : random.between(0, 28));
    const int128 base = falling_base(random, n);
    const std::uint64_t shape = random.between(0, 3);
    const int128 step = random.chance(20) ? -1 : 1;
    const int128 dearer = static_cast<int128>(random.between(1, 1000)) * (random.chance(50) ? 1 : 1'000'000'000'000);
    const bool negated = random.chance(30);
    for (std::size_t i = 0; i < n; ++i) {
        const auto at = static_cast<int128>(i);
        int128 units = base - step * at;
        if (shape == 1) units = base + static_cast<int128>(random.between(0, 2 * n));
        if (shape == 2) units = base - 2 * step * at + 3 * (at % 2);
        if (shape == 3 && i % 3 == 2) units += dearer;
        if (negated && !random.chance(10)) units = -units;
        const int128 top = (int128{1} << 96) - 1;  // the largest coefficient
        prices[i] = decimal_text(std::clamp(units, -top, top), scale, 0);
    }
}

// ---------------------------------------------------------------------------
// Thresholds and rules.

std::string shifted_text(const std::string& text, const char* offset) {
    const std::optional<Decimal> sum = checked_add(value_of(text), value_of(offset));
    return sum ? sum->to_string() : text;
}

std::size_t cheap_count(const std::vector<std::string>& prices, const std::string& threshold) {
    const Decimal limit = value_of(threshold);
    return static_cast<std::size_t>(std::count_if(prices.begin(), prices.end(),
                                                  [&](const std::string& price) { return value_of(price) <= limit; }));
}

// A threshold below every price. 10^-28 less rounds back when the lowest price has
// 28 digits; at -(2^96 - 1) nothing is less, and one price is lifted to zero instead.
std::string below_all(RequestRandom& random, std::vector<std::string>& prices, const std::string& lowest) {
    for (const char* offset : {random.chance(50) ? "-0.0000000000000000000000000001" : "-1", "-1"}) {
        std::string threshold = shifted_text(lowest, offset);
        if (value_of(threshold) < value_of(lowest)) return threshold;
    }
    prices.back().assign(1, '0');
    return lowest;
}

// At a price, just above one, at the median or below all; at most `max_cheap` periods
// cheap and never all of them (that request needs no search).
std::string random_threshold(RequestRandom& random, std::vector<std::string>& prices, std::size_t max_cheap) {
    std::vector<std::string> sorted = prices;
    std::sort(sorted.begin(), sorted.end(),
              [](const std::string& a, const std::string& b) { return value_of(a) < value_of(b); });
    const std::size_t highest = std::min(max_cheap, sorted.size()) - 1;
    std::string threshold;
    switch (random.between(0, 4)) {
        case 0:
            threshold = sorted[random.between(0, highest)];
            break;
        case 1:
            threshold = shifted_text(sorted[random.between(0, highest)], "0.0000000000000000000000000001");
            break;
        case 2:
            threshold = sorted[std::min(highest, (sorted.size() - 1) / 2)];
            break;
        case 3:  // zero: the price of free and slightly negative hours
            threshold = "0";
            break;
        default:
            return below_all(random, prices, sorted.front());
    }
    const std::size_t cheap = cheap_count(prices, threshold);
    return cheap == prices.size() || cheap > max_cheap ? below_all(random, prices, sorted.front()) : threshold;
}

// With `large`, rules under which the exhaustive search stays short at n = 17 to 24:
// three periods or fewer pass (few cheap ones), or nearly every period is taken.
// Returns the most cheap periods the rules allow.
std::size_t random_rules(RequestRandom& random, std::size_t n, bool large, SelectionRules& rules) {
    std::size_t max_cheap = n - 1;
    if (large && random.chance(50)) {
        rules.min_selections = random.between(1, 3);
        rules.max_gap_between_periods = random.between(n / 2, n);
        max_cheap = 5;
    } else if (large) {
        rules.min_selections = random.between(n - 3, n - 1);
        rules.max_gap_between_periods = random.between(0, n);
    } else {
        rules.min_selections = random.between(1, n - 1);
        rules.max_gap_between_periods = random.chance(10) ? random.between(n, 1000) : random.between(0, n);
    }
    rules.min_consecutive_periods = random.chance(40) ? 1 : random.between(1, rules.min_selections);
    rules.max_gap_from_start =
        random.chance(30) ? rules.max_gap_between_periods : random.between(0, rules.max_gap_between_periods);
    return max_cheap;
}

PlannerRequest rounding_request(std::uint64_t seed, std::uint64_t number, std::size_t min_n, std::size_t max_n) {
    RequestRandom random(seed, number);
    PlannerRequest request;
    const std::size_t n = random.between(min_n, max_n);
    request.prices.resize(n);
    switch (static_cast<Family>(random.between(0, static_cast<std::uint64_t>(Family::count) - 1))) {
        case Family::long_decimals:
            long_decimals(random, request.prices);
            break;
        case Family::converted:
            converted(random, request.prices);
            break;
        case Family::near_bounds:
            near_bounds(random, request.prices);
            break;
        case Family::near_ties:
            near_ties(random, request.prices);
            break;
        case Family::near_zero:
            near_zero(random, request.prices);
            break;
        case Family::lopsided:
            lopsided(random, request.prices);
            break;
        case Family::falling:
            falling(random, request.prices);
            break;
        case Family::count:
            break;
    }
    const std::size_t max_cheap = random_rules(random, n, min_n > 16, request.rules);
    request.threshold = random_threshold(random, request.prices, max_cheap);
    request.aggressive = random.chance(50);
    return request;
}

// ---------------------------------------------------------------------------
// The comparison.

// An engine's answer: indices, an error value, or an InternalFailure's message.
struct EngineAnswer {
    std::optional<Outcome<IndexList>> result;
    std::string failure;

    bool operator==(const EngineAnswer& other) const {
        if (result.has_value() != other.result.has_value()) return false;
        if (!result) return failure == other.failure;
        if (result->ok() != other.result->ok()) return false;
        return result->ok() ? result->value() == other.result->value() : result->error() == other.result->error();
    }
    std::string text() const { return result ? testing::indices_text(*result) : "threw " + failure; }
};

template <class Call>
EngineAnswer answer_of(Call&& call) {
    EngineAnswer outcome;
    try {
        outcome.result = call();
    } catch (const InternalFailure& failure) {
        outcome.failure = failure.message();
    }
    return outcome;
}

struct Verdict {
    bool planner_answered = false;
    bool exhaustive_threw = false;
    std::string mismatch;  // empty when every engine agrees
};

Verdict check(const PlannerRequest& request) {
    const testing::PlannerInput input = testing::input_of(request);
    const EngineAnswer exhaustive = answer_of([&] {
        return request.aggressive ? exhaustive::search_aggressive(input.items, input.cheap_items, request.rules)
                                  : exhaustive::search_conservative(input.items, input.cheap_items, request.rules);
    });
    const EngineAnswer entry = answer_of([&] {
        testing::VectorPriceSource source(
            std::vector<std::optional<std::string>>(request.prices.begin(), request.prices.end()));
        return get_cheapest_periods(source, request.threshold, request.rules, request.aggressive);
    });
    std::optional<IndexList> planned;
    const EngineAnswer planner = answer_of([&]() -> Outcome<IndexList> {
        planned = planner_answer(input.items, input.cheap_items, request.rules, request.aggressive);
        return planned.value_or(IndexList{});
    });
    // The entry walks quickly first; the planner here sweeps the reach limits at once.
    std::optional<IndexList> swept;
    const EngineAnswer sweeping = answer_of([&]() -> Outcome<IndexList> {
        swept = swept_answer(input.items, input.cheap_items, request.rules, request.aggressive);
        return swept.value_or(IndexList{});
    });
    Verdict verdict;
    verdict.planner_answered = planned.has_value() || !planner.result;
    verdict.exhaustive_threw = !exhaustive.result;
    if (!(entry == exhaustive)) verdict.mismatch += "\n  entry:      " + entry.text();
    if (verdict.planner_answered && !(planner == exhaustive)) verdict.mismatch += "\n  planner:    " + planner.text();
    if ((swept || !sweeping.result) && !(sweeping == exhaustive)) verdict.mismatch += "\n  swept:      " + sweeping.text();
    if (!verdict.mismatch.empty()) {
        verdict.mismatch = request.describe() + verdict.mismatch + "\n  exhaustive: " + exhaustive.text();
    }
    return verdict;
}

struct Tally {
    std::uint64_t compared = 0;
    std::uint64_t planner_answered = 0;
    std::uint64_t threw = 0;
    std::uint64_t mismatches = 0;
};

// Runs `count` requests from `first`; `replay` is the environment that repeats one.
Tally fuzz(std::uint64_t seed, std::uint64_t first, std::uint64_t count, std::size_t min_n, std::size_t max_n,
           const std::string& replay) {
    Tally tally;
    for (std::uint64_t number = first; number < first + count; ++number) {
        const Verdict verdict = check(rounding_request(seed, number, min_n, max_n));
        ++tally.compared;
        tally.planner_answered += verdict.planner_answered ? 1 : 0;
        tally.threw += verdict.exhaustive_threw ? 1 : 0;
        if (verdict.mismatch.empty()) continue;
        ADD_FAILURE() << "mismatch; replay with KESTRAVA_FUZZ_SEED=" << seed << " KESTRAVA_FUZZ_FIRST=" << number << " "
                      << replay << " kestrava_core_tests --gtest_filter=RoundingFuzz.*\n  " << verdict.mismatch;
        if (++tally.mismatches >= 10) break;
    }
    std::cout << "[ rounding ] seed " << seed << ", n " << min_n << " to " << max_n << ": " << tally.compared
              << " requests compared, " << tally.planner_answered << " answered by the planner, " << tally.threw
              << " overflowed in both, " << tally.mismatches << " mismatches\n";
    return tally;
}

TEST(RoundingFuzz, EntryAndPlannerAgreeWithTheExhaustiveSearch) {
    const std::uint64_t seed = setting("KESTRAVA_FUZZ_SEED", 20240101);
    const std::uint64_t first = setting("KESTRAVA_FUZZ_FIRST", 0);
    const std::uint64_t requests = setting("KESTRAVA_FUZZ_ROUNDING_REQUESTS", 8000);
    const std::size_t max_n =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(setting("KESTRAVA_FUZZ_ROUNDING_MAX_N", 16), 2, 16));
    fuzz(seed, first, requests, 2, max_n,
         "KESTRAVA_FUZZ_ROUNDING_REQUESTS=1 KESTRAVA_FUZZ_ROUNDING_MAX_N=" + std::to_string(max_n));
}

TEST(RoundingFuzz, EntryAndPlannerAgreeWithTheExhaustiveSearchUpToTwentyFourPeriods) {
    const std::uint64_t seed = setting("KESTRAVA_FUZZ_SEED", 20240101);
    const std::uint64_t first = setting("KESTRAVA_FUZZ_FIRST", 0);
    const std::uint64_t requests = setting("KESTRAVA_FUZZ_ROUNDING_LARGE_REQUESTS", 300);
    fuzz(seed, first, requests, 17, 24, "KESTRAVA_FUZZ_ROUNDING_REQUESTS=0 KESTRAVA_FUZZ_ROUNDING_LARGE_REQUESTS=1");
}

}  // namespace
}  // namespace kestrava
