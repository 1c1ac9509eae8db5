// The decimal adapter against the text reader: the same prices, as decimals or as their
// text, make the same units, scale, widths and cheap flags, and the flags are the
// decimals' own comparison with the threshold.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "decimal/decimal.hpp"
#include "decimal/powers_of_ten.hpp"
#include "planner_requests.hpp"
#include "selection/planner/integer_ladder.hpp"
#include "selection/prices/decimal_units.hpp"
#include "selection/prices/price_units.hpp"

namespace kestrava {
namespace {

using testing::RequestRandom;

// Coefficients at the edges the words form tests: 10^18 / 10^padding either side, a
// run of trailing zeros, the 96-bit limit, and small ones.
uint128 edge_coefficient(RequestRandom& random) {
    switch (random.between(0, 4)) {
        case 0:
            return pow10_u128[random.between(0, 18)] - random.between(0, 2);
        case 1:
            return random.between(1, 999) * pow10_u128[random.between(0, 26)];
        case 2:
            return Decimal::max_coefficient - random.between(0, 3);
        case 3:
            return (uint128{random.next()} << 32) ^ random.next();
        default:
            return random.between(0, 10000);
    }
}

Decimal edge_decimal(RequestRandom& random) {
    uint128 coefficient = edge_coefficient(random);
    if (coefficient > Decimal::max_coefficient) coefficient = Decimal::max_coefficient;
    const auto scale = static_cast<unsigned>(random.chance(50) ? random.between(0, 4) : random.between(0, 28));
    return Decimal::from_parts(random.chance(30), coefficient, scale);
}

void expect_same_units(const planner::PriceUnits& a, const planner::PriceUnits& b, const std::string& request) {
    ASSERT_EQ(a.size(), b.size()) << request;
    EXPECT_EQ(a.common_scale(), b.common_scale()) << request;
    EXPECT_EQ(a.largest_bits(), b.largest_bits()) << request;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a.unit<planner::Int512>(i), b.unit<planner::Int512>(i)) << request << " price " << i;
    }
}

TEST(PriceUnits, TheDecimalAdapterReadsAsTheTextReader) {
    int in_words = 0;
    int in_digits = 0;
    for (std::uint64_t number = 0; number < 20000; ++number) {
        RequestRandom random(43, number);
        std::vector<Item> items;
        std::vector<std::string> texts;
        for (std::uint64_t i = 0, n = random.between(1, 6); i < n; ++i) {
            items.push_back(Item{i, edge_decimal(random)});
            texts.push_back(items.back().price.to_string());
        }
        const Decimal threshold = random.chance(20) ? items[random.between(0, items.size() - 1)].price
                                                    : edge_decimal(random);
        std::string request = threshold.to_string() + " against";
        for (const std::string& text : texts) request += " " + text;

        planner::PriceUnits adapted;
        planner::decimal_price_units(items, threshold, adapted);
        planner::PriceUnits read;
        const std::vector<std::string_view> views(texts.begin(), texts.end());
        ASSERT_FALSE(planner::read_price_units(views, threshold.to_string(), read).has_value()) << request;
        expect_same_units(adapted, read, request);
        planner::PriceUnits units_alone;
        planner::decimal_price_units(items, units_alone);
        expect_same_units(adapted, units_alone, request);
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(adapted.is_cheap(i), items[i].price <= threshold) << request << " price " << i;
            EXPECT_EQ(adapted.is_dear(i), items[i].price >= threshold) << request << " price " << i;
            EXPECT_EQ(read.is_cheap(i), items[i].price <= threshold) << request << " price " << i;
        }
        (adapted.in_words() ? in_words : in_digits) += 1;
    }
    // Both forms are met often.
    EXPECT_GT(in_words, 1000);
    EXPECT_GT(in_digits, 3000);
}

}  // namespace
}  // namespace kestrava
