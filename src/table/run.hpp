// One call of plan_table: the input stream, where each rule comes from, and the output
// schema. It reads, plans and writes one batch at a time, as the consumer asks, so that
// memory is bounded by a batch whatever the stream's length. A batch takes four steps,
// so that a binding holds its interpreter's lock where the producer or the formatter
// may need it and lets it go while the producer makes a batch and the rows are planned:
//   fetch_batch   the producer's get_next (it takes the lock itself if it needs it)
//   take_batch    the producer's failure (its get_last_error), the end, or the batch
//                 checked against its schema
//   plan_batch    the rows, on the crew of row_crew.hpp, until the stop check asks to stop
//   write_batch   the refused rows' messages (through the formatter) and the output
// Call from one thread at a time; each call of the producer sits in
// parked_on_forced_unwind, so that an interpreter that ends the thread there while it
// exits finds no frame of ours to unwind.
#pragma once

#include <memory>
#include <variant>
#include <vector>

#include "selection/stop_check.hpp"
#include "table/arrow_handles.hpp"
#include "table/batch.hpp"
#include "table/columns.hpp"
#include "table/formatter.hpp"
#include "table/row_crew.hpp"
#include "table/table_error.hpp"

namespace kestrava::table {

class TableRun {
public:
    // Reads the input's schema and checks the columns (columns.hpp's errors); a zone
    // name of the times that `formatter` does not know is a `value` error, and so is a
    // producer that fails to give its schema.
    static TableOutcome<std::unique_ptr<TableRun>> open(OwnedStream input, const ColumnNames& names,
                                                        RuleScalars scalars, unsigned threads, Formatter& formatter);
    TableRun(const TableRun&) = delete;
    TableRun& operator=(const TableRun&) = delete;

    const ArrowSchema& schema() const noexcept { return *output_schema_.get(); }
    // Whether the input has ended: no batch comes any more.
    bool ended() const noexcept { return !input_.valid(); }

    // Asks the producer for the next batch, into `input` (which holds none); answers its code.
    int fetch_batch(OwnedArray& input) noexcept;
    // After fetch_batch answered `code`: true when `input` holds a batch, viewed for
    // planning (`input` must live until write_batch); false once the input has ended,
    // which releases the stream. A `value` error when the producer failed or the batch
    // does not match its schema; `interrupted` when the producer's error was Ctrl-C
    // meeting Python code that fed it (its last line, a KeyboardInterrupt).
    TableOutcome<bool> take_batch(int code, const std::shared_ptr<OwnedArray>& input);
    // Plans every row of the batch taken; `interrupted` when `stop` asked to stop,
    // `internal` when the planner failed.
    TableOutcome<std::monostate> plan_batch(const StopCheck& stop);
    // The output batch of the planned rows, each refused row with plan's message; it
    // keeps `input` alive for the id column. Throws std::bad_alloc.
    OwnedArray write_batch(const std::shared_ptr<OwnedArray>& input, Formatter& formatter);

private:
    TableRun(OwnedStream input, RuleScalars scalars, unsigned threads);
    TableOutcome<std::monostate> read_schema(const ColumnNames& names, Formatter& formatter);
    TableError stream_error(int code);

    OwnedStream input_;
    OwnedSchema input_schema_;
    TableLayout layout_;
    RuleScalars scalars_;
    OwnedSchema output_schema_;
    std::unique_ptr<TableBatch> batch_;
    std::vector<RowResult> results_;
    RowCrew crew_;  // last: its helpers end before what they read
};

}  // namespace kestrava::table
