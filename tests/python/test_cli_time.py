"""kestrava-plan and time: --tz, runs shown as times, and rules written as durations."""

from __future__ import annotations

import json
import random
from datetime import datetime, timedelta, timezone
from pathlib import Path
from zoneinfo import ZoneInfo

import pytest

import kestrava_plan
from kestrava_plan import command
from kestrava_plan.command.command_time import parse_duration, rule_value, zone_for_area
from kestrava_plan.command.price_texts import InputError

from test_cli import QUARTER_HOURS, QUARTER_RULES, run

FR_CSV = QUARTER_HOURS / "FR-15min.csv"
FR_XML = QUARTER_HOURS / "FR-2025-10-26-A44.xml"
FR_DAY = [line.split(",") for line in FR_CSV.read_text().splitlines()[1:]]
# Rows 10 to 13 are 00:30 to 01:30 UTC, 02:30 to 02:30 in Paris: across the clocks going back.
EVERY_ONE = ["--rows", "10:14", "--low-price-threshold", "0", "--min-selections", "4",
             "--min-consecutive-periods", "4", "--quiet"]

DURATIONS = [
    ("2h", timedelta(hours=2)), ("90min", timedelta(minutes=90)), ("90m", timedelta(minutes=90)),
    ("1h30min", timedelta(minutes=90)), ("1H30M", timedelta(minutes=90)), ("1d", timedelta(days=1)),
    ("PT2H", timedelta(hours=2)), ("PT1H30M", timedelta(minutes=90)), ("pt15m", timedelta(minutes=15)),
    ("P1DT1H", timedelta(hours=25)),
    # No duration: no number, a fraction, minutes before hours, units of no fixed length.
    ("h", None), ("PT", None), ("P1DT", None), ("1.5h", None), ("30min1h", None), ("P1M", None), ("P1W", None),
    ("2 hours", None),
]


@pytest.mark.parametrize(("text", "duration"), DURATIONS, ids=[text for text, _ in DURATIONS])
def test_durations_read_as_written(text: str, duration: timedelta | None) -> None:
    assert parse_duration(text) == duration


def test_a_plain_number_stays_a_count_and_nonsense_is_refused() -> None:
    assert rule_value("--off-for", "-3") == -3  # the planner judges the sign, as it did
    with pytest.raises(InputError, match=r"^--off-for: 'soon' is not a count of periods, or a duration such as"):
        rule_value("--off-for", "soon")


@pytest.mark.parametrize(("area", "zone"), [("DE-LU", "Europe/Berlin"), ("10YFR-RTE------C", "Europe/Paris"),
                                            ("NO2", "Europe/Oslo"), ("se3", "Europe/Stockholm"), ("SYS", None),
                                            ("10Y1001A1001A82H", "Europe/Berlin"), ("XX-1", None)])
def test_bidding_zones_keep_their_countrys_time(area: str, zone: str | None) -> None:
    found = zone_for_area(area)
    assert (str(found) if found is not None else None) == zone


# (source, options, stdout): the four periods 10:14 of the FR autumn day, every one chosen.
SHOWN = [
    (FR_CSV, ["--times"], "2025-10-26T00:30+00:00/2025-10-26T01:30+00:00\n"),
    (FR_CSV, ["--times", "--tz", "Europe/Paris"], "2025-10-26T02:30+02:00/2025-10-26T02:30+01:00\n"),
    # The document names its bidding zone, whose time is the default.
    (FR_XML, ["--times"], "2025-10-26T02:30+02:00/2025-10-26T02:30+01:00\n"),
    (FR_XML, ["--times", "--tz", "UTC"], "2025-10-26T00:30+00:00/2025-10-26T01:30+00:00\n"),
    (FR_XML, ["--times", "--json"], json.dumps({"indices": [0, 1, 2, 3], "times": [
        "2025-10-26T02:30+02:00", "2025-10-26T02:45+02:00", "2025-10-26T02:00+01:00", "2025-10-26T02:15+01:00"]})
     + "\n"),
    # Without --times the indices, whatever the zone.
    (FR_XML, ["--tz", "Asia/Tokyo"], "0 1 2 3\n"),
]


@pytest.mark.parametrize(("source", "options", "stdout"), SHOWN,
                         ids=[f"{source.suffix} {' '.join(options)}" for source, options, _ in SHOWN])
def test_times_are_shown_in_the_zone_asked_for_or_the_bidding_zones(source: Path, options: list[str],
                                                                     stdout: str) -> None:
    result = run(str(source), *EVERY_ONE, *options)
    assert (result.returncode, result.stderr, result.stdout) == (0, "", stdout)


