// The planner's text entry: exact reading of price texts (the grammar of
// Decimal::parse, nothing rounded), the order of its checks and error kinds, the
// digit limit, the answers that need no search, and the stop check.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "planner_requests.hpp"
#include "selection/requests/cheapest_periods.hpp"
#include "selection/prices/exact_prices.hpp"
#include "selection/planner/integer_ladder.hpp"
#include "selection/requests/kept_main.hpp"
#include "selection/prices/short_prices.hpp"
#include "selection/rules/shape.hpp"
#include "selection_test_support.hpp"

namespace kestrava {
namespace {

using testing::RequestRandom;

// a then b; appending avoids a false -Wrestrict of GCC 12 on literal + string.
std::string joined(std::string a, const std::string& b) { return a.append(b); }

Outcome<IndexList> plan(const std::vector<std::string>& prices, const std::string& threshold,
                                 SelectionRules rules, bool aggressive = true, const StopCheck& stop = {}) {
    const std::vector<std::string_view> views(prices.begin(), prices.end());
    return planner::cheapest_periods(views, threshold, rules, aggressive, stop);
}

// Random texts over the grammar's alphabet: accepted exactly when Decimal::parse
// accepts them, and equal in value where Decimal holds them without rounding.
TEST(PlannerEntry, ReadsTheDecimalGrammarExactly) {
    const char alphabet[] = "0123456789._+-x";
    for (std::uint64_t number = 0; number < 50000; ++number) {
        RequestRandom random(5, number);
        std::string text;
        const std::uint64_t length = random.between(0, 12);
        // Signs and stray letters mostly first, digits, points and underscores after.
        for (std::uint64_t i = 0; i < length; ++i)
            text.push_back(alphabet[random.between(0, i == 0 || random.chance(5) ? 14 : 11)]);
        const std::optional<Decimal> decimal = Decimal::parse(text);
        planner::ExactPrices exact;
        const std::vector<std::string_view> texts = {text};
        const bool accepted = !planner::read_exact_prices(texts, "0.5", exact).has_value();
        ASSERT_EQ(accepted, decimal.has_value()) << "text '" << text << "'";
        if (accepted) {
            EXPECT_EQ(exact.is_cheap(0), compare(*decimal, Decimal::parse("0.5").value()) <= 0)
                << "text '" << text << "'";
        }
    }
}

// Values of 15 to 22 significant digits (one word holds 18), with trailing zeros that
// reading drops: their order, the largest magnitude and the units at the common scale
// against whole numbers built from the texts' digits.
TEST(PlannerEntry, WordSizedAndLongerValuesAgree) {
    struct Text {
        std::string text;
        bool negative;
        std::string digits;  // as written, without sign or point
        std::size_t decimals;
    };
    for (std::uint64_t number = 0; number < 2000; ++number) {
        RequestRandom random(11, number);
        std::vector<Text> values;
        for (int v = 0; v < 4; ++v) {
            Text value{"", random.chance(30), "", 0};
            const std::uint64_t length = random.between(15, 22);
            for (std::uint64_t d = 0; d < length; ++d) {
                value.digits.push_back(static_cast<char>('0' + random.between(d == 0 ? 1 : 0, 9)));
            }
            value.digits.append(random.between(0, 4), '0');
            value.decimals = random.between(0, value.digits.size() - 1);
            const std::size_t point = value.digits.size() - value.decimals;
            value.text = joined(value.negative ? "-" : "", value.digits.substr(0, point));
            if (value.decimals > 0) value.text = joined(joined(value.text, "."), value.digits.substr(point));
            values.push_back(value);
        }
        std::vector<std::string_view> texts;
        std::size_t scale = 0;
        for (const Text& value : values) {
            texts.push_back(value.text);
            scale = std::max(scale, value.decimals);
        }
        planner::ExactPrices prices;
        ASSERT_FALSE(planner::read_exact_prices(texts, "0", prices).has_value());
        // At the largest written scale every value is a whole number of the same length.
        auto padded = [&](const Text& value) { return value.digits + std::string(scale - value.decimals, '0'); };
        auto whole = [&](const Text& value) {
            planner::Int512 units{};
            for (const char digit : padded(value)) units = units * planner::Int512(10) + planner::Int512(digit - '0');
            return value.negative ? -units : units;
        };
        std::size_t largest = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const std::size_t zeros = scale - prices.common_scale;
            EXPECT_EQ(planner::units_of<planner::Int512>(prices, i) * planner::Int512(planner::word_powers_of_ten[zeros]),
                      whole(values[i])) << values[i].text;
            const std::string a = padded(values[i]);
            const std::string b = padded(values[largest]);
            if (a.size() > b.size() || (a.size() == b.size() && a > b)) largest = i;
            for (std::size_t j = 0; j < values.size(); ++j) {
                EXPECT_EQ(prices.compare(prices.prices[i], prices.prices[j]), whole(values[i]) <=> whole(values[j]))
                    << values[i].text << " against " << values[j].text;
            }
        }
        EXPECT_EQ(planner::largest_magnitude(prices), largest);
    }
}

// A text near the short reader's edges: 15 to 20 digits, up to 20 decimals, leading
// and trailing zeros, a sign, a bare point at either end, now and then an underscore;
// or one of the limits themselves (2^64 would wrap a word).
std::string edge_text(RequestRandom& random) {
    const char* const limits[] = {"18446744073709551616", "999999999999999999", "1000000000000000000",
                                  "0.000000000000000001", "-0.0000000000000000001", "-0", "5.", ".5", "+7"};
    if (random.chance(15)) return limits[random.between(0, std::size(limits) - 1)];
    std::string digits(random.between(0, 2), '0');
    const std::uint64_t length = random.between(random.chance(50) ? 1 : 15, 20);
    for (std::uint64_t d = 0; d < length; ++d) digits.push_back(static_cast<char>('0' + random.between(0, 9)));
    digits.append(random.between(0, 3), '0');
    const std::size_t point = random.between(0, digits.size());
    std::string text;
    if (random.chance(30)) text.push_back(random.chance(80) ? '-' : '+');
    text.append(digits, 0, point);
    if (point < digits.size() || random.chance(10)) text.push_back('.');
    text.append(digits, point, std::string::npos);
    if (random.chance(3)) text.insert(text.size() / 2 + 1, 1, '_');
    return text;
}

// Where the short reader takes a request, it gives the exact reader's units, cheap
// flags and largest magnitude; both edges of its limits are met often.
TEST(PlannerEntry, ShortPricesAgreeWithTheExactReading) {
    int taken = 0;
    int left = 0;
    for (std::uint64_t number = 0; number < 20000; ++number) {
        RequestRandom random(17, number);
        std::vector<std::string> values;
        for (std::uint64_t v = random.between(1, 4); v > 0; --v) values.push_back(edge_text(random));
        const std::string threshold = edge_text(random);
        const std::vector<std::string_view> texts(values.begin(), values.end());
        planner::ShortPrices short_prices;
        planner::ExactPrices exact;
        const bool read = planner::read_short_prices(texts, threshold, short_prices);
        const bool exact_read = !planner::read_exact_prices(texts, threshold, exact).has_value();
        const std::string request = joined(joined(values.front(), " ... threshold "), threshold);
        if (!read) {
            left += exact_read ? 1 : 0;
            continue;
        }
        ++taken;
        ASSERT_TRUE(exact_read) << request;
        std::uint64_t largest = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            ASSERT_EQ(planner::Int512(short_prices.units[i]), planner::units_of<planner::Int512>(exact, i)) << values[i];
            EXPECT_EQ(short_prices.is_cheap(i), exact.is_cheap(i)) << values[i] << " against " << threshold;
            const std::int64_t units = short_prices.units[i];
            largest = std::max(largest, static_cast<std::uint64_t>(units < 0 ? -units : units));
        }
        EXPECT_EQ(short_prices.largest_magnitude, largest) << request;
    }
    EXPECT_GT(taken, 1800);
    EXPECT_GT(left, 4000);
}

