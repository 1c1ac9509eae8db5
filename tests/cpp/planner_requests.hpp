// Random requests for the planner's differential tests, and a comparison of
// the planner (on Items, and through its text entry) with the exhaustive search on
// one request.
//
// Each request is drawn from its own generator seeded by (seed, number), so any one
// of them can be rebuilt from the two numbers that a failure prints.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "decimal/decimal.hpp"
#include "selection/exhaustive/exhaustive.hpp"
#include "selection/item.hpp"
#include "selection/requests/cheapest_periods.hpp"
#include "selection/planner/item_plans.hpp"
#include "selection/rules/selection_rules.hpp"

namespace kestrava::testing {

// splitmix64: small, fast, and the same sequence on every platform.
class RequestRandom {
public:
    RequestRandom(std::uint64_t seed, std::uint64_t number) : state_(seed ^ (number * 0x9E3779B97F4A7C15ULL)) {
        next();
    }

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in lo .. hi (inclusive); the tiny modulo bias does not matter here.
    std::uint64_t between(std::uint64_t lo, std::uint64_t hi) { return lo + next() % (hi - lo + 1); }
    bool chance(unsigned percent) { return next() % 100 < percent; }

private:
    std::uint64_t state_;
};

struct PlannerRequest {
    std::vector<std::string> prices;
    std::string threshold;
    SelectionRules rules;
    bool aggressive = true;

