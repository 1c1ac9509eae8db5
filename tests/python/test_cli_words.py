"""kestrava-plan's refusals in the user's words: times and durations at the edges of
the calendar end in a domain error, never in the command's own fault line; the hint for
a price written with a decimal comma or point, followed, reads the price; and a request
that has no plan is told by its options and, where the input has them, its times."""

from __future__ import annotations

import io
import json
import random
import re
from datetime import datetime, timedelta, timezone
from types import SimpleNamespace

import pytest

from kestrava_plan.command import main

RULES = ["--low-price-threshold", "1", "--min-selections", "1", "--min-consecutive-periods", "1",
         "--max-gap-between-periods", "2", "--max-gap-from-start", "2"]


def csv_of(*times: str) -> str:
    return "time,price\n" + "".join(f"{time},{index % 3}\n" for index, time in enumerate(times))


def told(capsys: pytest.CaptureFixture[str], stdin: str, *options: str, monkeypatch: pytest.MonkeyPatch,
         rules: list[str] = RULES) -> tuple[int, str, str]:
    monkeypatch.setattr("sys.stdin", SimpleNamespace(buffer=io.BytesIO(stdin.encode())))
    status = main([*rules, *options])
    out, err = capsys.readouterr()
    return status, out, err


EDGE = "lies too near the {} of the calendar to plan by: times and their periods must lie within 0001-01-04 and " \
       "9999-12-28 (UTC)"
LATE_HOURS = csv_of("9999-12-31T21:00-14:00", "9999-12-31T22:00-14:00", "9999-12-31T23:00-14:00")
EARLY_HOURS = csv_of("0001-01-01T00:00", "0001-01-01T01:00", "0001-01-01T02:00")

# (case, stdin, options, the error line after "kestrava-plan: error: ")
CALENDAR_EDGES = [
    ("a record past year 9999 in UTC", json.dumps({"raw_today": [{"start": "9999-12-31T23:00:00-14:00", "value": 1}]}),
     [], "raw_today[0]['start']: '9999-12-31T23:00:00-14:00' is out of range: in UTC it falls after year 9999 "
     "(its members: 'start', 'value')"),
    ("a record before year 1 in UTC", json.dumps([{"time": "0001-01-01T00:00:00+01:00", "price": 1}]),
     [], "JSON element 0['time']: '0001-01-01T00:00:00+01:00' is out of range: in UTC it falls before year 1 "
     "(its members: 'time', 'price')"),
    ("year 1 with --window", EARLY_HOURS, ["--window", "22:00-06:00"],
     f"--window needs the input's times, to tell the time of day: row 2: the time '0001-01-01T00:00' "
     f"{EDGE.format('start')}"),
    ("year 9999 with --per-day", LATE_HOURS, ["--per-day", "--tz", "UTC"],
     f"--per-day needs the input's times, to tell its days: row 2: the time '9999-12-31T21:00-14:00' "
     f"{EDGE.format('end')}"),
    ("year 9999 with --deadline", LATE_HOURS, ["--deadline", "07:00"],
     f"--deadline needs the input's times, to tell the time of day: row 2: the time '9999-12-31T21:00-14:00' "
     f"{EDGE.format('end')}"),
    ("year 9999 shown in another zone", csv_of("9999-12-31T10:00Z", "9999-12-31T11:00Z"),
     ["--tz", "Pacific/Kiritimati", "--times"], f"--tz: row 2: the time '9999-12-31T10:00+00:00' {EDGE.format('end')}, "
     "so the times cannot be shown in another zone"),
    ("a duration of 10^23 hours", EARLY_HOURS, ["--min-selections", f"{10**23}h"],
     f"--min-selections: '{10**23}h' is too long a duration: the longest is 999999999 days"),
    ("a duration past the longest", EARLY_HOURS, ["--max-gap-between-periods", "1000000000d"],
     "--max-gap-between-periods: '1000000000d' is too long a duration: the longest is 999999999 days"),
]


@pytest.mark.parametrize(("stdin", "options", "message"), [case[1:] for case in CALENDAR_EDGES],
                         ids=[case[0] for case in CALENDAR_EDGES])
def test_times_and_durations_at_the_calendars_edges_are_refused_in_words(stdin, options, message, capsys,
                                                                          monkeypatch):
    assert told(capsys, stdin, *options, monkeypatch=monkeypatch) == (2, "", f"kestrava-plan: error: {message}\n")


