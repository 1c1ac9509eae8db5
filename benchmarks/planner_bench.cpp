// kestrava_planner_bench: times the planner's text entry (parsing included)
// on real quarter-hour day-ahead prices, for 24 to 3000 periods, with
// the rules of three loads scaled to 15-minute periods, both strategies; prints the
// median, 99th percentile and largest time per call and the planner's workspace.
// Then the worst case for memory: 3000 periods, k = 1500, prices of 140 digits.
// Times are wall-clock; the last column is the largest thread CPU time of a call,
// which leaves out time slices lost to other processes on a busy machine.
//
// The data files hold five real days (three NL, one DE-LU, one FR); windows longer
// than a file repeat its days in order, and windows start at every few periods.
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "selection/requests/cheapest_periods.hpp"
#include "selection/prices/exact_prices.hpp"
#include "selection/planner/planner.hpp"

namespace kestrava::bench {
namespace {

using Clock = std::chrono::steady_clock;

struct Series {
    std::string name;
    std::vector<std::string> prices;
};

struct Load {
    const char* name;
    // Per day of 96 quarter-hours: periods to run, shortest run, longest pause, first start by.
    std::uint64_t per_day;
    std::uint64_t min_run;
    std::uint64_t max_gap;  // 0: no limit
};

// Heat pump: 6 h a day in runs of 2 h, never 4 h off. EV: 4 h a day in runs of 1 h,
// any time. Boiler: 3 h a day in runs of 30 min, never 8 h off.
constexpr Load loads[] = {{"heat pump", 24, 8, 16}, {"EV", 16, 4, 0}, {"boiler", 12, 2, 32}};

struct Request {
    std::vector<std::string> prices;
    std::string threshold;
    SelectionRules rules;
};

std::vector<Series> read_series(const std::filesystem::path& folder) {
    std::vector<Series> series;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".csv") continue;
        std::ifstream stream(entry.path());
        std::string line;
        std::getline(stream, line);  // header: start,price
        Series one{entry.path().stem().string(), {}};
        while (std::getline(stream, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::size_t comma = line.find(',');
            if (comma != std::string::npos) one.prices.push_back(line.substr(comma + 1));
        }
        if (!one.prices.empty()) series.push_back(std::move(one));
    }
    if (series.empty()) throw std::runtime_error("no CSV files in " + folder.string() + " (use --data)");
    std::sort(series.begin(), series.end(), [](const Series& a, const Series& b) { return a.name < b.name; });
    return series;
}

// The window's price at a percentile, in exact decimal order.
std::string percentile_price(const std::vector<std::string>& prices, unsigned percentile) {
    const std::vector<std::string_view> views(prices.begin(), prices.end());
    planner::ExactPrices exact;
    if (planner::read_exact_prices(views, "0", exact)) throw std::runtime_error("a price is not a decimal text");
    std::vector<std::size_t> order(prices.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return exact.compare(exact.prices[a], exact.prices[b]) < 0; });
    return prices[order[(order.size() - 1) * percentile / 100]];
}

SelectionRules rules_for(const Load& load, std::uint64_t n) {
    const std::uint64_t selections = std::max<std::uint64_t>(1, load.per_day * n / 96);
    const std::uint64_t run = std::min(load.min_run, selections);
    const std::uint64_t gap = load.max_gap == 0 ? n : load.max_gap;
    return SelectionRules{selections, run, gap, gap};
}

std::vector<Request> requests_for(const std::vector<Series>& series, std::size_t n, std::size_t windows) {
    std::vector<Request> requests;
    for (const Series& one : series) {
        const std::size_t step = std::max<std::size_t>(1, one.prices.size() / windows);
        for (std::size_t start = 0; start < one.prices.size(); start += step) {
            std::vector<std::string> prices;
            for (std::size_t p = 0; p < n; ++p) prices.push_back(one.prices[(start + p) % one.prices.size()]);
            for (const unsigned percentile : {10U, 25U}) {
                const std::string threshold = percentile_price(prices, percentile);
                for (const Load& load : loads) requests.push_back(Request{prices, threshold, rules_for(load, n)});
            }
        }
    }
    return requests;
}

double microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double thread_cpu_microseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

struct Timing {
    double median = 0;
    double p99 = 0;
    double max = 0;
};

Timing summarize(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) { return samples[static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1))]; };
    return Timing{at(0.5), at(0.99), samples.back()};
}

// The workspace of the planner for this request at the 64-bit rung (all real prices take it).
std::size_t workspace_of(const Request& request) {
    const std::vector<std::string_view> views(request.prices.begin(), request.prices.end());
    planner::ExactPrices exact;
    planner::read_exact_prices(views, request.threshold, exact);
    std::vector<std::uint8_t> cheap;
    for (std::size_t i = 0; i < exact.prices.size(); ++i) cheap.push_back(exact.is_cheap(i) ? 1 : 0);
    const rules::Shape shape = rules::make_shape(cheap, request.rules);
    if (shape.size >= shape.n) return 0;
    std::vector<std::int64_t> units;
    for (std::size_t i = 0; i < exact.prices.size(); ++i) units.push_back(planner::units_of<std::int64_t>(exact, i));
    return planner::Planner<std::int64_t>(shape, units).workspace_bytes();
}

