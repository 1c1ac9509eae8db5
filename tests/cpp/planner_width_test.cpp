// The width ladder: the fixed-width integers against native arithmetic, one request
// planned at every width (same answers, same table values), prices at each rung's
// largest magnitude (the answer of the same request scaled down), and price texts
// scaled by powers of ten through the text entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "planner_requests.hpp"
#include "selection/requests/cheapest_periods.hpp"
#include "selection/planner/integer_ladder.hpp"
#include "selection/planner/planner.hpp"

namespace kestrava {
namespace {

using planner::FixedInt;
using planner::int128;
using planner::Int256;
using planner::Int512;
using testing::RequestRandom;

int128 random_signed(RequestRandom& random, unsigned bits) {
    const int128 magnitude = static_cast<int128>(random.next() >> (64 - bits));
    return random.chance(50) ? -magnitude : magnitude;
}

template <std::size_t Limbs>
void expect_native_agreement(RequestRandom& random) {
    using Wide = FixedInt<Limbs>;
    const int128 a = random_signed(random, static_cast<unsigned>(random.between(1, 62)));
    const int128 b = random_signed(random, static_cast<unsigned>(random.between(1, 62)));
    const Wide wide_a = Wide::from_int128(a);
    const Wide wide_b = Wide::from_int128(b);
    EXPECT_EQ(wide_a + wide_b, Wide::from_int128(a + b));
    EXPECT_EQ(wide_a - wide_b, Wide::from_int128(a - b));
    EXPECT_EQ(wide_a * wide_b, Wide::from_int128(a * b));
    EXPECT_EQ(-wide_a, Wide::from_int128(-a));
    EXPECT_EQ(wide_a <=> wide_b, a <=> b);
    EXPECT_EQ(wide_a.magnitude_bit_width(), planner::magnitude_bit_width(a));
}

// Values of up to 250 bits, where nothing native can check a product: ring laws.
void expect_ring_laws(RequestRandom& random) {
    auto wide = [&] {
        Int512 value = Int512::from_int128(random_signed(random, 62));
        for (int limb = 0; limb < 3; ++limb)
            value = value * Int512::power_of_two(62) + Int512::from_int128(random_signed(random, 62));
        return value;
    };
    const Int512 a = wide(), b = wide(), c = wide();
    EXPECT_EQ((a + b) - b, a);
    EXPECT_EQ(a * (b + c), a * b + a * c);
    EXPECT_EQ(a * b, b * a);
    EXPECT_EQ((a * Int512{3}) * Int512{-5}, a * Int512{-15});
    EXPECT_EQ(a < b, Int512{} < b - a);  // no wrap below 2^253
    EXPECT_EQ((-a).magnitude_bit_width(), a.magnitude_bit_width());
}

TEST(PlannerWidth, FixedIntegersAgreeWithNativeArithmetic) {
    for (std::uint64_t number = 0; number < 20000; ++number) {
        RequestRandom random(11, number);
        expect_native_agreement<4>(random);
        expect_native_agreement<8>(random);
        expect_ring_laws(random);
    }
    // Carries and borrows across every limb, and the sign limb's compare.
    EXPECT_EQ(Int256{-1} + Int256{1}, Int256{});
    EXPECT_EQ(Int512::power_of_two(448) - Int512{1} + Int512{1}, Int512::power_of_two(448));
    EXPECT_LT(-Int512::power_of_two(500), Int512{-1});
    EXPECT_LT(Int512{-1}, Int512::power_of_two(0));
    EXPECT_EQ(Int256::power_of_two(130).magnitude_bit_width(), 131U);
}

struct IntegerRequest {
    std::vector<std::int64_t> prices;
    std::vector<std::uint8_t> cheap;
    SelectionRules rules;
    bool aggressive = true;
};

IntegerRequest integer_request(std::uint64_t number, std::int64_t largest) {
    RequestRandom random(23, number);
    IntegerRequest request;
    const auto n = static_cast<std::size_t>(random.between(20, 150));
    for (std::size_t p = 0; p < n; ++p) {
        request.prices.push_back(static_cast<std::int64_t>(random.between(0, 2 * static_cast<std::uint64_t>(largest))) -
                                 largest);
        request.cheap.push_back(request.prices.back() <= 0 ? 1 : 0);
    }
    request.prices[random.between(0, n - 1)] = random.chance(50) ? largest : -largest;  // the largest magnitude occurs
    const std::uint64_t run = random.between(1, 4);
    const std::uint64_t gap = random.between(1, 3 * run);
    request.rules = SelectionRules{random.between(run, n / 3), run, gap, random.between(0, gap)};
    request.aggressive = random.chance(60);
    return request;
}

// What a planner of one width answers, with its table values as 128-bit numbers
// (they are small here) or nullopt where unreachable.
struct WidthAnswer {
    IndexList main;
    IndexList selection;
    std::vector<std::optional<int128>> runs;
};

template <class Int>
int128 low_bits(const Int& value) {
    if constexpr (planner::IntegerWidth<Int>::bits <= 128) {
        return static_cast<int128>(value);
    } else {
        return static_cast<int128>((static_cast<unsigned __int128>(value.limb(1)) << 64) | value.limb(0));
    }
}

template <class Int>
WidthAnswer plan_at_width(const IntegerRequest& request, const rules::Shape& shape) {
    std::vector<Int> prices;
    for (const std::int64_t price : request.prices) prices.push_back(static_cast<Int>(price));
    planner::Planner<Int> planner(shape, prices);
    const planner::PlanStatus status =
        request.aggressive ? planner.plan_lowest_average(StopCheck{}) : planner.plan_cheapest_main(StopCheck{});
    EXPECT_EQ(status, planner::PlanStatus::done);
    WidthAnswer answer{planner.main(), planner.selection(), {}};
    const rules::Band& band = planner.tables().band();
    for (int c = 0; c < band.columns(); ++c) {
        for (int p = band.first(c); p <= band.last(c); ++p) {
            const Int value = planner.tables().run_value(p, c);
            answer.runs.push_back(planner::Tables<Int>::is_reachable(value) ? std::optional<int128>(low_bits(value))
                                                                            : std::nullopt);
        }
    }
    return answer;
}

rules::Shape shape_of(const IntegerRequest& request) { return rules::make_shape(request.cheap, request.rules); }

TEST(PlannerWidth, EveryWidthGivesTheSameAnswerAndTables) {
    for (std::uint64_t number = 0; number < 200; ++number) {
        const IntegerRequest request = integer_request(number, 50);
        const rules::Shape shape = shape_of(request);
        if (shape.size == shape.n) continue;
        const WidthAnswer narrow = plan_at_width<std::int64_t>(request, shape);
        const WidthAnswer answers[] = {plan_at_width<int128>(request, shape), plan_at_width<Int256>(request, shape),
                                       plan_at_width<Int512>(request, shape)};
        for (const WidthAnswer& wide : answers) {
            EXPECT_EQ(wide.main, narrow.main) << "request " << number;
            EXPECT_EQ(wide.selection, narrow.selection) << "request " << number;
            EXPECT_EQ(wide.runs, narrow.runs) << "request " << number;
        }
    }
}

// Prices q * 2^m with |q| <= 7 and one |q| = 7, m as large as the rung allows: the
// answer must be that of q.
template <class Int>
void expect_boundary_answers(planner::Rung rung) {
    constexpr int bits = planner::IntegerWidth<Int>::bits;
    for (std::uint64_t number = 0; number < 40; ++number) {
        const IntegerRequest request = integer_request(number, 7);
        const rules::Shape shape = shape_of(request);
        if (shape.size == shape.n) continue;
        const std::uint64_t n = request.prices.size();
        const unsigned limit = static_cast<unsigned>(bits - 7 - std::bit_width(2 * n * n));
        ASSERT_EQ(planner::rung_for(n, limit), rung);
        if (rung != planner::Rung::bits512) {
            ASSERT_NE(planner::rung_for(n, limit + 1), rung);
        }
        std::vector<Int> prices;
        for (const std::int64_t q : request.prices)
            prices.push_back(static_cast<Int>(q) * planner::power_of_two<Int>(limit - 3));
        planner::Planner<Int> planner(shape, prices);
        const auto status =
            request.aggressive ? planner.plan_lowest_average(StopCheck{}) : planner.plan_cheapest_main(StopCheck{});
        ASSERT_EQ(status, planner::PlanStatus::done);
        const WidthAnswer small = plan_at_width<std::int64_t>(request, shape);
        EXPECT_EQ(planner.main(), small.main) << "request " << number;
        EXPECT_EQ(planner.selection(), small.selection) << "request " << number;
    }
}

TEST(PlannerWidth, LargestMagnitudesOfEachRungKeepTheAnswer) {
    expect_boundary_answers<std::int64_t>(planner::Rung::bits64);
    expect_boundary_answers<int128>(planner::Rung::bits128);
    expect_boundary_answers<Int256>(planner::Rung::bits256);
    expect_boundary_answers<Int512>(planner::Rung::bits512);
}

// The same request with every price and the threshold times 10^d, as texts: the
// common scale, the conversion and each rung of the ladder on the way.
TEST(PlannerWidth, PricesScaledByPowersOfTenKeepTheAnswer) {
    for (std::uint64_t number = 0; number < 60; ++number) {
        const testing::PlannerRequest request = testing::random_request(31, number, 28, number % 2 == 1);
        std::optional<IndexList> first;
        for (const unsigned zeros : {0U, 17U, 45U, 100U, 112U}) {
            std::vector<std::string> texts;
            for (const std::string& price : request.prices)
                texts.push_back(price + (price.find('.') == std::string::npos ? "." : "") + std::string(4, '0'));
            auto scale = [&](std::string text) {
                // Moving the point right by `zeros` digits (texts have a point and four extra zeros).
                const std::size_t point = text.find('.');
                std::string digits = text.substr(0, point) + text.substr(point + 1) + std::string(zeros, '0');
                const std::size_t fraction = text.size() - point - 1;
                return digits.substr(0, digits.size() - fraction) + "." + digits.substr(digits.size() - fraction);
            };
            std::vector<std::string> scaled;
            for (const std::string& text : texts) scaled.push_back(scale(text));
            const std::string threshold =
                scale(request.threshold + (request.threshold.find('.') == std::string::npos ? "." : "") + "0000");
            const std::vector<std::string_view> views(scaled.begin(), scaled.end());
            const auto outcome = planner::cheapest_periods(views, threshold, request.rules, request.aggressive);
            ASSERT_TRUE(outcome.ok()) << request.describe() << " times 10^" << zeros;
            if (!first) first = outcome.value();
            EXPECT_EQ(outcome.value(), *first) << request.describe() << " times 10^" << zeros;
        }
    }
}

}  // namespace
}  // namespace kestrava
