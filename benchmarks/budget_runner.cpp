// The forked worker that runs exhaustive search or selection entry calls, and the parent side that
// waits for each answer no longer than the budget.
#include "budget_runner.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "selection/exhaustive/exhaustive.hpp"
#include "selection/internal_failure.hpp"
#include "selection/requests/request.hpp"
#include "text_price_source.hpp"

namespace kestrava::bench {
namespace {

bool write_all(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool read_all(int fd, void* data, std::size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = ::read(fd, bytes, size);
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// Below this a single call is too short to time alone: it is repeated.
constexpr std::uint64_t repeat_below_nanoseconds = 1'000'000;

Outcome<IndexList> call_engine(const BenchRequest& request, bool aggressive, TimedEngine engine) {
    if (engine == TimedEngine::entry) {
        TextPriceSource prices(request.prices);
        return get_cheapest_periods(prices, request.threshold, request.rules, aggressive);
    }
    return aggressive ? exhaustive::search_aggressive(request.items, request.cheap_items, request.rules)
                      : exhaustive::search_conservative(request.items, request.cheap_items, request.rules);
}

// One call's answer and time; InternalFailure is an answer too.
TimedAnswer timed_call(const BenchRequest& request, bool aggressive, TimedEngine engine) {
    TimedAnswer answer;
    const auto start = std::chrono::steady_clock::now();
    try {
        const Outcome<IndexList> result = call_engine(request, aggressive, engine);
        answer.ok = result.ok();
        if (result.ok()) {
            for (const std::uint64_t period : result.value()) answer.periods |= period_bit(period);
        }
    } catch (const InternalFailure&) {
        answer.failed = true;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    answer.nanoseconds =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
    return answer;
}

}  // namespace

BudgetRunner::BudgetRunner(std::span<const BenchRequest> requests, bool aggressive, std::uint64_t budget_milliseconds,
                           TimedEngine engine, Timing timing)
    : requests_(requests),
      aggressive_(aggressive),
      budget_milliseconds_(budget_milliseconds),
      engine_(engine),
      timing_(timing) {
    ::signal(SIGPIPE, SIG_IGN);  // a killed worker must not end the benchmark
}

BudgetRunner::~BudgetRunner() { stop_worker(); }

void BudgetRunner::start_worker() {
    int to_worker[2];
    int from_worker[2];
    if (::pipe(to_worker) != 0 || ::pipe(from_worker) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::close(to_worker[1]);
        ::close(from_worker[0]);
        serve(to_worker[0], from_worker[1]);
    }
    ::close(to_worker[0]);
    ::close(from_worker[1]);
    worker_ = pid;
    to_worker_ = to_worker[1];
    from_worker_ = from_worker[0];
}

void BudgetRunner::stop_worker() {
    if (worker_ < 0) return;
    ::kill(worker_, SIGKILL);
    ::waitpid(worker_, nullptr, 0);
    ::close(to_worker_);
    ::close(from_worker_);
    worker_ = -1;
}

void BudgetRunner::serve(int requests_fd, int answers_fd) {
    std::uint64_t index = 0;
    while (read_all(requests_fd, &index, sizeof index)) {
        const BenchRequest& request = requests_[static_cast<std::size_t>(index)];
        TimedAnswer answer = timed_call(request, aggressive_, engine_);
        const bool best = timing_ == Timing::best_of_five;
        if (best || answer.nanoseconds < repeat_below_nanoseconds) {
            std::array<std::uint64_t, 5> samples{answer.nanoseconds};
            for (std::size_t i = 1; i < samples.size(); ++i) {
                samples[i] = timed_call(request, aggressive_, engine_).nanoseconds;
            }
            std::sort(samples.begin(), samples.end());
            answer.nanoseconds = samples[best ? 0 : samples.size() / 2];
        }
        if (!write_all(answers_fd, &answer, sizeof answer)) break;
    }
    ::_exit(0);
}

std::optional<TimedAnswer> BudgetRunner::run(std::size_t index) {
    if (worker_ < 0) start_worker();
    const std::uint64_t wire_index = index;
    if (!write_all(to_worker_, &wire_index, sizeof wire_index)) {
        stop_worker();
        return std::nullopt;
    }
    pollfd answer_ready{from_worker_, POLLIN, 0};
    const int ready = ::poll(&answer_ready, 1, static_cast<int>(budget_milliseconds_));
    TimedAnswer answer;
    if (ready != 1 || !read_all(from_worker_, &answer, sizeof answer)) {
        stop_worker();  // over budget (or the worker died): a fresh one takes the next request
        return std::nullopt;
    }
    return answer;
}

}  // namespace kestrava::bench
