// The generators of the adversarial suite: prices as decimal texts, rules from a
// small grid, the threshold at a quarter of the day.
#include "adversarial_suite.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "decimal/decimal.hpp"

namespace kestrava::bench {
namespace {

using int128 = __int128;

// A signed coefficient at a scale as decimal text.
std::string decimal_text(int128 coefficient, unsigned scale) {
    const bool negative = coefficient < 0;
    auto magnitude = static_cast<unsigned __int128>(negative ? -coefficient : coefficient);
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
    if (scale > 0) digits.insert(digits.size() - scale, 1, '.');
    std::string text(negative ? 1 : 0, '-');
    text.append(digits);
    return text;
}

std::string long_price(BenchRandom& random, std::uint64_t whole_limit, unsigned decimals) {
    std::string text = std::to_string(random.between(0, whole_limit)) + ".";
    for (unsigned d = 0; d < decimals; ++d) text.push_back(static_cast<char>('0' + random.between(0, 9)));
    return text;
}

void grid_rules(BenchRandom& random, SelectionRules& rules) {
    rules.min_selections = random.between(3, 8);
    rules.min_consecutive_periods = random.between(1, std::min<std::uint64_t>(3, rules.min_selections));
    rules.max_gap_between_periods = random.between(4, 12);
    rules.max_gap_from_start = random.between(0, rules.max_gap_between_periods);
}

// A percentile of the prices, by value.
std::string percentile_threshold(const std::vector<std::string>& prices, std::size_t percent) {
    std::vector<std::string> ordered = prices;
    std::sort(ordered.begin(), ordered.end(), [](const std::string& a, const std::string& b) {
        return compare(*Decimal::parse(a), *Decimal::parse(b)) < 0;
    });
    return ordered[(ordered.size() - 1) * percent / 100];
}

std::vector<std::string> huge(BenchRandom& random, std::size_t n) {
    std::vector<std::string> prices(n);
    for (std::string& price : prices) price = "0.0" + long_price(random, 0, 26).substr(2);
    const int128 seven = int128{7'000'000'000'000'000'000} * 1'000'000'000;  // 7 * 10^27
    prices[random.between(0, n - 1)] = decimal_text(seven - static_cast<int128>(random.between(0, 999'999)), 0);
    return prices;
}

std::vector<std::string> ties(BenchRandom& random, std::size_t n) {
    std::vector<std::string> prices(n);
    const int128 base = int128{5001} * 100'000'000'000'000 * 1'000'000'000'000;  // 50.01 at scale 28
    for (std::string& price : prices) price = decimal_text(base + static_cast<int128>(random.between(0, 20000)) - 10000, 28);
    return prices;
}

// Half the prices near +-(2^96 - 1) / d, d = 6 to 12, the rest real ones.
std::vector<std::string> past96(BenchRandom& random, std::size_t n) {
    std::vector<std::string> prices(n);
    const int128 top = (int128{1} << 96) - 1;
    for (std::string& price : prices) {
        if (random.between(0, 1) == 0) {
            price = std::to_string(random.between(0, 300));
            continue;
        }
        const int128 magnitude = top / static_cast<int128>(random.between(6, 12)) - static_cast<int128>(random.between(0, 1000));
        price = decimal_text(random.between(0, 1) == 0 ? magnitude : -magnitude, 0);
    }
    return prices;
}

// 28-digit whole prices of either sign: the sides add up past 2^96 - 1, while a
// selection's sums may or may not.
std::vector<std::string> wide(BenchRandom& random, std::size_t n) {
    std::vector<std::string> prices(n);
    const int128 limit = int128{10'000'000'000'000'000'000U} * 1'000'000'000;  // 10^28
    for (std::string& price : prices) {
        const int128 magnitude = (static_cast<int128>(random.next()) << 32 ^ static_cast<int128>(random.next())) % limit;
        price = decimal_text(random.between(0, 1) == 0 ? magnitude : -magnitude, 0);
    }
    return prices;
}

// Any rules over n periods: sizes, runs and gaps of every length.
void any_rules(BenchRandom& random, std::size_t n, SelectionRules& rules) {
    rules.min_selections = random.between(1, n - 1);
    rules.min_consecutive_periods = random.between(1, rules.min_selections);
    rules.max_gap_between_periods = random.between(0, n);
    rules.max_gap_from_start = random.between(0, rules.max_gap_between_periods);
}

std::vector<std::string> apart(BenchRandom& random, std::size_t n) {
    std::vector<std::string> prices(n);
    const int128 base = static_cast<int128>(random.between(0, 30000)) * 100'000'000'000'000 * 1'000'000'000'000;
    for (std::string& price : prices) price = decimal_text(base + static_cast<int128>(random.between(0, 5)), 28);
    return prices;
}

// The falling shapes: n prices near `base` units of 10^-scale, where each later
// partial selection sums lower than every earlier one at the same state.
enum class Falling { decreasing, noisy, zigzag, third_dearer, scaled };

std::vector<std::string> falling(BenchRandom& random, std::size_t n, Falling shape) {
    unsigned scale = 28;
    // 0.3 to 1.0 at 28 decimals.
    int128 base = static_cast<int128>(random.between(3000, 10000)) * 1'000'000'000'000 * 1'000'000'000'000;
    if (shape == Falling::scaled) {  // the sums cross 2^96 - 1 at about half the periods
        scale = static_cast<unsigned>(random.between(1, 28));
        base = ((int128{1} << 96) - 1) / static_cast<int128>(n / 2 + random.between(0, 4) - 2);
    }
    const int128 dearer = static_cast<int128>(random.between(1, 1000)) * (random.between(0, 1) == 0 ? 1 : 1'000'000'000'000);
    std::vector<std::string> prices(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto at = static_cast<int128>(i);
        int128 units = base - at;
        if (shape == Falling::noisy) units = base + static_cast<int128>(random.between(0, 2 * n));
        if (shape == Falling::zigzag) units = base - 2 * at + 3 * (at % 2);
        if (shape == Falling::third_dearer && i % 3 == 2) units += dearer;
        prices[i] = decimal_text(units, scale);
    }
    return prices;
}

// Runs of 1 and loose gaps: the rules that leave the most merges.
void loose_rules(BenchRandom& random, std::size_t n, SelectionRules& rules) {
    rules.min_selections = random.between(2, n / 2 + 2);
    rules.min_consecutive_periods = 1;
    rules.max_gap_between_periods = random.between(n / 2, n - 1);
    rules.max_gap_from_start = random.between(0, rules.max_gap_between_periods);
}

AdversarialRequest finished(std::vector<std::string> prices, std::string threshold, const SelectionRules& rules,
                            bool aggressive, std::string label) {
    AdversarialRequest made;
    made.request.prices = std::move(prices);
    made.request.threshold = std::move(threshold);
    made.request.rules = rules;
    made.request.label = std::move(label);
    made.aggressive = aggressive;
    prepare(made.request);
    return made;
}

std::vector<AdversarialRequest> alternate() {
    std::vector<std::string> prices;
    static const char* const cycle[] = {"0", "0.0000000000000000000000000001", "-0.0000000000000000000000000001"};
    for (std::size_t i = 0; i < 28; ++i) prices.emplace_back(cycle[i % 3]);
    const SelectionRules rules{12, 1, 27, 27};
    return {finished(prices, "0", rules, true, "alternate aggressive"),
            finished(prices, "0", rules, false, "alternate conservative")};
}

const std::vector<std::pair<std::string, Falling>> falling_classes{{"decreasing", Falling::decreasing},
                                                                   {"noisy", Falling::noisy},
                                                                   {"zigzag", Falling::zigzag},
                                                                   {"third", Falling::third_dearer},
                                                                   {"scaled", Falling::scaled}};

// A falling class's request: 28 prices, loose rules, the threshold at a tenth to half the day.
std::vector<AdversarialRequest> falling_class(BenchRandom& random, const std::string& name, Falling shape,
                                              unsigned count) {
    std::vector<AdversarialRequest> requests;
    for (unsigned r = 0; r < count; ++r) {
        std::vector<std::string> prices = falling(random, 28, shape);
        SelectionRules rules;
        loose_rules(random, prices.size(), rules);
        std::string threshold = percentile_threshold(prices, random.between(10, 50));
        requests.push_back(finished(std::move(prices), std::move(threshold), rules, r % 2 == 0,
                                    name + " " + std::to_string(r)));
    }
    return requests;
}

}  // namespace

std::vector<AdversarialRequest> adversarial_class(const std::string& name, unsigned count, std::uint64_t seed) {
    if (name == "alternate") return alternate();
    std::uint64_t salt = 14695981039346656037ULL;  // FNV-1a of the name: the same everywhere
    for (const char c : name) salt = (salt ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    BenchRandom random(seed ^ salt);
    for (const auto& [falling_name, shape] : falling_classes) {
        if (name == falling_name) return falling_class(random, name, shape, count);
    }
    const unsigned total = name == "apart" || name == "wide" ? count * 10 : count;
    std::vector<AdversarialRequest> requests;
    for (unsigned r = 0; r < total; ++r) {
        std::vector<std::string> prices;
        if (name == "huge") {
            prices = huge(random, 20 + 4 * (r % 3));
        } else if (name == "ties") {
            prices = ties(random, r % 2 == 0 ? 24 : 28);
        } else if (name == "past96") {
            prices = past96(random, random.between(22, 28));
        } else if (name == "apart") {
            prices = apart(random, random.between(20, 28));
        } else if (name == "wide") {
            prices = wide(random, random.between(18, 28));
        } else {
            throw std::invalid_argument("unknown adversarial class: " + name);
        }
        SelectionRules rules;
        if (name == "wide") {
            any_rules(random, prices.size(), rules);
        } else {
            grid_rules(random, rules);
        }
        std::string threshold = percentile_threshold(prices, 25);
        requests.push_back(finished(std::move(prices), std::move(threshold), rules, r % 2 == 0,
                                    name + " " + std::to_string(r)));
    }
    return requests;
}

}  // namespace kestrava::bench
