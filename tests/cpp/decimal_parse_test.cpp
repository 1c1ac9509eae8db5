// Decimal::parse and Decimal::to_string: the text grammar, the 96-bit bounds, the
// rounding past the last storable digit, and agreement of short and long texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "decimal/decimal.hpp"

namespace kestrava {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view rejected = "reject";

// The text with every byte outside printable ASCII shown as \xNN, for messages.
std::string printable(std::string_view text) {
    std::string shown = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f) {
            shown.push_back(c);
        } else {
            constexpr std::string_view hex = "0123456789abcdef";
            shown += "\\x";
            shown.push_back(hex[byte >> 4]);
            shown.push_back(hex[byte & 15U]);
        }
    }
    return shown + "\"";
}

std::string parsed(std::string_view text) {
    const std::optional<Decimal> value = Decimal::parse(text);
    return value ? value->to_string() : std::string(rejected);
}

struct ParseCase {
    std::string_view text;
    std::string_view expected;  // the representation as to_string shows it, or "reject"
};

void expect_parses(const std::vector<ParseCase>& cases) {
    for (const ParseCase& c : cases) {
        EXPECT_EQ(parsed(c.text), c.expected) << "parse " << printable(c.text);
    }
}

TEST(DecimalParse, AcceptsTheGrammar) {
    expect_parses({
        {"0", "0"},
        {"-0", "0"},
        {"-0.000", "0.000"},
        {"+7", "7"},
        {"007", "7"},
        {"0.30", "0.30"},
        {".3", "0.3"},
        {".5", "0.5"},
        {"-.5", "-0.5"},
        {"5.", "5"},
        {"-5.", "-5"},
        {"+.5_", "0.5"},
        {"1_000", "1000"},
        {"1__", "1"},
        {"1_000.000_1", "1000.0001"},
        {"1_.5", "1.5"},
        {"1._5", "1.5"},
        {"12345678901234567", "12345678901234567"},    // 17 bytes: the short path
        {"-1234567890123456", "-1234567890123456"},    // 17 bytes with a sign
        {"123456789012345678", "123456789012345678"},  // 18 bytes: the long path
        {"0.1234567890123456", "0.1234567890123456"},  // 18 bytes, 16 fractional digits
        {"-0.0000000000000000000000000001", "-0.0000000000000000000000000001"},
    });
}

TEST(DecimalParse, RejectsEverythingElse) {
    expect_parses({
        {"", rejected},
        {".", rejected},
        {"+", rejected},
        {"-", rejected},
        {"+.", rejected},
        {"-.", rejected},
        {"_", rejected},
        {"_1", rejected},
        {"+_1", rejected},
        {"-_1", rejected},
        {"._5", rejected},
        {"._", rejected},
        {" 1", rejected},
        {"1 ", rejected},
        {"\t1", rejected},
        {"1\n", rejected},
        {"1e3", rejected},
        {"1E3", rejected},
        {"1.2.3", rejected},
        {"1..", rejected},
        {"..1", rejected},
        {"--1", rejected},
        {"+-1", rejected},
        {"-+1", rejected},
        {"1-", rejected},
        {"1+", rejected},
        {"1,5", rejected},
        {"0x10", rejected},
        {"inf", rejected},
        {"NaN", rejected},
        {"\xd9\xa1", rejected},  // a non-ASCII digit
        {"1\xc2\xa0", rejected},
        {"\xff", rejected},
        {"1\0"sv, rejected},
        {"\0"sv, rejected},
        {"1\0002"sv, rejected},
        {"1234567890123456e", rejected},  // 17 bytes: the short path checks every byte too
        {"12345678901234567 ", rejected},
    });
}

TEST(DecimalParse, IntegerDigitsMustFitIn96Bits) {
    expect_parses({
        {"79228162514264337593543950335", "79228162514264337593543950335"},  // 2^96 - 1
        {"-79228162514264337593543950335", "-79228162514264337593543950335"},
        {"79_228_162_514_264_337_593_543_950_335", "79228162514264337593543950335"},
        {"0000000000000000000079228162514264337593543950335", "79228162514264337593543950335"},
        {"79228162514264337593543950335.", "79228162514264337593543950335"},
        {"79228162514264337593543950335.0", "79228162514264337593543950335"},
        {"7.9228162514264337593543950335", "7.9228162514264337593543950335"},
        {"79228162514264337593543950336", rejected},  // 2^96
        {"-79228162514264337593543950336", rejected},
        {"100000000000000000000000000000", rejected},
        {"79228162514264337593543950336.0", rejected},
        {"79228162514264337593543950336.4", rejected},
        {"340282366920938463463374607431768211457", rejected},  // past 2^128 as well
    });
}

