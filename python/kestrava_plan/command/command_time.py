"""Time for the command: the time zone of a bidding zone, the input's times read as
instants and shown in the zone asked for, and rules written as durations (2h, 90min,
1h30min, PT2H) turned into counts of the input's periods.

Output never depends on the machine's own zone: times are shown in the zone asked for
(--tz), else the bidding zone's own when the source names it, else as written.
"""

from __future__ import annotations

import re
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from itertools import pairwise
from datetime import UTC, datetime, timedelta, tzinfo
from zoneinfo import ZoneInfo, ZoneInfoNotFoundError

from ..message_texts import shown
from ..period_times import duration_text, periods_in
from .price_texts import InputError, PriceList

# The EIC codes of the European bidding zones (ENTSO-E domains), by the zone they keep.
_EIC_ZONES = {
    "Europe/Amsterdam": ("10YNL----------L",),
    "Europe/Athens": ("10YGR-HTSO-----Y",),
    "Europe/Belgrade": ("10YCS-SERBIATSOV",),
    "Europe/Berlin": ("10Y1001A1001A82H", "10Y1001A1001A63L", "10YDE-VE-------2", "10YDE-RWENET---I",
                      "10YDE-EON------1", "10YDE-ENBW-----N"),
    "Europe/Bratislava": ("10YSK-SEPS-----K",),
    "Europe/Brussels": ("10YBE----------2",),
    "Europe/Bucharest": ("10YRO-TEL------P",),
    "Europe/Budapest": ("10YHU-MAVIR----U",),
    "Europe/Copenhagen": ("10YDK-1--------W", "10YDK-2--------M"),
    "Europe/Dublin": ("10Y1001A1001A59C", "10YIE-1001A00010"),
    "Europe/Helsinki": ("10YFI-1--------U",),
    "Europe/Lisbon": ("10YPT-REN------W",),
    "Europe/Ljubljana": ("10YSI-ELES-----O",),
    "Europe/London": ("10YGB----------A",),
    "Europe/Madrid": ("10YES-REE------0",),
    "Europe/Oslo": ("10YNO-1--------2", "10YNO-2--------T", "10YNO-3--------J", "10YNO-4--------9",
                    "10Y1001A1001A48H"),
    "Europe/Paris": ("10YFR-RTE------C",),
    "Europe/Prague": ("10YCZ-CEPS-----N",),
    "Europe/Riga": ("10YLV-1001A00074",),
    "Europe/Rome": ("10Y1001A1001A73I", "10Y1001A1001A70O", "10Y1001A1001A71M", "10Y1001A1001A788",
                    "10Y1001A1001A75E", "10Y1001A1001A74G", "10Y1001C--00096J", "10YIT-GRTN-----B"),
    "Europe/Sofia": ("10YCA-BULGARIA-R",),
    "Europe/Stockholm": ("10Y1001A1001A44P", "10Y1001A1001A45N", "10Y1001A1001A46L", "10Y1001A1001A47J"),
    "Europe/Tallinn": ("10Y1001A1001A39I",),
    "Europe/Vienna": ("10YAT-APG------L",),
    "Europe/Vilnius": ("10YLT-1001A0008Q",),
    "Europe/Warsaw": ("10YPL-AREA-----S",),
    "Europe/Zagreb": ("10YHR-HEP------M",),
    "Europe/Zurich": ("10YCH-SWISSGRIDZ",),
}
# Market area names (Nord Pool's, and the zones' short names): the country's zone.
_COUNTRY_ZONES = {
    "AT": "Europe/Vienna", "BE": "Europe/Brussels", "BG": "Europe/Sofia", "CH": "Europe/Zurich",
    "CZ": "Europe/Prague", "DE": "Europe/Berlin", "DK": "Europe/Copenhagen", "EE": "Europe/Tallinn",
    "ES": "Europe/Madrid", "FI": "Europe/Helsinki", "FR": "Europe/Paris", "GB": "Europe/London",
    "GR": "Europe/Athens", "HR": "Europe/Zagreb", "HU": "Europe/Budapest", "IE": "Europe/Dublin",
    "IT": "Europe/Rome", "LT": "Europe/Vilnius", "LU": "Europe/Luxembourg", "LV": "Europe/Riga",
    "NL": "Europe/Amsterdam", "NO": "Europe/Oslo", "PL": "Europe/Warsaw", "PT": "Europe/Lisbon",
    "RO": "Europe/Bucharest", "RS": "Europe/Belgrade", "SE": "Europe/Stockholm", "SI": "Europe/Ljubljana",
    "SK": "Europe/Bratislava", "UK": "Europe/London",
    # Nord Pool's own names for the German zone and Romania.
    "GER": "Europe/Berlin", "TEL": "Europe/Bucharest",
}
_AREA = re.compile(r"([A-Z]{2,3})(?:[0-9]?|-[A-Z0-9-]+)")


