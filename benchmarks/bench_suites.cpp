// Building the benchmark suites from the day-ahead CSV files and from a seeded
// generator. Prices stay decimal texts throughout; only the "double" conversion
// goes through a binary double, as a caller's float would.
#include "bench_suites.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>
#include <utility>

#include "decimal/decimal.hpp"

namespace kestrava::bench {
namespace {

constexpr unsigned threshold_percentiles[] = {10, 15, 20, 25};

Decimal parse_price(const std::string& text) {
    const auto value = Decimal::parse(text);
    if (!value) throw std::runtime_error("not a decimal price: " + text);
    return *value;
}

}  // namespace

bool prepare(BenchRequest& request) {
    const Decimal threshold = parse_price(request.threshold);
    for (std::size_t i = 0; i < request.prices.size(); ++i) {
        request.items.push_back(Item{i, parse_price(request.prices[i])});
        if (compare(request.items.back().price, threshold) <= 0) request.cheap_items.push_back(request.items.back());
    }
    return request.cheap_items.size() < request.items.size();
}

namespace {

// The day's price at the given percentile, by decimal order.
std::string percentile_price(const std::vector<std::string>& prices, unsigned percentile) {
    std::vector<std::string> ordered = prices;
    std::sort(ordered.begin(), ordered.end(),
              [](const std::string& a, const std::string& b) { return compare(parse_price(a), parse_price(b)) < 0; });
    return ordered[(ordered.size() - 1) * percentile / 100];
}

// The whole days (24 rows) of every CSV in `data`, labelled "<file stem> <date>", in
// file and date order.
std::vector<std::pair<std::string, std::vector<std::string>>> whole_days(const std::filesystem::path& data) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(data)) {
        for (const auto& entry : std::filesystem::directory_iterator(data)) {
            // The sample files repeat days of the full years.
            if (entry.path().extension() == ".csv" && !entry.path().stem().string().ends_with("-sample")) {
                files.push_back(entry.path());
            }
        }
    }
    if (files.empty()) throw std::runtime_error("no CSV files in " + data.string() + " (use --data)");
    std::sort(files.begin(), files.end());

    std::vector<std::pair<std::string, std::vector<std::string>>> whole;
    for (const auto& file : files) {
        std::ifstream stream(file);
        std::string line;
        std::getline(stream, line);  // header: Datetime,Price (EUR/MWh)
        std::map<std::string, std::vector<std::string>> days;
        while (std::getline(stream, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::size_t comma = line.find(',');
            if (comma == std::string::npos || comma < 10) continue;
            days[line.substr(0, 10)].push_back(line.substr(comma + 1));
        }
        for (const auto& [date, prices] : days) {
            if (prices.size() == 24) whole.emplace_back(file.stem().string() + " " + date, prices);
        }
    }
    return whole;
}

// One request over a day's prices with rules drawn from the realistic grid; skipped
// when every price is cheap.
void add_day_request(std::vector<BenchRequest>& requests, const std::string& label,
                     const std::vector<std::string>& prices, BenchRandom& random) {
    BenchRequest request;
    request.label = label;
    request.prices = prices;
    SelectionRules& rules = request.rules;
    rules.min_selections = random.between(3, 8);
    rules.min_consecutive_periods = random.between(1, std::min<std::uint64_t>(3, rules.min_selections));
    rules.max_gap_between_periods = random.between(4, 12);
    rules.max_gap_from_start = random.between(0, rules.max_gap_between_periods);
    request.threshold = percentile_price(prices, threshold_percentiles[random.between(0, 3)]);
    if (prepare(request)) requests.push_back(std::move(request));
}

// price / divisor with the decimal type's division, as its own text.
std::string divided_text(const std::string& price, const Decimal& divisor) {
    const Quotient quotient = divide(parse_price(price), divisor);
    if (quotient.status != DivisionStatus::ok) throw std::runtime_error("cannot divide " + price);
    return quotient.value.to_string();
}

}  // namespace

std::uint64_t BenchRandom::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::vector<BenchRequest> realistic_suite(const std::filesystem::path& data, unsigned rules_per_day,
                                          std::uint64_t seed) {
    BenchRandom random(seed);
    std::vector<BenchRequest> requests;
    for (const auto& [label, prices] : whole_days(data)) {
        for (unsigned r = 0; r < rules_per_day; ++r) add_day_request(requests, label, prices, random);
    }
    return requests;
}

std::vector<BenchRequest> converted_suite(const std::filesystem::path& data, unsigned rules_per_day,
                                          std::uint64_t seed) {
    const Decimal exchange_rate = parse_price("1.0856");
    const Decimal with_vat = parse_price("1.19");
    BenchRandom random(seed ^ 0xBB67AE8584CAA73BULL);
    std::vector<BenchRequest> requests;
    for (const auto& [label, prices] : whole_days(data)) {
        std::vector<std::string> exchanged;
        std::vector<std::string> net;
        std::vector<std::string> binary;
        for (const std::string& price : prices) {
            exchanged.push_back(divided_text(price, exchange_rate));
            net.push_back(divided_text(price, with_vat));
            binary.push_back(binary_value_text(price));
        }
        for (unsigned r = 0; r < rules_per_day; ++r) {
            add_day_request(requests, label + " /1.0856", exchanged, random);
            add_day_request(requests, label + " /1.19", net, random);
            add_day_request(requests, label + " double", binary, random);
        }
    }
    return requests;
}

std::string binary_value_text(const std::string& price) {
    // glibc prints the exact expansion; a double has at most 1074 fractional digits.
    const double value = std::strtod(price.c_str(), nullptr);
    std::vector<char> digits(1500);
    std::snprintf(digits.data(), digits.size(), "%.1074f", value);
    std::string text = digits.data();
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
    return text;
}

std::vector<BenchRequest> hard_suite(unsigned count, std::uint64_t seed) {
    BenchRandom random(seed ^ 0x6A09E667F3BCC908ULL);
    std::vector<BenchRequest> requests;
    for (unsigned r = 0; r < count; ++r) {
        BenchRequest request;
        request.label = "hard " + std::to_string(r);
        const std::size_t n = random.between(26, 28);
        bool cheap = random.between(0, 1) == 0;
        while (request.prices.size() < n) {
            const std::uint64_t run = random.between(1, 3);
            for (std::uint64_t i = 0; i < run && request.prices.size() < n; ++i) {
                const std::uint64_t cents = cheap ? random.between(0, 2000) : random.between(6000, 15000);
                const std::uint64_t fraction = cents % 100;
                request.prices.push_back(std::to_string(cents / 100) + (fraction < 10 ? ".0" : ".") +
                                         std::to_string(fraction));
            }
            cheap = !cheap;
        }
        request.threshold = "25";
        SelectionRules& rules = request.rules;
        rules.min_selections = random.between(10, 14);
        rules.min_consecutive_periods = random.between(1, 3);
        rules.max_gap_between_periods = random.between(6, 12);
        rules.max_gap_from_start = random.between(0, rules.max_gap_between_periods);
        if (prepare(request)) requests.push_back(std::move(request));
    }
    return requests;
}

}  // namespace kestrava::bench