EDGE_OPTIONS = [[], ["--times"], ["--json", "--times"], ["--chart"], ["--window", "22:00-06:00"],
                ["--window", "01:00-03:00", "--times"], ["--deadline", "07:00"], ["--deadline", "23:30"],
                ["--per-day"], ["--per-day", "--day-start", "06:00", "--times"], ["--tz", "UTC"],
                ["--tz", "Pacific/Kiritimati", "--times"], ["--tz", "Etc/GMT+12", "--per-day"],
                ["--max-gap-between-periods", "2h"], ["--min-selections", "999999999d"],
                ["--off-for", f"PT{10**20}M"], ["--running-for", "P999999999DT23H"]]
OFFSETS = [None, timedelta(0), timedelta(hours=14), timedelta(hours=-14), timedelta(hours=5, minutes=30)]


def edge_times(draw: random.Random) -> list[str]:
    """A few evenly spaced times within days of the first or the last instant of the
    calendar, naive or with an offset, in UTC maybe past either end."""
    step = draw.choice([timedelta(minutes=15), timedelta(hours=1), timedelta(days=1)])
    count = draw.randint(1, 12)
    offset = draw.choice(OFFSETS)
    back = timedelta(minutes=15 * draw.randint(0, 500))
    first = datetime(9999, 12, 31, 23, 45) - (count - 1) * step - back if draw.random() < 0.5 else datetime.min + back
    zone = timezone(offset) if offset is not None else None
    return [(first + index * step).replace(tzinfo=zone).isoformat() for index in range(count)]


def test_times_near_the_calendars_ends_plan_or_are_refused_in_one_line(capsys, monkeypatch):
    draw = random.Random(20251210)
    for _ in range(600):
        times = edge_times(draw)
        if draw.random() < 0.5:
            stdin = csv_of(*times)
        else:
            stdin = json.dumps({"raw_today": [{"start": time, "value": index % 3} for index, time in enumerate(times)]})
        options = draw.choice(EDGE_OPTIONS)
        status, _, err = told(capsys, stdin, *options, monkeypatch=monkeypatch)
        assert status in (0, 2) and "unexpected" not in err, (stdin, options, err)


def provider(*prices: object) -> str:
    return json.dumps({"raw_today": [{"start": f"2024-07-07T{hour:02d}:00:00+02:00", "value": price}
                                     for hour, price in enumerate(prices)]})


def xml(*prices: str) -> str:
    points = "".join(f"<Point><position>{n}</position><price.amount>{p}</price.amount></Point>"
                     for n, p in enumerate(prices, 1))
    return ("<Publication_MarketDocument><TimeSeries><Period><timeInterval><start>2024-04-20T20:00Z</start>"
            f"<end>2024-04-20T{20 + len(prices)}:00Z</end></timeInterval><resolution>PT60M</resolution>{points}"
            "</Period></TimeSeries></Publication_MarketDocument>")


