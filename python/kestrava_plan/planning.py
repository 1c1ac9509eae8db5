"""`plan`: `cheapest_periods` with periods that may be blocked, the load's state before
period 0, and rules given as durations. This layer turns times, durations, pandas
objects and numpy bools into the plain arguments of `cheapest._plan`, and
its answer into a `Plan`; the planner checks everything else, in its own order.
"""

from __future__ import annotations

import operator
from collections.abc import Iterable, Iterator, Mapping, Sequence, Sized
from dataclasses import replace
from datetime import datetime, time, timedelta, tzinfo
from decimal import Decimal
from typing import TYPE_CHECKING, Any, SupportsIndex, TypeAlias, TypeVar

from .cheapest import _plan
from .local_days import clock_of, day_start_of, local_days
from .period_times import Timeline, count_of, is_pandas, timeline
from .plan_result import Plan, make_plan
from .tariffs import Tariff

if TYPE_CHECKING:
    import numpy

    _Flag: TypeAlias = bool | numpy.bool_

Price = str | int | Decimal | float
Count = SupportsIndex | timedelta
_Item = TypeVar("_Item")


def _recording(items: Iterator[_Item], into: list[_Item]) -> Iterator[_Item]:
    """The items, each noted in `into` as the planner reads it: an iterator can be read
    only once, and the cost needs the prices again."""
    for item in items:
        into.append(item)
        yield item


def _flags(allowed: Any) -> list[Any] | None:
    if allowed is None:
        return None
    if isinstance(allowed, (str, bytes, Mapping)) or not isinstance(allowed, Iterable):
        raise TypeError(f"allowed must be a sequence of bools (a list, numpy array or pandas Series), not "
                        f"{type(allowed).__name__}")
    return list(allowed)


def _negated_flag(value: Any) -> Any:
    """not value for a bool (numpy's too); anything else as it is, for the planner to
    refuse by the rule's name."""
    kind = type(value)
    is_flag = isinstance(value, bool) or (kind.__module__ == "numpy" and kind.__name__ in ("bool", "bool_"))
    return not value if is_flag else value


def _times_of(prices: Any, times: Any) -> tuple[Any, Any]:
    """(the times, the pandas index for Plan.to_series) of the arguments."""
    index = prices.index if is_pandas(prices, "Series") else None
    if index is not None and is_pandas(index, "DatetimeIndex"):
        if times is not None:
            raise ValueError("times: prices is a pandas Series whose DatetimeIndex gives the times; leave times out")
        return index, index
    if index is None and is_pandas(times, "DatetimeIndex"):
        index = times
    return times, index


_Days: TypeAlias = tuple[list[int], list[int], list[str]] | tuple[None, None, None]


_NO_DAYS: _Days = (None, None, None)


def _given(value: Count) -> bool:
    return value != timedelta(0) if isinstance(value, timedelta) else operator.index(value) != 0


def _days(line: Timeline | None, min_per_day: Count, done_today: Count, zone: str | tzinfo | None,
          day_start: time | str) -> _Days:
    """(day_of, day_quota, day_names) for the planner, or Nones without a quota."""
    if not _given(min_per_day):
        if _given(done_today):
            raise ValueError(f"done_today ({done_today}) needs min_per_day: it is what already ran toward the "
                             "first day's quota")
        return None, None, None
    if line is None:
        raise ValueError("min_per_day needs times to tell the days apart: pass times, or prices as a pandas Series "
                         "with a DatetimeIndex")
    quota, already = (operator.index(count_of(name, value, line))
                      for name, value in (("min_per_day", min_per_day), ("done_today", done_today)))
    for name, count in (("min_per_day", quota), ("done_today", already)):
        if count < 0:
            raise ValueError(f"{name} ({count}) must not be negative")
    days = local_days(line.starts, clock_of(zone, line.starts[0]), day_start_of(day_start))
    quotas = [quota] * len(days.dates)
    quotas[0] = max(0, quota - already)
    return days.day_of, quotas, [day.isoformat() for day in days.dates]