def _zone(name: str) -> ZoneInfo | None:
    try:
        return ZoneInfo(name)
    except (ZoneInfoNotFoundError, ValueError):
        return None


def zone_for_area(name: str) -> ZoneInfo | None:
    """The time zone of a bidding zone named by its EIC code (10YFR-RTE------C) or its
    market area name (FR, DE-LU, NO2, SE3, GER); None when unknown (SYS) or when the
    machine has no time zone data for it."""
    code = name.strip().upper()
    for zone, codes in _EIC_ZONES.items():
        if code in codes:
            return _zone(zone)
    match = _AREA.fullmatch(code)
    if match is None:
        return None
    country = match[1] if match[1] in _COUNTRY_ZONES else match[1][:2]
    named = _COUNTRY_ZONES.get(country)
    return _zone(named) if named is not None else None


def zone_option(name: str) -> ZoneInfo:
    """The zone --tz names; InputError when there is none of that name."""
    zone = _zone(name)
    if zone is None:
        raise InputError(f"--tz: {shown(name)} is not a time zone: give an IANA name such as Europe/Berlin or UTC")
    return zone


# ---------------------------------------------------------------------------
# Rules as durations

# 2h, 90min, 1h30min, 15m, 1d: numbers each with its unit, largest first; m is minutes.
_COMPACT = re.compile(r"(?:([0-9]+)d)?(?:([0-9]+)h)?(?:([0-9]+)(?:min|m))?(?:([0-9]+)s)?", re.IGNORECASE)
# ISO 8601 durations of days, hours, minutes and seconds: PT2H, PT1H30M, P1D. Years,
# months and weeks are refused: a rule of a month has no fixed number of periods.
_ISO = re.compile(r"P(?:([0-9]+)D)?(?:T(?:([0-9]+)H)?(?:([0-9]+)M)?(?:([0-9]+)S)?)?", re.IGNORECASE)
_COUNT = re.compile(r"[+-]?[0-9]+")
DURATION_FORMS = "a count of periods, or a duration such as 2h, 90min, 1h30min or PT2H"


def parse_duration(text: str) -> timedelta | None:
    """The duration `text` writes, or None when it writes none."""
    match = _COMPACT.fullmatch(text) or _ISO.fullmatch(text)
    if match is None or not any(match.groups()) or text.upper().endswith("T"):
        return None
    days, hours, minutes, seconds = (int(part or 0) for part in match.groups())
    return timedelta(days=days, hours=hours, minutes=minutes, seconds=seconds)


def rule_value(option: str, text: str) -> int | timedelta:
    """A rule option's value: a plain number is a count of periods (the planner judges
    its sign), anything else a duration."""
    written = text.strip()
    if _COUNT.fullmatch(written):
        return int(written)
    try:
        duration = parse_duration(written)
    except OverflowError:
        raise InputError(f"{option}: {shown(text)} is too long a duration: the longest is "
                         f"{timedelta.max.days} days") from None
    if duration is None:
        raise InputError(f"{option}: {shown(text)} is not {DURATION_FORMS}")
    return duration


def rule_count(option: str, value: int | timedelta, period: timedelta | None, why: str) -> int:
    """The number of periods a rule's value stands for; InputError for a duration that
    has no period length to count by (`why` says what is missing) or is not a whole
    number of periods."""
    if isinstance(value, int):
        return value

    def untimed(name: str, duration: str) -> str:
        return f"{name}: {duration} is a duration, which needs the input's times to count periods: {why}"

    try:
        return periods_in(option, value, period, untimed)
    except (TypeError, ValueError) as fault:
        raise InputError(str(fault)) from None


# ---------------------------------------------------------------------------
# The input's times


def read_time(text: str) -> datetime | None:
    try:
        return datetime.fromisoformat(text.strip())
    except ValueError:
        return None


def instant(moment: datetime) -> datetime:
    """A time for arithmetic: in UTC, a naive one taken as written."""
    return moment.astimezone(UTC) if moment.utcoffset() is not None else moment.replace(tzinfo=UTC)


def row_of(place: str) -> str:
    """The row of a price's place, for a message about its time: "row 5", not the price's column."""
    return re.sub(r", (?:column|member) .*", "", place, flags=re.DOTALL)


