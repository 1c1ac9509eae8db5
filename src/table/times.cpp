// The checks and conversions of times.hpp, with plan's messages
// (kestrava_plan/period_times.py).
#include "table/times.hpp"

#include <limits>

#include "table/arrow_values.hpp"
#include "table/plan_messages.hpp"

namespace kestrava::table {

namespace {

std::string place(std::size_t index) { return "times[" + std::to_string(index) + "]"; }

std::string decimal_text(Nanoseconds value) {
    if (value < 0) return "-" + decimal_text(-value);
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    return digits;
}

}  // namespace

Nanoseconds row_time(const ArrowArrayView& list, ArrowTimeUnit unit, const RowTimes& times, std::size_t index) noexcept {
    const std::int64_t value = ArrowArrayViewGetIntUnsafe(list.children[0], times.start + static_cast<std::int64_t>(index));
    return Nanoseconds{value} * nanoseconds_per_unit(unit);
}

std::optional<TimesFault> read_row_times(const ArrowArrayView& list, ArrowTimeUnit unit, std::int64_t index,
                                         RowTimes& times) noexcept {
    times = RowTimes{};
    if (ArrowArrayViewIsNull(&list, index)) return std::nullopt;
    const ListItems items = list_items(list, index);
    times = {true, items.start, static_cast<std::size_t>(items.count), 0};
    for (std::size_t i = 0; i < times.count; ++i) {
        if (ArrowArrayViewIsNull(list.children[0], items.start + static_cast<std::int64_t>(i))) {
            return TimesFault{TimesFault::Kind::null_time, i};
        }
    }
    if (times.count < 2) return TimesFault{TimesFault::Kind::too_few, times.count};
    times.period = row_time(list, unit, times, 1) - row_time(list, unit, times, 0);
    for (std::size_t i = 1; i < times.count; ++i) {
        const Nanoseconds step = row_time(list, unit, times, i) - row_time(list, unit, times, i - 1);
        if (step <= 0) return TimesFault{TimesFault::Kind::not_after, i};
        if (step != times.period) return TimesFault{TimesFault::Kind::uneven, i};
    }
    return std::nullopt;
}

std::string times_fault_text(const TimesFault& fault, const RowTimes& times, Nanoseconds before, Nanoseconds at,
                             Nanoseconds before_offset, Nanoseconds at_offset) {
    const std::size_t i = fault.index;
    switch (fault.kind) {
        case TimesFault::Kind::null_time:
            return place(i) + ": None is a NoneType, not a datetime";
        case TimesFault::Kind::too_few:
            return "times holds " + std::to_string(i) + (i == 1 ? " time" : " times") +
                   ", too few to tell the period length; plan without times";
        case TimesFault::Kind::not_after:
            return place(i) + " (" + iso_time(at, at_offset) + ") is not after " + place(i - 1) + " (" +
                   iso_time(before, before_offset) + "): times must increase";
        default:
            return place(i) + " (" + iso_time(at, at_offset) + ") is " + duration_text(at - before) + " after " +
                   place(i - 1) + ", unlike the " + duration_text(times.period) +
                   " between times[0] and times[1]: the periods must be evenly spaced (is a period missing or doubled?)";
    }
}

std::optional<std::string> duration_count(std::string_view name, Nanoseconds duration, const RowTimes& times,
                                          std::int64_t& count) {
    const std::string named(name);
    if (!times.given) {
        return named + ": a duration (" + duration_text(duration) +
               ") needs times to count periods: pass times, or prices as a pandas Series with a DatetimeIndex";
    }
    if (duration < 0) return named + ": " + duration_text(duration) + " is a negative duration";
    if (duration % times.period != 0) {
        return named + ": " + duration_text(duration) + " is not a whole number of periods of " +
               duration_text(times.period);
    }
    const Nanoseconds periods = duration / times.period;
    // Counts are 64-bit here, as from an integer column.
    if (periods > std::numeric_limits<std::int64_t>::max()) {
        return messages::count_too_large(name, decimal_text(periods));
    }
    count = static_cast<std::int64_t>(periods);
    return std::nullopt;
}

std::string times_length_message(std::size_t times, std::size_t prices) {
    return "times holds " + std::to_string(times) + " times for " + std::to_string(prices) + " prices";
}

}  // namespace kestrava::table