// One step of a chain of requests that share a kept reading: the texts of the last
// request, the same bytes split otherwise, one text changed, a text the short reader
// leaves to the exact one, or a fresh list.
void next_prices(RequestRandom& random, std::vector<std::string>& prices) {
    switch (random.between(0, 4)) {
        case 0:
            return;
        case 1:
            if (prices.size() >= 2 && prices[0].size() >= 2) {
                prices[1].insert(0, prices[0].substr(prices[0].size() - 1));
                prices[0].pop_back();
            }
            return;
        case 2:
            prices[random.between(0, prices.size() - 1)] = edge_text(random);
            return;
        case 3:
            prices[random.between(0, prices.size() - 1)] = "1_0";
            return;
        default:
            prices.assign(random.between(1, 8), "");
            for (std::string& price : prices) price = std::to_string(random.between(0, 40)) + ".5";
    }
}

// A request's conditions, drawn anew or kept: a mask, a carried run or a carried pause, or none.
struct DrawnConditions {
    std::vector<std::uint8_t> allowed;
    std::uint64_t running_for = 0;
    std::uint64_t off_for = 0;

    rules::Conditions conditions() const {
        rules::Conditions drawn;
        if (!allowed.empty()) drawn.allowed = std::span<const std::uint8_t>(allowed);
        drawn.running_for = running_for;
        drawn.off_for = off_for;
        return drawn;
    }
};