WRITE_POINT = "(write 4.67)"
# (case, stdin, options, threshold, the error line after "kestrava-plan: error: ", or None: it plans)
DECIMAL_HINTS = [
    ("CSV of commas, quoted", 'time,price\n0:00,"4,67"\n1:00,4\n', [], "1", "row 2, column 'price': '4,67' is not "
     "a decimal number (decimal comma? try --decimal-comma, or write 4.67)"),
    ("CSV of commas and points", "time;price\n0:00;4,67\n1:00;4.5\n", [], "1",
     f"row 2, column 'price': '4,67' is not a decimal number {WRITE_POINT}"),
    ("CSV of commas and points, --no-decimal-comma", "time;price\n0:00;4,67\n1:00;4.5\n", ["--no-decimal-comma"],
     "1", f"row 2, column 'price': '4,67' is not a decimal number {WRITE_POINT}"),
    ("CSV of commas and points, --decimal-comma", "time;price\n0:00;4,67\n1:00;4.5\n", ["--decimal-comma"], "1",
     "row 3, column 'price': '4.5' is not a decimal number (a point among decimal commas: write 4,5)"),
    ("CSV of points, --decimal-comma", "time;price\n0:00;4.67\n1:00;4\n", ["--decimal-comma"], "1",
     "row 2, column 'price': '4.67' is not a decimal number (a point, but --decimal-comma reads commas: leave it "
     "out)"),
    ("JSON texts of commas", '["4,67", "4"]', [], "1",
     "JSON element 0: '4,67' is not a decimal number (decimal comma? try --decimal-comma, or write 4.67)"),
    ("JSON text of a comma beside numbers", '["4,67", 4.5]', [], "1",
     f"JSON element 0: '4,67' is not a decimal number {WRITE_POINT}"),
    ("JSON numbers with --decimal-comma", '["4,67", 4.5, 1e-2]', ["--decimal-comma"], "1", None),
    ("JSON texts of commas and points, --decimal-comma", '[{"price": "4,67"}, {"price": "4.5"}]', ["--decimal-comma"],
     "1", "JSON element 1, member 'price': '4.5' is not a decimal number (a point among decimal commas: write 4,5)"),
    ("provider JSON", provider("4,67", 4), [], "1", f"raw_today[0]['value']: '4,67' is not a decimal number "
     f"{WRITE_POINT}"),
    ("provider JSON, --decimal-comma", provider("4,67", 4), ["--decimal-comma"], "1",
     f"raw_today[0]['value']: '4,67' is not a decimal number {WRITE_POINT}"),
    ("XML", xml("4,67", "4"), [], "1", "Period starting 2024-04-20T20:00Z, position 1: '4,67' is not a decimal number "
     f"{WRITE_POINT}"),
    ("the threshold, CSV of points", "time,price\n0:00,4.67\n1:00,4\n", [], "4,67",
     f"--low-price-threshold: '4,67' is not a decimal number {WRITE_POINT}"),
    ("the threshold, JSON numbers", "[4.67, 4]", [], "4,67",
     f"--low-price-threshold: '4,67' is not a decimal number {WRITE_POINT}"),
    ("the threshold, CSV of commas", "time;price\n0:00;4,67\n1:00;4\n", [], "4,67", None),
]


def followed(hint: str, stdin: str, options: list[str], threshold: str) -> list[tuple[str, list[str], str]]:
    """The input and options after each fix the hint suggests."""
    bad = re.search(r"'([^']*)' is not a decimal number", hint)[1]
    fixes = []
    if "try --decimal-comma" in hint:
        fixes.append((stdin, [*options, "--decimal-comma"], threshold))
    if "leave it out" in hint:
        fixes.append((stdin, [option for option in options if option != "--decimal-comma"], threshold))
    written = re.search(r"write ([0-9.,]+)\)", hint)
    if written is not None:
        if hint.startswith("--low-price-threshold"):
            fixes.append((stdin, options, written[1]))
        else:
            assert stdin.count(bad) == 1
            fixes.append((stdin.replace(bad, written[1]), options, threshold))
    return fixes


@pytest.mark.parametrize(("stdin", "options", "threshold", "message"), [case[1:] for case in DECIMAL_HINTS],
                         ids=[case[0] for case in DECIMAL_HINTS])
def test_each_decimal_hint_followed_reads_the_price(stdin, options, threshold, message, capsys, monkeypatch):
    rules = ["--low-price-threshold", threshold, *RULES[2:]]
    status, _, err = told(capsys, stdin, *options, monkeypatch=monkeypatch, rules=rules)
    if message is None:
        assert (status, err) == (0, "")
        return
    assert (status, err) == (2, f"kestrava-plan: error: {message}\n")
    fixes = followed(message, stdin, options, threshold)
    assert fixes
    for fixed, fixed_options, fixed_threshold in fixes:
        rules = ["--low-price-threshold", fixed_threshold, *RULES[2:]]
        assert told(capsys, fixed, *fixed_options, monkeypatch=monkeypatch, rules=rules)[::2] == (0, ""), (
            fixed, fixed_options)


# The planner's words, which the command's user never typed: its parameters, its word for
# periods outside --window, its count of prices, its horizon and quota, and, when the input
# has times, periods by index.
PLANNER_WORDS = re.compile(r"\b(low_price_threshold|min_selections|min_consecutive_periods|max_gap_between_periods|"
                           r"max_gap_from_start|running_for|off_for|min_per_day|done_today|blocked|allowed|"
                           r"number of prices|of the horizon|the quota)\b|"
                           r"\bperiods? [0-9]")


def hourly(draw: random.Random, hours: int) -> str:
    start = datetime(2024, 7, 6, 20, tzinfo=timezone(timedelta(hours=2)))
    return csv_of(*((start + timedelta(hours=hour)).isoformat() for hour in range(hours)))