// The first digit that cannot be stored (the 29th fractional one, or one that would
// pass 2^96 - 1) rounds half up on the magnitude; nothing after it is read.
TEST(DecimalParse, RoundsOnTheFirstDigitThatCannotBeStored) {
    expect_parses({
        {"0.00000000000000000000000000015", "0.0000000000000000000000000002"},
        {"0.00000000000000000000000000014", "0.0000000000000000000000000001"},
        {"-0.00000000000000000000000000015", "-0.0000000000000000000000000002"},
        {"-0.00000000000000000000000000004", "0.0000000000000000000000000000"},
        {"0.99999999999999999999999999995", "1.0000000000000000000000000000"},
        {"1.23456789012345678901234567890123", "1.2345678901234567890123456789"},
        {"1.23456789012345678901234567895", "1.2345678901234567890123456790"},
        {"0.000000000000000000000000000149", "0.0000000000000000000000000001"},
        {"0.00000000000000000000000000015 x", "0.0000000000000000000000000002"},
        {"0.00000000000000000000000000015.", "0.0000000000000000000000000002"},
        {"0.00000000000000000000000000015 ", "0.0000000000000000000000000002"},
        // A digit that would pass 2^96 - 1 rounds at its own position.
        {"12345678901234567890.123456789012345", "12345678901234567890.123456789"},
        {"7922816251426433759354395033.54", "7922816251426433759354395033.5"},
        {"79228162514264337593543950335.4", "79228162514264337593543950335"},
        {"79228162514264337593543950335.49", "79228162514264337593543950335"},
        // Rounding up to 2^96 costs one digit of scale; the dropped digit (6) rounds up.
        {"7922816251426433759354395033.59", "7922816251426433759354395034"},
        {"7922816251426433759354395033.55", "7922816251426433759354395034"},
        {"7.92281625142643375935439503355", "7.922816251426433759354395034"},
        {"-7.92281625142643375935439503359", "-7.922816251426433759354395034"},
        // At scale 0 there is no digit to give: overflow.
        {"79228162514264337593543950335.5", rejected},
        {"-79228162514264337593543950335.9", rejected},
    });
}

// Underscores are skipped up to the rounding digit, and the bytes before that digit
// are still read; after it nothing is.
TEST(DecimalParse, UnderscoreAtTheRoundingPosition) {
    expect_parses({
        {"0.0000000000000000000000000001_5", "0.0000000000000000000000000002"},
        {"0.0000000000000000000000000001__4", "0.0000000000000000000000000001"},
        {"0.0000000000000000000000000001_", "0.0000000000000000000000000001"},
        {"0.0000000000000000000000000001_x", rejected},
        {"0.0000000000000000000000000001x5", rejected},
        {"0.0000000000000000000000000001 ", rejected},
        {"0.0000000000000000000000000001.5", rejected},
    });
}

// Random coefficients, scales and signs survive to_string and parse unchanged.
TEST(DecimalParse, RoundTripsThroughText) {
    constexpr std::uint64_t seed = 20240611;
    constexpr int iterations = 50000;
    std::mt19937_64 random(seed);
    for (int i = 0; i < iterations; ++i) {
        const unsigned bits = static_cast<unsigned>(random() % 97);
        uint128 coefficient = (uint128{random()} << 64) | random();
        coefficient = bits == 0 ? 0 : coefficient >> (128 - bits);
        const auto scale = static_cast<unsigned>(random() % (Decimal::max_scale + 1));
        const Decimal value = Decimal::from_parts((random() & 1) != 0, coefficient, scale);
        const std::string text = value.to_string();
        const std::optional<Decimal> back = Decimal::parse(text);
        ASSERT_TRUE(back.has_value()) << "seed " << seed << " iteration " << i << ": " << text;
        EXPECT_TRUE(back->coefficient() == value.coefficient() && back->scale() == value.scale() &&
                    back->is_negative() == value.is_negative())
            << "seed " << seed << " iteration " << i << ": " << text << " came back as " << back->to_string();
    }
}

// Trailing underscores change no text's meaning, so a short random text read on the
// short path must agree with itself padded onto the long path.
TEST(DecimalParse, ShortAndLongPathsAgree) {
    constexpr std::uint64_t seed = 77;
    constexpr int iterations = 200000;
    constexpr std::string_view alphabet = "0123456789012345678901234567890123456789.._+- e\0\xff"sv;
    std::mt19937_64 random(seed);
    for (int i = 0; i < iterations; ++i) {
        std::string text(random() % 18, ' ');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        const std::string padded = text + "__________";
        EXPECT_EQ(parsed(text), parsed(padded)) << "seed " << seed << " iteration " << i << ": " << printable(text);
    }
}

}  // namespace
}  // namespace kestrava