DrawnConditions draw_conditions(RequestRandom& random, std::size_t n) {
    DrawnConditions drawn;
    if (random.chance(20)) {
        drawn.allowed.assign(n, 1);
        drawn.allowed[random.between(0, n - 1)] = 0;
    }
    if (random.chance(20)) {
        drawn.running_for = random.between(1, 2);
    } else if (random.chance(20)) {
        drawn.off_for = random.between(1, 3);
    }
    return drawn;
}

// What a caller keeps answers each request of a chain as a fresh request does, errors
// included: whether its texts are the last request's or not, with any threshold,
// whether they lie apart or one after another, and whether only the strategy changed.
TEST(PlannerEntry, AKeptMemoryPlansAsAFreshRequest) {
    for (std::uint64_t chain = 0; chain < 1000; ++chain) {
        RequestRandom random(23, chain);
        planner::RequestMemory memory;
        std::vector<std::string> prices = {"1.5", "20", "3"};
        std::string threshold = "2";
        SelectionRules rules{1, 1, 0, 0};
        DrawnConditions drawn;
        for (int step = 0; step < 20; ++step) {
            const std::size_t count = prices.size();
            // Half the steps keep the last texts, threshold, rules and conditions: a
            // backtest's strategies, or a fleet's devices alike.
            if (!random.chance(50)) {
                next_prices(random, prices);
                threshold = random.chance(30) ? edge_text(random) : std::to_string(random.between(0, 30));
            }
            if (prices.size() != count || !random.chance(50)) {
                // Often of the same size, so that only the timing or the conditions differ.
                const auto k = prices.size() == count && random.chance(50) ? rules.min_selections
                                                                           : random.between(1, prices.size());
                const auto gap = random.between(0, prices.size());
                rules = SelectionRules{k, random.between(1, k), gap, random.between(0, gap)};
                drawn = draw_conditions(random, prices.size());
            }
            const bool aggressive = random.chance(50);
            // Texts apart, or one after another in one buffer as a table holds them.
            std::vector<std::string_view> texts(prices.begin(), prices.end());
            std::string buffer;
            if (chain % 2 == 0) {
                for (const std::string& price : prices) buffer.append(price);
                std::size_t start = 0;
                for (std::string_view& text : texts) {
                    text = std::string_view(buffer).substr(start, text.size());
                    start += text.size();
                }
            }
            const rules::Conditions conditions = drawn.conditions();
            const auto kept = planner::plan_periods(memory, texts, threshold, rules, conditions, aggressive);
            const auto fresh = planner::plan_periods(texts, threshold, rules, conditions, aggressive);
            const std::string request = joined(joined(prices.front(), " ... threshold "), threshold);
            ASSERT_EQ(kept.ok(), fresh.ok()) << request;
            if (!fresh.ok()) {
                EXPECT_EQ(kept.error(), fresh.error()) << request;
                continue;
            }
            EXPECT_EQ(kept.value().periods, fresh.value().periods) << request;
            EXPECT_EQ(kept.value().base_size, fresh.value().base_size) << request;
        }
    }
}

