// The time zone of plan_table's times as Python knows it: a zone name is checked once
// per call, and a row whose times plan refuses gets plan's message, which shows the
// times in their zone as datetime.isoformat() does. With the interpreter lock held.
#pragma once

#include <cstdint>
#include <string>

#include "table/batch.hpp"

namespace kestrava::plan_module {

using table::Column;
using table::TableBatch;
using table::TimesFault;

// Raises ValueError when the zone of the times column is neither UTC, an offset, nor a
// name zoneinfo knows.
void check_time_zone(const Column& times, const std::string& name);

// Precondition: read_times of row `row` of the viewed batch answered `fault`.
std::string times_refusal(const TableBatch& batch, std::int64_t row, const TimesFault& fault);

}  // namespace kestrava::plan_module
