// Runs the exhaustive search, or the selection entry (which may fall back to it),
// under a time budget per request. A literal search
// can take minutes and cannot be interrupted, so the calls run in a forked worker
// process that already holds every request; a call that outlasts the budget is ended
// by killing the worker, and the next request goes to a fresh one. Never hangs.
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <optional>
#include <span>

#include "bench_suites.hpp"
#include "selection/period_mask.hpp"

namespace kestrava::bench {

enum class TimedEngine {
    exhaustive,  // exhaustive::search_aggressive / search_conservative on the Item lists
    entry,       // get_cheapest_periods on the price texts
};

// How a request's time is taken from repeated calls.
enum class Timing {
    median_when_short,  // a call under 1 ms is repeated and the median of 5 kept
    best_of_five,       // every call is made 5 times and the least time kept
};

struct TimedAnswer {
    std::uint64_t nanoseconds = 0;  // as the runner's Timing says
    bool ok = false;                // the strategy returned indices (not an error)
    bool failed = false;            // it threw InternalFailure
    PeriodMask periods = 0;
};

class BudgetRunner {
public:
    // `requests` must outlive the runner; the workers read them through fork. With
    // best_of_five the budget covers the five calls of a request together.
    BudgetRunner(std::span<const BenchRequest> requests, bool aggressive, std::uint64_t budget_milliseconds,
                 TimedEngine engine = TimedEngine::exhaustive, Timing timing = Timing::median_when_short);
    ~BudgetRunner();
    BudgetRunner(const BudgetRunner&) = delete;
    BudgetRunner& operator=(const BudgetRunner&) = delete;

    // The engine's answer to request `index` and its time, or nullopt
    // when it did not finish within the budget.
    std::optional<TimedAnswer> run(std::size_t index);

private:
    void start_worker();
    void stop_worker();
    [[noreturn]] void serve(int requests_fd, int answers_fd);

    std::span<const BenchRequest> requests_;
    bool aggressive_;
    std::uint64_t budget_milliseconds_;
    TimedEngine engine_;
    Timing timing_;
    pid_t worker_ = -1;
    int to_worker_ = -1;
    int from_worker_ = -1;
};

}  // namespace kestrava::bench