def _paris(utc: str) -> str:
    return datetime.fromisoformat(utc).astimezone(ZoneInfo("Europe/Paris")).isoformat(timespec="minutes")


def test_runs_of_a_whole_dst_day_are_their_first_start_and_the_next_start() -> None:
    result = run(str(FR_CSV), *QUARTER_RULES, "--times", "--tz", "Europe/Paris")
    chosen = kestrava_plan.plan([price for _, price in FR_DAY], "10", 8, 4, 8, 8)
    starts = [_paris(start) for start, _ in FR_DAY] + ["2025-10-27T00:00+01:00"]
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout.splitlines() == [f"{starts[start]}/{starts[stop]}" for start, stop in chosen.runs]


# The same rules as counts of quarter-hours and as durations.
AS_DURATIONS = [
    (["--min-selections", "8", "--min-consecutive-periods", "4", "--max-gap-between-periods", "8",
      "--max-gap-from-start", "8"],
     ["--min-selections", "2h", "--min-consecutive-periods", "60min", "--max-gap-between-periods", "PT2H",
      "--max-gap-from-start", "1h60m"]),
    (["--min-selections", "8", "--min-consecutive-periods", "4", "--max-gap-between-periods", "8",
      "--max-gap-from-start", "8", "--running-for", "2"],
     ["--min-selections", "2h", "--min-consecutive-periods", "1h", "--max-gap-between-periods", "2h",
      "--max-gap-from-start", "2h", "--running-for", "30m"]),
    (["--min-selections", "8", "--min-consecutive-periods", "4", "--max-gap-between-periods", "8",
      "--max-gap-from-start", "8", "--off-for", "6"],
     ["--min-selections", "8", "--min-consecutive-periods", "1h", "--max-gap-between-periods", "8",
      "--max-gap-from-start", "PT2H", "--off-for", "PT1H30M"]),
]


@pytest.mark.parametrize(("counts", "durations"), AS_DURATIONS, ids=["rules", "running for", "off for"])
@pytest.mark.parametrize("source", [FR_CSV, FR_XML], ids=["csv", "xml"])
def test_durations_plan_like_the_counts_they_stand_for(source: Path, counts: list[str],
                                                       durations: list[str]) -> None:
    answers = [run(str(source), "--low-price-threshold", "10", *rules, "--json") for rules in (counts, durations)]
    assert [(answer.returncode, answer.stderr) for answer in answers] == [(0, "")] * 2
    held = {"running_for": 2} if "--running-for" in counts else {"off_for": 6} if "--off-for" in counts else {}
    expected = kestrava_plan.plan([price for _, price in FR_DAY], "10", 8, 4, 8, 8, **held).periods
    assert [json.loads(answer.stdout)["indices"] for answer in answers] == [expected, expected]


GERMAN_DATES = "Datum;Preis\n" + "".join(f"21.04.2024 {hour:02}:00;{hour},5\n" for hour in range(6))
NAIVE = "time,price\n" + "".join(f"2024-04-21T{hour:02}:00,{hour}\n" for hour in range(6))
GAP = "time,price\n" + "".join(f"2024-04-21T{hour:02}:00Z,{hour}\n" for hour in (0, 1, 3, 4))
RULES = ["--low-price-threshold", "2", "--min-selections", "1", "--min-consecutive-periods", "1",
         "--max-gap-between-periods", "5", "--max-gap-from-start", "5"]

EVENLY = "the periods must be evenly spaced, each with its price (--rows START:STOP plans the rows on one side)"

# (options, stdin, the one error line after "kestrava-plan: error: ")
REFUSALS = [
    (["--min-consecutive-periods", "20min"], None,
     "--min-consecutive-periods: 0:20:00 is not a whole number of periods of 0:15:00"),
    (["--max-gap-from-start", "P1M"], None, "--max-gap-from-start: 'P1M' is not a count of periods, or a duration "
     "such as 2h, 90min, 1h30min or PT2H"),
    (["--off-for", "1h"], "5\n1\n", "--off-for: 1:00:00 is a duration, which needs the input's times to count "
     "periods: the input has no time column (name one with --time-column)"),
    (["--running-for", "1h"], GERMAN_DATES, "--running-for: 1:00:00 is a duration, which needs the input's times "
     "to count periods: row 2: the time '21.04.2024 00:00' is not an ISO 8601 time"),
    (["--running-for", "1h"], GAP, "row 4: no price from 2024-04-21T02:00+00:00 to 2024-04-21T03:00+00:00 (the periods "
     f"are 1:00:00 long): {EVENLY}"),
    ([], GAP.replace("03:00Z", "02:30Z"), "row 4: the time 2024-04-21T02:30+00:00 is 1:30:00 after the one before, "
     f"and the periods are 1:00:00 long: {EVENLY}"),
    (["--running-for", "1", "--off-for", "1"], None, "--running-for (1) and --off-for (1) cannot both be non-zero: "
     "before the first period the load was either on or off"),
    (["--tz", "Mars/Olympus"], None, "--tz: 'Mars/Olympus' is not a time zone: give an IANA name such as "
     "Europe/Berlin or UTC"),
    (["--tz", "UTC", "--times"], NAIVE, "--tz: row 2: the time '2024-04-21T00:00' has no UTC offset, so it cannot "
     "be shown in another zone: leave --tz out to show the times as written"),
    (["--tz", "UTC"], GERMAN_DATES, "--tz: row 2: the time '21.04.2024 00:00' is not an ISO 8601 time, so the "
     "times cannot be shown in another zone"),
]


