// The crew of row_crew.hpp.
#include "table/row_crew.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <semaphore>
#include <system_error>
#include <thread>
#include <utility>

#include "selection/requests/cheapest_periods.hpp"
#include "table/exact_cost.hpp"

namespace kestrava::table {

namespace {

// The fewest rows a thread takes at once: few enough to share a small batch, enough to
// keep the shared counter out of the way.
constexpr std::int64_t rows_per_take = 4;
// How often the calling thread polls while it sleeps until the helpers are done.
constexpr std::chrono::milliseconds wait_poll{10};
// How often the calling thread yields to the helpers' last rows before it sleeps: a
// take of a few rows usually ends sooner than a sleeping thread wakes.
constexpr int finish_yields = 1000;

// What a thread keeps from one row to the next and from batch to batch.
struct RowMemory {
    RowRequest request;
    // A thread's rows often share their prices: a fleet's, or a backtest's rule sets
    // and strategies.
    planner::RequestMemory planner;
    CostScratch scratch;
};

// Plans one row into `result`; false when the stop check ended the search.
bool plan_row(const TableBatch& batch, std::int64_t row, RowMemory& kept, const StopCheck& stop, RowResult& result) {
    RowRequest& request = kept.request;
    planner::RequestMemory& memory = kept.planner;
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
    Outcome<planner::PlanAnswer> outcome =
        request.in_words()
            ? planner::plan_periods(memory, planner::PriceWords{request.words, static_cast<unsigned>(request.words_scale)},
                                    request.threshold, request.rules(), request.conditions(), request.aggressive, stop)
            : planner::plan_periods(memory, request.prices, request.threshold, request.rules(), request.conditions(),
                                    request.aggressive, stop);
    if (!outcome.ok()) {
        if (outcome.error().kind == ErrorKind::interrupted) return false;
        result.state = RowResult::State::failed;
        result.error = outcome.error();
        return true;
    }
    // plan compares the lengths once it has planned: a planner's refusal comes first.
    if (request.times.given && request.times.count != request.price_count()) {
        result.state = RowResult::State::refused;
        result.message = times_length_message(request.times.count, request.price_count());
        return true;
    }
    result.state = RowResult::State::planned;
    result.periods = std::move(outcome).value().periods;
    // The units the planner read give the cost without reading the texts again.
    // A decimal column's words stay in place under the digits of a threshold words do not
    // take, and hold at most short_cost_decimals: they always give the cost. Words read
    // from texts may not (more decimals), and then the texts give it.
    const planner::PriceUnits& read = memory.reading.units();
    std::optional<std::string> cost = read.in_words() || request.in_words()
                                          ? exact_cost(read.word_prices(), result.periods)
                                          : std::nullopt;
    result.cost = cost ? std::move(*cost) : exact_cost(request.prices, result.periods, kept.scratch);
    return true;
}

}  // namespace

class RowCrew::Crew {
public:
    // Starts helpers until `count` run, or as many as the system gives.
    void hire(std::size_t count);
    // Plans the batch on the calling thread and the first `helpers` helpers.
    bool plan(const TableBatch& batch, std::vector<RowResult>& results, std::size_t helpers, const StopCheck& stop);
    // Ends the helpers' loops and joins them.
    void dismiss();

private:
    struct Helper {
        std::binary_semaphore start{0};
        std::thread thread;
    };

    void helper_loop(Helper& self);
    std::pair<std::int64_t, std::int64_t> take_rows() noexcept;
    void work(RowMemory& memory, const StopCheck& stop) noexcept;
    void helper_done();
    void wait_for_helpers();
    // The calling thread's stop check: the caller's, shared with the others.
    static bool poll_calling(void* context) noexcept {
        auto& self = *static_cast<Crew*>(context);
        if (self.outer_stop_->stop_requested()) self.stopped_ = true;
        return self.stopped_.load(std::memory_order_relaxed);
    }
    static bool poll_helper(void* context) noexcept {
        return static_cast<Crew*>(context)->stopped_.load(std::memory_order_relaxed);
    }

