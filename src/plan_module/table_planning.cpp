// The thread pool of table_planning.hpp.
#include "plan_module/table_planning.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "plan_module/exact_cost.hpp"
#include "selection/planner/cheapest_periods.hpp"

namespace kestrava::plan_module {

namespace {

// Rows a thread takes at once: few enough to share a small batch, enough to keep the
// shared counter out of the way.
constexpr std::int64_t rows_per_take = 4;
// How often the calling thread polls while it waits for the others.
constexpr std::chrono::milliseconds wait_poll{10};

// Plans one row into `result`; false when the stop check ended the search.
bool plan_row(const TableBatch& batch, std::int64_t row, RowRequest& request, planner::RequestMemory& memory,
              CostScratch& scratch, const StopCheck& stop, RowResult& result) {
    if (const std::optional<TimesFault> fault = batch.read_times(row, request)) {
        result.state = RowResult::State::times_refused;
        result.fault = *fault;
        return true;
    }
    if (std::optional<std::string> refusal = batch.read_row(row, request)) {
        result.state = RowResult::State::refused;
        result.message = std::move(*refusal);
        return true;
    }
    Outcome<planner::PlanAnswer> outcome = planner::plan_periods(memory, request.prices, request.threshold,
                                                                 request.rules(), request.conditions(),
                                                                 request.aggressive, stop);
    if (!outcome.ok()) {
        if (outcome.error().kind == ErrorKind::interrupted) return false;
        result.state = RowResult::State::failed;
        result.error = outcome.error();
        return true;
    }
    // plan compares the lengths once it has planned: a planner's refusal comes first.
    if (request.times.given && request.times.count != request.prices.size()) {
        result.state = RowResult::State::refused;
        result.message = times_length_message(request.times.count, request.prices.size());
        return true;
    }
    result.state = RowResult::State::planned;
    result.periods = std::move(outcome).value().periods;
    // The units the planner read give the cost without reading the texts again.
    const planner::ShortPrices* read = memory.reading.last_read();
    std::optional<std::string> cost = read != nullptr ? exact_cost(*read, result.periods) : std::nullopt;
    result.cost = cost ? std::move(*cost) : exact_cost(request.prices, result.periods, scratch);
    return true;
}

class RowPool {
public:
    RowPool(const TableBatch& batch, std::vector<RowResult>& results, const StopCheck& stop)
        : batch_(batch), results_(results), outer_stop_(stop) {}

    // The calling thread's stop check: the caller's, shared with the others.
    StopCheck calling_check() noexcept { return {&poll_calling, this}; }
    StopCheck worker_check() noexcept { return {&poll_worker, this}; }

    void work(const StopCheck& stop) noexcept {
        try {
            RowRequest request;
            // A thread's rows often share their prices: a fleet's, or a backtest's rule sets
            // and strategies.
            planner::RequestMemory memory;
            CostScratch scratch;
            while (!stopped_.load(std::memory_order_relaxed)) {
                const std::int64_t first = next_.fetch_add(rows_per_take);
                if (first >= batch_.length()) return;
                const std::int64_t last = std::min(first + rows_per_take, batch_.length());
                for (std::int64_t row = first; row < last; ++row) {
                    RowResult& result = results_[static_cast<std::size_t>(row)];
                    if (!plan_row(batch_, row, request, memory, scratch, stop, result)) {
                        stopped_ = true;
                        return;
                    }
                }
            }
        } catch (...) {
            const std::lock_guard lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
            stopped_ = true;
        }
    }

    void worker_done() {
        const std::lock_guard lock(mutex_);
        ++done_;
        finished_.notify_one();
    }

    // Polls the caller's stop check until `workers` threads are done.
    void wait_for(std::size_t workers) {
        std::unique_lock lock(mutex_);
        while (done_ < workers) {
            finished_.wait_for(lock, wait_poll);
            lock.unlock();
            poll_calling(this);
            lock.lock();
        }
    }

    bool stopped() const noexcept { return stopped_.load(); }
    std::exception_ptr failure() const noexcept { return failure_; }

private:
    static bool poll_calling(void* context) noexcept {
        auto& self = *static_cast<RowPool*>(context);
        if (self.outer_stop_.stop_requested()) self.stopped_ = true;
        return self.stopped_.load(std::memory_order_relaxed);
    }
    static bool poll_worker(void* context) noexcept {
        return static_cast<RowPool*>(context)->stopped_.load(std::memory_order_relaxed);
    }

    const TableBatch& batch_;
    std::vector<RowResult>& results_;
    const StopCheck& outer_stop_;
    std::atomic<std::int64_t> next_{0};
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;
    std::condition_variable finished_;
    std::size_t done_ = 0;
    std::exception_ptr failure_;
};

}  // namespace

bool plan_rows(const TableBatch& batch, std::vector<RowResult>& results, unsigned threads, const StopCheck& stop) {
    results.assign(static_cast<std::size_t>(batch.length()), RowResult{});
    RowPool pool(batch, results, stop);
    const auto wanted = static_cast<std::int64_t>(std::max(threads, 1U)) - 1;
    const auto helpers = static_cast<std::size_t>(std::min(wanted, (batch.length() - 1) / rows_per_take));
    std::vector<std::thread> workers;
    workers.reserve(helpers);
    for (std::size_t t = 0; t < helpers; ++t) {
        try {
            workers.emplace_back([&pool] {
                pool.work(pool.worker_check());
                pool.worker_done();
            });
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the ones running plan the rest
        }
    }
    pool.work(pool.calling_check());
    pool.wait_for(workers.size());
    for (std::thread& worker : workers) worker.join();
    if (pool.failure()) std::rethrow_exception(pool.failure());
    return !pool.stopped();
}

}  // namespace kestrava::plan_module
