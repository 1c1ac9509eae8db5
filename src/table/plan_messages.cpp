// The texts of plan_messages.hpp.
#include "table/plan_messages.hpp"

#include <initializer_list>
#include <string>

#include "table/rule_names.hpp"

namespace kestrava::table::messages {

namespace {

std::string joined(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (const std::string_view piece : pieces) text += piece;
    return text;
}

}  // namespace

std::string prices_not_a_sequence(std::string_view type_name) {
    return joined(
        {"prices must be a sequence of prices (a list, tuple, numpy array or pandas Series), not ", type_name});
}

std::string too_many_prices(std::size_t limit, std::size_t count) {
    return joined(
        {"prices cannot contain more than ", std::to_string(limit), " items (got ", std::to_string(count), ")"});
}

std::string too_many_prices_unsized(std::size_t limit) {
    const std::string most = std::to_string(limit);
    return joined({"prices cannot contain more than ", most, " items (got more than ", most, ")"});
}

std::string not_a_decimal_number(std::string_view place, std::string_view shown) {
    return joined({place, ": ", shown, " is not a decimal number"});
}

std::string not_finite(std::string_view place, std::string_view shown) {
    return joined({place, ": ", shown, " is not a finite number"});
}

std::string bool_not_a_price(std::string_view place, std::string_view shown) {
    return joined({place, ": ", shown, " is a bool, not a price"});
}

std::string narrow_float_not_a_price(std::string_view place, std::string_view shown, std::string_view type_name) {
    return joined(
        {place, ": ", shown, " is a ", type_name, ", not a price; convert it with .astype(float) or to text"});
}

std::string not_a_price_type(std::string_view place, std::string_view shown, std::string_view type_name) {
    return joined({place, ": ", shown, " is a ", type_name, ", not a price (a decimal text, int, Decimal or float)"});
}

std::string too_long_to_write_out(std::string_view place, std::string_view shown, std::size_t limit) {
    return joined({place, ": ", shown, " has more than ", std::to_string(limit), " digits when written out"});
}

std::string too_many_digits(std::string_view place, std::string_view shown, std::size_t limit) {
    return joined({place, ": ", shown, " has more than ", std::to_string(limit), " significant digits"});
}

std::string too_many_decimals(std::string_view place, std::string_view shown, std::size_t limit) {
    return joined({place, ": ", shown, " has so many decimals that some price needs more than ", std::to_string(limit),
                   " significant digits"});
}

std::string count_not_an_int(std::string_view name, std::string_view type_name) {
    return joined({name, " must be an int, not ", type_name});
}

std::string count_negative(std::string_view name, std::string_view value) {
    return joined({name, " cannot be negative (got ", value, ")"});
}

std::string flag_not_a_bool(std::string_view name, std::string_view type_name) {
    return joined({name, " must be a bool, not ", type_name});
}

std::string min_selections_above_count(std::string_view min_selections, std::size_t count) {
    return joined({"min_selections (", min_selections, ") cannot be greater than the number of prices (",
                   std::to_string(count), ")"});
}

std::string min_consecutive_above_selections(std::string_view min_consecutive, std::string_view min_selections) {
    return joined({"min_consecutive_periods (", min_consecutive, ") cannot be greater than min_selections (",
                   min_selections, ")"});
}

std::string start_gap_above_gap(std::string_view start_gap, std::string_view gap) {
    return joined({"max_gap_from_start (", start_gap, ") cannot be greater than max_gap_between_periods (", gap, ")"});
}

namespace {

// "period 4" or "periods 4 to 9".
std::string periods_named(std::size_t first, std::size_t last) {
    if (first == last) return joined({"period ", std::to_string(first)});
    return joined({"periods ", std::to_string(first), " to ", std::to_string(last)});
}

}  // namespace

std::string min_consecutive_above_selections_and_run(std::string_view min_consecutive, std::string_view min_selections,
                                                     std::string_view running_for) {
    return joined({"min_consecutive_periods (", min_consecutive, ") cannot be greater than min_selections + running_for (",
                   min_selections, " + ", running_for, ")"});
}

std::string allowed_not_a_sequence(std::string_view type_name) {
    return joined({"allowed must be None or a sequence of bools (one per price), not ", type_name});
}

std::string allowed_item_not_a_bool(std::size_t index, std::string_view type_name) {
    return joined({"allowed[", std::to_string(index), "] must be a bool, not ", type_name});
}

std::string allowed_length(std::size_t length, std::size_t count) {
    return joined({"allowed must hold one bool per price: got ", std::to_string(length), " for ",
                   std::to_string(count), " prices"});
}

std::string running_and_off(std::string_view running_for, std::string_view off_for) {
    return joined({"running_for (", running_for, ") and off_for (", off_for,
                   ") cannot both be non-zero: before period 0 the load was either on or off"});
}

std::string blocked_stretch_too_long(std::size_t first, std::size_t last, std::string_view gap) {
    const std::string length = std::to_string(last - first + 1);
    const std::string_view off = first == last ? " is blocked, 1 period off" : " are blocked, ";
    return joined({"no plan meets the rules: ", periods_named(first, last), off, first == last ? "" : length,
                   first == last ? "" : " periods off in a row", ", more than max_gap_between_periods (", gap,
                   "); allow a period among them or raise max_gap_between_periods"});
}

std::string too_few_allowed(std::size_t allowed, std::size_t count, std::string_view min_selections) {
    return joined({"no plan meets the rules: only ", std::to_string(allowed), " of the ", std::to_string(count),
                   " periods are allowed, fewer than min_selections (", min_selections,
                   "); allow more periods or lower min_selections"});
}

std::string carried_run_cut(std::string_view running_for, std::string_view min_consecutive) {
    return joined({"no plan meets the rules: the carried run of running_for (", running_for,
                   ") periods is shorter than min_consecutive_periods (", min_consecutive,
                   ") and must go on at period 0, which is blocked; allow period 0 or lower min_consecutive_periods"});
}

std::string off_for_above_gap(std::string_view off_for, std::string_view gap) {
    return joined({"no plan meets the rules: off_for (", off_for, ") is already more than max_gap_between_periods (",
                   gap, "); raise max_gap_between_periods or pass the real time off"});
}

std::string off_for_no_start(std::string_view off_for, std::string_view gap, std::string_view start_gap,
                             std::size_t latest) {
    return joined({"no plan meets the rules: after off_for (", off_for,
                   ") periods off, the first period must come by period ", std::to_string(latest),
                   " (max_gap_between_periods (", gap, ") - off_for, and max_gap_from_start (", start_gap, ")), but ",
                   periods_named(0, latest), latest == 0 ? " is" : " are",
                   " blocked; allow one of them or raise max_gap_between_periods"});
}

std::string day_below_quota(std::string_view day, std::uint64_t allowed, std::uint64_t quota) {
    return joined({"no plan meets the rules: ", day, " holds ", std::to_string(allowed),
                   " allowed periods of the horizon, fewer than its quota of ", std::to_string(quota),
                   "; allow more of its periods or lower the quota"});
}

std::string done_today_without_quota(std::string_view done_today) {
    return joined({rule_name(Rule::done_today), " (", done_today, ") needs ", rule_name(Rule::min_per_day),
                   ": it is what already ran toward the first day's quota"});
}

std::string quota_untimed() {
    return joined({rule_name(Rule::min_per_day), " needs times to tell the days apart: pass times, or prices as a "
                   "pandas Series with a DatetimeIndex"});
}

std::string quota_count_negative(std::string_view name, std::string_view count) {
    return joined({name, " (", count, ") must not be negative"});
}

std::string quota_fixed_offset(std::string_view first_time) {
    return joined({rule_name(Rule::min_per_day), ": the times carry a fixed offset (", first_time,
                   "), not a time zone, so a day would be a day of that offset; pass zone= (a name such as "
                   "'Europe/Berlin' or a ZoneInfo)"});
}

std::string short_last_run(std::string_view min_consecutive) {
    return joined({"no plan meets the rules: the last run could not be made ", min_consecutive,
                   " periods long; allow a short last run or lower min_consecutive_periods"});
}

std::string column_missing(std::string_view role, std::string_view column, std::string_view columns) {
    return joined({role, ": the data has no column '", column, "' (its columns: ", columns, ")"});
}

std::string column_ambiguous(std::string_view role, std::string_view column, std::int64_t count) {
    return joined({role, ": the data has ", std::to_string(count), " columns named '", column,
                   "'; rename all but one, so that the name says which to read"});
}

std::string column_type(std::string_view role, std::string_view column, std::string_view type,
                        std::string_view accepted) {
    return joined({role, ": column '", column, "' is ", type, "; plan_table takes ", accepted});
}

std::string count_too_large(std::string_view name, std::string_view value) {
    return joined({name, ": plan_table takes counts below 2**63 (got ", value, ")"});
}

std::string times_naive(std::string_view column, std::string_view type) {
    return joined({"times: column '", column, "' is ", type, ", which has no time zone; give timezone-aware "
                   "timestamps (for example tz_localize a pandas column, or cast to a timestamp type with a tz): "
                   "the periods of a day when the clocks change cannot be told from naive times"});
}

std::string duration_column_without_times(std::string_view name, std::string_view column) {
    return joined({name, ": column '", column, "' holds durations, which need times to count periods: pass times, "
                   "the name of a column of lists of timestamps"});
}

std::string unknown_time_zone(std::string_view column, std::string_view zone) {
    return joined({"times: column '", column, "' is in the time zone '", zone,
                   "', which zoneinfo does not know; give a zone name of the tz database or an offset like +01:00"});
}

std::string not_a_table_stream(std::string_view format) {
    return joined({"data: the Arrow stream holds arrays of format '", format,
                   "', not record batches (a struct of columns)"});
}

std::string stream_failed(std::string_view what) { return joined({"data: reading the Arrow stream failed: ", what}); }

std::string batch_mismatch(std::string_view what) {
    return joined({"data: a batch of the Arrow stream does not match its schema: ", what});
}

std::string internal_failure(std::string_view what) { return joined({"kestrava_plan: internal failure: ", what}); }

}  // namespace kestrava::table::messages