def a_rule(draw: random.Random, low: int, high: int) -> str:
    count = draw.randint(low, high)
    return draw.choice([str(count), f"{count}h", f"PT{count * 60}M"])


def test_no_plan_is_told_in_options_and_times(capsys, monkeypatch):
    draw = random.Random(20251211)
    refused = 0
    for _ in range(800):
        rules = ["--low-price-threshold", "1", "--min-selections", a_rule(draw, 0, 12),
                 "--min-consecutive-periods", a_rule(draw, 0, 6), "--max-gap-between-periods", a_rule(draw, 0, 8),
                 "--max-gap-from-start", a_rule(draw, 0, 8)]
        options = [*draw.choice([[], ["--running-for", a_rule(draw, 1, 4)], ["--off-for", a_rule(draw, 1, 9)],
                                 ["--running-for", "1", "--off-for", "2h"], ["--off-for=-1"], ["--min-selections=-2"]]),
                   *draw.choice([[], ["--window", "22:00-06:00"], ["--window", "06:00-22:00"],
                                 ["--window", "01:00-02:00"]]),
                   *draw.choice([[], ["--per-day"], ["--deadline", "07:00"]]),
                   *draw.choice([[], ["--tz", "Europe/Berlin", "--min-per-day", a_rule(draw, 1, 12),
                                      "--done-today", a_rule(draw, 0, 3)]])]
        status, _, err = told(capsys, hourly(draw, draw.randint(2, 40)), *options, monkeypatch=monkeypatch,
                              rules=rules)
        if status == 2:
            refused += 1
            assert "unexpected" not in err and not PLANNER_WORDS.search(err), (rules, options, err)
    assert refused > 300



TWO_AM = datetime(2024, 7, 6, 22, tzinfo=timezone(timedelta(hours=2)))
QUARTERS = csv_of(*((TWO_AM + timedelta(minutes=15 * quarter)).isoformat() for quarter in range(12)))  # 22:00 to 01:00
HOURS = csv_of(*((TWO_AM + timedelta(hours=hour - 2)).isoformat() for hour in range(30)))  # 20:00 to 02:00 next day
LOOSE = ["--low-price-threshold", "1", "--min-selections", "1", "--min-consecutive-periods", "1",
         "--max-gap-between-periods", "3h", "--max-gap-from-start", "3h"]
OUTSIDE = "lie outside --window 23:00-00:00"