    // The batch of the plan() under way; set before the helpers are released, which
    // publishes it to them.
    const TableBatch* batch_ = nullptr;
    std::vector<RowResult>* results_ = nullptr;
    const StopCheck* outer_stop_ = nullptr;
    std::int64_t threads_ = 1;  // planning the batch, the calling one included
    std::atomic<std::int64_t> next_{0};
    std::atomic<bool> stopped_{false};
    std::atomic<std::size_t> working_{0};  // helpers still on the batch
    bool quit_ = false;                    // set before dismiss() releases the helpers
    bool hiring_failed_ = false;           // the system gave no more threads
    std::mutex mutex_;
    std::condition_variable finished_;
    std::exception_ptr failure_;
    RowMemory caller_memory_;
    std::vector<std::unique_ptr<Helper>> helpers_;
};

void RowCrew::Crew::hire(std::size_t count) {
    if (hiring_failed_ || helpers_.size() >= count) return;
    helpers_.reserve(count);  // so that keeping a started helper cannot throw
    while (helpers_.size() < count) {
        auto helper = std::make_unique<Helper>();
        try {
            helper->thread = std::thread([this, &self = *helper] { helper_loop(self); });
        } catch (const std::system_error&) {
            hiring_failed_ = true;  // the helpers running plan the rest
            return;
        }
        helpers_.push_back(std::move(helper));
    }
}

void RowCrew::Crew::helper_loop(Helper& self) {
    RowMemory memory;
    const StopCheck stop{&poll_helper, this};
    for (;;) {
        self.start.acquire();
        if (quit_) return;
        work(memory, stop);
        helper_done();
    }
}

// Guided: a take is a share of the rows left, so that a thread plans long runs of
// rows in their order (rows in a row often bring the same prices, whose reading and
// cheapest main combination a thread keeps), down to rows_per_take as the batch
// ends, so that the threads end together.
std::pair<std::int64_t, std::int64_t> RowCrew::Crew::take_rows() noexcept {
    const std::int64_t length = batch_->length();
    std::int64_t first = next_.load();
    std::int64_t take = 0;
    do {
        if (first >= length) return {length, length};
        take = std::max(rows_per_take, (length - first) / (2 * threads_));
    } while (!next_.compare_exchange_weak(first, first + take));
    return {first, std::min(first + take, length)};
}

void RowCrew::Crew::work(RowMemory& memory, const StopCheck& stop) noexcept {
    try {
        for (;;) {
            const auto [first, last] = take_rows();
            if (first == last) return;
            for (std::int64_t row = first; row < last; ++row) {
                if (stopped_.load(std::memory_order_relaxed)) return;
                if (!plan_row(*batch_, row, memory, stop, (*results_)[static_cast<std::size_t>(row)])) {
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

void RowCrew::Crew::helper_done() {
    // Under the lock, so that a caller about to sleep cannot miss the last one.
    const std::lock_guard lock(mutex_);
    if (working_.fetch_sub(1) == 1) finished_.notify_one();
}

void RowCrew::Crew::wait_for_helpers() {
    for (int turn = 0; turn < finish_yields && working_.load() != 0; ++turn) std::this_thread::yield();
    std::unique_lock lock(mutex_);
    while (working_.load() != 0) {
        finished_.wait_for(lock, wait_poll);
        lock.unlock();
        poll_calling(this);
        lock.lock();
    }
}

bool RowCrew::Crew::plan(const TableBatch& batch, std::vector<RowResult>& results, std::size_t helpers,
                         const StopCheck& stop) {
    results.assign(static_cast<std::size_t>(batch.length()), RowResult{});
    batch_ = &batch;
    results_ = &results;
    outer_stop_ = &stop;
    next_ = 0;
    stopped_ = false;
    failure_ = nullptr;
    const std::size_t engaged = std::min(helpers, helpers_.size());
    working_ = engaged;
    threads_ = static_cast<std::int64_t>(engaged) + 1;
    for (std::size_t h = 0; h < engaged; ++h) helpers_[h]->start.release();
    work(caller_memory_, StopCheck{&poll_calling, this});
    wait_for_helpers();
    if (failure_) std::rethrow_exception(failure_);
    return !stopped_.load();
}

void RowCrew::Crew::dismiss() {
    quit_ = true;
    for (const std::unique_ptr<Helper>& helper : helpers_) helper->start.release();
    for (const std::unique_ptr<Helper>& helper : helpers_) helper->thread.join();
}

RowCrew::RowCrew(unsigned threads) : threads_(std::max(threads, 1U)) {}

// A crew copied by fork stays as it is (its lock may be held, its threads are not
// here): nothing to join, and the child's batches get a crew of their own.
void RowCrew::leave_forked_crew() noexcept {
    if (crew_ != nullptr && owner_ != getpid()) (void)crew_.release();
}

RowCrew::~RowCrew() {
    leave_forked_crew();
    if (crew_ != nullptr) crew_->dismiss();
}

bool RowCrew::plan(const TableBatch& batch, std::vector<RowResult>& results, const StopCheck& stop) {
    leave_forked_crew();
    if (crew_ == nullptr) {
        crew_ = std::make_unique<Crew>();
        owner_ = getpid();
    }
    const std::int64_t useful = (batch.length() - 1) / rows_per_take;
    const auto helpers = static_cast<std::size_t>(std::clamp<std::int64_t>(useful, 0, static_cast<std::int64_t>(threads_) - 1));
    crew_->hire(helpers);
    return crew_->plan(batch, results, helpers, stop);
}

}  // namespace kestrava::table
