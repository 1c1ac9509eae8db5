"""The local days of a plan's periods, for a quota per day: which day each period
starts in, on a named clock, with days that start at `day_start` local time.

A day starts at the first instant whose local time is at or after day_start, so a
period belongs to the local date of its start, shifted back one day when its local
time is before day_start. Times with only a fixed offset have no clock of their own:
a day would silently be a day of that offset, so a zone must be named.
"""

from __future__ import annotations

from dataclasses import dataclass
from datetime import date, datetime, time, timedelta, timezone, tzinfo
from zoneinfo import ZoneInfo


@dataclass(frozen=True)
class LocalDays:
    """Each period's day (0 for period 0's) and each day's local date."""

    day_of: list[int]
    dates: list[date]


def day_start_of(value: time | str) -> time:
    """day_start as a time: a datetime.time, or "HH:MM"."""
    if isinstance(value, time):
        if value.tzinfo is not None:
            raise ValueError(f"day_start: {value} has a time zone; give a local time, the zone is zone's")
        return value
    if isinstance(value, str):
        try:
            hours, minutes = value.split(":")
            if len(hours) != 2 or len(minutes) != 2:
                raise ValueError
            return time(int(hours), int(minutes))
        except ValueError:
            raise ValueError(f"day_start: {value!r} is not a time of day written HH:MM") from None
    raise TypeError(f"day_start must be a datetime.time or a str HH:MM, not {type(value).__name__}")


def clock_of(zone: str | tzinfo | None, first: datetime) -> tzinfo:
    """The clock days are counted by: `zone` (a name or a ZoneInfo), else the times' own
    ZoneInfo; a fixed offset alone is refused."""
    if isinstance(zone, str):
        return ZoneInfo(zone)
    if isinstance(zone, ZoneInfo):
        return zone
    if zone is not None:
        raise TypeError(f"zone must be a zone name or a zoneinfo.ZoneInfo, not {type(zone).__name__}")
    own = first.tzinfo
    if isinstance(own, ZoneInfo):
        return own
    raise ValueError(f"min_per_day: the times carry a fixed offset ({first.isoformat()}), not a time zone, so a day "
                     "would be a day of that offset; pass zone= (a name such as 'Europe/Berlin' or a ZoneInfo)")


def day_begins(day: date, clock: tzinfo, day_start: time) -> datetime:
    """The first instant of the local date `day` whose clock shows day_start or later:
    the first of two such times where the clocks go back, and where they skip it, the
    instant they skip to."""
    wall = datetime.combine(day, day_start)
    earlier = wall.replace(tzinfo=clock, fold=0).astimezone(timezone.utc)
    if earlier.astimezone(clock).replace(tzinfo=None) == wall:
        return earlier
    # Skipped: the clocks jump between the two readings of the wall time.
    low, high = sorted((wall.replace(tzinfo=clock, fold=1).astimezone(timezone.utc), earlier))
    while high - low > timedelta(seconds=1):
        middle = low + (high - low) / 2
        if middle.astimezone(clock).replace(tzinfo=None) >= wall:
            high = middle
        else:
            low = middle
    return high


def local_days(starts: tuple[datetime, ...], clock: tzinfo, day_start: time) -> LocalDays:
    """The days of periods starting at `starts`, on `clock`, from day_start: a period
    belongs to the latest local date whose day has begun by its start."""
    begins: dict[date, datetime] = {}
    day_of: list[int] = []
    dates: list[date] = []
    for start in starts:
        day = start.astimezone(clock).date()
        if day not in begins:
            begins[day] = day_begins(day, clock, day_start)
        if start < begins[day]:
            day -= timedelta(days=1)
        if not dates or dates[-1] != day:
            dates.append(day)
        day_of.append(len(dates) - 1)
    return LocalDays(day_of, dates)
