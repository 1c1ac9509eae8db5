"""The plans of a load, made in the executor. A fresh plan starts a job: from the
first period not yet begun to the deadline, or to the end of the prices, with the
rules as given and the load's carried state. At each later period boundary the job is
re-planned from that period on, the rules less what the load has done since the job
started (`Plan.state_at` tells which re-plan keeps a plan's rules). No Home Assistant
here; the answer is plain data, so that the event loop never calls into kestrava_plan."""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from datetime import datetime, timedelta, tzinfo
from decimal import Decimal
from typing import Any

import kestrava_plan

from .const import BOUNDARY_SLACK
from .load_rules import LoadRules, day_keywords, deadline_stop, window_flags
from .price_attributes import SensorPrices


@dataclass(frozen=True)
class LoadState:
    """The load's own state: on or off since `since`, and the starts of the periods it
    ran (the job's and today's done time are counted from them)."""

    on: bool
    since: datetime
    ran: tuple[datetime, ...] = ()


@dataclass(frozen=True)
class Job:
    """The stretch a fresh plan covers: periods first to stop - 1 of the prices."""

    prices: SensorPrices
    first: int
    stop: int
    period: timedelta
    allowed: tuple[bool, ...] | None  # one flag per period of the job, with a window


@dataclass(frozen=True)
class PlannedRuns:
    """A plan as plain data: which periods of the job's prices it runs, from `start`."""

    job: Job
    start: int
    mask: tuple[bool, ...]
    runs: tuple[tuple[datetime, datetime], ...]
    cost: Decimal
    average: float

    def runs_at(self, index: int) -> bool | None:
        """Whether the plan runs period `index` of the prices; None outside it."""
        return self.mask[index - self.start] if self.start <= index < self.start + len(self.mask) else None

    def next_start(self, after: datetime) -> datetime | None:
        return next((start for start, _ in self.runs if start >= after), None)


def period_of(times: Sequence[datetime]) -> timedelta:
    return times[1] - times[0] if len(times) > 1 else timedelta(hours=1)


def index_at(times: Sequence[datetime], moment: datetime) -> int:
    """The first period that starts at `moment` (within the slack) or after it."""
    return next((index for index, start in enumerate(times) if start >= moment - BOUNDARY_SLACK), len(times))


def carried_state(state: LoadState, at: datetime, period: timedelta) -> tuple[int, int]:
    """(running_for, off_for) in whole periods at `at`; a load that is on has run for at
    least one, even when it started within this period (a restart, a first plan)."""
    held = max((at - state.since) // period, 0)
    return (max(held, 1), 0) if state.on else (0, held)


def _ran_between(state: LoadState, since: datetime, until: datetime) -> int:
    return sum(1 for start in state.ran if since <= start < until)


def _done_today(state: LoadState, start: datetime, period: timedelta, zone: tzinfo) -> timedelta:
    """What the load ran on the local day of `start` before it: the periods it ran as
    this planner decided them, and at least the part of its current run that falls on
    that day (all a restart restores)."""
    midnight = datetime.combine(start.astimezone(zone).date(), datetime.min.time(), tzinfo=zone)
    current = max((start - max(state.since, midnight)) // period, 0) if state.on else 0
    return period * max(_ran_between(state, midnight, start), current)


def _answer(job: Job, start: int, made: Any) -> PlannedRuns:
    return PlannedRuns(job, start, tuple(made.mask), tuple(made.run_times or ()), made.cost, float(made.average))


def fresh_plan(prices: SensorPrices, rules: LoadRules, state: LoadState, at: datetime, zone: tzinfo) -> PlannedRuns:
    """The plan of a new job from the first period not begun at `at`. Raises plan's errors."""
    times, period = prices.times, period_of(prices.times)
    first = index_at(times, at)
    stop = first + deadline_stop(times[first:], period, rules, zone)
    flags = window_flags(times[first:stop], period, rules, zone)
    job = Job(prices, first, stop, period, None if flags is None else tuple(flags))
    begins = times[first] if first < len(times) else at
    running_for, off_for = carried_state(state, begins, period)
    made = kestrava_plan.plan(prices.prices[first:stop], rules.threshold, rules.min_total, rules.min_run,
                              rules.max_gap, rules.first_start, rules.aggressive, allowed=flags,
                              running_for=running_for, off_for=off_for, times=times[first:stop],
                              **day_keywords(rules, _done_today(state, begins, period, zone), zone))
    return _answer(job, first, made)


def continued_plan(job: Job, rules: LoadRules, state: LoadState, at: datetime, zone: tzinfo) -> PlannedRuns | None:
    """The job re-planned from the period starting at `at`, its rules less what the load
    has done since the job started; None once less than a minimum run is left to do (a
    re-plan would ask for a whole run more): the plan made so far stands. Raises plan's
    errors."""
    times, period = job.prices.times, job.period
    index = index_at(times, at)
    if index >= job.stop:
        return None
    done = _ran_between(state, times[job.first], times[index])
    left = rules.min_total // period - done
    run, gap = rules.min_run // period, rules.max_gap // period
    if left < run:
        return None
    running_for, off_for = carried_state(state, times[index], period)
    started = done > 0 or state.on
    lead = max(gap - off_for, 0) if started else max(rules.first_start // period - (index - job.first), 0)
    flags = None if job.allowed is None else job.allowed[index - job.first:]
    made = kestrava_plan.plan(job.prices.prices[index:job.stop], rules.threshold, left, run, gap, lead,
                              rules.aggressive, allowed=flags, running_for=running_for, off_for=off_for,
                              times=times[index:job.stop],
                              **day_keywords(rules, _done_today(state, times[index], period, zone), zone))
    return _answer(job, index, made)