// A kept combination serves only the units and the shape it was kept for: any field
// of the shape that differs, or any unit, turns it away.
TEST(PlannerEntry, AKeptMainServesOnlyItsOwnUnitsAndShape) {
    const std::vector<std::uint8_t> cheap = {0, 1, 1, 0, 0, 1};
    const rules::Shape shape = rules::make_shape(cheap, SelectionRules{3, 2, 2, 1});
    const std::vector<std::int64_t> units = {5, 1, 2, 9, 7, 3};
    planner::KeptMain kept;
    EXPECT_EQ(kept.find(units, shape), nullptr);
    kept.keep(units, shape, {1, 2, 5}, SelectionRules{3, 2, 2, 1}, {});
    ASSERT_NE(kept.find(units, shape), nullptr);
    EXPECT_EQ(*kept.find(units, shape), (IndexList{1, 2, 5}));
    const std::vector<void (*)(rules::Shape&)> changes = {
        [](rules::Shape& other) { other.size = 4; },
        [](rules::Shape& other) { other.min_run = 1; },
        [](rules::Shape& other) { other.max_gap = 3; },
        [](rules::Shape& other) { other.max_lead = 0; },
        [](rules::Shape& other) { other.cheap[0] = 1; },
        [](rules::Shape& other) { other.carried = 1; },
        [](rules::Shape& other) { other.allowed.assign(6, 1); },
        [](rules::Shape& other) { other.stalled.push_back({0, 0}); },
    };
    for (std::size_t change = 0; change < changes.size(); ++change) {
        rules::Shape other = shape;
        changes[change](other);
        EXPECT_EQ(kept.find(units, other), nullptr) << "change " << change;
    }
    std::vector<std::int64_t> other_units = units;
    other_units[4] = 8;
    EXPECT_EQ(kept.find(other_units, shape), nullptr);
}

// The cheapest main strategy's answer is served only for the request kept, field for
// field: the merge with every admissible block, and none for any other request.
TEST(PlannerEntry, AKeptWidestMergeServesOnlyItsOwnRequest) {
    struct Request {
        std::vector<std::int64_t> units = {5, 1, 2, 9, 7, 3};
        std::vector<std::uint8_t> cheap = {0, 1, 1, 0, 0, 1};
        SelectionRules rules{3, 2, 2, 1};
        DrawnConditions drawn;

        const IndexList* served(planner::KeptMain& kept) const {
            return kept.widest_merge(units, cheap, rules, drawn.conditions());
        }
    };
    const Request kept_request;
    planner::KeptMain kept;
    EXPECT_EQ(kept_request.served(kept), nullptr);
    kept.keep(kept_request.units, rules::make_shape(kept_request.cheap, kept_request.rules), {1, 2, 3},
              kept_request.rules, kept_request.drawn.conditions());
    ASSERT_NE(kept_request.served(kept), nullptr);
    // The block at 5 ends at the last period.
    EXPECT_EQ(*kept_request.served(kept), (IndexList{1, 2, 3, 5}));
    EXPECT_EQ(kept.base_size(), 3U);
    const std::vector<void (*)(Request&)> changes = {
        [](Request& other) { other.units[4] = 8; },
        [](Request& other) { other.cheap[0] = 1; },
        [](Request& other) { other.rules.min_selections = 4; },
        [](Request& other) { other.rules.min_consecutive_periods = 1; },
        [](Request& other) { other.rules.max_gap_between_periods = 3; },
        [](Request& other) { other.rules.max_gap_from_start = 0; },
        [](Request& other) { other.drawn.allowed.assign(6, 1); },
        [](Request& other) { other.drawn.running_for = 1; },
        [](Request& other) { other.drawn.off_for = 1; },
    };
    for (std::size_t change = 0; change < changes.size(); ++change) {
        Request other = kept_request;
        changes[change](other);
        EXPECT_EQ(other.served(kept), nullptr) << "change " << change;
    }
}

