"""kestrava-plan day by day: --per-day, --day-start, --window and --deadline, checked
against `plan` on slices and flags worked out here with zoneinfo."""

from __future__ import annotations

import contextlib
import json
import re
import tracemalloc
from datetime import UTC, date, datetime, time, timedelta, timezone
from pathlib import Path
from zoneinfo import ZoneInfo

import pytest

import kestrava_plan
from kestrava_plan import command
from kestrava_plan.command.horizons import group_days
from kestrava_plan.command.price_texts import MOST_PRICES

from test_cli import QUARTER_HOURS, RULES, ROOT, run

YEARS = ROOT / "data" / "day-ahead-2024"
DAY_RULES = ["--low-price-threshold", "20", "--min-selections", "4", "--min-consecutive-periods", "2",
             "--max-gap-between-periods", "8", "--max-gap-from-start", "8"]
DAY_VALUES = ("20", 4, 2, 8, 8)


def rows_of(path: Path, utc: bool = False) -> list[tuple[str, str]]:
    """(time, price) of a two-column CSV; `utc`: its naive times read as UTC."""
    rows = [tuple(line.split(",")) for line in path.read_text().splitlines()[1:]]
    return [(f"{when.replace(' ', 'T')}Z" if utc else when, price) for when, price in rows]


def csv_of(rows: list[tuple[str, str]], tmp_path: Path) -> str:
    path = tmp_path / "prices.csv"
    path.write_text("start,price\n" + "".join(f"{when},{price}\n" for when, price in rows))
    return str(path)


def local(written: str, zone: ZoneInfo | None) -> datetime:
    moment = datetime.fromisoformat(written)
    return moment.astimezone(zone) if zone is not None else moment


def day_length(day: date, zone: ZoneInfo | None) -> timedelta:
    if zone is None:
        return timedelta(days=1)
    ends = [datetime.combine(when, time(0), zone).astimezone(UTC) for when in (day, day + timedelta(days=1))]
    return ends[1] - ends[0]


