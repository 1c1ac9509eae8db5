// compare, checked_add, divide and reduced_scale on tables of vectors: scales, signs,
// the 2^96 - 1 limit, half-even ties, rounding carries and overflow.
#include <gtest/gtest.h>

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decimal/decimal.hpp"
#include "decimal/powers_of_ten.hpp"

namespace kestrava {
namespace {

constexpr std::string_view max_text = "79228162514264337593543950335";  // 2^96 - 1

Decimal number(std::string_view text) {
    const std::optional<Decimal> value = Decimal::parse(text);
    EXPECT_TRUE(value.has_value()) << "test input does not parse: " << text;
    return value.value_or(Decimal());
}

std::string_view order_name(std::strong_ordering order) {
    if (order < 0) return "less";
    return order > 0 ? "greater" : "equal";
}

struct CompareCase {
    std::string_view a;
    std::string_view b;
    std::strong_ordering expected;
};

TEST(DecimalCompare, OrdersByValueAcrossScalesAndSigns) {
    const std::vector<CompareCase> cases = {
        {"0", "-0.000", std::strong_ordering::equal},
        {"0", "0.0000000000000000000000000000", std::strong_ordering::equal},
        {"0", "0.0000000000000000000000000001", std::strong_ordering::less},
        {"0", "-0.0000000000000000000000000001", std::strong_ordering::greater},
        {"-1", "1", std::strong_ordering::less},
        {"1.5", "1.50", std::strong_ordering::equal},
        {"-1.5", "-1.50", std::strong_ordering::equal},
        {"-1", "-0.5", std::strong_ordering::less},
        {"2", "10", std::strong_ordering::less},
        {"1", "0.9999999999999999999999999999", std::strong_ordering::greater},
        {"1", "1.0000000000000000000000000001", std::strong_ordering::less},
        {"-1", "-1.0000000000000000000000000001", std::strong_ordering::greater},
        // Scaling up the smaller-scale side passes 2^96 - 1: it is the larger magnitude.
        {max_text, "7.9228162514264337593543950335", std::strong_ordering::greater},
        {"-79228162514264337593543950335", "-7.9228162514264337593543950335", std::strong_ordering::less},
        {"10000000000", "0.0000000000000000000000000001", std::strong_ordering::greater},
        {"-10000000000", "-0.0000000000000000000000000001", std::strong_ordering::less},
        {"7.9228162514264337593543950335", "7.922816251426433759354395034", std::strong_ordering::less},
        {"7922816251426433759354395033.5", "7922816251426433759354395033.50", std::strong_ordering::equal},
        {max_text, max_text, std::strong_ordering::equal},
        {"0.30", "0.3", std::strong_ordering::equal},
    };
    for (const CompareCase& c : cases) {
        const Decimal a = number(c.a);
        const Decimal b = number(c.b);
        EXPECT_EQ(order_name(compare(a, b)), order_name(c.expected)) << "compare " << c.a << " with " << c.b;
        EXPECT_EQ(order_name(compare(b, a)), order_name(0 <=> c.expected)) << "compare " << c.b << " with " << c.a;
    }
}

TEST(DecimalCompare, SumsOfTextsCompareByValue) {
    const std::optional<Decimal> sum = checked_add(number("0.1"), number("0.2"));
    ASSERT_TRUE(sum.has_value());
    EXPECT_TRUE(*sum == number("0.30"));
    EXPECT_TRUE(*sum == number(".3"));
    EXPECT_TRUE(number("-0") == number("0.000"));
    EXPECT_FALSE(*sum == number("0.3000000000000000000000000001"));
}

struct BinaryCase {
    std::string_view a;
    std::string_view b;
    std::string_view expected;  // to_string of the result, or the name of the failure
};

std::string added(std::string_view a, std::string_view b) {
    const std::optional<Decimal> sum = checked_add(number(a), number(b));
    return sum ? sum->to_string() : "overflow";
}

void expect_sums(const std::vector<BinaryCase>& cases) {
    for (const BinaryCase& c : cases) {
        EXPECT_EQ(added(c.a, c.b), c.expected) << c.a << " + " << c.b;
        EXPECT_EQ(added(c.b, c.a), c.expected) << c.b << " + " << c.a;
    }
}

TEST(DecimalAdd, ExactAtTheLargerScale) {
    expect_sums({
        {"0.1", "0.2", "0.3"},
        {"-0.1", "-0.2", "-0.3"},
        {"5", "-7.25", "-2.25"},
        {"1.5", "-1.50", "0.00"},  // a zero result carries no sign
        {"-1.5", "1.5", "0.0"},
        {"0", "0.000", "0.000"},
        {"0.9999999999999999999999999999", "0.0000000000000000000000000001", "1.0000000000000000000000000000"},
        {"1", "0.0000000000000000000000000001", "1.0000000000000000000000000001"},
        {"79228162514264337593543950334", "1", max_text},
        {max_text, "-79228162514264337593543950335", "0"},
        {"7922816251426433759354395033.5", "-7922816251426433759354395033.4", "0.1"},
    });
}

TEST(DecimalAdd, RoundsHalfToEvenWhereTheSumOutgrows96Bits) {
    expect_sums({
        {"79228162514264337593543950334", "0.5", "79228162514264337593543950334"},  // tie, even kept
        {"79228162514264337593543950334", "0.51", max_text},                        // above half
        {"79228162514264337593543950334", "0.4999999999999999999999999999", "79228162514264337593543950334"},
        {"79228162514264337593543950334", "0.5000000000000000000000000001", max_text},  // not a tie
        {max_text, "0.4", max_text},
        {max_text, "0.0000000000000000000000000001", max_text},
        {max_text, "-0.0000000000000000000000000001", max_text},
        {max_text, "-0.5", "79228162514264337593543950334"},  // tie: ...334.5 goes to even
        {"-79228162514264337593543950335", "0.5", "-79228162514264337593543950334"},
        {"7922816251426433759354395033.5", "7922816251426433759354395033.5", "15845632502852867518708790067"},
        {"7.9228162514264337593543950335", "0.0000000000000000000000000010", "7.922816251426433759354395034"},
        {"7.9228162514264337593543950335", "0.0000000000000000000000000020", "7.922816251426433759354395036"},
        {"10", "0.0000000000000000000000000001", "10.000000000000000000000000000"},
        // The carry of rounding reaches 2^96: one more digit goes, rounded on the exact sum.
        {"79.228162514264337593543950335", "0.0000000000000000000000000005", "79.22816251426433759354395034"},
        {"792.28162514264337593543950335", "0.0000000000000000000000000051", "792.2816251426433759354395034"},
    });
}

TEST(DecimalAdd, OverflowsWhenEvenScaleZeroCannotHoldTheSum) {
    expect_sums({
        {max_text, max_text, "overflow"},
        {max_text, "1", "overflow"},
        {"-79228162514264337593543950335", "-1", "overflow"},
        {max_text, "0.5", "overflow"},  // tie rounds the odd coefficient up to 2^96
        {"-79228162514264337593543950335", "-0.5", "overflow"},
        {"39614081257132168796771975168", "39614081257132168796771975168", "overflow"},  // exactly 2^96
    });
}

std::string divided(std::string_view a, std::string_view b) {
    const Quotient quotient = divide(number(a), number(b));
    switch (quotient.status) {
        case DivisionStatus::ok:
            return quotient.value.to_string();
        case DivisionStatus::division_by_zero:
            return "division by zero";
        case DivisionStatus::overflow:
            return "overflow";
    }
    return "unknown status";
}

void expect_quotients(const std::vector<BinaryCase>& cases) {
    for (const BinaryCase& c : cases) EXPECT_EQ(divided(c.a, c.b), c.expected) << c.a << " / " << c.b;
}

TEST(DecimalDivide, KeepsTheLargestScaleThatFits) {
    expect_quotients({
        {"10", "3", "3.3333333333333333333333333333"},
        {"2", "3", "0.6666666666666666666666666667"},
        {"1", "3", "0.3333333333333333333333333333"},
        {"2", "7", "0.2857142857142857142857142857"},
        {"-1", "3", "-0.3333333333333333333333333333"},
        {"1", "-3", "-0.3333333333333333333333333333"},
        {"-1", "-3", "0.3333333333333333333333333333"},
        {"1", "2", "0.5000000000000000000000000000"},
        {"6", "2", "3.0000000000000000000000000000"},
        {"100", "1", "100.00000000000000000000000000"},
        {"10.05", "3", "3.3500000000000000000000000000"},
        {"-7.5", "4", "-1.8750000000000000000000000000"},
        {max_text, "1", max_text},
        {max_text, "-1", "-79228162514264337593543950335"},
        {max_text, "10", "7922816251426433759354395033.5"},
        {max_text, max_text, "1.0000000000000000000000000000"},
        {"1", "7.9228162514264337593543950335", "0.1262177448353618888658765704"},
        {"1", "0.0000000000000000000000000001", "10000000000000000000000000000"},
        {"0", "5", "0"},
        {"0.00", "-5", "0"},
        {"-0.0000000000000000000000000001", max_text, "0.0000000000000000000000000000"},
    });
}

TEST(DecimalDivide, RoundsHalfToEvenOnTheExactRemainder) {
    expect_quotients({
        {"1", "20000000000000000000000000000", "0.0000000000000000000000000000"},             // 0.5 units: even 0
        {"3", "20000000000000000000000000000", "0.0000000000000000000000000002"},             // 1.5 units
        {"5", "20000000000000000000000000000", "0.0000000000000000000000000002"},             // 2.5 units
        {"1.0000000001", "20000000000000000000000000000", "0.0000000000000000000000000001"},  // above half
        {max_text, "2", "39614081257132168796771975168"},                                     // ...167.5 to even
        {"79228162514264337593543950333", "2", "39614081257132168796771975166"},              // ...166.5 to even
        // At scale 1 the rounded quotient would be 2^96, so it is rounded at scale 0.
        {"71305346262837903834189555302", "9", "7922816251426433759354395034"},
    });
}

TEST(DecimalDivide, ReportsDivisionByZeroAndOverflow) {
    expect_quotients({
        {"1", "0", "division by zero"},
        {"0", "0", "division by zero"},
        {"1", "-0.000", "division by zero"},
        {max_text, "0.1", "overflow"},
        {max_text, "0.9999999999999999999999999999", "overflow"},
        {max_text, "0.0000000000000000000000000001", "overflow"},
        {"71305346262837903834189555302", "0.9", "overflow"},  // rounds up to 2^96 at scale 0
    });
}

// Both the 64-bit and the 128-bit path: coefficients up to 2^64 - 1 and beyond.
TEST(DecimalReducedScale, DropsOnlyTrailingZeroDigits) {
    const std::vector<std::pair<std::string_view, unsigned>> table = {
        {"0", 0},
        {"-0.000", 0},
        {"1.500", 1},
        {"-2.50", 1},
        {"100", 0},
        {"100.00", 0},
        {"0.0000000000000000000000000001", 28},
        {"0.1000000000000000000000000000", 1},
        {"18446744073709551615.000", 0},  // 2^64 - 1 at scale 3: 64-bit path
        {"1844674407370955161.6000", 1},  // 2^64 at scale 4: 128-bit path
        {"7922816251426433759354395033.5", 1},
        {"79228162514264337593543950330", 0},
        {"7.9228162514264337593543950330", 27},
    };
    for (const auto& [text, scale] : table) EXPECT_EQ(reduced_scale(number(text)), scale) << text;
}

}  // namespace
}  // namespace kestrava
