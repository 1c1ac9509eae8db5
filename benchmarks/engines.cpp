// kestrava_engines: times the fast planner and the exhaustive search side by side
// on the realistic and the hard suite, checks that their answers agree, and prints
// per suite, strategy and engine the median, 99th percentile and largest time per
// call, with the ratio between the engines.
//
// The exhaustive searches run in a forked worker under a time budget per request
// (--budget); a call that outlasts it is killed and counted as over budget. They run
// on a seeded sample (--exhaustive-limit) because a single call can take minutes.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench_suites.hpp"
#include "budget_runner.hpp"
#include "selection/planner/planner.hpp"

namespace kestrava::bench {
namespace {

constexpr std::uint64_t over_budget = std::numeric_limits<std::uint64_t>::max();

struct Options {
    std::filesystem::path data = std::filesystem::path(KESTRAVA_SOURCE_DIR) / ".." / "shared" / "data" / "day-ahead-2024";
    std::vector<std::string> suites;
    std::vector<std::string> strategies;
    std::optional<std::size_t> limit;
    std::size_t exhaustive_limit = 100;
    std::uint64_t budget_milliseconds = 2000;
    unsigned rules_per_day = 2;
    unsigned hard_requests = 40;
    std::uint64_t seed = 2024;
    unsigned batches = 5;
    unsigned calls_per_batch = 16;
};

const char* usage =
    "usage: kestrava_engines [--suite realistic|hard]... [--strategy aggressive|conservative]...\n"
    "                        [--limit N] [--exhaustive-limit N] [--budget SECONDS] [--data DIR]\n"
    "                        [--rules-per-day N] [--hard-requests N] [--seed N] [--batches N]\n"
    "  --limit N             time at most N requests per suite and strategy (a seeded sample)\n"
    "  --exhaustive-limit N  run the exhaustive search on at most N of them (default 100; 0: none)\n"
    "  --budget SECONDS      time allowed to one exhaustive call, e.g. 2 or 0.5 (default 2)\n";

std::uint64_t parse_count(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        throw std::invalid_argument("not a whole number: " + text);
    }
    return std::stoull(text);
}

// Seconds as a decimal text, to whole milliseconds.
std::uint64_t parse_milliseconds(const std::string& text) {
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    fraction = (fraction + "000").substr(0, 3);
    return parse_count(whole.empty() ? "0" : whole) * 1000 + parse_count(fraction);
}

Options parse_options(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::cout << usage;
            std::exit(0);
        }
        if (i + 1 >= argc) throw std::invalid_argument("missing value after " + option);
        const std::string value = argv[++i];
        if (option == "--suite" && (value == "realistic" || value == "hard")) {
            options.suites.push_back(value);
        } else if (option == "--strategy" && (value == "aggressive" || value == "conservative")) {
            options.strategies.push_back(value);
        } else if (option == "--limit") {
            options.limit = static_cast<std::size_t>(parse_count(value));
        } else if (option == "--exhaustive-limit") {
            options.exhaustive_limit = static_cast<std::size_t>(parse_count(value));
        } else if (option == "--budget") {
            options.budget_milliseconds = std::max<std::uint64_t>(1, parse_milliseconds(value));
        } else if (option == "--data") {
            options.data = value;
        } else if (option == "--rules-per-day") {
            options.rules_per_day = static_cast<unsigned>(parse_count(value));
        } else if (option == "--hard-requests") {
            options.hard_requests = static_cast<unsigned>(parse_count(value));
        } else if (option == "--seed") {
            options.seed = parse_count(value);
        } else if (option == "--batches") {
            options.batches = std::max(1U, static_cast<unsigned>(parse_count(value)));
        } else {
            throw std::invalid_argument("unknown option or value: " + option + " " + value);
        }
    }
    if (options.suites.empty()) options.suites = {"realistic", "hard"};
    if (options.strategies.empty()) options.strategies = {"aggressive", "conservative"};
    return options;
}

// A seeded sample of `count` positions out of `size`, in ascending order.
std::vector<std::size_t> sample_positions(std::size_t size, std::size_t count, std::uint64_t seed) {
    std::vector<std::size_t> positions(size);
    for (std::size_t i = 0; i < size; ++i) positions[i] = i;
    if (count >= size) return positions;
    BenchRandom random(seed);
    for (std::size_t i = 0; i < count; ++i) {
        std::swap(positions[i], positions[static_cast<std::size_t>(random.between(i, size - 1))]);
    }
    positions.resize(count);
    std::sort(positions.begin(), positions.end());
    return positions;
}