def model_days(rows: list[tuple[str, str]], zone: ZoneInfo | None) -> list[dict[str, object]]:
    """What --per-day --json should print, from each local day's slice planned here."""
    days: dict[date, list[int]] = {}
    for index, (when, _) in enumerate(rows):
        days.setdefault(local(when, zone).date(), []).append(index)
    if zone is not None:  # the clocks change on these days in both zones
        assert (len(days[date(2024, 3, 31)]), len(days[date(2024, 10, 27)])) == (23, 25)
    shown = [local(when, zone).isoformat(timespec="minutes") if zone else when for when, _ in rows]
    answer: list[dict[str, object]] = []
    for day, members in days.items():
        document: dict[str, object] = {"date": str(day),
                                       "partial": len(members) != day_length(day, zone) // timedelta(hours=1)}
        try:
            chosen = kestrava_plan.plan([rows[index][1] for index in members], *DAY_VALUES).periods
            document.update(periods=chosen, times=[shown[members[index]] for index in chosen])
        except ValueError as error:
            # The one refusal of these hourly years, a partial day shorter than the
            # selections, in the command's words.
            short = re.fullmatch(r"min_selections \((\d+)\) cannot be greater than the number of prices \((\d+)\)",
                                 str(error))
            assert short is not None, error
            document["error"] = (f"--min-selections ({short[1]}) cannot be greater than the number of periods "
                                 f"planned ({short[2]}, {timedelta(hours=int(short[2]))})")
        answer.append(document)
    return answer


# An hourly year as written (naive, 24 hours a day), and read as UTC, shown in the zone:
# 23- and 25-hour days, a partial day at each end, and in DE-LU a day missing.
YEAR_CASES = [(YEARS / "NL-2024.csv", None), (YEARS / "NL-2024.csv", "Europe/Amsterdam"),
              (YEARS / "DE-LU-2024.csv", "Europe/Berlin")]


@pytest.mark.parametrize(("source", "zone"), YEAR_CASES, ids=["NL as written", "NL in UTC", "DE-LU in UTC"])
def test_every_day_of_a_year_plans_as_its_own_slice(source: Path, zone: str | None, tmp_path: Path) -> None:
    rows = rows_of(source, utc=zone is not None)
    options = ["--tz", zone] if zone is not None else []
    days = model_days(rows, ZoneInfo(zone) if zone is not None else None)
    failed = [f"kestrava-plan: error: {day['date']}: {day['error']}" for day in days if "error" in day]
    as_json, as_text = (run(csv_of(rows, tmp_path), *DAY_RULES, "--per-day", *options, *shape)
                        for shape in (["--json"], []))
    assert (as_json.returncode, as_json.stderr.splitlines()) == (2 if failed else 0, failed)
    assert json.loads(as_json.stdout) == days
    assert as_text.stdout.splitlines() == [
        f"{day['date']}{' (partial)' if day['partial'] else ''}: {' '.join(map(str, day["periods"]))}".rstrip()
        for day in days if "error" not in day]


NL_QUARTERS = QUARTER_HOURS / "NL-15min.csv"
FR_XML = QUARTER_HOURS / "FR-2025-10-26-A44.xml"
# Blocked periods count as pauses: the gap limits let a day wait for its window.
WINDOW_RULES = ["--low-price-threshold", "0.08", "--min-selections", "8", "--min-consecutive-periods", "4",
                "--max-gap-between-periods", "96", "--max-gap-from-start", "96"]
WINDOW_VALUES = ("0.08", 8, 4, 96, 96)


def in_window(start: datetime, opens: time, closes: time) -> bool:
    """Whether the quarter-hour from `start` lies inside opens-closes (crossing midnight), by the clock."""
    end = (start + timedelta(minutes=15)).time()
    return start.time() >= opens or end <= closes and end != time(0)


# (source, options, the number of stretches of allowed periods in each whole planned horizon)
WINDOWS = [
    (NL_QUARTERS, ["--per-day"], 2),
    (NL_QUARTERS, ["--per-day", "--day-start", "12:00"], 1),
    (NL_QUARTERS, [], 4),
]


@pytest.mark.parametrize(("source", "options", "stretches"), WINDOWS, ids=["days", "days from noon", "whole"])
def test_a_window_across_midnight_allows_what_lies_inside_it(source: Path, options: list[str],
                                                             stretches: int) -> None:
    zone = ZoneInfo("Europe/Amsterdam")
    rows = rows_of(source)
    starts = [local(when, zone) for when, _ in rows]
    noon = "12:00" in options
    key = [(start - timedelta(hours=12) if noon else start).date() for start in starts] if options else [0] * len(rows)
    result = run(str(source), *WINDOW_RULES, "--window", "22:00-06:00", "--tz", "Europe/Amsterdam", "--json",
                 *options)
    answers = json.loads(result.stdout)
    answers = answers if isinstance(answers, list) else [answers]
    for answer, day in zip(answers, sorted(set(key)), strict=True):
        members = [index for index, found in enumerate(key) if found == day]
        allowed = [in_window(starts[index], time(22), time(6)) for index in members]
        if not answer.get("partial"):
            assert sum(1 for a, b in zip([False, *allowed], allowed) if b and not a) == stretches
        chosen = kestrava_plan.plan([rows[index][1] for index in members], *WINDOW_VALUES, allowed=allowed)
        assert answer["periods" if "date" in answer else "indices"] == chosen.periods


def spring_day() -> list[tuple[str, str]]:
    """The quarter-hours of 2025-03-30 in Paris (92: the clocks skip 02:00 to 03:00)."""
    first = datetime(2025, 3, 29, 23, tzinfo=UTC)
    return [((first + timedelta(minutes=15 * n)).isoformat(), str((n * 37) % 101)) for n in range(92)]


# (source, deadline, the quarter-hours before it): a skipped time is the next that exists
# (03:00+02:00), a repeated one its first occurrence (02:30+02:00).
DEADLINES = [("spring", "02:30", 8), ("spring", "02:00", 8), ("spring", "03:15", 9),
             ("autumn", "02:30", 10), ("autumn", "03:00", 16), ("autumn", "00:00", 100)]


@pytest.mark.parametrize("per_day", [False, True], ids=["whole", "per day"])
@pytest.mark.parametrize(("day", "deadline", "kept"), DEADLINES, ids=[f"{d} {t}" for d, t, _ in DEADLINES])
def test_a_deadline_on_a_dst_day_cuts_the_prices_after_it(day: str, deadline: str, kept: int, per_day: bool,
                                                          tmp_path: Path) -> None:
    if day == "spring":
        rows, source = spring_day(), ["--tz", "Europe/Paris"]
        source.insert(0, csv_of(rows, tmp_path))
    else:
        rows, source = rows_of(QUARTER_HOURS / "FR-15min.csv"), [str(FR_XML)]
    rules = ["--low-price-threshold", "10", "--min-selections", "2", "--min-consecutive-periods", "2",
             "--max-gap-between-periods", "4", "--max-gap-from-start", "4"]
    result = run(*source, *rules, "--deadline", deadline, "--json", *(["--per-day"] if per_day else []))
    assert (result.returncode, result.stderr) == (0, "")
    answer = json.loads(result.stdout)
    expected = kestrava_plan.plan([price for _, price in rows[:kept]], "10", 2, 2, 4, 4).periods
    assert (answer[0] if per_day else answer)["periods" if per_day else "indices"] == expected


ROWS_HINT = f"more than {MOST_PRICES} prices to plan, the most the planner takes: choose a part with --rows START:STOP"
HOURS = "".join(f"2024-01-01T00:00Z,{n}\n" for n in range(MOST_PRICES + 1))
TIMED = "time,price\n" + "".join(f"2024-04-21T{hour:02}:00Z,{hour}\n" for hour in range(6))

# (options, stdin, the one error line after "kestrava-plan: error: ")
REFUSALS = [
    (["--deadline", "7h"], TIMED, "--deadline: '7h' is not a time of day: write HH:MM, such as 07:00"),
    (["--per-day", "--day-start", "24:00"], TIMED, "--day-start: '24:00' is not a time of day: write HH:MM, "
     "such as 07:00"),
    (["--window", "22:00-22:00"], TIMED, "--window: '22:00-22:00' starts and ends at the same time: give the "
     "stretch of the day to plan in, such as 22:00-06:00 (leave --window out to allow every period)"),
    (["--window", "22-6"], TIMED, "--window: '22-6' is not a stretch of the day: write START-END as HH:MM-HH:MM, "
     "such as 22:00-06:00"),
    (["--day-start", "06:00"], TIMED, "--day-start: days start there only with --per-day or --min-per-day: add one, "
     "or leave --day-start out"),
    (["--deadline", "07:00"], "5\n1\n", "--deadline needs the input's times, to tell the time of day: the input "
     "has no time column (name one with --time-column)"),
    (["--per-day"], "5\n1\n", "--per-day needs the input's times, to tell its days: the input has no time column "
     "(name one with --time-column)"),
    (["--per-day", "--png", "plan.png"], TIMED, "--png draws one plan: leave out --per-day, or plan one day "
     "with --rows START:STOP"),
    (["--per-day"], "time,price\n2024-01-01T00:00,1\n2024-01-01T01:00Z,2\n", "--per-day needs the input's times, "
     "to tell its days: row 3: the time '2024-01-01T01:00+00:00' has a UTC offset and the one of row 2, "
     "'2024-01-01T00:00', has none: give every time an offset, or none"),
    (["--deadline", "00:30", "--tz", "UTC"], TIMED, "no period ends by the deadline 2024-04-21T00:30+00:00"),
    # Offsets without a zone: the time of day would be the offset's, two hours off in summer.
    *[(options, times, f"{options[0]}: the times carry a UTC offset but name no time zone ({first}), so "
       "their local time of day is unknown: give the zone with --tz, such as --tz Europe/Berlin (or --tz UTC)")
      for options in (["--window", "22:00-06:00"], ["--deadline", "07:00"], ["--per-day"])
      for times, first in ((TIMED, "row 2: '2024-04-21T00:00Z'"), (TIMED.replace("Z", "+02:00"),
                                                                   "row 2: '2024-04-21T00:00+02:00'"))],
    ([], "time,price\n" + HOURS, f"row {MOST_PRICES + 2}: {ROWS_HINT}, or plan each day with --per-day"),
    ([], '{"prices": [' + ",".join(["1"] * (MOST_PRICES + 1)) + "]}", f"prices[{MOST_PRICES}]: {ROWS_HINT}"),
]


@pytest.mark.parametrize(("options", "stdin", "message"), REFUSALS, ids=[message[:40] for _, _, message in REFUSALS])
def test_refusals_are_one_error_line_and_exit_2(options: list[str], stdin: str, message: str) -> None:
    result = run(*RULES, *options, stdin=stdin)
    assert (result.returncode, result.stdout, result.stderr) == (2, "", f"kestrava-plan: error: {message}\n")


def traced_peak(days: int, tmp_path: Path) -> int:
    """The most memory traced while --per-day plans `days` hourly days."""
    first = datetime(2024, 1, 1)
    source = csv_of([(f"{first + timedelta(hours=hour):%Y-%m-%dT%H:%M}", str(hour * 37 % 101))
                     for hour in range(24 * days)], tmp_path)
    with (tmp_path / "out.json").open("w") as out, contextlib.redirect_stdout(out):
        tracemalloc.start()
        try:
            status = command.main([source, *DAY_RULES, "--per-day", "--json", "--times"])
            peak = tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()
    assert (status, len(json.loads((tmp_path / "out.json").read_text()))) == (0, days)
    return peak


def test_per_day_holds_one_day_in_memory_not_the_whole_input(tmp_path: Path) -> None:
    traced_peak(2, tmp_path)  # the first call fills caches (regular expressions, zones) once
    small, large = traced_peak(40, tmp_path), traced_peak(400, tmp_path)
    assert large < 1.5 * small, (small, large)


@pytest.mark.parametrize("shape", [[], ["--json"]], ids=["lines", "json"])
def test_a_fault_part_way_ends_the_output_after_the_days_before_it(shape: list[str], tmp_path: Path) -> None:
    rows = rows_of(YEARS / "NL-sample.csv")
    rows[24 * 2 + 5] = (rows[24 * 2 + 5][0], "n/a")  # the third day's 05:00
    result = run(csv_of(rows, tmp_path), *DAY_RULES, "--per-day", *shape)
    days = model_days(rows[:48], None)
    assert (result.returncode, result.stderr) == (2, "kestrava-plan: error: row 55, column 'price': 'n/a' is not a "
                                                     "decimal number\n")
    if shape:
        assert json.loads(result.stdout) == days
    else:
        assert result.stdout.splitlines() == [f"{day['date']}: {' '.join(map(str, day['periods']))}" for day in days]


def day_rows(day: int, starts: list[int], unit: str = "hours") -> list[tuple[str, str]]:
    first = datetime(2024, 1, day)
    return [(f"{first + timedelta(**{unit: start}):%Y-%m-%dT%H:%M:%S}", str(start * 7 % 31)) for start in starts]


# (the first day's rows, the next day's, the first day's error): a day fails alone.
DAY_FAULTS = [
    # The price right after the first time is missing: the periods stay an hour long.
    (day_rows(1, [0, *range(2, 24)]), day_rows(2, list(range(24))), "no price from 2024-01-01T01:00 to "
     "2024-01-01T02:00 (the periods are 1:00:00 long), so the day cannot be planned"),
    (day_rows(1, list(range(3001)), "seconds"), day_rows(2, list(range(10)), "seconds"), "the day holds 3,001 prices, "
     "more than the 3000 the planner takes: is the time column the right one?"),
]


@pytest.mark.parametrize(("first", "second", "error"), DAY_FAULTS, ids=["hole after the first time", "too many"])
def test_a_day_that_cannot_be_planned_fails_alone(first: list[tuple[str, str]], second: list[tuple[str, str]],
                                                  error: str, tmp_path: Path) -> None:
    result = run(csv_of(first + second, tmp_path), *DAY_RULES, "--per-day", "--json")
    assert (result.returncode, result.stderr) == (2, f"kestrava-plan: error: 2024-01-01: {error}\n")
    assert json.loads(result.stdout)[1:] == model_days(second, None)


PARIS = ZoneInfo("Europe/Paris")
# Half-hours across the clocks going back (03:00+02:00 -> 02:00+01:00), days from 02:30.
AUTUMN = [datetime(2025, 10, 25, 22, tzinfo=UTC) + timedelta(minutes=30 * n) for n in range(12)]
LOCAL_STARTS = {"in the zone": [moment.astimezone(PARIS) for moment in AUTUMN],
                "offsets as written": [moment.astimezone(timezone(moment.astimezone(PARIS).utcoffset() or timedelta()))
                                       for moment in AUTUMN]}


@pytest.mark.parametrize("starts", LOCAL_STARTS.values(), ids=list(LOCAL_STARTS))
def test_days_never_go_back_to_a_day_already_left(starts: list[datetime]) -> None:
    grouped = [(day, items) for day, items, _ in group_days(((start, n) for n, start in enumerate(starts)), time(2, 30),
                                                              MOST_PRICES)]
    # Up to 02:00+02:00 the 25th; from 02:30+02:00 the 26th, the second 02:00 (+01:00) included.
    assert grouped == [(date(2025, 10, 25), list(range(5))), (date(2025, 10, 26), list(range(5, 12)))]