def plan(prices: Iterable[Price], low_price_threshold: Price, min_selections: Count,
         min_consecutive_periods: Count, max_gap_between_periods: Count = 0, max_gap_from_start: Count = 0,
         aggressive: bool = True, *, allowed: Iterable[_Flag] | None = None, running_for: Count = 0,
         off_for: Count = 0, most_expensive: bool = False, allow_short_last_run: bool = True,
         times: Sequence[datetime] | None = None, min_per_day: Count = 0, done_today: Count = 0,
         zone: str | tzinfo | None = None, day_start: time | str = time(0), tariff: Tariff | None = None) -> Plan:
    """The cheapest periods under the rules of `cheapest_periods` and these, as a Plan.

    allowed: one bool per period (numpy bools and a pandas Series too); a period marked
        False is never chosen and counts as time off.
    running_for / off_for: the load has been on / off for this many periods just before
        period 0 (at most one of them non-zero); Plan.state_at gives them for a re-plan.
    most_expensive: the plan of the negated prices with the negated threshold: periods
        at or above the threshold are the ones added, the base plan has the greatest
        total, aggressive reaches the greatest average, ties break as for the negated
        plan. Plan.cost and average stay those of the real prices.
    allow_short_last_run: False holds every run, the last one included, to
        min_consecutive_periods (a cheap run at the end must be that long to be added).
        Cut the horizon at a deadline: then no short run ends there.
    times: the start of each period, timezone-aware datetimes or a pandas DatetimeIndex,
        evenly spaced in real time (so a day of 92 or 100 quarter-hours is fine); a
        pandas Series of prices with a DatetimeIndex gives them itself. A time that is
        naive, not after the one before, or spaced unlike the first two is refused.
        With times, each of the four counts, running_for and off_for may be a
        datetime.timedelta: a whole number of periods.
    min_per_day: the base plan alone holds at least this many periods within each local
        day the horizon touches (a day the horizon cuts included); done_today, what
        already ran on the first day before period 0 (running_for included), lowers
        the first day's. Counts, or timedeltas; they need times. Cheap periods added to
        the base plan never count. zone (a name or a ZoneInfo; by default the times'
        own ZoneInfo) is the clock of the days; day_start (a datetime.time or "HH:MM")
        when each begins: at the first instant whose local time is at or after it.
    tariff: a Tariff: the prices are spot prices in its spot_unit, and the plan is made
        on the prices the user pays (low_price_threshold is such a price, in its unit),
        so cost and average are paid prices and cost_parts splits cost into the
        tariff's parts. Needs times; naive times are read as local times of the
        tariff's time_zone.

    With none of allowed, running_for, off_for, most_expensive, allow_short_last_run,
    times, min_per_day and tariff, the periods and errors are those of cheapest_periods.
    """
    times, index = _times_of(prices, times)
    if tariff is not None:
        return _plan_paid(tariff, prices, low_price_threshold, min_selections, min_consecutive_periods,
                          max_gap_between_periods, max_gap_from_start, aggressive, allowed=allowed,
                          running_for=running_for, off_for=off_for, most_expensive=most_expensive,
                          allow_short_last_run=allow_short_last_run, min_per_day=min_per_day,
                          done_today=done_today, zone=zone, day_start=day_start, times=times, index=index)
    line: Timeline | None = timeline(times) if times is not None else None
    # One call a count, in the planner's order: a generator over the six would cost more than
    # the seven keyword rules added since, at n = 96.
    selections = count_of("min_selections", min_selections, line)
    run = count_of("min_consecutive_periods", min_consecutive_periods, line)
    gap = count_of("max_gap_between_periods", max_gap_between_periods, line)
    lead = count_of("max_gap_from_start", max_gap_from_start, line)
    held = count_of("running_for", running_for, line)
    off = count_of("off_for", off_for, line)
    # The defaults, as ints, skip the days' reading: a plan without a quota costs what it did.
    no_quota = type(min_per_day) is int and type(done_today) is int and not (min_per_day or done_today)
    day_of, day_quota, day_names = _NO_DAYS if no_quota else _days(line, min_per_day, done_today, zone, day_start)
    flags = _flags(allowed)
    read: list[Any] = []
    source = _recording(prices, read) if isinstance(prices, Iterator) else prices
    if day_of is not None:
        # The days are counted from the times: a count that differs is the times' error, not the days'.
        if isinstance(prices, Iterator):
            read = list(prices)
            source = read
        if isinstance(source, Sized) and len(source) != len(day_of):
            raise ValueError(f"times holds {len(day_of)} times for {len(source)} prices")
    strict_end = not allow_short_last_run if type(allow_short_last_run) is bool else \
        _negated_flag(allow_short_last_run)
    periods, base_size = _plan(source, low_price_threshold, selections, run, gap, lead, aggressive, flags,
                               held, off, most_expensive, strict_end, day_of, day_quota, day_names)
    items = read if source is not prices else list(prices)
    if line is not None and len(line.starts) != len(items):
        raise ValueError(f"times holds {len(line.starts)} times for {len(items)} prices")
    return make_plan(items, periods, base_size, line, operator.index(held), operator.index(off), index)


def _plan_paid(tariff: Tariff, prices: Iterable[Price], low_price_threshold: Price, *rules: Any, times: Any,
               index: Any, **conditions: Any) -> Plan:
    """`plan` on the prices the user pays under `tariff`, with the cost split into its parts."""
    if not isinstance(tariff, Tariff):
        raise TypeError(f"tariff must be a kestrava_plan.Tariff, not {type(tariff).__name__}")
    if times is None:
        raise TypeError("tariff: the amounts of a tariff depend on the local time: pass times, or prices as a "
                        "pandas Series with a DatetimeIndex")
    priced = tariff.planned(prices, times)
    locals_ = priced.locals_
    aware = locals_ is None or all(time.utcoffset() is not None for time in _listed(times))
    # As texts: the planner reads a text faster than a Decimal, and the value is the same.
    planned = plan(tariff.composer.texts(priced.paid), low_price_threshold, *rules,
                   times=times if aware else locals_, **conditions)
    if index is not None and not aware:
        index = None  # naive labels cannot tell the repeated hour apart; the local times can
    chosen = planned.periods
    # The cost is the sum of the chosen paid prices, read back from their texts.
    sums = tariff.composer.part_sums([priced.values[i] for i in chosen], [priced.amounts[i] for i in chosen],
                                     planned.cost)
    return replace(planned, _cost_parts=tuple(sums.items()), _index=index if index is not None else planned._index)


def _listed(times: Any) -> list[Any]:
    return list(times.to_pydatetime()) if is_pandas(times, "DatetimeIndex") else list(times)
