// The batches of table_run.hpp.
#include "plan_module/table_run.hpp"

#include <cstring>
#include <stdexcept>

#include <nanobind/nanobind.h>

#include "binding/forced_unwind.hpp"
#include "binding/interpreter_lock.hpp"
#include "binding/signal_stop_check.hpp"
#include "plan_module/python_formatter.hpp"
#include "selection/internal_failure.hpp"
#include "table/output.hpp"
#include "table/plan_messages.hpp"
#include "table/row_refusal.hpp"

namespace kestrava::table {

namespace nb = nanobind;

namespace {

// Whether the last line of a producer's error, a traceback of Python code that fed the
// stream, is a KeyboardInterrupt: Ctrl-C met that code, on this thread, while it read.
// Only the text crosses the C interface; the exception itself stayed with the producer.
bool interrupted(std::string_view error) noexcept {
    constexpr std::string_view name = "KeyboardInterrupt";
    const std::size_t end = error.find_last_not_of(" \n\r\t");
    if (end == std::string_view::npos) return false;
    error = error.substr(0, end + 1);
    const std::size_t newline = error.find_last_of('\n');
    const std::string_view line = newline == std::string_view::npos ? error : error.substr(newline + 1);
    return line == name || line.starts_with(std::string(name) + ":");
}

[[noreturn]] void refuse_stream(ArrowArrayStream& stream, int code) {
    const char* last = stream.get_last_error != nullptr ? stream.get_last_error(&stream) : nullptr;
    const std::string what = last != nullptr ? last : std::strerror(code);
    if (interrupted(what)) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw nb::python_error();
    }
    throw nb::value_error(messages::stream_failed(what).c_str());
}

[[noreturn]] void raise(const TableError& error) {
    if (error.kind == TableErrorKind::type) throw nb::type_error(error.message.c_str());
    throw nb::value_error(error.message.c_str());
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

}  // namespace

TableRun::TableRun(OwnedStream input, const ColumnNames& names, RuleScalars scalars, unsigned threads)
    : input_(std::move(input)), scalars_(std::move(scalars)), crew_(threads) {
    const int code =
        parked_on_forced_unwind([this] { return input_->get_schema(input_.get(), input_schema_.get()); });
    if (code != 0) refuse_stream(*input_.get(), code);
    TableOutcome<TableLayout> layout = read_layout(*input_schema_.get(), names);
    if (!layout.ok()) raise(layout.error());
    layout_ = std::move(layout).value();
    plan_module::PythonFormatter formatter;
    const std::string& zone = layout_.times.time_zone;
    if (names.times && !fixed_offset(zone) && !formatter.knows_zone(zone)) {
        throw nb::value_error(messages::unknown_time_zone(*names.times, zone).c_str());
    }
    output_schema_ = output_schema(*input_schema_.get(), layout_);
    TableOutcome<std::unique_ptr<TableBatch>> batch = TableBatch::make(*input_schema_.get(), layout_, scalars_);
    if (!batch.ok()) raise(batch.error());
    batch_ = std::move(batch).value();
}

std::shared_ptr<OwnedArray> TableRun::read_input() {
    auto input = std::make_shared<OwnedArray>();
    // The producer takes the lock itself if it needs it (a stream of Python objects), and
    // the interpreter may end this thread there while it exits.
    const int code = without_lock(
        [&] { return parked_on_forced_unwind([&] { return input_->get_next(input_.get(), input->get()); }); });
    if (code != 0) refuse_stream(*input_.get(), code);
    return input;
}

void TableRun::plan_batch() {
    SignalStopCheck stop;
    try {
        without_lock([&] { return crew_.plan(*batch_, results_, stop.check()); });
    } catch (const InternalFailure& failure) {
        throw std::runtime_error(messages::internal_failure(failure.message()));
    }
    // A signal handler's exception wins over the batch: Ctrl-C is never lost.
    if (stop.restore_raised()) throw nb::python_error();
    plan_module::PythonFormatter formatter;
    for (std::size_t row = 0; row < results_.size(); ++row) {
        RowResult& result = results_[row];
        if (result.state == RowResult::State::failed) {
            result.message = row_refusal(*batch_, static_cast<std::int64_t>(row), result.error, formatter);
        } else if (result.state == RowResult::State::times_refused) {
            result.message = times_refusal(*batch_, static_cast<std::int64_t>(row), result.fault, formatter);
        } else {
            continue;
        }
        result.state = RowResult::State::refused;
    }
}

std::optional<OwnedArray> TableRun::next() {
    const BusyGuard guard(busy_);
    if (!input_.valid()) return std::nullopt;
    std::shared_ptr<OwnedArray> input = read_input();
    if (!input->valid()) {
        input_.reset();
        return std::nullopt;
    }
    if (auto fault = batch_->view(*input->get())) throw nb::value_error(messages::batch_mismatch(*fault).c_str());
    plan_batch();
    return output_batch(*output_schema_.get(), input, layout_, results_);
}

}  // namespace kestrava::table
