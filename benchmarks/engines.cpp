// kestrava_engines: times the fast planner and the exhaustive search side by side
// on the realistic and the hard suite, and the selection entry and the exhaustive
// search on the converted suite (prices with 20 to 28 decimals, whose sums round);
// checks that their answers agree, and prints per suite, strategy and engine the
// median, 90th and 99th percentile and largest time per call, with the ratio between
// the engines.
//
// The exhaustive searches and the entry calls on converted days run in a forked worker under a time budget per request
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
#include "option_text.hpp"
#include "selection/planner/item_plans.hpp"

namespace kestrava::bench {
namespace {

constexpr std::uint64_t over_budget = std::numeric_limits<std::uint64_t>::max();

struct Options {
    std::filesystem::path data = std::filesystem::path(KESTRAVA_SOURCE_DIR) / "data" / "day-ahead-2024";
    std::vector<std::string> suites;
    std::vector<std::string> strategies;
    std::optional<std::size_t> limit;
    std::size_t exhaustive_limit = 100;
    std::size_t entry_limit = 200;
    std::uint64_t budget_milliseconds = 2000;
    unsigned rules_per_day = 2;
    unsigned hard_requests = 40;
    std::uint64_t seed = 2024;
    unsigned batches = 5;
    unsigned calls_per_batch = 16;
};

const char* usage =
    "usage: kestrava_engines [--suite realistic|hard|converted]... [--strategy aggressive|conservative]...\n"
    "                        [--limit N] [--exhaustive-limit N] [--entry-limit N] [--budget SECONDS]\n"
    "                        [--data DIR] [--rules-per-day N] [--hard-requests N] [--seed N] [--batches N]\n"
    "  --limit N             time at most N requests per suite and strategy (a seeded sample)\n"
    "  --exhaustive-limit N  run the exhaustive search on at most N of them (default 100; 0: none)\n"
    "  --entry-limit N       converted suite: time the selection entry on N requests when --limit\n"
    "                        is not given (default 200), each under the budget\n"
    "  --budget SECONDS      time allowed to one budgeted call, e.g. 2 or 0.5 (default 2)\n";

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
    read_options(argc, argv, usage, [&](const std::string& option, const std::string& value) {
        if (option == "--suite" && (value == "realistic" || value == "hard" || value == "converted")) {
            options.suites.push_back(value);
        } else if (option == "--strategy" && (value == "aggressive" || value == "conservative")) {
            options.strategies.push_back(value);
        } else if (option == "--limit") {
            options.limit = static_cast<std::size_t>(parse_count(value));
        } else if (option == "--exhaustive-limit") {
            options.exhaustive_limit = static_cast<std::size_t>(parse_count(value));
        } else if (option == "--entry-limit") {
            options.entry_limit = static_cast<std::size_t>(parse_count(value));
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
            return false;
        }
        return true;
    });
    if (options.suites.empty()) options.suites = {"realistic", "hard", "converted"};
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
    const auto first = plan_exact(request.items, request.cheap_items, request.rules, aggressive);
    if (!first.ok()) return timing;
    timing.answered = true;
    timing.periods = mask_of_indices(first.value());
    std::vector<std::uint64_t> per_call;
    for (unsigned batch = 0; batch < options.batches; ++batch) {
        const auto start = std::chrono::steady_clock::now();
        for (unsigned call = 0; call < options.calls_per_batch; ++call) {
            auto answer = plan_exact(request.items, request.cheap_items, request.rules, aggressive);
            asm volatile("" : : "g"(&answer) : "memory");  // keep the call
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        const auto total =
            static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
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
    std::uint64_t p90 = 0;
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
    summary.p90 = times[(times.size() * 90 + 99) / 100 - 1];
    summary.p99 = times[(times.size() * 99 + 99) / 100 - 1];
    summary.max = times.back();
    return summary;
}

// slow / fast, to one decimal below 10; over budget, the budget gives a lower bound.
std::string ratio(std::uint64_t slow, std::uint64_t fast, std::uint64_t budget_milliseconds) {
    if (fast == 0 || fast == over_budget) return "-";
    if (slow == over_budget) return "> " + std::to_string(budget_milliseconds * 100'000'000 / fast) + "x";
    if (slow / fast >= 10) return std::to_string(slow / fast) + "x";
    const std::uint64_t tenths = slow * 10 / fast;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "x";
}

struct Row {
    std::vector<std::string> cells;
};

// One table row: the timing columns of `summary`, then the last two cells as given.
Row summary_row(const std::string& suite, const std::string& strategy, const std::string& engine,
                const Summary& summary, const std::string& over, const std::string& ratio_cell,
                const std::string& agree, std::uint64_t budget) {
    return Row{{suite, strategy, engine, std::to_string(summary.requests), microseconds(summary.median, budget),
                microseconds(summary.p90, budget), microseconds(summary.p99, budget), microseconds(summary.max, budget),
                over, ratio_cell, agree}};
}

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

// The answers of one engine under the budget (nullopt: over budget) and the times in
// hundredths of a nanosecond, over_budget for a call that ran out.
struct BudgetedRun {
    std::vector<std::optional<TimedAnswer>> answers;
    std::vector<std::uint64_t> times;
};

BudgetedRun run_budgeted(const std::vector<BenchRequest>& requests, const std::vector<std::size_t>& positions,
                         bool aggressive, TimedEngine engine, const Options& options, const std::string& label) {
    const bool show_progress = ::isatty(2) != 0;
    BudgetedRun outcome;
    BudgetRunner runner(requests, aggressive, options.budget_milliseconds, engine);
    for (std::size_t p = 0; p < positions.size(); ++p) {
        if (show_progress) std::cerr << "\r" << label << " " << p + 1 << "/" << positions.size() << "   " << std::flush;
        const std::optional<TimedAnswer> answer = runner.run(positions[p]);
        outcome.times.push_back(answer ? answer->nanoseconds * 100 : over_budget);
        outcome.answers.push_back(answer);
    }
    if (show_progress) std::cerr << "\r" << std::string(60, ' ') << "\r";
    return outcome;
}

bool same_answer(const TimedAnswer& a, const TimedAnswer& b) {
    return a.ok == b.ok && a.failed == b.failed && (!a.ok || a.periods == b.periods);
}

// The fast planner on every timed request and the exhaustive search on a sample of
// them: the rows of the realistic and the hard suite for one strategy.
std::vector<Row> planner_rows(const std::vector<BenchRequest>& requests, const std::string& suite,
                              const std::string& strategy, const Options& options, int& disagreements) {
    const bool aggressive = strategy == "aggressive";
    const std::vector<std::size_t> timed =
        sample_positions(requests.size(), options.limit.value_or(requests.size()), options.seed);
    const std::vector<std::size_t> sample = sample_positions(timed.size(), options.exhaustive_limit, options.seed + 1);

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
    std::vector<Row> rows;
    rows.push_back(summary_row(suite, strategy, "fast", summarize(fast_times),
                               fell_back ? std::to_string(fell_back) + " fell back" : "-", "", "", 0));
    if (sample.empty()) return rows;

    std::vector<std::size_t> sampled_requests;
    for (const std::size_t t : sample) sampled_requests.push_back(timed[t]);
    const BudgetedRun slow = run_budgeted(requests, sampled_requests, aggressive, TimedEngine::exhaustive, options,
                                          suite + " " + strategy + ": exhaustive");
    std::vector<std::uint64_t> fast_on_sample;
    std::size_t compared = 0;
    std::size_t agreed = 0;
    for (std::size_t e = 0; e < sample.size(); ++e) {
        const FastTiming& planned = fast[sample[e]];
        if (planned.answered) fast_on_sample.push_back(planned.nanoseconds);
        if (!slow.answers[e] || !planned.answered) continue;
        ++compared;
        if (slow.answers[e]->ok && slow.answers[e]->periods == planned.periods) {
            ++agreed;
        } else {
            ++disagreements;
            std::cerr << "\nDISAGREEMENT on " << requests[sampled_requests[e]].label << " (" << strategy << ")\n";
        }
    }
    const Summary slow_summary = summarize(slow.times);
    const std::uint64_t budget = options.budget_milliseconds;
    rows.push_back(summary_row(suite, strategy, "exhaustive", slow_summary, std::to_string(slow_summary.over),
                               ratio(slow_summary.median, summarize(fast_on_sample).median, budget),
                               std::to_string(agreed) + "/" + std::to_string(compared), budget));
    return rows;
}

// The selection entry (the path users get) on a sample of the converted days and the
// exhaustive search on a sample of those, both under the budget; `planned` counts the
// entry's requests that the planner answers without the exhaustive search.
std::vector<Row> entry_rows(const std::vector<BenchRequest>& requests, const std::string& strategy,
                            const Options& options, int& disagreements, std::string& planned) {
    const bool aggressive = strategy == "aggressive";
    const std::vector<std::size_t> timed =
        sample_positions(requests.size(), options.limit.value_or(options.entry_limit), options.seed);
    const std::vector<std::size_t> sample = sample_positions(timed.size(), options.exhaustive_limit, options.seed + 1);
    std::size_t planner_answers = 0;
    for (const std::size_t r : timed) {
        const BenchRequest& request = requests[r];
        const bool answered =
            plan_exact(request.items, request.cheap_items, request.rules, aggressive).ok() ||
            plan_rounded(request.items, request.cheap_items, request.rules, aggressive).ok();
        planner_answers += answered ? 1 : 0;
    }
    planned = "converted " + strategy + ": the planners answered " + std::to_string(planner_answers) + " of " +
              std::to_string(timed.size()) + " entry calls";

    const std::uint64_t budget = options.budget_milliseconds;
    const BudgetedRun entry =
        run_budgeted(requests, timed, aggressive, TimedEngine::entry, options, "converted " + strategy + ": entry");
    const Summary entry_summary = summarize(entry.times);
    std::vector<Row> rows;
    rows.push_back(
        summary_row("converted", strategy, "entry", entry_summary, std::to_string(entry_summary.over), "", "", budget));
    if (sample.empty()) return rows;

    std::vector<std::size_t> sampled_requests;
    std::vector<std::uint64_t> entry_on_sample;
    for (const std::size_t t : sample) {
        sampled_requests.push_back(timed[t]);
        entry_on_sample.push_back(entry.times[t]);
    }
    const BudgetedRun slow = run_budgeted(requests, sampled_requests, aggressive, TimedEngine::exhaustive, options,
                                          "converted " + strategy + ": exhaustive");
    std::size_t compared = 0;
    std::size_t agreed = 0;
    for (std::size_t e = 0; e < sample.size(); ++e) {
        const std::optional<TimedAnswer>& first = entry.answers[sample[e]];
        if (!first || !slow.answers[e]) continue;
        ++compared;
        if (same_answer(*first, *slow.answers[e])) {
            ++agreed;
        } else {
            ++disagreements;
            std::cerr << "\nDISAGREEMENT on " << requests[sampled_requests[e]].label << " (" << strategy << ")\n";
        }
    }
    const Summary slow_summary = summarize(slow.times);
    rows.push_back(summary_row("converted", strategy, "exhaustive", slow_summary, std::to_string(slow_summary.over),
                               ratio(slow_summary.median, summarize(entry_on_sample).median, budget),
                               std::to_string(agreed) + "/" + std::to_string(compared), budget));
    return rows;
}

std::vector<BenchRequest> suite_requests(const std::string& suite, const Options& options) {
    if (suite == "realistic") return realistic_suite(options.data, options.rules_per_day, options.seed);
    if (suite == "converted") return converted_suite(options.data, options.rules_per_day, options.seed);
    return hard_suite(options.hard_requests, options.seed);
}

int run(const Options& options) {
#if defined(__OPTIMIZE__)
    const char* build = "optimized";
#else
    const char* build = "NOT optimized (configure with -DCMAKE_BUILD_TYPE=Release)";
#endif
    std::cout << "kestrava engines benchmark; compiler " << __VERSION__ << ", " << build << "\n"
              << "budget " << options.budget_milliseconds << " ms per budgeted call; seed " << options.seed
              << "; exhaustive sample " << options.exhaustive_limit
              << " per suite and strategy; converted entry sample " << options.limit.value_or(options.entry_limit)
              << "\n"
              << "times per call in microseconds; fast planner from the Item lists (median of " << options.batches
              << " batches of " << options.calls_per_batch << " calls); a budgeted call under 1 ms: median of 5\n\n";

    std::vector<Row> rows;
    rows.push_back(
        {{"suite", "strategy", "engine", "requests", "median", "p90", "p99", "max", "over budget", "ratio", "agree"}});
    std::vector<std::string> notes;
    int disagreements = 0;
    for (const std::string& suite : options.suites) {
        const std::vector<BenchRequest> requests = suite_requests(suite, options);
        for (const std::string& strategy : options.strategies) {
            std::vector<Row> suite_rows;
            if (suite == "converted") {
                notes.emplace_back();
                suite_rows = entry_rows(requests, strategy, options, disagreements, notes.back());
            } else {
                suite_rows = planner_rows(requests, suite, strategy, options, disagreements);
            }
            rows.insert(rows.end(), suite_rows.begin(), suite_rows.end());
        }
    }
    print_table(rows);
    std::cout << "\nratio: exhaustive median / fast (or entry) median over the same sampled requests; agree: answers "
                 "equal where both calls finished\n";
    for (const std::string& note : notes) std::cout << note << "\n";
    return disagreements == 0 ? 0 : 1;
}

}  // namespace
}  // namespace kestrava::bench

int main(int argc, char** argv) {
    return kestrava::bench::run_command("kestrava_engines", kestrava::bench::usage, [&] {
        return kestrava::bench::run(kestrava::bench::parse_options(argc, argv));
    });
}
