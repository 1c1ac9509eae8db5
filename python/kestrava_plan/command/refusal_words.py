"""The planner's refusals told in the command's words: each parameter as the option that
sets it, with its value as the user wrote it (`--min-selections (2h = 8 periods)`), the
periods it names by index as the times of those periods when the input has them, and its
blocked periods as the ones outside --window, the only thing that blocks periods here.

The planner's messages are fixed by its contract; a test holds each kind to this
telling, so a new kind cannot slip through in the function's words.
"""

from __future__ import annotations

import re
from collections.abc import Mapping
from dataclasses import dataclass
from datetime import timedelta

from ..period_times import duration_text
from .command_time import Clock, parse_duration

_PARAMETERS = ("low_price_threshold", "min_selections", "min_consecutive_periods", "max_gap_between_periods",
               "max_gap_from_start", "running_for", "off_for", "min_per_day", "done_today")
_NAME = "|".join(_PARAMETERS)
_VALUED_PAIR = re.compile(rf"\b({_NAME}) \+ ({_NAME}) \(([^()]*) \+ ([^()]*)\)")
_VALUED = re.compile(rf"\b({_NAME}) \(([^()]*)\)")
_BARE = re.compile(rf"\b({_NAME})\b")
_PERIOD_RANGE = re.compile(r"\bperiods ([0-9]+) to ([0-9]+)")
_PERIOD = re.compile(r"\bperiod ([0-9]+)\b")
_COUNT = re.compile(r"[+-]?[0-9]+")
# A day short of its quota; the command blocks periods only by --window, and a day holds
# fewer periods only where the input, its --rows or --deadline cut it.
_QUOTA = re.compile(r" allowed periods of the horizon, fewer than its quota of ([0-9]+); "
                    r"allow more of its periods or lower the quota")
_OFF = re.compile(r"\b([0-9]+) (periods?) off\b")
# A count of periods given by an option, which may have been written as a duration.
_COUNTED = re.compile(r"\b(after|the carried run of) (off_for|running_for) \(([0-9]+)\) periods")
# The planner's words for what only --window does here.
_WINDOW_WORDS = (("are blocked", "lie outside --window {}"), ("is blocked", "lies outside --window {}"),
                 ("periods are allowed", "periods lie inside --window {}"),
                 ("of the allowed periods", "of the periods inside --window {}"),
                 ("loosen a rule or allow more periods", "loosen a rule or widen --window"),
                 ("allow a period among them or", "widen --window or"), ("allow more periods or", "widen --window or"),
                 ("allow period 0 or", "widen --window or"), ("allow one of them or", "widen --window or"),
                 ("allow a short last run or", "leave out --no-short-last-run or"))
# Without --window every period is allowed, and more cannot be.
_UNBLOCKED_WORDS = (("of the allowed periods", "of the periods"),
                    ("loosen a rule or allow more periods", "loosen a rule"),
                    ("allow a short last run or", "leave out --no-short-last-run or"))


def option(name: str) -> str:
    return f"--{name.replace('_', '-')}"


def _periods(count: str) -> str:
    return f"{count} {'period' if count == '1' else 'periods'}"


@dataclass(frozen=True)
class RefusalWords:
    """What the command knows to tell a refusal in the user's words."""

    written: Mapping[str, str]  # each rule as given on the command line, by parameter name
    times: Clock  # the input's times
    period: timedelta | None  # the length of every period, when the times tell it
    window: str | None  # --window as given

    def told(self, message: str, first: int) -> str:
        """`message` of the planner, which planned the periods from `first` on, in the
        user's words."""
        message = _QUOTA.sub(self._quota, message)
        for words, ours in _WINDOW_WORDS if self.window is not None else _UNBLOCKED_WORDS:
            message = message.replace(words, ours.format(self.window))
        message = message.replace("before period 0", "before the first period")
        message = message.replace("pass the real time off", "give the real time off")
        message = message.replace("prices cannot be empty", "no prices to plan")
        message = re.sub(r"the number of prices \(([0-9]+)\)", lambda match: self._planned(int(match[1])), message)
        if self.times.runs_known():
            message = _PERIOD_RANGE.sub(lambda match: f"the periods {self._span(first, match[1], match[2])}", message)
            message = _PERIOD.sub(lambda match: f"the period {self._span(first, match[1], match[1])}", message)
        if self.period is not None:
            message = _OFF.sub(lambda match: f"{match[1]} {match[2]} ({self._lasting(match[1])}) off", message)
        message = _COUNTED.sub(lambda match: f"{match[1]} {_periods(match[3])} ({option(match[2])} "
                               f"{self._value(match[2], match[3])})", message)
        message = _VALUED_PAIR.sub(self._pair, message)
        message = _VALUED.sub(lambda match: f"{option(match[1])} ({self._value(match[1], match[2])})", message)
        return _BARE.sub(lambda match: option(match[1]), message)

    def _quota(self, match: re.Match[str]) -> str:
        """A day's quota by the options that make it: the first day's is lowered by --done-today."""
        held = " inside --window " + self.window if self.window is not None else ""
        full = self._count("min_per_day")
        given = f"--min-per-day {self.written['min_per_day'].strip()}"
        if full is not None and int(match[1]) != full:
            given += f" less --done-today {self.written['done_today'].strip()}"
        widen = "widen --window or " if self.window is not None else ""
        return (f" of the periods planned{held}, fewer than its quota of {_periods(match[1])} ({given}); {widen}lower "
                "--min-per-day")

    def _count(self, name: str) -> int | None:
        """The count of periods of a rule as written, None when the times do not tell it."""
        written = self.written[name].strip()
        if _COUNT.fullmatch(written):
            return int(written)
        duration = parse_duration(written)
        return duration // self.period if duration is not None and self.period else None

    def _value(self, name: str, planned: str) -> str:
        """A rule's value as the user wrote it, a duration with its count: 2h = 8 periods."""
        written = self.written.get(name, planned).strip()
        if _COUNT.fullmatch(written):
            return written
        return f"{written} = {_periods(planned)}"

    def _pair(self, match: re.Match[str]) -> str:
        return (f"{option(match[1])} ({self._value(match[1], match[3])}) + {option(match[2])} "
                f"({self._value(match[2], match[4])})")

    def _lasting(self, count: str) -> str:
        assert self.period is not None
        return duration_text(int(count) * self.period)

    def _planned(self, count: int) -> str:
        lasting = f", {duration_text(count * self.period)}" if self.period is not None else ""
        return f"the number of periods planned ({count}{lasting})"

    def _span(self, first: int, start: str, last: str) -> str:
        """From the start of one period to the end of another, planner's indices."""
        begins, ends = self.times.run(first + int(start), first + int(last) + 1, self.period).split("/")
        return f"from {begins} to {ends}"
