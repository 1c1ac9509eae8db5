// kestrava_adversarial: times the selection entry on the adversarial suite, each call
// under a time budget (budget_runner.hpp), and says per class which path answered:
// the exact planner, the rounded-sum layer, or the exhaustive search. A request's
// time is the best of 5 calls. Prints per class the median and largest time, the calls over 1 ms and 10 ms, and a digest of
// the answers, so that two builds run on the same requests can be compared line by
// line (benchmarks/run.sh adversarial --base REF).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "adversarial_suite.hpp"
#include "budget_runner.hpp"
#include "option_text.hpp"
#include "selection/internal_failure.hpp"
#include "selection/planner/item_plans.hpp"
#include "selection/requests/request.hpp"
#include "text_price_source.hpp"

namespace kestrava::bench {
namespace {

struct Options {
    std::vector<std::string> classes;
    unsigned count = 8;
    std::uint64_t budget_milliseconds = 2000;
    std::uint64_t seed = 2024;
    std::string tag;  // printed first on every row, e.g. "base" or "new"
    bool each = false;
    bool once = false;  // each request called once, in this process (for callgrind)
    std::optional<std::size_t> only;  // the one request of each class to run (for a profile)
};

const char* usage =
    "usage: kestrava_adversarial [--class NAME]... [--count N] [--budget MS]\n"
    "                            [--seed N] [--tag TEXT] [--each 1] [--once 1]\n"
    "                            [--request R]\n"
    "  --class NAME huge, ties, past96, wide, apart, alternate, decreasing, noisy, zigzag, third, scaled\n"
    "  --count N    requests per class (the sweeps 'apart' and 'wide' take 10 N; default 8)\n"
    "  --budget MS  milliseconds allowed to the 5 calls of a request (default 2000); calls over it are ended\n"
    "  --each 1     also print every request's time and path\n"
    "  --once 1     call each request once in this process, untimed, and print the answers' digest:\n"
    "               for callgrind (benchmarks/run.sh instructions)\n"
    "  --request R  only request R of each class (numbered from 0, as --each prints them), printed first\n"
    "               as a Python call: for a profile\n";

Options parse_options(int argc, char** argv) {
    Options options;
    read_options(argc, argv, usage, [&](const std::string& option, const std::string& value) {
        if (option == "--class") {
            options.classes.push_back(value);
        } else if (option == "--count") {
            options.count = static_cast<unsigned>(parse_count(value));
        } else if (option == "--budget") {
            options.budget_milliseconds = std::max<std::uint64_t>(1, parse_count(value));
        } else if (option == "--seed") {
            options.seed = parse_count(value);
        } else if (option == "--each") {
            options.each = value == "1";
        } else if (option == "--once") {
            options.once = value == "1";
        } else if (option == "--request") {
            options.only = static_cast<std::size_t>(parse_count(value));
        } else if (option == "--tag") {
            options.tag = value;
        } else {
            return false;
        }
        return true;
    });
    if (options.classes.empty()) options.classes = adversarial_class_names();
    return options;
}

enum class Path { planner, rounded, exhaustive };

// The tier that answers, and for the exhaustive search why the rounded layer declined.
struct Route {
    Path path = Path::exhaustive;
    const char* why = "";
};

Route route_of(const AdversarialRequest& made) {
    const BenchRequest& r = made.request;
    if (plan_exact(r.items, r.cheap_items, r.rules, made.aggressive).ok()) return {Path::planner};
    try {
        const Outcome<IndexList, DeclineReason> rounded = plan_rounded(r.items, r.cheap_items, r.rules, made.aggressive);
        if (rounded.ok()) return {Path::rounded};
        return {Path::exhaustive, decline_reason_name(rounded.error())};
    } catch (const InternalFailure&) {
        return {Path::rounded};  // an overflow it finds is its answer
    }
}

std::string microseconds(std::uint64_t nanoseconds) {
    std::ostringstream out;
    out << nanoseconds / 1000 << '.' << std::setw(1) << nanoseconds % 1000 / 100;
    return out.str();
}

struct ClassTally {
    std::vector<std::uint64_t> times;  // nanoseconds of the calls that finished
    std::size_t over_1ms = 0, over_10ms = 0, over_budget = 0;
    std::size_t paths[3] = {0, 0, 0};
    std::uint64_t digest = 1469598103934665603ULL;