    std::string describe() const {
        std::ostringstream out;
        out << "prices [";
        for (std::size_t i = 0; i < prices.size(); ++i) out << (i ? ", " : "") << prices[i];
        out << "], threshold " << threshold << ", min_selections " << rules.min_selections
            << ", min_consecutive_periods " << rules.min_consecutive_periods << ", max_gap_between_periods "
            << rules.max_gap_between_periods << ", max_gap_from_start " << rules.max_gap_from_start << ", "
            << (aggressive ? "aggressive" : "conservative");
        return out.str();
    }
};

// The Item list and the cheap-item list of a request, as the selection entry builds them.
struct PlannerInput {
    std::vector<Item> items;
    std::vector<Item> cheap_items;
};

inline PlannerInput input_of(const PlannerRequest& request) {
    PlannerInput input;
    const Decimal threshold = Decimal::parse(request.threshold).value();
    for (std::size_t i = 0; i < request.prices.size(); ++i) {
        input.items.push_back(Item{i, Decimal::parse(request.prices[i]).value()});
        if (compare(input.items.back().price, threshold) <= 0) input.cheap_items.push_back(input.items.back());
    }
    return input;
}

// Price families, each aimed at one way the two engines could part.
enum class PriceFamily {
    small_integers,   // 0 to 5: ties everywhere
    all_equal,        // one price, possibly negative
    signed_decimals,  // -20 to 20 units at scales 0 to 3
    mixed_scales,     // up to a million units at scales 1 to 6
    wide_integers,    // up to 2^39 in magnitude: the 128-bit scores
    alternating,      // cheap and dear runs
    fine_decimals,    // near 1 at 24 or 25 decimals: averages that part only in their last digits
    huge_magnitudes,  // sums near the planner's magnitude limit
    count
};

using int128 = __int128;

inline std::string integer_text(int128 value) {
    if (value == 0) return "0";
    const bool negative = value < 0;
    unsigned __int128 magnitude =
        negative ? static_cast<unsigned __int128>(-value) : static_cast<unsigned __int128>(value);
    std::string digits;
    for (; magnitude != 0; magnitude /= 10) digits.push_back(static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    if (negative) digits.push_back('-');
    return std::string(digits.rbegin(), digits.rend());
}

// units / 10^scale as a decimal text, with extra_zeros more zero digits at the end.
inline std::string decimal_text(int128 units, unsigned scale, unsigned extra_zeros) {
    const std::string digits = integer_text(units < 0 ? -units : units);
    std::string text;
    if (units < 0) text.push_back('-');
    if (scale == 0) {
        text.append(digits);
    } else {
        const std::string padded =
            digits.size() <= scale ? std::string(scale - digits.size() + 1, '0').append(digits) : digits;
        text.append(padded, 0, padded.size() - scale);
        text.push_back('.');
        text.append(padded, padded.size() - scale, scale);
    }
    if (extra_zeros > 0) {
        if (scale == 0) text.push_back('.');
        text.append(extra_zeros, '0');
    }
    return text;
}

// n periods (2 <= n <= max_n); with large_n, n is drawn from 17 to 28 instead and
// the rules keep the successful size small or close to n, so that the exhaustive
// search stays quick.
inline PlannerRequest random_request(std::uint64_t seed, std::uint64_t number, std::size_t max_n,
                                     bool large_n = false) {
    RequestRandom random(seed, number);
    PlannerRequest request;
    const std::size_t n = large_n ? random.between(17, 28) : random.between(2, max_n);
    const auto family = static_cast<PriceFamily>(random.between(0, static_cast<std::uint64_t>(PriceFamily::count) - 1));

    std::vector<int128> units(n);
    unsigned scale = 0;
    auto small = [&](std::uint64_t range) { return static_cast<int128>(random.between(0, range)); };
    switch (family) {
        case PriceFamily::small_integers:
            for (auto& u : units) u = small(5);
            break;
        case PriceFamily::all_equal: {
            const int128 value = small(9) - 3;
            for (auto& u : units) u = value;
            break;
        }
        case PriceFamily::signed_decimals:
            scale = static_cast<unsigned>(random.between(0, 3));
            for (auto& u : units) u = small(40) - 20;
            break;
        case PriceFamily::mixed_scales:
            scale = static_cast<unsigned>(random.between(1, 6));
            for (auto& u : units) u = small(2000000) - 1000000;
            break;
        case PriceFamily::wide_integers:
            for (auto& u : units) u = small(1ULL << 40) - (int128{1} << 39);
            break;
        case PriceFamily::alternating: {
            const int128 low = small(3);
            const int128 high = low + 1 + small(5);
            std::size_t run = random.between(1, 3);
            bool dear = random.chance(50);
            for (std::size_t i = 0; i < n; ++i) {
                units[i] = (dear ? high : low) + small(1);
                if (--run == 0) {
                    run = random.between(1, 3);
                    dear = !dear;
                }
            }
            break;
        }
        case PriceFamily::fine_decimals: {
            // 1 + a few units of the last decimal: averages over different counts
            // differ by fractions of a unit, which the 28-digit quotients must keep.
            // Scale 25 is the finest that averages over up to 22 periods allow.
            scale = n <= 22 && random.chance(50) ? 25 : 24;
            int128 one = 1;
            for (unsigned d = 0; d < scale; ++d) one *= 10;
            for (auto& u : units) u = one + small(6) - 3;
            break;
        }
        case PriceFamily::huge_magnitudes: {
            // The largest magnitudes inside the fast path: a sum of at most 2^90 units
            // and, where averages are compared, a largest price that still fits in 96
            // bits with 4 more digits (n > 22 needs 4; fewer periods need less).
            int128 largest = (int128{1} << 90) / static_cast<int128>(n);
            const int128 average_bound = ((int128{1} << 96) - 1) / 10000;
            if (largest > average_bound) largest = average_bound;
            for (auto& u : units) {
                const int128 offset = small(4);
                u = random.chance(50) ? largest - offset : offset - largest;
            }
            break;
        }
        case PriceFamily::count:
            break;
    }
    for (auto u : units) {
        // Equal values written at different scales must not change an answer.
        const unsigned extra = random.chance(15) ? static_cast<unsigned>(random.between(1, 3)) : 0;
        request.prices.push_back(decimal_text(u, scale, scale + extra <= 28 ? extra : 0));
    }

    // A threshold that makes 0 to n - 1 periods cheap, often exactly at a price.
    std::vector<int128> sorted = units;
    std::sort(sorted.begin(), sorted.end());
    // With few main periods at n > 16, many cheap blocks would make the exhaustive
    // search try thousands of merges per combination.
    const bool few_main_periods = large_n && random.chance(50);
    const std::size_t cheap_wanted = random.between(0, few_main_periods ? 5 : n - 1);
    int128 threshold = cheap_wanted == 0 ? sorted[0] - 1 : sorted[cheap_wanted - 1];
    if (threshold >= sorted[n - 1]) threshold = sorted[n - 1] - 1;  // every period cheap skips the search
    request.threshold = decimal_text(threshold, scale, 0);

    // Rules: tight or loose in every combination.
    SelectionRules& rules = request.rules;
    if (large_n) {
        if (few_main_periods) {
            // A gap limit of at least n / 2 lets three periods or fewer pass the rules.
            rules.min_selections = random.between(1, 3);
            rules.max_gap_between_periods = random.between(n / 2, n);
        } else {
            rules.min_selections = random.between(n - 3, n - 1);
            rules.max_gap_between_periods = random.between(0, n);
        }
        rules.min_consecutive_periods = random.between(1, rules.min_selections);
        rules.max_gap_from_start = random.between(0, rules.max_gap_between_periods);
        request.aggressive = random.chance(50);
        return request;
    }
    rules.min_selections = random.between(1, n - 1);
    rules.min_consecutive_periods = random.chance(40) ? 1 : random.between(1, rules.min_selections);
    rules.max_gap_between_periods = random.chance(10) ? random.between(n, 1000) : random.between(0, n);
    rules.max_gap_from_start =
        random.chance(30) ? rules.max_gap_between_periods : random.between(0, rules.max_gap_between_periods);
    request.aggressive = random.chance(50);
    return request;
}

// The engines' answers to one request, or a note on what differs.
struct Comparison {
    bool answered = false;                  // plan_exact took the request
    std::optional<DeclineReason> declined;  // else why it declined
    bool agrees = true;
    std::string report;
};

inline std::string indices_text(const Outcome<IndexList>& result) {
    if (!result.ok()) return "error";
    std::string text = "[";
    for (std::size_t i = 0; i < result.value().size(); ++i) text += (i ? ", " : "") + std::to_string(result.value()[i]);
    return text + "]";
}

// Where plan_exact answers, the sums are exact, so the text entry (exact at any
// size) and the exhaustive search (rounded decimals) must give its answer too.
// The same request under a strict end: plan's entry against the exhaustive search.
// Without other conditions the exempt last run always has a plan, so where the strict
// search finds none the entry names the short last run.
inline bool strict_end_agrees(const PlannerRequest& request, const PlannerInput& input, std::string& report) {
    const Outcome<IndexList> exhaustive =
        request.aggressive ? exhaustive::search_aggressive(input.items, input.cheap_items, request.rules, {}, true)
                           : exhaustive::search_conservative(input.items, input.cheap_items, request.rules, {}, true);
    const std::vector<std::string_view> texts(request.prices.begin(), request.prices.end());
    rules::Conditions conditions;
    conditions.strict_end = true;
    const Outcome<planner::PlanAnswer> entry =
        planner::plan_periods(texts, request.threshold, request.rules, conditions, request.aggressive);
    const bool agrees = exhaustive.ok() ? entry.ok() && entry.value().periods == exhaustive.value()
                                        : !entry.ok() && entry.error().kind == ErrorKind::short_last_run;
    if (!agrees) {
        report += "\n  strict end, plan entry: " + (entry.ok() ? indices_text(Outcome<IndexList>(entry.value().periods)) : std::string("no plan")) +
                  "\n  strict end, exhaustive: " + indices_text(exhaustive);
    }
    return agrees;
}

inline Comparison compare_engines(const PlannerRequest& request) {
    const PlannerInput input = input_of(request);
    Comparison comparison;
    const Outcome<IndexList, DeclineReason> planned =
        plan_exact(input.items, input.cheap_items, request.rules, request.aggressive);
    if (!planned.ok()) {
        comparison.declined = planned.error();
        return comparison;
    }
    comparison.answered = true;
    const Outcome<IndexList> exhaustive =
        request.aggressive ? exhaustive::search_aggressive(input.items, input.cheap_items, request.rules)
                           : exhaustive::search_conservative(input.items, input.cheap_items, request.rules);
    const std::vector<std::string_view> texts(request.prices.begin(), request.prices.end());
    const Outcome<IndexList> entry =
        planner::cheapest_periods(texts, request.threshold, request.rules, request.aggressive);
    comparison.agrees =
        exhaustive.ok() && planned.value() == exhaustive.value() && entry.ok() && planned.value() == entry.value();
    std::string strict_report;
    comparison.agrees = strict_end_agrees(request, input, strict_report) && comparison.agrees;
    if (!comparison.agrees) {
        comparison.report = request.describe() + "\n  planner:    " + indices_text(planned.value()) +
                            "\n  text entry: " + indices_text(entry) + "\n  exhaustive: " + indices_text(exhaustive) +
                            strict_report;
    }
    return comparison;
}

}  // namespace kestrava::testing
