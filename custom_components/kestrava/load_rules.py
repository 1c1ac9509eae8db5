"""A load's options as the arguments of `kestrava_plan.plan`: durations, the strategy,
the window (only periods that lie wholly inside a daily stretch) and the deadline
(only periods that end by the first given time of day after the plan's start), read
in the load's local zone. No Home Assistant here: this runs in the executor."""

from __future__ import annotations

import re
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from datetime import UTC, date, datetime, time, timedelta, tzinfo
from typing import Any

from .const import (CONF_DEADLINE, CONF_FIRST_START, CONF_MAX_GAP, CONF_MIN_PER_DAY, CONF_MIN_RUN, CONF_MIN_TOTAL,
                    CONF_NO_SHORT_LAST_RUN, CONF_STRATEGY, CONF_THRESHOLD, CONF_WINDOW, DEFAULTS,
                    STRATEGY_CHEAPEST_PLAN)

_TIME_OF_DAY = re.compile(r"([01]?[0-9]|2[0-3]):([0-5][0-9])(?::00)?")
_DAY = timedelta(days=1)


class RuleError(ValueError):
    """An option that is not a time of day or a stretch of one; `field` names it."""

    def __init__(self, field: str, message: str) -> None:
        super().__init__(message)
        self.field = field


@dataclass(frozen=True)
class LoadRules:
    threshold: str
    min_total: timedelta
    min_run: timedelta
    max_gap: timedelta
    first_start: timedelta
    aggressive: bool
    window: tuple[time, time] | None  # crosses midnight when it ends at or before its start
    deadline: time | None
    min_per_day: timedelta
    allow_short_last_run: bool


def _duration(value: Any) -> timedelta:
    return timedelta(**{unit: float(amount) for unit, amount in value.items()}) if isinstance(value, Mapping) \
        else timedelta(seconds=float(value))


def _time_of_day(field: str, text: str) -> time:
    match = _TIME_OF_DAY.fullmatch(text.strip())
    if match is None:
        raise RuleError(field, f"{text!r} is not a time of day: write HH:MM, such as 07:00")
    return time(int(match[1]), int(match[2]))


def _window(text: str) -> tuple[time, time] | None:
    if not text.strip():
        return None
    start, dash, end = text.partition("-")
    if not dash:
        raise RuleError(CONF_WINDOW, f"{text!r} is not a stretch of the day: write HH:MM-HH:MM, such as 22:00-06:00")
    window = _time_of_day(CONF_WINDOW, start), _time_of_day(CONF_WINDOW, end)
    if window[0] == window[1]:
        raise RuleError(CONF_WINDOW, f"{text!r} starts and ends at the same time: leave it empty to allow every period")
    return window


def rules_of(options: Mapping[str, Any]) -> LoadRules:
    """The rules of a load's options (defaults for those missing); RuleError for a
    window or deadline that does not read. plan checks the rest."""
    option = {**DEFAULTS, **options}
    deadline = str(option[CONF_DEADLINE] or "")
    return LoadRules(str(option[CONF_THRESHOLD]).strip(), _duration(option[CONF_MIN_TOTAL]),
                     _duration(option[CONF_MIN_RUN]), _duration(option[CONF_MAX_GAP]),
                     _duration(option[CONF_FIRST_START]), option[CONF_STRATEGY] != STRATEGY_CHEAPEST_PLAN,
                     _window(str(option[CONF_WINDOW] or "")),
                     _time_of_day(CONF_DEADLINE, deadline) if deadline.strip() else None,
                     _duration(option[CONF_MIN_PER_DAY]), not option[CONF_NO_SHORT_LAST_RUN])


def _exists(moment: datetime) -> bool:
    return moment.astimezone(UTC).astimezone(moment.tzinfo).replace(tzinfo=None) == moment.replace(tzinfo=None)


def wall_time(day: date, at: time, zone: tzinfo) -> datetime:
    """The moment the clocks of `zone` show `at` on `day`: a skipped time is the next
    minute that exists, a repeated one its first occurrence."""
    moment = datetime.combine(day, at, tzinfo=zone)
    while not _exists(moment):
        moment += timedelta(minutes=1)
    return moment


def _inside(start: datetime, end: datetime, window: tuple[time, time], zone: tzinfo) -> bool:
    local = start.astimezone(zone)
    for day in (local.date() - _DAY, local.date()):
        opens = wall_time(day, window[0], zone)
        closes = wall_time(day + _DAY if window[1] <= window[0] else day, window[1], zone)
        if opens <= start and end <= closes:
            return True
    return False


def window_flags(starts: Sequence[datetime], period: timedelta, rules: LoadRules, zone: tzinfo) -> list[bool] | None:
    """One flag per period, True where it lies wholly inside the window; None without one."""
    if rules.window is None:
        return None
    return [_inside(start, start + period, rules.window, zone) for start in starts]


def deadline_stop(starts: Sequence[datetime], period: timedelta, rules: LoadRules, zone: tzinfo) -> int:
    """How many of `starts` end by the first deadline after the first start (all without one)."""
    if rules.deadline is None or not starts:
        return len(starts)
    opens = starts[0].astimezone(zone)
    due = wall_time(opens.date(), rules.deadline, zone)
    if due <= opens:
        due = wall_time(opens.date() + _DAY, rules.deadline, zone)
    return sum(1 for start in starts if start + period <= due)


def day_keywords(rules: LoadRules, done_today: timedelta, zone: tzinfo) -> dict[str, Any]:
    """plan's keywords of the quota per day (when one is set: plan refuses done_today
    without it) and the strict end. Days start at local midnight."""
    keywords: dict[str, Any] = {"allow_short_last_run": rules.allow_short_last_run}
    if rules.min_per_day:
        keywords.update(min_per_day=rules.min_per_day, done_today=done_today, zone=zone, day_start=time(0, 0))
    return keywords
