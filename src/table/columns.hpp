// plan_table's inputs and where each comes from: the id and prices columns, and each
// rule either a column of the data or one value for every row. The data's schema is
// checked once per call: a missing or doubled column is a `value` error, a column of a
// type the rule cannot take a `type` error, both naming the rule, the column and what
// fits. A count may be a column of durations when the data has times, a column of
// lists of timezone-aware timestamps (naive ones are a `value` error, as plan refuses
// them).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include <nanoarrow/nanoarrow.h>

#include "table/rule_names.hpp"
#include "table/table_error.hpp"

namespace kestrava::table {

struct Column {
    std::int64_t index = -1;                                // among the batch's columns; -1: none
    ArrowType type = NANOARROW_TYPE_UNINITIALIZED;          // its storage type
    ArrowType item_type = NANOARROW_TYPE_UNINITIALIZED;     // a list's item type
    ArrowType logical = NANOARROW_TYPE_UNINITIALIZED;       // its type (timestamp, stored as int64)
    ArrowType item_logical = NANOARROW_TYPE_UNINITIALIZED;  // a list's item type, likewise
    std::int32_t scale = 0;                                 // a decimal's, or a list of decimals'
    ArrowTimeUnit time_unit = NANOARROW_TIME_UNIT_SECOND;   // a duration's, or a list of timestamps'
    std::string time_zone;                                  // a list of timestamps'; empty: naive
    bool present() const noexcept { return index >= 0; }
    bool is_duration() const noexcept { return logical == NANOARROW_TYPE_DURATION; }
};

struct TableLayout {
    Column id;
    Column prices;
    Column times;
    Column days;  // each period's local date (list of date32), where the rows' days have a clock
    std::array<Column, rule_count> rules;  // absent: the rule's scalar applies

    const Column& rule(Rule which) const noexcept { return rules[static_cast<std::size_t>(which)]; }
};

// Column names as given: id may be absent, a rule absent when it is a scalar.
struct ColumnNames {
    std::optional<std::string> id;
    std::string prices;
    std::optional<std::string> times;
    // The column of each period's local date, which the library adds for a quota per
    // day: a date needs a time-zone database, which this engine has not.
    std::optional<std::string> days;
    std::array<std::optional<std::string>, rule_count> rules;
};

// The layout, or the error above; also a `type` error when the schema is no struct of
// columns, and a `value` error when it lacks a part it counts.
TableOutcome<TableLayout> read_layout(const ArrowSchema& schema, const ColumnNames& names);

// Whether a value of this type reads as a price: text, decimal, integer or float64.
bool is_price_type(ArrowType type) noexcept;
bool is_list_type(ArrowType type) noexcept;
bool is_signed_integer(ArrowType type) noexcept;

}  // namespace kestrava::table
