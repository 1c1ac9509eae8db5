// The lock's dance of shared_run.hpp.
#include "plan_module/shared_run.hpp"

#include <stdexcept>
#include <utility>

#include <nanobind/nanobind.h>

#include "binding/interpreter_lock.hpp"
#include "binding/signal_stop_check.hpp"
#include "plan_module/python_formatter.hpp"

namespace kestrava::plan_module {

namespace nb = nanobind;
using table::TableErrorKind;

namespace {

[[noreturn]] void raise(const table::TableError& error) {
    switch (error.kind) {
        case TableErrorKind::type:
            throw nb::type_error(error.message.c_str());
        case TableErrorKind::interrupted:
            PyErr_SetNone(PyExc_KeyboardInterrupt);
            throw nb::python_error();
        case TableErrorKind::internal:
            throw std::runtime_error(error.message);
        default:
            throw nb::value_error(error.message.c_str());
    }
}

// Marks a run busy for one call: two threads reading one run would share its batch.
class BusyGuard {
public:
    explicit BusyGuard(std::atomic<bool>& busy) : busy_(busy) {
        if (busy_.exchange(true)) throw std::runtime_error("plan_table: the batches are being read by another thread");
    }
    ~BusyGuard() { busy_ = false; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    std::atomic<bool>& busy_;
};

// Plans the batch taken without the lock. A failure of the planner comes first, then a
// signal handler's exception, which wins over the batch: Ctrl-C is never lost.
void plan_batch(table::TableRun& run) {
    SignalStopCheck stop;
    const table::TableOutcome<std::monostate> planned = without_lock([&] { return run.plan_batch(stop.check()); });
    if (!planned.ok() && planned.error().kind == TableErrorKind::internal) raise(planned.error());
    if (stop.restore_raised()) throw nb::python_error();
    if (!planned.ok()) raise(planned.error());
}

}  // namespace

std::shared_ptr<SharedRun> open_run(table::OwnedStream input, const table::ColumnNames& names,
                                    table::RuleScalars scalars, unsigned threads) {
    PythonFormatter formatter;
    table::TableOutcome<std::unique_ptr<table::TableRun>> opened =
        table::TableRun::open(std::move(input), names, std::move(scalars), threads, formatter);
    if (!opened.ok()) raise(opened.error());
    auto shared = std::make_shared<SharedRun>();
    shared->engine = std::move(opened).value();
    return shared;
}

std::optional<table::OwnedArray> next_batch(SharedRun& shared) {
    const BusyGuard guard(shared.busy);
    table::TableRun& run = *shared.engine;
    if (run.ended()) return std::nullopt;
    auto input = std::make_shared<table::OwnedArray>();
    // The producer takes the lock itself if it needs it (a stream of Python objects).
    const int code = without_lock([&] { return run.fetch_batch(*input); });
    const table::TableOutcome<bool> taken = run.take_batch(code, input);
    if (!taken.ok()) raise(taken.error());
    if (!taken.value()) return std::nullopt;
    plan_batch(run);
    PythonFormatter formatter;
    return run.write_batch(input, formatter);
}

}  // namespace kestrava::plan_module
