// Instants and durations of plan_table's times as integers of nanoseconds, and their
// texts as plan's messages show Python's datetimes and timedeltas: str(timedelta)
// ("1:30:00", "2 days, 0:00:00", "0:00:00.500000") and datetime.isoformat(). A value
// finer than a microsecond, which Python cannot hold, shows nine decimals. No
// interpreter here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nanoarrow/nanoarrow.h>

namespace kestrava::table {

// 128 bits: an int64 of seconds is beyond 64 bits in nanoseconds.
using Nanoseconds = __int128;

inline constexpr Nanoseconds nanoseconds_per_unit(ArrowTimeUnit unit) noexcept {
    switch (unit) {
        case NANOARROW_TIME_UNIT_SECOND:
            return 1'000'000'000;
        case NANOARROW_TIME_UNIT_MILLI:
            return 1'000'000;
        case NANOARROW_TIME_UNIT_MICRO:
            return 1'000;
        default:
            return 1;
    }
}

// As str(timedelta), with a leading "-" for a negative duration (plan's duration_text).
std::string duration_text(Nanoseconds duration);

// As str(timedelta): a negative one as Python writes it, "-1 day, 23:45:00".
std::string timedelta_text(Nanoseconds duration);

// As date.isoformat() of the date `days` after 1970-01-01 (an Arrow date32).
std::string iso_date(std::int64_t days);

// As datetime.isoformat() of the instant `utc` in a zone `offset` ahead of UTC.
std::string iso_time(Nanoseconds utc, Nanoseconds offset);

// The offset of an Arrow time zone written as one ("+01:00", "-0530", "UTC"); nullopt
// for a zone name, whose offset depends on the instant.
std::optional<Nanoseconds> fixed_offset(std::string_view zone) noexcept;

}  // namespace kestrava::table