@pytest.mark.parametrize(("options", "stdin", "message"), REFUSALS, ids=[message[:40] for _, _, message in REFUSALS])
def test_refusals_are_one_error_line_and_exit_2(options: list[str], stdin: str | None, message: str) -> None:
    source = [] if stdin is not None else [str(FR_CSV)]
    result = run(*source, *RULES, *options, stdin=stdin or "")
    assert (result.returncode, result.stdout, result.stderr) == (2, "", f"kestrava-plan: error: {message}\n")


def _hourly(first: datetime, hours: list[int], form: str) -> list[str]:
    moments = [first + timedelta(hours=hour) for hour in hours]
    if form == "naive":
        return [f"{moment:%Y-%m-%dT%H:%M}" for moment in moments]
    zone = timezone.utc if form == "Z" else timezone(timedelta(hours=2))
    return [moment.replace(tzinfo=timezone.utc).astimezone(zone).isoformat() for moment in moments]


def _first_fault(hours: list[int], form: str) -> tuple[int, str] | None:
    """(index of the first time spaced unlike the shortest step, what is wrong there) by the model."""
    if len(hours) < 2:
        return None
    period = min(later - earlier for earlier, later in zip(hours, hours[1:]))
    index = next((index for index in range(1, len(hours)) if hours[index] - hours[index - 1] != period), None)
    if index is None:
        return None
    step = hours[index] - hours[index - 1]
    opens, time = (datetime.fromisoformat(text).isoformat(timespec="minutes")
                   for text in _hourly(datetime(2024, 4, 21), [hours[index - 1] + period, hours[index]], form))
    if step % period:
        return index, f"the time {time} is {timedelta(hours=step)} after the one before, and the periods are "
    return index, f"no price from {opens} to {time} (the periods are {timedelta(hours=period)} long)"


@pytest.mark.parametrize("seed", range(24))
def test_a_hole_in_the_planned_rows_is_refused_with_its_times_whatever_the_rules(
        seed: int, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
    r = random.Random(seed)
    # Up to 22 hours missing anywhere, or none; --rows may leave the holes out.
    hours = sorted(r.sample(range(30), r.randint(8, 30))) if r.random() < 0.7 else list(range(r.randint(8, 30)))
    form = r.choice(["naive", "Z", "+02:00"])
    written = _hourly(datetime(2024, 4, 21), hours, form)
    prices = [str(r.randint(-5, 40)) for _ in hours]
    (tmp_path / "p.csv").write_text("time,price\n" + "".join(f"{t},{p}\n" for t, p in zip(written, prices)))
    start = r.randint(0, 5)
    stop = r.choice([None, r.randint(start + 2, len(hours)), r.randint(-3, -1)])
    rows = ["--rows", f"{start}:{'' if stop is None else stop}"] if r.random() < 0.7 else []
    chosen = slice(start, stop) if rows else slice(None)
    counts = ["--min-selections", "1", "--min-consecutive-periods", "1", "--max-gap-between-periods", "30",
              "--max-gap-from-start", "30"]
    status = command.main([str(tmp_path / "p.csv"), "--low-price-threshold", "10", *counts, *rows, "--json"])
    out, err = capsys.readouterr()
    fault = _first_fault(hours[chosen], form)
    if fault is None:
        assert (status, err, json.loads(out)) == (0, "", {"indices": kestrava_plan.plan(prices[chosen], "10", 1, 1,
                                                                                        30, 30).periods})
        return
    index, why = fault
    row = range(len(hours))[chosen][index] + 2  # the header is line 1
    assert (status, out) == (2, "")
    assert err.startswith(f"kestrava-plan: error: row {row}: {why}"), err
