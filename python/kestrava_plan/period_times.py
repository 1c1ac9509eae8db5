"""Periods and times: the start of each period as timezone-aware datetimes (a
`Timeline`), their one period length, and rules given as durations turned into counts
of periods (`periods_in`, for `plan`, `plan_table` and the command alike).

Lengths are measured between instants, in UTC: two datetimes of one zone subtract as
wall-clock times, which would make the hour the clocks go back last no time at all.
So a day of 92 or 100 quarter-hours has a period of 15 minutes like any other.

pandas is never imported here: its objects are told by their type's module and name.
"""

from __future__ import annotations

from collections.abc import Callable, Iterable, Sequence
from dataclasses import dataclass
from datetime import datetime, timedelta, timezone
from typing import Any, SupportsIndex


def is_pandas(value: object, type_name: str) -> bool:
    """Whether `value` is the pandas type `type_name` (or a subclass named so)."""
    kind = type(value)
    return kind.__module__.split(".")[0] == "pandas" and kind.__name__ == type_name


def duration_text(duration: timedelta) -> str:
    """A duration as people write it: 1:30:00, -0:15:00, 2 days, 0:00:00."""
    return f"-{abs(duration)}" if duration < timedelta(0) else str(duration)


def in_utc(time: datetime) -> datetime:
    return time.astimezone(timezone.utc)


@dataclass(frozen=True)
class Timeline:
    """The start of each period and the period length, the same for every period."""

    starts: tuple[datetime, ...]
    period: timedelta

    def end(self, stop: int) -> datetime:
        """When period `stop - 1` ends: the next start, or after the last period the
        last start plus the period length, in the last start's zone."""
        if stop < len(self.starts):
            return self.starts[stop]
        last = self.starts[-1]
        return (in_utc(last) + self.period).astimezone(last.tzinfo)


def _aware(time: object, place: str) -> datetime:
    if not isinstance(time, datetime):
        raise TypeError(f"{place}: {time!r} is a {type(time).__name__}, not a datetime")
    if time.utcoffset() is None:
        raise ValueError(f"{place}: {time} has no time zone; give timezone-aware datetimes "
                         "(for example with zoneinfo.ZoneInfo, or tz_localize a pandas index)")
    return time


def _time_list(times: Any) -> list[datetime]:
    if is_pandas(times, "DatetimeIndex"):
        if times.tz is None:
            raise ValueError("times: the DatetimeIndex has no time zone; tz_localize it (the periods of a day "
                             "when the clocks change cannot be told from naive times)")
        return list(times.to_pydatetime())
    if isinstance(times, (str, bytes)) or not isinstance(times, Iterable):
        raise TypeError(f"times must be a sequence of datetimes or a pandas DatetimeIndex, not "
                        f"{type(times).__name__}")
    return [_aware(time, f"times[{index}]") for index, time in enumerate(times)]


def _check_spacing(starts: Sequence[datetime], period: timedelta) -> None:
    for index in range(1, len(starts)):
        step = in_utc(starts[index]) - in_utc(starts[index - 1])
        if step <= timedelta(0):
            raise ValueError(f"times[{index}] ({starts[index].isoformat()}) is not after times[{index - 1}] "
                             f"({starts[index - 1].isoformat()}): times must increase")
        if step != period:
            raise ValueError(f"times[{index}] ({starts[index].isoformat()}) is {duration_text(step)} after "
                             f"times[{index - 1}], unlike the {duration_text(period)} between times[0] and "
                             "times[1]: the periods must be evenly spaced (is a period missing or doubled?)")


def timeline(times: Any) -> Timeline:
    """The timeline of a sequence of aware datetimes or a pandas DatetimeIndex, evenly
    spaced; TypeError or ValueError naming the time that is not."""
    starts = _time_list(times)
    if len(starts) < 2:
        raise ValueError(f"times holds {len(starts)} {'time' if len(starts) == 1 else 'times'}, too few to tell "
                         "the period length; plan without times")
    period = in_utc(starts[1]) - in_utc(starts[0])
    _check_spacing(starts, period)
    return Timeline(tuple(starts), period)


# How a caller words a rule given as a duration when there are no times to count its
# periods by: the message for the rule's name and the duration's text. What is missing,
# and how to give it, is the caller's to say.
Untimed = Callable[[str, str], str]


def checked_duration(name: str, duration: timedelta, timed: bool, untimed: Untimed) -> None:
    """Raises TypeError, in the caller's words, when there are no times to count the
    periods of the rule `name` by, and ValueError when `duration` is negative."""
    if not timed:
        raise TypeError(untimed(name, duration_text(duration)))
    if duration < timedelta(0):
        raise ValueError(f"{name}: {duration_text(duration)} is a negative duration")


def periods_in(name: str, duration: timedelta, period: timedelta | None, untimed: Untimed) -> int:
    """The number of periods of `period` (None: no times) that the rule `name`,
    `duration` long, stands for: what `checked_duration` raises, and ValueError when
    it is no whole number of them."""
    checked_duration(name, duration, period is not None, untimed)
    assert period is not None  # refused above
    count, rest = divmod(duration, period)
    if rest:
        raise ValueError(f"{name}: {duration_text(duration)} is not a whole number of periods of "
                         f"{duration_text(period)}")
    return count


def _plan_untimed(name: str, duration: str) -> str:
    return (f"{name}: a duration ({duration}) needs times to count periods: pass times, or prices as a pandas "
            "Series with a DatetimeIndex")


def count_of(name: str, value: SupportsIndex | timedelta, line: Timeline | None) -> SupportsIndex:
    """A rule as `plan` gives it to the planner: a count as given, a duration as its
    number of periods."""
    if not isinstance(value, timedelta):
        return value
    return periods_in(name, value, line.period if line is not None else None, _plan_untimed)
