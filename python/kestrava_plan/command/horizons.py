"""The command's horizons, the stretches of the input planned each on its own: with
--per-day each local day, from --day-start to the same time the next day, told as the
rows are read; else the whole input. --deadline ends a horizon at the first given time
of day after its start; --window allows only the periods that lie wholly inside a
daily stretch.

Times are the command's local starts (`Clock.local`: in the output's zone, else naive
ones as written; offsets alone do not tell the local time of day), and every comparison
is between instants, so a day of 23 or 25 hours needs no case of its own. A time of day
that the clocks skip is the next that exists; one they repeat is its first occurrence.
"""

from __future__ import annotations

import re
from collections.abc import Iterable, Iterator, Sequence
from dataclasses import dataclass, replace
from datetime import UTC, date, datetime, time, timedelta, tzinfo
from typing import TypeVar

from ..message_texts import shown
from .command_time import instant, iso_minutes, spacing_fault
from .price_texts import InputError

_TIME_OF_DAY = re.compile(r"([01]?[0-9]|2[0-3]):([0-5][0-9])")
_DAY = timedelta(days=1)
_Item = TypeVar("_Item")


@dataclass(frozen=True)
class Window:
    """A stretch of every day; it crosses midnight when it ends at or before its start."""

    start: time
    end: time


@dataclass(frozen=True)
class HorizonOptions:
    per_day: bool = False  # each day its own horizon; else the whole input is one
    day_start: time = time(0, 0)  # when a day starts, with per_day
    window: Window | None = None  # None: every period allowed
    deadline: time | None = None  # None: a horizon ends with its day, or the input


@dataclass(frozen=True)
class Horizon:
    """Periods start to stop - 1 of the input, planned together."""

    day: date | None  # the local day, with --per-day
    start: int
    stop: int  # the deadline may end it before the day does
    partial: bool = False  # the input holds only part of the day
    allowed: list[bool] | None = None  # with --window: one flag per period
    error: str | None = None  # why the horizon cannot be planned


def time_of_day(option: str, text: str) -> time:
    """HH:MM (H:MM too) as a time; InputError naming `option` otherwise."""
    match = _TIME_OF_DAY.fullmatch(text.strip())
    if match is None:
        raise InputError(f"{option}: {shown(text)} is not a time of day: write HH:MM, such as 07:00")
    return time(int(match[1]), int(match[2]))


def window_of(text: str) -> Window:
    """START-END, such as 22:00-06:00, as a Window; InputError otherwise."""
    start, dash, end = text.partition("-")
    if not dash or not _TIME_OF_DAY.fullmatch(start.strip()) or not _TIME_OF_DAY.fullmatch(end.strip()):
        raise InputError(f"--window: {shown(text)} is not a stretch of the day: write START-END as HH:MM-HH:MM, "
                         "such as 22:00-06:00")
    window = Window(time_of_day("--window", start), time_of_day("--window", end))
    if window.start == window.end:
        raise InputError(f"--window: {shown(text)} starts and ends at the same time: give the stretch of the day "
                         "to plan in, such as 22:00-06:00 (leave --window out to allow every period)")
    return window


def _exists(moment: datetime) -> bool:
    return moment.astimezone(UTC).astimezone(moment.tzinfo).replace(tzinfo=None) == moment.replace(tzinfo=None)


def _wall_time(day: date, at: time, zone: tzinfo | None) -> datetime:
    """The moment the clocks of `zone` (None: naive times) show `at` on `day`."""
    moment = datetime.combine(day, at, tzinfo=zone)  # fold 0: the first of a repeated time
    while zone is not None and not _exists(moment):
        moment += timedelta(minutes=1)  # skipped: the first minute the clocks show again
    return moment


def _day_of(moment: datetime, day_start: time) -> date:
    """The day `moment` lies in, days starting at `day_start` in its own zone."""
    day = moment.date()
    return day if instant(moment) >= instant(_wall_time(day, day_start, moment.tzinfo)) else day - _DAY