# (case, stdin, options after LOOSE, the error line after "kestrava-plan: error: "): a kind
# of refusal of the planner each, told by option, value as written and time.
NO_PLAN = [
    ("too many selections", QUARTERS, ["--min-selections", "4h"], "--min-selections (4h = 16 periods) cannot be "
     "greater than the number of periods planned (12, 3:00:00)"),
    ("too many selections, no times", "5\n1\n", ["--min-selections", "3", "--max-gap-between-periods", "1",
                                                   "--max-gap-from-start", "1"], "--min-selections (3) cannot be "
     "greater than the number of periods planned (2)"),
    ("a run longer than the selections", QUARTERS, ["--min-selections", "30min", "--min-consecutive-periods", "1h"],
     "--min-consecutive-periods (1h = 4 periods) cannot be greater than --min-selections (30min = 2 periods)"),
    ("a run longer than the selections and the carried run", QUARTERS,
     ["--min-selections", "30min", "--min-consecutive-periods", "1h", "--running-for", "1"],
     "--min-consecutive-periods (1h = 4 periods) cannot be greater than --min-selections (30min = 2 periods) + "
     "--running-for (1)"),
    ("a start gap over the gap", QUARTERS, ["--max-gap-between-periods", "2", "--max-gap-from-start", "1h"],
     "--max-gap-from-start (1h = 4 periods) cannot be greater than --max-gap-between-periods (2)"),
    ("on and off before", QUARTERS, ["--running-for", "15min", "--off-for", "1"], "--running-for (15min = 1 period) "
     "and --off-for (1) cannot both be non-zero: before the first period the load was either on or off"),
    ("a negative count", QUARTERS, ["--off-for=-1"], "--off-for cannot be negative (got -1)"),
    ("no selection", QUARTERS, ["--min-selections", "0min"], "--min-selections must be greater than 0"),
    ("outside the window too long", QUARTERS, ["--tz", "Europe/Berlin", "--window", "23:00-00:00",
                                               "--max-gap-between-periods", "30min", "--max-gap-from-start", "30min"],
     f"no plan meets the rules: the periods from 2024-07-06T22:00+02:00 to 2024-07-06T23:00+02:00 {OUTSIDE}, "
     "4 periods (1:00:00) off in a row, more than --max-gap-between-periods (30min = 2 periods); widen --window or "
     "raise --max-gap-between-periods"),
    ("outside the window too long, a later day", HOURS, ["--tz", "Europe/Berlin", "--per-day", "--window",
                                                         "22:00-06:00", "--max-gap-between-periods", "8"],
     "2024-07-07: no plan meets the rules: the periods from 2024-07-07T06:00+02:00 to 2024-07-07T22:00+02:00 lie "
     "outside --window 22:00-06:00, 16 periods (16:00:00) off in a row, more than --max-gap-between-periods (8); "
     "widen --window or raise --max-gap-between-periods"),
    ("too few inside the window", QUARTERS, ["--tz", "Europe/Berlin", "--window", "23:00-23:30", "--min-selections",
                                             "1h"],
     "no plan meets the rules: only 2 of the 12 periods lie inside --window 23:00-23:30, fewer than --min-selections "
     "(1h = 4 periods); widen --window or lower --min-selections"),
    ("a carried run outside the window", QUARTERS, ["--tz", "Europe/Berlin", "--window", "23:00-00:00",
                                                    "--running-for", "15min", "--min-consecutive-periods", "1h",
                                                    "--min-selections", "1h"],
     "no plan meets the rules: the carried run of 1 period (--running-for 15min = 1 period) is shorter than "
     "--min-consecutive-periods (1h = 4 periods) and must go on at the period from 2024-07-06T22:00+02:00 to "
     "2024-07-06T22:15+02:00, which lies outside --window 23:00-00:00; widen --window or lower "
     "--min-consecutive-periods"),
    ("off too long before", QUARTERS, ["--off-for", "1h", "--max-gap-between-periods", "30min",
                                       "--max-gap-from-start", "30min"],
     "no plan meets the rules: --off-for (1h = 4 periods) is already more than --max-gap-between-periods (30min = "
     "2 periods); raise --max-gap-between-periods or give the real time off"),
    ("off before, no start inside the window", QUARTERS,
     ["--tz", "Europe/Berlin", "--window", "23:00-00:00", "--off-for", "15min", "--max-gap-between-periods", "1h",
      "--max-gap-from-start", "1h"],
     "no plan meets the rules: after 1 period (--off-for 15min = 1 period) off, the first period must come by the "
     "period from 2024-07-06T22:45+02:00 to 2024-07-06T23:00+02:00 (--max-gap-between-periods (1h = 4 periods) - "
     "--off-for, and --max-gap-from-start (1h = 4 periods)), but the periods from 2024-07-06T22:00+02:00 to "
     f"2024-07-06T23:00+02:00 {OUTSIDE}; widen --window or raise --max-gap-between-periods"),
    # 22:00-23:00 is one run too far from the end; only 00:30-01:00 would end the plan in time.
    ("a short last run inside the window", QUARTERS,
     ["--tz", "Europe/Berlin", "--window", "00:30-23:00", "--min-selections", "1h", "--min-consecutive-periods", "1h",
      "--max-gap-between-periods", "90min", "--max-gap-from-start", "0", "--no-short-last-run"],
     "no plan meets the rules: the last run could not be made 4 periods long; leave out --no-short-last-run or lower "
     "--min-consecutive-periods"),
    ("no selection inside the window", QUARTERS, ["--tz", "Europe/Berlin", "--window", "23:00-00:00",
                                                  "--max-gap-between-periods", "1h", "--max-gap-from-start", "0"],
     "no plan meets the rules: no selection of the periods inside --window 23:00-00:00 keeps every rule; loosen a "
     "rule or widen --window"),
]


@pytest.mark.parametrize(("stdin", "options", "message"), [case[1:] for case in NO_PLAN], ids=[c[0] for c in NO_PLAN])
def test_each_kind_of_no_plan_is_told_in_the_users_words(stdin, options, message, capsys, monkeypatch):
    status, _, err = told(capsys, stdin, *options, monkeypatch=monkeypatch, rules=LOOSE)
    assert (status, err) == (2, f"kestrava-plan: error: {message}\n")
