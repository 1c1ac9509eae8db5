// plan_table's output: for each input batch one record batch of the id (the input's
// column, passed through without a copy), periods (list<int32>), cost (exact decimal
// text), count (int32, the number of periods) and error (plan's message for a row it
// refuses). A refused row has nulls but for its id and error; a planned one a null
// error. Built with nanoarrow; never touches the interpreter.
#pragma once

#include <memory>
#include <vector>

#include "table/arrow_handles.hpp"
#include "table/columns.hpp"
#include "table/row_crew.hpp"

namespace kestrava::table {

// The output's schema, the id's field copied from `input`. Throws std::bad_alloc.
OwnedSchema output_schema(const ArrowSchema& input, const TableLayout& layout);

// The output batch of `results` for `input`, which it keeps alive for the id column.
// Throws std::bad_alloc.
OwnedArray output_batch(const ArrowSchema& schema, const std::shared_ptr<OwnedArray>& input, const TableLayout& layout,
                        const std::vector<RowResult>& results);

}  // namespace kestrava::table