def iso_minutes(moment: datetime) -> str:
    """2025-10-26T02:45+02:00: the seconds only when there are some."""
    return moment.isoformat(timespec="minutes" if not moment.second and not moment.microsecond else "auto")


def later(moment: datetime, step: timedelta) -> datetime:
    """`moment` plus `step` in real time (across a clock change wall-clock steps are an
    hour off), in `moment`'s zone; a naive one as written."""
    return moment + step if moment.utcoffset() is None else (instant(moment) + step).astimezone(moment.tzinfo)


def not_after(place: str, moment: datetime) -> str:
    return (f"{row_of(place)}: the time {shown(iso_minutes(moment))} is not after the one before: the times must "
            "increase")


def spacing_fault(before: datetime, moment: datetime, period: timedelta,
                  show: Callable[[datetime], str] = iso_minutes) -> str:
    """Why `moment`, after `before`, breaks periods of `period`: the prices missing
    between them, or a step of no whole number of periods."""
    step = instant(moment) - instant(before)
    if step > period and not step % period:
        return (f"no price from {show(later(before, period))} to {show(moment)} (the periods are "
                f"{duration_text(period)} long)")
    return (f"the time {show(moment)} is {duration_text(step)} after the one before, and the periods are "
            f"{duration_text(period)} long")


def zone_needed(option: str, place: str, written: str) -> InputError:
    """The refusal of an option that needs the local time of day, for times that carry
    only UTC offsets: an offset does not change with the clocks."""
    return InputError(f"{option}: the times carry a UTC offset but name no time zone ({row_of(place)}: "
                      f"{shown(written)}), so their local time of day is unknown: give the zone with --tz, such as "
                      "--tz Europe/Berlin (or --tz UTC)")


@dataclass(frozen=True)
class Clock:
    """The input's times as the command shows them: `written` when the input has a time
    column; `starts` when every one of them reads as an ISO 8601 time; `zone` the
    zone to show them in, None to show them as written."""

    written: Sequence[str] | None
    starts: Sequence[datetime] | None
    places: Sequence[str]
    zone: tzinfo | None
    fault: str | None = None  # why times that all read as ISO 8601 still cannot be used

    def _steps(self) -> list[timedelta]:
        """The time from each start to the next; InputError at a time not after the one before."""
        starts = self.starts
        assert starts is not None
        steps = [instant(after) - instant(before) for before, after in zip(starts, starts[1:])]
        wrong = next((index for index, step in enumerate(steps, 1) if step <= timedelta(0)), None)
        if wrong is not None:
            raise InputError(not_after(self.places[wrong], starts[wrong]))
        return steps

    def period(self) -> timedelta | None:
        """The length of every period, the shortest step between two times (None without
        two of them); InputError at a time spaced otherwise, naming the prices missing."""
        starts = self.starts
        if starts is None or len(starts) < 2:
            return None
        steps = self._steps()
        length = min(steps)
        wrong = next((index for index, step in enumerate(steps, 1) if step != length), None)
        if wrong is not None:
            fault = spacing_fault(starts[wrong - 1], starts[wrong], length, self._shown)
            raise InputError(f"{row_of(self.places[wrong])}: {fault}: the periods must be evenly spaced, each with "
                             "its price (--rows START:STOP plans the rows on one side)")
        return length

    def offsets_without_zone(self) -> bool:
        """Whether the times carry UTC offsets and no zone tells their local time of day."""
        starts = self.starts
        return self.zone is None and starts is not None and len(starts) > 0 and starts[0].utcoffset() is not None

    def missing(self) -> str:
        """Why the times cannot count periods, for a message."""
        if self.written is None:
            return "the input has no time column (name one with --time-column)"
        if self.fault is not None:
            return self.fault
        if self.starts is None:
            index = next(i for i, text in enumerate(self.written) if read_time(text) is None)
            return f"{row_of(self.places[index])}: the time {shown(self.written[index])} is not an ISO 8601 time"
        return "one time is too few to tell the period length"

    def runs_known(self) -> bool:
        """Whether a run can be shown by when it starts and ends."""
        return self.starts is not None and len(self.starts) >= 2

    def local(self, index: int) -> datetime:
        """The start of period `index` in the zone, else as written (naive when written so)."""
        assert self.starts is not None
        moment = self.starts[index]
        return moment.astimezone(self.zone) if self.zone is not None else moment

    def _shown(self, moment: datetime) -> str:
        return iso_minutes(moment.astimezone(self.zone) if self.zone is not None else moment)

    def time(self, index: int) -> str:
        """The start of period `index`: in the zone, else as written."""
        assert self.written is not None
        return self.written[index] if self.zone is None or self.starts is None else self._shown(self.starts[index])

    def run(self, start: int, stop: int, period: timedelta | None = None) -> str:
        """Periods start to stop - 1 as START/END (an ISO 8601 interval), END when the
        last one ends: the next start, or, after the last period or given `period`
        (the next start may lie past a gap), one period after the last start."""
        assert self.starts is not None
        starts = self.starts
        if stop < len(starts) and period is None:
            return f"{self._shown(starts[start])}/{self._shown(starts[stop])}"
        step = period if period is not None else instant(starts[-1]) - instant(starts[-2])
        return f"{self._shown(starts[start])}/{self._shown(later(starts[stop - 1], step))}"


