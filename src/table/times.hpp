// A row's times in plan_table: the list of timestamps checked as plan checks its times
// (none null, at least two, increasing, evenly spaced; in that order), its one period
// length, and the rules given as durations turned into counts of that period. All
// integer arithmetic in nanoseconds, without the interpreter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nanoarrow/nanoarrow.h>

#include "table/time_texts.hpp"

namespace kestrava::table {

// A row's times as read: where they lie in the list's child and the period length.
struct RowTimes {
    bool given = false;  // false for a null list: the row plans without times
    std::int64_t start = 0;
    std::size_t count = 0;
    Nanoseconds period = 0;  // times[1] - times[0]
};

// What plan refuses in a row's times.
struct TimesFault {
    enum class Kind : unsigned char {
        null_time,  // times[index] is null
        too_few,    // fewer than two times
        not_after,  // times[index] is not after times[index - 1]
        uneven,     // times[index] - times[index - 1] differs from the period
    };
    Kind kind = Kind::too_few;
    std::size_t index = 0;
};

// Reads row `index` of a list of timestamps in `unit` into `times`; the first fault,
// in plan's order, if any.
std::optional<TimesFault> read_row_times(const ArrowArrayView& list, ArrowTimeUnit unit, std::int64_t index,
                                         RowTimes& times) noexcept;

// Time `index` of the row, in nanoseconds since 1970 UTC.
Nanoseconds row_time(const ArrowArrayView& list, ArrowTimeUnit unit, const RowTimes& times, std::size_t index) noexcept;

// plan's message for `fault`; a time is shown in the zone `offset_at` gives for it
// (called only for not_after and uneven).
template <class OffsetAt>
std::string times_fault_message(const TimesFault& fault, const RowTimes& times, const ArrowArrayView& list,
                                ArrowTimeUnit unit, OffsetAt&& offset_at);

// The count a duration rule `name` stands for in a row with `times`, or plan's
// message when it stands for none (no times, negative, not a whole number of periods).
std::optional<std::string> duration_count(std::string_view name, Nanoseconds duration, const RowTimes& times,
                                          std::int64_t& count);

// plan's message for times and prices of different lengths.
std::string times_length_message(std::size_t times, std::size_t prices);

// implementation details

std::string times_fault_text(const TimesFault& fault, const RowTimes& times, Nanoseconds before, Nanoseconds at,
                             Nanoseconds before_offset, Nanoseconds at_offset);

template <class OffsetAt>
std::string times_fault_message(const TimesFault& fault, const RowTimes& times, const ArrowArrayView& list,
                                ArrowTimeUnit unit, OffsetAt&& offset_at) {
    if (fault.kind != TimesFault::Kind::not_after && fault.kind != TimesFault::Kind::uneven) {
        return times_fault_text(fault, times, 0, 0, 0, 0);
    }
    const Nanoseconds before = row_time(list, unit, times, fault.index - 1);
    const Nanoseconds at = row_time(list, unit, times, fault.index);
    return times_fault_text(fault, times, before, at, offset_at(before), offset_at(at));
}

}  // namespace kestrava::table
