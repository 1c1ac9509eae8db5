// One call of plan_table: the input stream, where each rule comes from, and the
// output schema; it reads, plans and emits one batch at a time, as the consumer asks,
// so memory is bounded by a batch whatever the stream's length.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "table/batch.hpp"
#include "table/columns.hpp"
#include "table/row_crew.hpp"
#include "table/arrow_handles.hpp"

namespace kestrava::table {

class TableRun {
public:
    // With the interpreter lock held. Reads the input's schema and checks the columns
    // (ValueError, TypeError as table_columns.hpp says).
    TableRun(OwnedStream input, const ColumnNames& names, RuleScalars scalars, unsigned threads);
    TableRun(const TableRun&) = delete;
    TableRun& operator=(const TableRun&) = delete;

    const ArrowSchema& schema() const noexcept { return *output_schema_.get(); }

    // With the lock held, which it lets go while it reads the input and plans: the next
    // output batch, or nullopt once the input ends. Raises ValueError when the input
    // stream fails, RuntimeError when another thread is reading this run, and what a
    // signal handler raised (KeyboardInterrupt) when it stopped the batch.
    std::optional<OwnedArray> next();

private:
    std::shared_ptr<OwnedArray> read_input();
    void plan_batch();

    OwnedStream input_;
    OwnedSchema input_schema_;
    TableLayout layout_;
    RuleScalars scalars_;
    OwnedSchema output_schema_;
    std::unique_ptr<TableBatch> batch_;
    std::vector<RowResult> results_;
    std::atomic<bool> busy_{false};
    RowCrew crew_;  // last: its helpers end before what they read
};

}  // namespace kestrava::table