    void add_answer(const std::optional<TimedAnswer>& answer) {
        const std::uint64_t word = !answer ? 1 : answer->failed ? 2 : !answer->ok ? 3 : answer->periods << 2;
        digest = (digest ^ word) * 1099511628211ULL;
        if (!answer) {
            ++over_budget;
            return;
        }
        times.push_back(answer->nanoseconds);
        over_1ms += answer->nanoseconds > 1'000'000 ? 1 : 0;
        over_10ms += answer->nanoseconds > 10'000'000 ? 1 : 0;
    }
};

void print_row(const Options& options, const std::string& name, ClassTally tally) {
    std::sort(tally.times.begin(), tally.times.end());
    const std::size_t requests = tally.times.size() + tally.over_budget;
    const std::string median = tally.times.empty() ? "-" : microseconds(tally.times[(tally.times.size() - 1) / 2]);
    const std::string max = tally.over_budget    ? "> " + std::to_string(options.budget_milliseconds * 1000)
                            : tally.times.empty() ? "-"
                                                  : microseconds(tally.times.back());
    std::cout << std::left << std::setw(6) << options.tag << std::setw(10) << name << std::right << std::setw(5)
              << requests << std::setw(12) << median << std::setw(14) << max << std::setw(7) << tally.over_1ms
              << std::setw(7) << tally.over_10ms << std::setw(7) << tally.over_budget << std::setw(9)
              << tally.paths[0] << std::setw(9) << tally.paths[1] << std::setw(11) << tally.paths[2] << "  "
              << std::hex << std::setw(16) << std::setfill('0') << tally.digest << std::dec << std::setfill(' ')
              << "\n";
}

// The entry's answer to one request, called here, as a worker calls it.
std::optional<TimedAnswer> call_once(const AdversarialRequest& made) {
    TimedAnswer answer;
    try {
        TextPriceSource prices(made.request.prices);
        const Outcome<IndexList> result =
            get_cheapest_periods(prices, made.request.threshold, made.request.rules, made.aggressive);
        answer.ok = result.ok();
        if (result.ok()) {
            for (const std::uint64_t period : result.value()) answer.periods |= period_bit(period);
        }
    } catch (const InternalFailure&) {
        answer.failed = true;
    }
    return answer;
}

// The request as a call of the module, so that it can be tried on its own.
void print_call(const AdversarialRequest& made) {
    const BenchRequest& r = made.request;
    std::cout << "kestrava.get_cheapest_periods([";
    for (std::size_t i = 0; i < r.prices.size(); ++i) std::cout << (i ? ", \"" : "\"") << r.prices[i] << '"';
    std::cout << "], \"" << r.threshold << "\", " << r.rules.min_selections << ", " << r.rules.min_consecutive_periods
              << ", " << r.rules.max_gap_between_periods << ", " << r.rules.max_gap_from_start
              << ", aggressive=" << (made.aggressive ? "True" : "False") << ")\n";
}

void run_class(const Options& options, const std::string& name) {
    const std::vector<AdversarialRequest> made = adversarial_class(name, options.count, options.seed);
    std::vector<BenchRequest> requests;
    for (const AdversarialRequest& one : made) requests.push_back(one.request);
    BudgetRunner aggressive(requests, true, options.budget_milliseconds, TimedEngine::entry, Timing::best_of_five);
    BudgetRunner conservative(requests, false, options.budget_milliseconds, TimedEngine::entry, Timing::best_of_five);
    ClassTally tally;
    for (std::size_t r = 0; r < made.size(); ++r) {
        if (options.only && r != *options.only) continue;
        if (options.only) print_call(made[r]);
        const Route route = route_of(made[r]);
        ++tally.paths[static_cast<int>(route.path)];
        const std::optional<TimedAnswer> answer =
            options.once ? call_once(made[r]) : (made[r].aggressive ? aggressive : conservative).run(r);
        tally.add_answer(answer);
        if (options.each) {
            static const char* const names[] = {"planner", "rounded", "exhaustive"};
            std::cout << "  " << made[r].request.label << (made[r].aggressive ? " aggressive " : " conservative ")
                      << names[static_cast<int>(route.path)] << (*route.why ? " (" : "") << route.why
                      << (*route.why ? ")" : "") << " " << (answer ? microseconds(answer->nanoseconds) : "over")
                      << " us\n";
        }
    }
    print_row(options, name, std::move(tally));
}

int run(const Options& options) {
    std::cout << std::left << std::setw(6) << "build" << std::setw(10) << "class" << std::right << std::setw(5) << "n"
              << std::setw(12) << "median us" << std::setw(14) << "max us" << std::setw(7) << ">1ms" << std::setw(7)
              << ">10ms" << std::setw(7) << "over" << std::setw(9) << "planner" << std::setw(9) << "rounded"
              << std::setw(11) << "exhaustive" << "  answers\n";
    for (const std::string& name : options.classes) run_class(options, name);
    return 0;
}

}  // namespace
}  // namespace kestrava::bench

int main(int argc, char** argv) {
    return kestrava::bench::run_command("kestrava_adversarial", kestrava::bench::usage, [&] {
        return kestrava::bench::run(kestrava::bench::parse_options(argc, argv));
    });
}