// Values that differ only past the 28th decimal or in the 100th digit, which a
// 96-bit decimal would round together.
TEST(PlannerEntry, ComparesLongValuesExactly) {
    struct Case {
        const char* price;
        const char* threshold;
        bool cheap;
    };
    const Case cases[] = {
        {"0.10000000000000000000000000000000000001", "0.1", false},
        {"0.1", "0.10000000000000000000000000000000000001", true},
        {"0.1000000000000000000000000000000000000", "0.1", true},
        {"-0.00000000000000000000000000000000000001", "0", true},
        {"0", "-0.00000000000000000000000000000000000001", false},
        {"-0", "0.000", true},
        {"1_000_000_000_000_000_000_000_000_000_000_000", "999999999999999999999999999999999.9999", false},
        {"-1_000_000_000_000_000_000_000_000_000_000_000", "-999999999999999999999999999999999.9999", true},
        {"123.456", "123.4560000", true},
        {"00012.5", "12.49999999999999999999999999999999", false},
    };
    for (const Case& c : cases) {
        planner::ExactPrices prices;
        const std::vector<std::string_view> texts = {c.price};
        ASSERT_FALSE(planner::read_exact_prices(texts, c.threshold, prices).has_value()) << c.price;
        EXPECT_EQ(prices.is_cheap(0), c.cheap) << c.price << " against " << c.threshold;
    }
}

TEST(PlannerEntry, ReportsTheFirstFailureInItsOrder) {
    const std::vector<std::string> three = {"1", "2", "3"};
    const std::vector<std::string> too_many(planner::max_periods + 1, "1");
    struct Case {
        std::vector<std::string> prices;
        std::string threshold;
        SelectionRules rules;
        Error expected;
    };
    const Case cases[] = {
        {{"1", "x", "1e3"}, "y", {1, 1, 1, 1}, {ErrorKind::invalid_price, 1}},
        {{"1", "2"}, "1.2.3", {0, 0, 0, 9}, {ErrorKind::invalid_threshold}},
        {{}, "1", {0, 0, 0, 0}, {ErrorKind::prices_empty}},
        {too_many, "1", {0, 0, 0, 0}, {ErrorKind::too_many_prices}},
        {three, "1", {0, 0, 0, 9}, {ErrorKind::min_selections_zero}},
        {three, "1", {4, 0, 0, 9}, {ErrorKind::min_selections_above_count}},
        {three, "1", {2, 0, 0, 9}, {ErrorKind::min_consecutive_zero}},
        {three, "1", {2, 3, 0, 9}, {ErrorKind::min_consecutive_above_selections}},
        {three, "1", {2, 2, 1, 2}, {ErrorKind::start_gap_above_gap}},
        {{"1", std::string(141, '9'), "2"}, "0", {1, 1, 2, 2}, {ErrorKind::price_too_large, 1}},
        // Each within the limit alone; 70 decimals push the 71-digit price past it.
        {{"1", std::string(71, '7'), joined(joined("0.", std::string(69, '0')), "3")},
         "0",
         {1, 1, 2, 2},
         {ErrorKind::price_too_precise, 2}},
    };
    for (const Case& c : cases) {
        const auto outcome = plan(c.prices, c.threshold, c.rules);
        ASSERT_FALSE(outcome.ok()) << static_cast<int>(c.expected.kind);
        EXPECT_EQ(outcome.error(), c.expected) << static_cast<int>(c.expected.kind);
    }
}

