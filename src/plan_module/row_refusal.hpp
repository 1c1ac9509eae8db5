// The message of a row of plan_table that the planner refused: plan's message for the
// same values, made with the interpreter lock held (it shows prices as Python shows
// them, and reuses _plan's messages through Python ints for the counts).
#pragma once

#include <cstdint>
#include <string>

#include "table/batch.hpp"
#include "selection/outcome.hpp"

namespace kestrava::plan_module {

using table::TableBatch;

// Precondition: row `row` of the viewed batch reads (read_row answered no refusal).
std::string row_refusal(const TableBatch& batch, std::int64_t row, const Error& error);

}  // namespace kestrava::plan_module