void time_size(const std::vector<Series>& series, std::size_t n, std::size_t windows, unsigned repeats) {
    const std::vector<Request> requests = requests_for(series, n, windows);
    std::size_t workspace = 0;
    for (const Request& request : requests) workspace = std::max(workspace, workspace_of(request));
    for (const bool aggressive : {true, false}) {
        std::vector<double> samples;
        double most_cpu = 0;
        for (unsigned r = 0; r < repeats; ++r) {
            for (const Request& request : requests) {
                const std::vector<std::string_view> views(request.prices.begin(), request.prices.end());
                const double cpu_start = thread_cpu_microseconds();
                const auto start = Clock::now();
                const auto outcome = planner::cheapest_periods(views, request.threshold, request.rules, aggressive);
                samples.push_back(microseconds(Clock::now() - start));
                most_cpu = std::max(most_cpu, thread_cpu_microseconds() - cpu_start);
                if (!outcome.ok()) throw std::runtime_error("a benchmark request failed");
            }
        }
        const Timing t = summarize(samples);
        std::cout << "| " << n << " | " << (aggressive ? "aggressive" : "conservative") << " | " << requests.size()
                  << " | " << std::fixed << std::setprecision(1) << t.median << " | " << t.p99 << " | " << t.max
                  << " | " << most_cpu << " | " << std::setprecision(2) << static_cast<double>(workspace) / 1e6
                  << " |\n";
    }
}

// 3000 periods, k = 1500, no binding gap (the widest band) and 140-digit prices.
void worst_case() {
    std::vector<std::string> prices;
    for (std::size_t p = 0; p < 3000; ++p) {
        std::string text = std::to_string(100 + (p * 7919) % 900);
        text.append(137, static_cast<char>('0' + p % 10));
        prices.push_back(text);
    }
    const std::vector<std::string_view> views(prices.begin(), prices.end());
    const SelectionRules rules{1500, 1, 3000, 3000};
    const std::string threshold = "2" + std::string(139, '0');
    for (const bool aggressive : {true, false}) {
        const auto start = Clock::now();
        const auto outcome = planner::cheapest_periods(views, threshold, rules, aggressive);
        if (!outcome.ok()) throw std::runtime_error("the worst case failed");
        std::cout << "worst case, 3000 periods, k = 1500, 140-digit prices (512-bit), "
                  << (aggressive ? "aggressive" : "conservative") << ": " << std::fixed << std::setprecision(1)
                  << microseconds(Clock::now() - start) / 1000 << " ms\n";
    }
    std::vector<std::uint8_t> cheap(3000, 0);
    const rules::Shape shape = rules::make_shape(cheap, rules);
    const std::vector<planner::Int512> units(3000, planner::Int512{1});
    std::cout << "  its workspace: " << std::setprecision(1)
              << static_cast<double>(planner::Planner<planner::Int512>(shape, units).workspace_bytes()) / 1e6
              << " MB at 512 bits; "
              << static_cast<double>(
                     planner::Planner<std::int64_t>(shape, std::vector<std::int64_t>(3000, 1)).workspace_bytes()) /
                     1e6
              << " MB at 64 bits\n";
}

}  // namespace
}  // namespace kestrava::bench

int main(int argc, char** argv) {
    using namespace kestrava::bench;
    std::filesystem::path data = std::filesystem::path(KESTRAVA_SOURCE_DIR) / "data" / "day-ahead-15min";
    bool with_worst_case = true;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--data" && i + 1 < argc) {
            data = argv[++i];
        } else if (argument == "--no-worst-case") {
            with_worst_case = false;
        } else {
            std::cerr << "usage: kestrava_planner_bench [--data DIR] [--no-worst-case]\n";
            return 2;
        }
    }
    try {
        const std::vector<Series> series = read_series(data);
        std::cout << "| n | strategy | requests | median us | p99 us | max us | max CPU us | workspace MB |\n"
                  << "|---|---|---|---|---|---|---|---|\n";
        const struct {
            std::size_t n;
            std::size_t windows;
            unsigned repeats;
        } sizes[] = {{24, 48, 5}, {96, 48, 5}, {168, 24, 3}, {672, 8, 1}, {2016, 2, 1}, {3000, 1, 1}};
        for (const auto& size : sizes) time_size(series, size.n, size.windows, size.repeats);
        if (with_worst_case) worst_case();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::cout << "peak resident memory of the process: " << usage.ru_maxrss / 1024 << " MB\n";
    } catch (const std::exception& error) {
        std::cerr << "kestrava_planner_bench: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
