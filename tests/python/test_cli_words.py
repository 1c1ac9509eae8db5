"""kestrava-plan's refusals in the user's words: times and durations at the edges of
the calendar end in a domain error, never in the command's own fault line, and the hint
for a price written with a decimal comma or point, followed, reads the price."""

from __future__ import annotations

import json
import random
import re
from datetime import datetime, timedelta, timezone

import pytest

from kestrava_plan.command import main

RULES = ["--low-price-threshold", "1", "--min-selections", "1", "--min-consecutive-periods", "1",
         "--max-gap-between-periods", "2", "--max-gap-from-start", "2"]


def csv_of(*times: str) -> str:
    return "time,price\n" + "".join(f"{time},{index % 3}\n" for index, time in enumerate(times))


def told(capsys: pytest.CaptureFixture[str], stdin: str, *options: str, monkeypatch: pytest.MonkeyPatch,
         rules: list[str] = RULES) -> tuple[int, str, str]:
    monkeypatch.setattr("sys.stdin", _Text(stdin))
    status = main([*rules, *options])
    out, err = capsys.readouterr()
    return status, out, err


class _Text:
    """stdin holding `text`, as the command reads it: bytes through .buffer."""

    def __init__(self, text: str) -> None:
        import io
        self.buffer = io.BytesIO(text.encode())


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
