// A row's quota per day, read as plan reads it from min_per_day, done_today and the
// times: plan's refusals in plan's order (a None count, done_today without a quota, a
// quota without times, a duration that is no count, a negative count, times with a
// fixed offset and no zone, times and prices of different lengths), then each period's
// day and each day's quota. The days come from the data's column of local dates, one
// per period, which the library writes where the rows have a clock; this engine has no
// time-zone database.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "table/batch.hpp"

namespace kestrava::table {

// After the row's times and its other durations are read into `request`, in a call
// where quota_possible(): fills its days (left empty without a quota), or answers
// plan's refusal.
std::optional<std::string> read_row_days(const TableBatch& batch, std::int64_t row, RowRequest& request);

// Whether some row of a call can have a quota: a day count is a column or not zero.
bool quota_possible(const TableLayout& layout, const RuleScalars& scalars) noexcept;

}  // namespace kestrava::table