def _inside(moment: datetime, period: timedelta, window: Window) -> bool:
    """Whether the period starting at `moment` lies wholly inside an occurrence of the
    window: the one that starts the day before or the one that starts that day."""
    start = instant(moment)
    for day in (moment.date() - _DAY, moment.date()):
        opens = _wall_time(day, window.start, moment.tzinfo)
        closes = _wall_time(day + _DAY if window.end <= window.start else day, window.end, moment.tzinfo)
        if instant(opens) <= start and start + period <= instant(closes):
            return True
    return False


def _due(opens: datetime, deadline: time) -> datetime:
    """The first `deadline` after `opens`."""
    due = _wall_time(opens.date(), deadline, opens.tzinfo)
    if instant(due) <= instant(opens):
        due = _wall_time(opens.date() + _DAY, deadline, opens.tzinfo)
    return due


def _bounded(starts: Sequence[datetime], period: timedelta, options: HorizonOptions, horizon: Horizon,
             opens: datetime) -> Horizon:
    """The horizon that opens at `opens` ended at its deadline, with the window's flags."""
    stop = horizon.stop
    if options.deadline is not None:
        due = _due(opens, options.deadline)
        # Only periods that end by the deadline: nothing after it is planned or counted as a pause.
        stop = next((index for index in range(horizon.start, horizon.stop)
                     if instant(starts[index]) + period > instant(due)), horizon.stop)
        if stop == horizon.start:
            return replace(horizon, error=f"no period ends by the deadline {iso_minutes(due)}")
    window = options.window
    allowed = [_inside(starts[index], period, window) for index in range(horizon.start, stop)] if window else None
    return replace(horizon, stop=stop, allowed=allowed)


def _uneven(starts: Sequence[datetime], period: timedelta) -> str | None:
    for index in range(1, len(starts)):
        if instant(starts[index]) - instant(starts[index - 1]) != period:
            return f"{spacing_fault(starts[index - 1], starts[index], period)}, so the day cannot be planned"
    return None


def day_horizon(starts: Sequence[datetime], period: timedelta, options: HorizonOptions, day: date) -> Horizon:
    """The horizon of the periods of `day` that start at `starts` (local, increasing)
    and last `period`, ended at the deadline."""
    opens = _wall_time(day, options.day_start, starts[0].tzinfo)
    closes = _wall_time(day + _DAY, options.day_start, starts[-1].tzinfo)
    partial = instant(starts[0]) - instant(opens) >= period or instant(closes) - instant(starts[-1]) > period
    horizon = Horizon(day, 0, len(starts), partial)
    error = _uneven(starts, period)
    return replace(horizon, error=error) if error else _bounded(starts, period, options, horizon, opens)


def whole_horizon(starts: Sequence[datetime], period: timedelta, options: HorizonOptions) -> Horizon:
    """The horizon of all the periods that start at `starts` (local, increasing) and
    last `period`, ended at the deadline."""
    return _bounded(starts, period, options, Horizon(None, 0, len(starts)), starts[0])


def group_days(moments: Iterable[tuple[datetime, _Item]], day_start: time,
               most: int) -> Iterator[tuple[date, list[_Item], int]]:
    """(day, its items, their count) for each day in turn, as the items are read with
    their local start: a day ends at the first item of a later one. Of a day of more
    than `most` items only the first `most` are held."""
    day: date | None = None
    held: list[_Item] = []
    count = 0
    for moment, item in moments:
        found = _day_of(moment, day_start)
        # Never back to a day already left: with offsets as written, the hour the clocks
        # repeat after a day's start would lie in the day before, by its own offset.
        found = found if day is None else max(found, day)
        if day is not None and found != day:
            yield day, held, count
            held, count = [], 0
        day = found
        count += 1
        if len(held) < most:
            held.append(item)
    if day is not None:
        yield day, held, count