TEST(PlannerEntry, DigitLimitAndAnswersWithoutSearch) {
    const std::string largest(planner::max_price_digits, '9');
    const std::string beyond = largest + "9";
    // 140 digits at the common scale plan at the widest rung; the answer is the single cheapest.
    auto widest = plan({joined("5", largest.substr(1)), largest, joined("1", largest.substr(1)), joined("-", largest)},
                       "-1", {1, 1, 3, 3});
    ASSERT_TRUE(widest.ok());
    EXPECT_EQ(widest.value(), (IndexList{3}));
    // Every period cheap, or min_selections = n: every index, whatever the digits.
    const auto all_cheap = plan({beyond, joined("-", beyond)}, beyond, {1, 1, 1, 1});
    ASSERT_TRUE(all_cheap.ok());
    EXPECT_EQ(all_cheap.value(), (IndexList{0, 1}));
    const auto all_chosen = plan({beyond, "1"}, "0", {2, 1, 1, 1});
    ASSERT_TRUE(all_chosen.ok());
    EXPECT_EQ(all_chosen.value(), (IndexList{0, 1}));
    // Gap limits of 0 leave only every period, however small min_selections is.
    const auto no_gaps = plan({"3", "1", "2"}, "0", {1, 1, 0, 0});
    ASSERT_TRUE(no_gaps.ok());
    EXPECT_EQ(no_gaps.value(), (IndexList{0, 1, 2}));
}

using testing::PollCounter;

// 3000 periods, k = 1500 and no binding gap: the widest band, about 2.25 million
// states per pass. Wide prices take the 256-bit rung. Runs of 2 keep the scattered
// periods of the lowest prices from being a plan without any pass.
std::vector<std::string> long_prices() {
    std::vector<std::string> prices;
    for (std::size_t p = 0; p < planner::max_periods; ++p)
        prices.push_back(joined(std::to_string((p * 7919) % 1000), std::string(30, '1')));
    return prices;
}

TEST(PlannerEntry, StopCheckEndsALongRun) {
    const std::vector<std::string> prices = long_prices();
    const SelectionRules rules{1500, 2, 3000, 3000};
    PollCounter counter{0, 5};
    const auto interrupted = plan(prices, "300", rules, true, StopCheck{&PollCounter::poll, &counter});
    ASSERT_FALSE(interrupted.ok());
    EXPECT_EQ(interrupted.error().kind, ErrorKind::interrupted);
    EXPECT_EQ(counter.polls, 5);

    PollCounter at_once{0, 1};
    const auto immediately = plan(prices, "300", rules, false, StopCheck{&PollCounter::poll, &at_once});
    ASSERT_FALSE(immediately.ok());
    EXPECT_EQ(immediately.error().kind, ErrorKind::interrupted);
    EXPECT_EQ(at_once.polls, 1);
}

TEST(PlannerEntry, StopCheckIsPolledThroughoutAPass) {
    // One conservative pass over about 2.25 million states polls every few thousand.
    PollCounter counter;
    const auto answer =
        plan(long_prices(), "300", SelectionRules{1500, 2, 3000, 3000}, false, StopCheck{&PollCounter::poll, &counter});
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(answer.value().size(), 1500U);  // nothing is cheap
    EXPECT_GT(counter.polls, 300);
}

}  // namespace
}  // namespace kestrava
