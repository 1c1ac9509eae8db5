// The table's errors as values: why a whole call of plan_table ends, with the message
// it ends with. The table names the kind; the binding raises the exception that goes
// with it. A row the planner refuses is no error of the call: its message is a value
// of the output.
#pragma once

#include <string>

#include "selection/outcome.hpp"

namespace kestrava::table {

enum class TableErrorKind {
    value,        // the data or a rule breaks a rule of plan_table's, or the stream failed: ValueError
    type,         // the data is no table, or a column's type does not fit its rule: TypeError
    interrupted,  // the stop check ended the batch, or the producer's own error was a KeyboardInterrupt
    internal,     // a failure of the planner's own reasoning, never an answer: RuntimeError
};

struct TableError {
    TableErrorKind kind;
    std::string message;  // the whole text; empty for `interrupted`
};

template <class T>
using TableOutcome = Outcome<T, TableError>;

}  // namespace kestrava::table
