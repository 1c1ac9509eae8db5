// The selection entry: conversion order, which rule wins when several are broken, and
// what it reads. Its answers are checked in worked_requests_test.cpp.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "selection/requests/request.hpp"
#include "selection_test_support.hpp"

namespace kestrava {
namespace {

using testing::repeated_texts;
using testing::VectorPriceSource;
using Texts = std::vector<std::optional<std::string>>;

constexpr auto not_text = std::nullopt;

struct RejectionCase {
    std::string name;
    Texts prices;
    std::string threshold;
    SelectionRules rules;
    ErrorKind expected;
};

TEST(GetCheapestPeriods, RejectsWithTheFirstFailureInItsFixedOrder) {
    const SelectionRules fine{1, 1, 0, 0};
    Texts twenty_nine_with_one_bad = repeated_texts(29, "1");
    twenty_nine_with_one_bad[17] = "1.2.3";
    const std::vector<RejectionCase> cases = {
        {"no prices", {}, "1", fine, ErrorKind::prices_empty},
        {"no prices and an unparsable threshold", {}, "x", fine, ErrorKind::invalid_threshold},
        {"29 prices", repeated_texts(29, "1"), "0", fine, ErrorKind::too_many_prices},
        {"29 prices, one unparsable", twenty_nine_with_one_bad, "0", fine, ErrorKind::invalid_price},
        {"a price with a leading space", {"1", " 2"}, "0", fine, ErrorKind::invalid_price},
        {"a price with a trailing space", {"1", "2 "}, "0", fine, ErrorKind::invalid_price},
        {"an element that is not text", {"1", not_text}, "0", fine, ErrorKind::price_not_text},
        {"unparsable text at 2 before a non-text at 5",
         {"1", "1", "e", "1", "1", not_text},
         "0",
         fine,
         ErrorKind::invalid_price},
        {"non-text at 2 before unparsable text at 5",
         {"1", "1", not_text, "1", "1", "e"},
         "0",
         fine,
         ErrorKind::price_not_text},
        {"a bad threshold before every rule", {"1", "2"}, "1 ", {0, 0, 0, 0}, ErrorKind::invalid_threshold},
        {"min_selections 0 before min_consecutive_periods 0",
         {"1", "2"},
         "0",
         {0, 0, 0, 0},
         ErrorKind::min_selections_zero},
        {"min_selections above the count before the start gap",
         {"1", "2"},
         "0",
         {3, 1, 0, 1},
         ErrorKind::min_selections_above_count},
        {"min_consecutive_periods 0", {"1", "2"}, "0", {1, 0, 0, 0}, ErrorKind::min_consecutive_zero},
        {"min_consecutive_periods 0 before the start gap",
         {"1", "2"},
         "0",
         {1, 0, 0, 5},
         ErrorKind::min_consecutive_zero},
        {"min_consecutive_periods above min_selections",
         {"1", "2", "3"},
         "0",
         {1, 2, 0, 1},
         ErrorKind::min_consecutive_above_selections},
        {"start gap above the max gap", {"1", "2", "3"}, "0", {1, 1, 1, 2}, ErrorKind::start_gap_above_gap},
    };
    for (const RejectionCase& row : cases) {
        SCOPED_TRACE(row.name);
        VectorPriceSource source(row.prices);
        const Outcome<IndexList> result = get_cheapest_periods(source, row.threshold, row.rules, true);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().kind, row.expected);
    }
}

struct ReadCase {
    std::string name;
    Texts prices;
    std::vector<std::size_t> expected_reads;
};

TEST(GetCheapestPeriods, StopsReadingAtTheFirstElementThatFails) {
    const std::vector<ReadCase> cases = {
        {"unparsable text", {"1", "1", "e", "1", "1", not_text}, {0, 1, 2}},
        {"not text", {"1", not_text, "1", "e"}, {0, 1}},
        {"every element read once when all convert", {"1", "2", "3"}, {0, 1, 2}},
    };
    for (const ReadCase& row : cases) {
        SCOPED_TRACE(row.name);
        VectorPriceSource source(row.prices);
        static_cast<void>(get_cheapest_periods(source, "0", {1, 1, 2, 2}, true));
        EXPECT_EQ(source.read_indices(), row.expected_reads);
    }
}

struct ResizeCase {
    std::string name;
    std::size_t starting_size;
    std::size_t reads_before_resize;
    std::size_t size_after_resize;
    std::vector<std::size_t> expected_reads;
};

TEST(GetCheapestPeriods, ReadsBelowBothTheStartingAndTheCurrentSize) {
    const std::vector<ResizeCase> cases = {
        {"shrinks after the first read", 5, 1, 3, {0, 1, 2}},
        {"shrinks to what has been read", 5, 2, 2, {0, 1}},
        {"grows after the first read", 2, 1, 6, {0, 1}},
    };
    for (const ResizeCase& row : cases) {
        SCOPED_TRACE(row.name);
        VectorPriceSource source(repeated_texts(row.starting_size, "4"));
        source.resize_after(row.reads_before_resize, row.size_after_resize);
        // min_selections equal to what was read: the shortcut answers every index read.
        const std::uint64_t read = row.expected_reads.size();
        const Outcome<IndexList> result = get_cheapest_periods(source, "0", {read, 1, 0, 0}, true);
        EXPECT_EQ(source.read_indices(), row.expected_reads);
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result.value().size(), read);
    }
}

}  // namespace
}  // namespace kestrava
