// The adversarial suite: requests built to make the rounded-sum layer work hardest,
// one class per way it used to give up or slow down.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench_suites.hpp"

namespace kestrava::bench {

struct AdversarialRequest {
    BenchRequest request;
    bool aggressive = true;
};

// The classes, by name:
//   huge      one price near 7 * 10^27 beside prices below 0.1 with 27 decimals, n = 20, 24, 28
//   ties      prices within 10^-24 of 50.01, n = 24 and 28
//   past96    magnitudes adding up past 2^96 with both signs, n = 22 to 28
//   wide      28-digit whole prices of either sign, any rules, n = 18 to 28 (a sweep)
//   apart     prices 10^-28 apart around a real price, n = 20 to 28 (a sweep)
//   alternate the 28-price day 0, +1, -1 units of the 28th decimal, rules (12, 1, 27, 27)
//   decreasing 28 prices from 0.3 to 1.0 at 28 decimals, falling by one unit of the last
//   noisy     the same base with random offsets of up to 56 units
//   zigzag    falling by two units, every other price three units up
//   third     falling, every third price dearer by 1 to 1000 units or 10^12 times that
//   scaled    falling from (2^96 - 1) / 12 to 16 units at scales 1 to 28: the sums
//             cross 2^96 at about half the periods
// The falling classes take min_consecutive_periods 1 and gaps of 14 to 27.
// `count` requests per class (a sweep takes count * 10), strategies in turn.
// Throws std::invalid_argument for an unknown class.
std::vector<AdversarialRequest> adversarial_class(const std::string& name, unsigned count, std::uint64_t seed);

inline const std::vector<std::string>& adversarial_class_names() {
    static const std::vector<std::string> names{"huge",    "ties",  "past96", "wide",  "apart",
                                                  "alternate", "decreasing", "noisy", "zigzag", "third", "scaled"};
    return names;
}

}  // namespace kestrava::bench
