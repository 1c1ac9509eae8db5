"""--per-day as a stream: each row's time read and checked as the row comes, the rows
gathered into local days, and each day handed on with its horizon once the first row
of a later day, or the end, shows it complete. Memory holds one day, whatever the
length of the input; of a day with more prices than the planner takes only that many
are held.

The period length is the shortest step between two times read when the first day is
complete, the step into the second day included: a price missing right after the
first time does not make the periods longer.
"""

from __future__ import annotations

from collections.abc import Iterator
from dataclasses import dataclass
from datetime import date, datetime, timedelta, tzinfo

from ..message_texts import shown
from .command_time import (Clock, calendar_fault, instant, mixed_offsets, naive_in_zone, not_after, read_time,
                           row_of, zone_needed, zone_of)
from .horizons import Horizon, HorizonOptions, day_horizon, group_days
from .price_texts import MOST_PRICES, InputError, PriceList, PriceRow, PriceRows

_NEEDS = "--per-day needs the input's times, to tell its days"


@dataclass(frozen=True)
class Day:
    """One local day of the input, its periods counted from its first."""

    prices: PriceList
    clock: Clock
    horizon: Horizon
    period: timedelta


class _Timed:
    """The rows with their times, each checked against the first and the one before;
    the zone to show them in once the first is read, and the shortest step so far."""

    def __init__(self, rows: Iterator[PriceRow], tz: str | None, area: str | None) -> None:
        self._rows = rows
        self._tz = tz
        self.zone: tzinfo | None = zone_of(tz, area)
        self.shortest: timedelta | None = None
        self._widest = timedelta(0)

    def _first(self, row: PriceRow, moment: datetime) -> None:
        if moment.utcoffset() is None and self.zone is not None:
            if self._tz is not None:
                raise naive_in_zone(row.place, row.time or "")
            self.zone = None  # a bidding zone's naive times are its own local time
        if moment.utcoffset() is not None and self.zone is None:
            raise zone_needed("--per-day", row.place, row.time or "")

    def _within_the_calendar(self, row: PriceRow, moment: datetime) -> None:
        fault = calendar_fault(moment, row.place, self._widest)
        if fault is not None:
            raise InputError(f"{_NEEDS}: {fault}")

    def __iter__(self) -> Iterator[tuple[datetime, tuple[PriceRow, datetime]]]:
        first: tuple[str, datetime] | None = None
        before: datetime | None = None
        for row in self._rows:
            moment = read_time(row.time or "")
            if moment is None:
                raise InputError(f"{_NEEDS}: {row_of(row.place)}: the time {shown(row.time or '')} is not an ISO 8601 "
                                 "time")
            if first is None:
                self._first(row, moment)
                first = (row.place, moment)
            elif (moment.utcoffset() is None) != (first[1].utcoffset() is None):
                mixed = ((row.place, moment), first) if first[1].utcoffset() is None else (first, (row.place, moment))
                raise InputError(f"{_NEEDS}: {mixed_offsets(*mixed)}")
            self._within_the_calendar(row, moment)
            step = instant(moment) - instant(before) if before is not None else timedelta(0)
            if step > self._widest:  # the periods reach as far: the time is checked again
                self._widest = step
                self._within_the_calendar(row, moment)
            if before is not None:
                if step <= timedelta(0):
                    raise InputError(not_after(row.place, moment))
                self.shortest = step if self.shortest is None else min(self.shortest, step)
            before = moment
            yield (moment.astimezone(self.zone) if self.zone is not None else moment), (row, moment)


def _day(day: date, held: list[tuple[PriceRow, datetime]], count: int, zone: tzinfo | None, period: timedelta,
         decimal_comma: bool, options: HorizonOptions) -> Day:
    prices = PriceList([row.written for row, _ in held], [row.place for row, _ in held],
                       [row.time or "" for row, _ in held], decimal_comma)
    clock = Clock(prices.times, [moment for _, moment in held], prices.places, zone)
    if count > MOST_PRICES:
        horizon = Horizon(day, 0, len(held), error=f"the day holds {count:,} prices, more than the {MOST_PRICES} the "
                          "planner takes: is the time column the right one?")
    else:
        horizon = day_horizon([clock.local(index) for index in range(len(held))], period, options, day)
    return Day(prices, clock, horizon, period)


def days_of(prices: PriceRows, tz: str | None, options: HorizonOptions) -> Iterator[Day]:
    """Each local day of the rows in turn, read as they come; InputError, when the rows
    reach it, for a time that cannot tell the days."""
    if not prices.timed:
        raise InputError(f"{_NEEDS}: the input has no time column (name one with --time-column)")
    timed = _Timed(prices.rows, tz, prices.area)
    period: timedelta | None = None
    for day, held, count in group_days(timed, options.day_start, MOST_PRICES + 1):
        if period is None:
            period = timed.shortest
        if period is None:
            raise InputError(f"{_NEEDS}: one time is too few to tell the period length")
        yield _day(day, held, count, timed.zone, period, prices.decimal_comma, options)
