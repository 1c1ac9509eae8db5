"""`Plan`, what `plan` answers: the chosen periods in the forms people use (indices,
runs, times, a mask), their exact cost and average, and the carried state a re-plan
starts from. `make_plan` builds one from the planner's answer.
"""

from __future__ import annotations

import importlib
from collections.abc import Sequence
from dataclasses import dataclass, field
from datetime import datetime
from decimal import Decimal
from fractions import Fraction
from typing import Any

from .period_times import Timeline
from .price_values import Price, exact_sum, price_value


@dataclass(frozen=True, slots=True, repr=False)
class Plan:
    """The plan `plan` chose. Immutable: every list it gives is a new one.

    periods: the chosen indices, ascending, as `cheapest_periods` returns them.
    runs: the runs of adjacent chosen periods as half-open (start, stop) pairs.
    run_times: each run's (start, end) datetimes when times were given, else None; the
        end of the last period is its start plus the period length.
    mask: one bool per period, True where chosen; to_series() gives it as a pandas Series.
    cost: the exact sum of the chosen prices; average: cost / len(periods), exactly.
    cost_parts: with a tariff, each of its parts ("spot", each component, "vat",
        "rounding" when it rounds) summed exactly over the chosen periods, a dict in
        that order whose values add up to cost; None for a plan made without a tariff.
    cheap_added: how many periods the plan holds beyond its base size.
    state_at(i): the (running_for, off_for) a re-plan that starts at period i passes.
    """

    _periods: tuple[int, ...]
    _count: int  # the number of periods planned
    _base_size: int
    cost: Decimal
    average: Fraction
    _timeline: Timeline | None
    _running_for: int
    _off_for: int
    # The input's pandas index, for to_series(); labels, not part of the answer.
    _index: Any = field(default=None, compare=False)
    _cost_parts: tuple[tuple[str, Decimal], ...] | None = None

    @property
    def cost_parts(self) -> dict[str, Decimal] | None:
        return None if self._cost_parts is None else dict(self._cost_parts)

    @property
    def periods(self) -> list[int]:
        return list(self._periods)

    @property
    def runs(self) -> list[tuple[int, int]]:
        runs: list[tuple[int, int]] = []
        for period in self._periods:
            if runs and runs[-1][1] == period:
                runs[-1] = (runs[-1][0], period + 1)
            else:
                runs.append((period, period + 1))
        return runs

    @property
    def run_times(self) -> list[tuple[datetime, datetime]] | None:
        line = self._timeline
        if line is None:
            return None
        return [(line.starts[start], line.end(stop)) for start, stop in self.runs]

    @property
    def mask(self) -> list[bool]:
        chosen = [False] * self._count
        for period in self._periods:
            chosen[period] = True
        return chosen

    @property
    def cheap_added(self) -> int:
        return len(self._periods) - self._base_size

    def to_series(self) -> Any:
        """The mask as a boolean pandas Series on the input's index (a Series' own, or
        the times), else on 0..n-1. Imports pandas."""
        pandas: Any = importlib.import_module("pandas")
        index = self._index
        if index is None and self._timeline is not None:
            starts = self._timeline.starts
            # One zone keeps its labels; times in several (fixed offsets across a clock
            # change) become UTC, which a DatetimeIndex can hold.
            index = pandas.DatetimeIndex(starts if len({t.tzinfo for t in starts}) == 1 else
                                         [pandas.Timestamp(t).tz_convert("UTC") for t in starts])
        return pandas.Series(self.mask, index=index, dtype=bool)

    def state_at(self, i: int) -> tuple[int, int]:
        """The (running_for, off_for) that a re-plan starting at period i (0 to n)
        passes, so that the load's past as this plan runs it carries over.

        - i = 0: the state this plan was made with.
        - Period i - 1 chosen: (the length of its run, 0); a run from period 0 includes
          this plan's own running_for.
        - Otherwise (0, periods off since the last chosen one). When nothing was chosen
          before i the load has been off since period 0, for i periods, plus this
          plan's off_for.

        A re-plan on prices[i:] with this state and the same min_consecutive_periods,
        max_gap_between_periods and allowed[i:] accepts exactly the continuations that
        keep this plan's rules, when its max_gap_from_start is this plan's less i while
        the load was off and nothing was chosen before i, and otherwise
        max_gap_between_periods less off_for (a limit the off_for rule already sets).
        """
        if not 0 <= i <= self._count:
            raise IndexError(f"state_at: i must be from 0 to {self._count}, the number of periods (got {i})")
        if i == 0:
            return self._running_for, self._off_for
        mask = self.mask
        if not mask[i - 1]:
            last = next((period for period in range(i - 2, -1, -1) if mask[period]), None)
            return (0, self._off_for + i) if last is None else (0, i - 1 - last)
        start = i - 1
        while start > 0 and mask[start - 1]:
            start -= 1
        return i - start + (self._running_for if start == 0 else 0), 0

    def __repr__(self) -> str:
        parts = [f"periods={self.periods}", f"runs={self.runs}"]
        if self._timeline is not None:
            parts.append("run_times=[" + ", ".join(f"({start.isoformat()} - {end.isoformat()})"
                                                   for start, end in self.run_times or []) + "]")
        parts += [f"cost={self.cost!r}", f"average={self.average!r}", f"cheap_added={self.cheap_added}"]
        if self._cost_parts is not None:
            parts.append(f"cost_parts={self.cost_parts!r}")
        if self._running_for or self._off_for:
            parts.append(f"running_for={self._running_for}, off_for={self._off_for}")
        return f"Plan({', '.join(parts)})"


def make_plan(prices: Sequence[Price], periods: Sequence[int], base_size: int, timeline: Timeline | None,
              running_for: int = 0, off_for: int = 0, index: Any = None) -> Plan:
    """The Plan of the chosen `periods` of `prices` (the objects the planner read),
    `base_size` of them the base plan, made with the carried state given."""
    if not periods or list(periods) != sorted(set(periods)) or not 0 <= periods[0] <= periods[-1] < len(prices):
        raise ValueError(f"a plan chooses periods of 0 to {len(prices) - 1} in ascending order, not {list(periods)}")
    cost = exact_sum(price_value(prices[period]) for period in periods)
    return Plan(tuple(periods), len(prices), base_size, cost, Fraction(cost) / len(periods), timeline,
                running_for, off_for, index)
