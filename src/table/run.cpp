// The batches of run.hpp.
#include "table/run.hpp"

#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "binding/forced_unwind.hpp"
#include "selection/internal_failure.hpp"
#include "table/output.hpp"
#include "table/plan_messages.hpp"
#include "table/row_refusal.hpp"

namespace kestrava::table {

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

}  // namespace

TableRun::TableRun(OwnedStream input, RuleScalars scalars, unsigned threads)
    : input_(std::move(input)), scalars_(std::move(scalars)), crew_(threads) {}

TableOutcome<std::unique_ptr<TableRun>> TableRun::open(OwnedStream input, const ColumnNames& names,
                                                       RuleScalars scalars, unsigned threads, Formatter& formatter) {
    std::unique_ptr<TableRun> run(new TableRun(std::move(input), std::move(scalars), threads));
    const TableOutcome<std::monostate> read = run->read_schema(names, formatter);
    if (!read.ok()) return read.error();
    return run;
}

TableOutcome<std::monostate> TableRun::read_schema(const ColumnNames& names, Formatter& formatter) {
    const int code =
        parked_on_forced_unwind([this] { return input_->get_schema(input_.get(), input_schema_.get()); });
    if (code != 0) return stream_error(code);
    TableOutcome<TableLayout> layout = read_layout(*input_schema_.get(), names);
    if (!layout.ok()) return layout.error();
    layout_ = std::move(layout).value();
    const std::string& zone = layout_.times.time_zone;
    if (names.times && !fixed_offset(zone) && !formatter.knows_zone(zone)) {
        return TableError{TableErrorKind::value, messages::unknown_time_zone(*names.times, zone)};
    }
    output_schema_ = output_schema(*input_schema_.get(), layout_);
    TableOutcome<std::unique_ptr<TableBatch>> batch = TableBatch::make(*input_schema_.get(), layout_, scalars_);
    if (!batch.ok()) return batch.error();
    batch_ = std::move(batch).value();
    return std::monostate{};
}

TableError TableRun::stream_error(int code) {
    const char* last = parked_on_forced_unwind([this] {
        return input_->get_last_error != nullptr ? input_->get_last_error(input_.get()) : nullptr;
    });
    const std::string what = last != nullptr ? last : std::strerror(code);
    if (interrupted(what)) return TableError{TableErrorKind::interrupted, ""};
    return TableError{TableErrorKind::value, messages::stream_failed(what)};
}

int TableRun::fetch_batch(OwnedArray& input) noexcept {
    return parked_on_forced_unwind([&] { return input_->get_next(input_.get(), input.get()); });
}

TableOutcome<bool> TableRun::take_batch(int code, const std::shared_ptr<OwnedArray>& input) {
    if (code != 0) return stream_error(code);
    if (!input->valid()) {
        input_.reset();
        return false;
    }
    if (auto fault = batch_->view(*input->get())) {
        return TableError{TableErrorKind::value, messages::batch_mismatch(*fault)};
    }
    return true;
}

TableOutcome<std::monostate> TableRun::plan_batch(const StopCheck& stop) {
    try {
        if (!crew_.plan(*batch_, results_, stop)) return TableError{TableErrorKind::interrupted, ""};
    } catch (const InternalFailure& failure) {
        return TableError{TableErrorKind::internal, messages::internal_failure(failure.message())};
    }
    return std::monostate{};
}

OwnedArray TableRun::write_batch(const std::shared_ptr<OwnedArray>& input, Formatter& formatter) {
    for (std::size_t row = 0; row < results_.size(); ++row) {
        RowResult& result = results_[row];
        const auto at = static_cast<std::int64_t>(row);
        if (result.state == RowResult::State::failed) {
            result.message = row_refusal(*batch_, at, result.error, formatter);
        } else if (result.state == RowResult::State::times_refused) {
            result.message = times_refusal(*batch_, at, result.fault, formatter);
        } else {
            continue;
        }
        result.state = RowResult::State::refused;
    }
    return output_batch(*output_schema_.get(), input, layout_, results_);
}

}  // namespace kestrava::table