PeriodMask mask_of_indices(const IndexList& indices) {
    PeriodMask mask = 0;
    for (const std::uint64_t period : indices) mask |= period_bit(period);
    return mask;
}

struct FastTiming {
    std::uint64_t nanoseconds = 0;  // per call, in hundredths of a nanosecond
    bool answered = false;
    PeriodMask periods = 0;
};

// The fast planner's time per call: the median over several batches of calls.
FastTiming time_fast(const BenchRequest& request, bool aggressive, const Options& options) {
    FastTiming timing;
    const auto first = plan_cheapest_periods_fast(request.items, request.cheap_items, request.rules, aggressive);
    if (!first) return timing;
    timing.answered = true;
    timing.periods = mask_of_indices(*first);
    std::vector<std::uint64_t> per_call;
    for (unsigned batch = 0; batch < options.batches; ++batch) {
        const auto start = std::chrono::steady_clock::now();
        for (unsigned call = 0; call < options.calls_per_batch; ++call) {
            auto answer = plan_cheapest_periods_fast(request.items, request.cheap_items, request.rules, aggressive);
            asm volatile("" : : "g"(&answer) : "memory");  // keep the call
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        const auto total = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
        per_call.push_back(total * 100 / options.calls_per_batch);
    }
    std::sort(per_call.begin(), per_call.end());
    timing.nanoseconds = per_call[per_call.size() / 2];
    return timing;
}

// Times in hundredths of a nanosecond, shown in microseconds with two decimals; a
// time over budget shows as "> budget".
std::string microseconds(std::uint64_t centi_nanoseconds, std::uint64_t budget_milliseconds = 0) {
    if (centi_nanoseconds == over_budget) return "> " + std::to_string(budget_milliseconds * 1000);
    const std::uint64_t hundredths_of_us = (centi_nanoseconds + 500) / 1000;
    std::ostringstream out;
    out << hundredths_of_us / 100 << '.' << std::setw(2) << std::setfill('0') << hundredths_of_us % 100;
    return out.str();
}

struct Summary {
    std::size_t requests = 0;
    std::size_t over = 0;
    std::uint64_t median = 0;
    std::uint64_t p99 = 0;
    std::uint64_t max = 0;
};

// over_budget entries sort last, so a percentile that falls among them reads "over budget".
Summary summarize(std::vector<std::uint64_t> times) {
    Summary summary;
    summary.requests = times.size();
    if (times.empty()) return summary;
    std::sort(times.begin(), times.end());
    summary.over = static_cast<std::size_t>(std::count(times.begin(), times.end(), over_budget));
    summary.median = times[(times.size() - 1) / 2];
    summary.p99 = times[(times.size() * 99 + 99) / 100 - 1];
    summary.max = times.back();
    return summary;
}

// slow / fast; over budget, the budget gives a lower bound.
std::string ratio(std::uint64_t slow, std::uint64_t fast, std::uint64_t budget_milliseconds) {
    if (fast == 0) return "-";
    if (slow == over_budget) return "> " + std::to_string(budget_milliseconds * 100'000'000 / fast) + "x";
    return std::to_string(slow / fast) + "x";
}

struct Row {
    std::vector<std::string> cells;
};

void print_table(const std::vector<Row>& rows) {
    std::vector<std::size_t> widths;
    for (const Row& row : rows) {
        widths.resize(std::max(widths.size(), row.cells.size()));
        for (std::size_t c = 0; c < row.cells.size(); ++c) widths[c] = std::max(widths[c], row.cells[c].size());
    }
    for (const Row& row : rows) {
        for (std::size_t c = 0; c < row.cells.size(); ++c) {
            std::cout << (c ? "  " : "") << std::setw(static_cast<int>(widths[c])) << std::setfill(' ')
                      << (c < 3 ? std::left : std::right) << row.cells[c];
        }
        std::cout << '\n';
    }
}

int run(const Options& options) {
#if defined(__OPTIMIZE__)
    const char* build = "optimized";
#else
    const char* build = "NOT optimized (configure with -DCMAKE_BUILD_TYPE=Release)";
#endif
    std::cout << "kestrava engines benchmark; compiler " << __VERSION__ << ", " << build << "\n"
              << "budget " << options.budget_milliseconds << " ms per exhaustive call; seed " << options.seed
              << "; exhaustive sample " << options.exhaustive_limit << " per suite and strategy\n"
              << "times per call in microseconds, fast planner from the Item lists (median of " << options.batches
              << " batches of " << options.calls_per_batch << " calls)\n\n";

    const bool show_progress = ::isatty(2) != 0;
    std::vector<Row> rows;
    rows.push_back({{"suite", "strategy", "engine", "requests", "median", "p99", "max", "over budget", "ratio", "agree"}});
    int disagreements = 0;
    for (const std::string& suite : options.suites) {
        std::vector<BenchRequest> requests = suite == "realistic"
                                                 ? realistic_suite(options.data, options.rules_per_day, options.seed)
                                                 : hard_suite(options.hard_requests, options.seed);
        for (const std::string& strategy : options.strategies) {
            const bool aggressive = strategy == "aggressive";
            const std::vector<std::size_t> timed =
                sample_positions(requests.size(), options.limit.value_or(requests.size()), options.seed);
            const std::vector<std::size_t> exhaustive_positions =
                sample_positions(timed.size(), options.exhaustive_limit, options.seed + 1);

            std::vector<FastTiming> fast(timed.size());
            std::vector<std::uint64_t> fast_times;
            std::size_t fell_back = 0;
            for (std::size_t t = 0; t < timed.size(); ++t) {
                fast[t] = time_fast(requests[timed[t]], aggressive, options);
                if (fast[t].answered) {
                    fast_times.push_back(fast[t].nanoseconds);
                } else {
                    ++fell_back;
                }
            }

            std::vector<std::uint64_t> exhaustive_times;
            std::vector<std::uint64_t> fast_on_sample;
            std::size_t compared = 0;
            std::size_t agreed = 0;
            if (!exhaustive_positions.empty()) {
                BudgetRunner runner(requests, aggressive, options.budget_milliseconds);
                for (std::size_t e = 0; e < exhaustive_positions.size(); ++e) {
                    const std::size_t t = exhaustive_positions[e];
                    const BenchRequest& request = requests[timed[t]];
                    if (show_progress) {
                        std::cerr << "\r" << suite << " " << strategy << ": exhaustive " << e + 1 << "/"
                                  << exhaustive_positions.size() << "   " << std::flush;
                    }
                    const std::optional<TimedAnswer> answer = runner.run(timed[t]);
                    exhaustive_times.push_back(answer ? answer->nanoseconds * 100 : over_budget);
                    if (fast[t].answered) fast_on_sample.push_back(fast[t].nanoseconds);
                    if (!answer || !fast[t].answered) continue;
                    ++compared;
                    if (answer->ok && answer->periods == fast[t].periods) {
                        ++agreed;
                    } else {
                        ++disagreements;
                        std::cerr << "\nDISAGREEMENT on " << request.label << " (" << strategy << ")\n";
                    }
                }
                if (show_progress) std::cerr << "\r" << std::string(60, ' ') << "\r";
            }

            const Summary fast_summary = summarize(fast_times);
            rows.push_back({{suite, strategy, "fast", std::to_string(fast_summary.requests),
                             microseconds(fast_summary.median), microseconds(fast_summary.p99),
                             microseconds(fast_summary.max), fell_back ? std::to_string(fell_back) + " fell back" : "-",
                             "", ""}});
            if (!exhaustive_times.empty()) {
                const Summary slow = summarize(exhaustive_times);
                const Summary fast_sample = summarize(fast_on_sample);
                const std::uint64_t budget = options.budget_milliseconds;
                rows.push_back({{suite, strategy, "exhaustive", std::to_string(slow.requests),
                                 microseconds(slow.median, budget), microseconds(slow.p99, budget),
                                 microseconds(slow.max, budget), std::to_string(slow.over),
                                 ratio(slow.median, fast_sample.median, budget),
                                 std::to_string(agreed) + "/" + std::to_string(compared)}});
            }
        }
    }
    print_table(rows);
    std::cout << "\nratio: exhaustive median / fast median over the same sampled requests; agree: answers equal "
                 "where the exhaustive call finished\n";
    return disagreements == 0 ? 0 : 1;
}

}  // namespace
}  // namespace kestrava::bench

int main(int argc, char** argv) {
    try {
        return kestrava::bench::run(kestrava::bench::parse_options(argc, argv));
    } catch (const std::exception& error) {
        std::cerr << "kestrava_engines: " << error.what() << "\n" << kestrava::bench::usage;
        return 2;
    }
}
