"""The start of each period as a time of the tariff's zone. Aware times are converted;
naive ones are read as wall-clock times of the zone: a wall-clock time the zone
repeats (the hour the clocks go back) is its first occurrence unless that would not
come after the time before (so in order: the first, then the second); one the zone
skips is refused.
"""

from __future__ import annotations

from collections.abc import Iterable
from datetime import datetime, timezone
from typing import Any
from zoneinfo import ZoneInfo

from ..period_times import is_pandas

# Two years of quarter-hours.
MOST_KEPT = 2 * 366 * 96


def time_list(times: Any) -> list[datetime]:
    if is_pandas(times, "DatetimeIndex") or is_pandas(times, "Series"):
        return list(times.to_pydatetime()) if is_pandas(times, "DatetimeIndex") else list(times.dt.to_pydatetime())
    if isinstance(times, (str, bytes)) or not isinstance(times, Iterable):
        raise TypeError(f"times must be a sequence of datetimes or a pandas DatetimeIndex, not {type(times).__name__}")
    listed = list(times)
    for index, time in enumerate(listed):
        if not isinstance(time, datetime):
            raise TypeError(f"times[{index}]: {time!r} is a {type(time).__name__}, not a datetime")
    return listed


def wall_time(time: datetime, zone: ZoneInfo, before: datetime | None, index: int) -> datetime:
    """A naive time read as a time of `zone`, given the time before (aware)."""
    first, second = time.replace(tzinfo=zone, fold=0), time.replace(tzinfo=zone, fold=1)
    instant = first.astimezone(timezone.utc)
    if instant.astimezone(zone).replace(tzinfo=None) != time:
        raise ValueError(f"times[{index}]: {time.isoformat()} does not exist in {zone.key} (the clocks skip it)")
    repeated = second.astimezone(timezone.utc) != instant
    if repeated and before is not None and instant <= before.astimezone(timezone.utc):
        return second
    return first


def local_times(times: Any, zone: ZoneInfo, kept: dict[datetime, datetime]) -> list[datetime]:
    """Each time as an aware time of `zone`; `kept` holds the aware times converted so far
    (a conversion into a ZoneInfo costs several lookups in a dict)."""
    found: list[datetime] = []
    before: datetime | None = None
    for index, time in enumerate(time_list(times)):
        # Only plain datetimes with fold 0 are kept: a time equal to a kept one is then the
        # same instant (fold 1 would equal the fold 0 wall time of its zone; a naive time
        # equals no aware one).
        keeps = type(time) is datetime and not time.fold
        local = kept.get(time) if keeps else None
        if local is None:
            if time.utcoffset() is None:
                local = wall_time(time, zone, before, index)
            else:
                local = time.astimezone(zone)
                if keeps:
                    if len(kept) >= MOST_KEPT:
                        kept.clear()
                    kept[time] = local
        before = local
        found.append(local)
    return found
