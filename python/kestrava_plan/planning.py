"""`plan`: `cheapest_periods` with periods that may be blocked, the load's state before
period 0, and rules given as durations. This layer turns times, durations, pandas
objects and numpy bools into the plain arguments of `cheapest._plan`, and
its answer into a `Plan`; the planner checks everything else, in its own order.
"""

from __future__ import annotations

import operator
from collections.abc import Iterable, Iterator, Mapping, Sequence
from datetime import datetime, timedelta
from decimal import Decimal
from typing import TYPE_CHECKING, Any, SupportsIndex, TypeAlias, TypeVar

from .cheapest import _plan
from .period_times import Timeline, count_of, is_pandas, timeline
from .plan_result import Plan, make_plan

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


def plan(prices: Iterable[Price], low_price_threshold: Price, min_selections: Count,
         min_consecutive_periods: Count, max_gap_between_periods: Count = 0, max_gap_from_start: Count = 0,
         aggressive: bool = True, *, allowed: Iterable[_Flag] | None = None, running_for: Count = 0,
         off_for: Count = 0, most_expensive: bool = False, allow_short_last_run: bool = True,
         times: Sequence[datetime] | None = None) -> Plan:
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

    With none of allowed, running_for, off_for, most_expensive, allow_short_last_run and
    times, the periods and errors are those of cheapest_periods.
    """
    times, index = _times_of(prices, times)
    line: Timeline | None = timeline(times) if times is not None else None
    selections, run, gap, lead, held, off = (count_of(name, value, line) for name, value in (
        ("min_selections", min_selections), ("min_consecutive_periods", min_consecutive_periods),
        ("max_gap_between_periods", max_gap_between_periods), ("max_gap_from_start", max_gap_from_start),
        ("running_for", running_for), ("off_for", off_for)))
    flags = _flags(allowed)
    read: list[Any] = []
    source = _recording(prices, read) if isinstance(prices, Iterator) else prices
    periods, base_size = _plan(source, low_price_threshold, selections, run, gap, lead, aggressive, flags,
                               held, off, most_expensive, _negated_flag(allow_short_last_run))
    items = read if source is not prices else list(prices)
    if line is not None and len(line.starts) != len(items):
        raise ValueError(f"times holds {len(line.starts)} times for {len(items)} prices")
    return make_plan(items, periods, base_size, line, operator.index(held), operator.index(off), index)