def mixed_offsets(has: tuple[str, datetime], lacks: tuple[str, datetime]) -> str:
    """Why two times, (place, time) the first with a UTC offset and the second without,
    cannot be counted together."""
    return (f"{row_of(has[0])}: the time {shown(iso_minutes(has[1]))} has a UTC offset and the one of "
            f"{row_of(lacks[0])}, {shown(iso_minutes(lacks[1]))}, has none: give every time an offset, or none")


def _mixed_offsets(starts: Sequence[datetime], places: Sequence[str]) -> str | None:
    """Why times some with a UTC offset and some without cannot be counted, or None."""
    if not starts:
        return None
    first = starts[0].utcoffset() is None
    index = next((index for index, moment in enumerate(starts) if (moment.utcoffset() is None) != first), None)
    if index is None:
        return None
    has, lacks = (index, 0) if first else (0, index)
    return mixed_offsets((places[has], starts[has]), (places[lacks], starts[lacks]))


def zone_of(tz: str | None, area: str | None) -> ZoneInfo | None:
    """The zone to show times in: --tz, else the bidding zone's the source names."""
    return zone_option(tz) if tz is not None else zone_for_area(area) if area else None


def naive_in_zone(place: str, written: str) -> InputError:
    return InputError(f"--tz: {row_of(place)}: the time {shown(written)} has no UTC offset, so it cannot be shown in "
                      "another zone: leave --tz out to show the times as written")


# Every time, a period either side of it, and the days around its local date in any
# zone (a window opens the day before; a day closes the day after) lie in the calendar
# when the time lies within these.
_EARLIEST = datetime(1, 1, 4, tzinfo=UTC)
_LATEST = datetime(9999, 12, 28, tzinfo=UTC)


def _instant_or_none(moment: datetime) -> datetime | None:
    try:
        return instant(moment)
    except OverflowError:  # past either end in UTC
        return None


def calendar_fault(moment: datetime, place: str, widest: timedelta) -> str | None:
    """Why a time too near the first or the last day of the calendar, for periods up to
    `widest` apart, cannot be planned by, or None."""
    at = _instant_or_none(moment)
    if at is not None and at - _EARLIEST >= widest and _LATEST - at >= widest:
        return None
    end = "start" if moment.year < 5000 else "end"
    return (f"{row_of(place)}: the time {shown(iso_minutes(moment))} lies too near the {end} of the calendar to plan "
            f"by: times and their periods must lie within {_EARLIEST.date()} and {_LATEST.date()} (UTC)")


def _past_the_calendar(starts: Sequence[datetime], places: Sequence[str]) -> str | None:
    instants = [_instant_or_none(moment) for moment in starts]
    widest = max((abs(after - this) for this, after in pairwise(instants) if this and after), default=timedelta(0))
    return next((fault for moment, place in zip(starts, places)
                 if (fault := calendar_fault(moment, place, widest)) is not None), None)


def clock(prices: PriceList, tz: str | None) -> Clock:
    """The clock of the input's times: shown in --tz, else in the zone of the bidding
    zone the source names, else as written; InputError for --tz on naive times."""
    written = prices.times
    moments = [read_time(text) for text in written] if written is not None else []
    starts = [moment for moment in moments if moment is not None]
    known = starts if written is not None and len(starts) == len(written) else None
    zone: tzinfo | None = zone_of(tz, prices.area)
    fault = _mixed_offsets(known or [], prices.places) or _past_the_calendar(known or [], prices.places)
    if fault is not None:
        known = None
    naive = next((index for index, moment in enumerate(known or []) if moment.utcoffset() is None), None)
    if zone is not None and naive is not None:
        if tz is not None:
            assert written is not None
            raise naive_in_zone(prices.places[naive], written[naive])
        zone = None
    line = Clock(written, known, prices.places, zone, fault)
    if tz is not None and written is not None and known is None:
        raise InputError(f"--tz: {line.missing()}, so the times cannot be shown in another zone")
    return line
