// The message of every error plan, cheapest_periods and plan_table raise, and of every
// row plan_table refuses, in one place: a row's message is plan's for the same values,
// word for word. A message names the argument (and the index of a price), the rule and
// the values involved, so that it points at the mistake. Plain C++: the binding raises
// these texts, the table writes them into its rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrava::table::messages {

// The container of the prices.
std::string prices_not_a_sequence(std::string_view type_name);
inline constexpr std::string_view prices_empty = "prices cannot be empty";
std::string too_many_prices(std::size_t limit, std::size_t count);
// An iterable without len() that went on past the limit.
std::string too_many_prices_unsized(std::size_t limit);

// One price or the threshold; `place` is "prices[17]" or "low_price_threshold", `shown`
// the value as the message shows it (the binding shows a Python object by its repr).
std::string not_a_decimal_number(std::string_view place, std::string_view shown);
std::string not_finite(std::string_view place, std::string_view shown);
std::string bool_not_a_price(std::string_view place, std::string_view shown);
std::string narrow_float_not_a_price(std::string_view place, std::string_view shown, std::string_view type_name);
std::string not_a_price_type(std::string_view place, std::string_view shown, std::string_view type_name);
std::string too_long_to_write_out(std::string_view place, std::string_view shown, std::size_t limit);
std::string too_many_digits(std::string_view place, std::string_view shown, std::size_t limit);
std::string too_many_decimals(std::string_view place, std::string_view shown, std::size_t limit);

// The counts and the strategy flag.
std::string count_not_an_int(std::string_view name, std::string_view type_name);
std::string count_negative(std::string_view name, std::string_view value);
std::string flag_not_a_bool(std::string_view name, std::string_view type_name);

// The rules between the counts; values are the counts as written by Python's str().
inline constexpr std::string_view min_selections_zero = "min_selections must be greater than 0";
std::string min_selections_above_count(std::string_view min_selections, std::size_t count);
inline constexpr std::string_view min_consecutive_zero = "min_consecutive_periods must be greater than 0";
std::string min_consecutive_above_selections(std::string_view min_consecutive, std::string_view min_selections);
std::string start_gap_above_gap(std::string_view start_gap, std::string_view gap);

// _plan: its arguments beyond cheapest_periods', and a plan without a valid selection
// (the first cause that applies; periods by index).
std::string min_consecutive_above_selections_and_run(std::string_view min_consecutive, std::string_view min_selections,
                                                     std::string_view running_for);
std::string allowed_not_a_sequence(std::string_view type_name);
std::string allowed_item_not_a_bool(std::size_t index, std::string_view type_name);
std::string allowed_length(std::size_t length, std::size_t count);
std::string running_and_off(std::string_view running_for, std::string_view off_for);
std::string blocked_stretch_too_long(std::size_t first, std::size_t last, std::string_view gap);
std::string too_few_allowed(std::size_t allowed, std::size_t count, std::string_view min_selections);
std::string carried_run_cut(std::string_view running_for, std::string_view min_consecutive);
std::string off_for_above_gap(std::string_view off_for, std::string_view gap);
std::string off_for_no_start(std::string_view off_for, std::string_view gap, std::string_view start_gap,
                             std::size_t latest);
std::string day_below_quota(std::string_view day, std::uint64_t allowed, std::uint64_t quota);
inline constexpr std::string_view day_quota_mismatch =
    "the days give one day per period, from 0, each the day before or one more, and one quota per day";
std::string short_last_run(std::string_view min_consecutive);

// The quota per day as plan reads it from its counts and times, in plan's order.
std::string done_today_without_quota(std::string_view done_today);
std::string quota_untimed();
std::string quota_count_negative(std::string_view name, std::string_view count);
std::string quota_fixed_offset(std::string_view first_time);
// Python's own words for a count that is None where plan needs an int.
inline constexpr std::string_view none_not_an_index = "'NoneType' object cannot be interpreted as an integer";
inline constexpr std::string_view no_plan =
    "no plan meets the rules: no selection of the allowed periods keeps every rule; loosen a rule or allow more "
    "periods";

// plan_table: the columns of the data and the rules given as scalars for every row.
// `role` is the parameter ("prices", "min_selections"), `column` the column's name.
std::string column_missing(std::string_view role, std::string_view column, std::string_view columns);
std::string column_ambiguous(std::string_view role, std::string_view column, std::int64_t count);
std::string column_type(std::string_view role, std::string_view column, std::string_view type,
                        std::string_view accepted);
std::string count_too_large(std::string_view name, std::string_view value);
std::string times_naive(std::string_view column, std::string_view type);
std::string duration_column_without_times(std::string_view name, std::string_view column);
std::string unknown_time_zone(std::string_view column, std::string_view zone);
std::string not_a_table_stream(std::string_view format);
inline constexpr std::string_view schema_broken =
    "data: the Arrow stream's schema is malformed: a format or a child it counts is missing";
std::string stream_failed(std::string_view what);
std::string batch_mismatch(std::string_view what);
inline constexpr std::string_view stream_released =
    "data: the Arrow stream was already read (its capsule holds a released stream); export a new one";

// A failure of the planner's own reasoning, never an answer to the request.
std::string internal_failure(std::string_view what);

}  // namespace kestrava::table::messages
