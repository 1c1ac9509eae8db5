// The message of a row of plan_table that plan refuses once the row is read: the
// planner's refusal of its values, or a fault of its times. plan's message for the
// same values, word for word, with the prices and times that only an interpreter
// writes as plan does written by the binding's formatter.
#pragma once

#include <cstdint>
#include <string>

#include "selection/outcome.hpp"
#include "table/batch.hpp"
#include "table/formatter.hpp"

namespace kestrava::table {

// Precondition: row `row` of the viewed batch reads (read_row answered no refusal) and
// the planner answered `error`.
std::string row_refusal(const TableBatch& batch, std::int64_t row, const Error& error, Formatter& formatter);

// Precondition: read_times of row `row` of the viewed batch answered `fault`.
std::string times_refusal(const TableBatch& batch, std::int64_t row, const TimesFault& fault, Formatter& formatter);

}  // namespace kestrava::table
