// The benchmark's requests: the realistic suite (real days of day-ahead prices with
// typical rules), the converted suite (the same days in another currency, net of VAT
// or as binary doubles: 20 to 28 decimals, where sums round) and the hard suite (26 to
// 28 prices in alternating cheap and dear runs), built as the selection entry would
// hand them to a strategy.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "selection/item.hpp"
#include "selection/rules/selection_rules.hpp"

namespace kestrava::bench {

struct BenchRequest {
    std::string label;  // where the prices come from
    std::vector<std::string> prices;
    std::string threshold;
    SelectionRules rules;
    std::vector<Item> items;
    std::vector<Item> cheap_items;
};

// Every whole day (24 rows) of every CSV in `data`, with `rules_per_day` rule sets
// drawn from the grid: min_selections 3 to 8, min_consecutive_periods 1 to 3 (at most
// min_selections), max_gap_between_periods 4 to 12, max_gap_from_start 0 to that gap,
// threshold at the 10th, 15th, 20th or 25th percentile of the day. Days whose every
// price is cheap are skipped: they never reach a strategy. Throws std::runtime_error
// when the folder holds no CSV file.
std::vector<BenchRequest> realistic_suite(const std::filesystem::path& data, unsigned rules_per_day,
                                          std::uint64_t seed);

// The days of realistic_suite, each converted three ways, with rules drawn from the
// same grid (threshold at a percentile of the converted day):
//   "/1.0856"  divided by an exchange rate with the decimal type's own divide,
//              written by Decimal::to_string;
//   "/1.19"    the same with VAT divided out;
//   "double"   the full binary value of the nearest double, which parsing rounds to
//              28 decimals (what Python's format(Decimal(float(text)), "f") gives).
std::vector<BenchRequest> converted_suite(const std::filesystem::path& data, unsigned rules_per_day,
                                          std::uint64_t seed);

// The exact decimal expansion of the double nearest to `price`, no trailing zeros.
std::string binary_value_text(const std::string& price);

// `count` requests: n from 26 to 28, runs of 1 to 3 cheap prices (0 to 20) and dear
// prices (60 to 150) in turn, threshold 25, min_selections 10 to 14,
// min_consecutive_periods 1 to 3, max_gap_between_periods 6 to 12, max_gap_from_start
// 0 to that gap.
std::vector<BenchRequest> hard_suite(unsigned count, std::uint64_t seed);

// Fills the request's Item list and cheap-item list from its price texts and threshold;
// false when every price is cheap (such a request never reaches a strategy).
bool prepare(BenchRequest& request);

// A small seeded generator, the same on every platform.
class BenchRandom {
public:
    explicit BenchRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    std::uint64_t between(std::uint64_t lo, std::uint64_t hi) { return lo + next() % (hi - lo + 1); }

private:
    std::uint64_t state_;
};

}  // namespace kestrava::bench
