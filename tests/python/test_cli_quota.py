"""kestrava-plan --min-per-day: each run plans what `plan` plans on the same prices with
the days counted by the command's clock, and the refusals it adds, word for word."""

from __future__ import annotations

from datetime import datetime, time
from zoneinfo import ZoneInfo

import pytest

from kestrava_plan import plan
from kestrava_plan.command import main
from test_cli import QUARTER_HOURS

NL = QUARTER_HOURS / "NL-15min.csv"
FR_XML = QUARTER_HOURS / "FR-2025-10-26-A44.xml"  # the quarter-hours of FR-15min.csv, 26 October 2025 in Paris
RULES = ["--low-price-threshold", "0.07", "--min-selections", "1h", "--min-consecutive-periods", "1h",
         "--max-gap-between-periods", "8h", "--max-gap-from-start", "8h"]
VALUES = ("0.07", 4, 4, 32, 32)
FR_RULES = ["--low-price-threshold", "10", *RULES[2:]]


def rows_of(name: str, first: int = 0, stop: int | None = None) -> tuple[list[str], list[datetime]]:
    rows = [line.split(",") for line in (QUARTER_HOURS / name).read_text().splitlines()[1:]][first:stop]
    return [price for _, price in rows], [datetime.fromisoformat(when) for when, _ in rows]


def naive_csv(tmp_path) -> str:
    """NL's first two days written as naive Amsterdam times, which are its days as written."""
    prices, starts = rows_of("NL-15min.csv", 0, 192)
    walls = [start.astimezone(ZoneInfo("Europe/Amsterdam")).replace(tzinfo=None) for start in starts]
    path = tmp_path / "naive.csv"
    path.write_text("time,price\n" + "".join(f"{wall.isoformat()},{price}\n" for wall, price in zip(walls, prices)))
    return str(path)


def _utc_walls(name: str, first: int, stop: int) -> tuple[list[str], list[datetime]]:
    prices, starts = rows_of(name, first, stop)
    amsterdam = ZoneInfo("Europe/Amsterdam")
    return prices, [start.astimezone(amsterdam).replace(tzinfo=ZoneInfo("UTC")) for start in starts]


# (case, source, options beyond the rules, (rows, plan's extra arguments)): NL's rows
# 52:192 are 13:00 today to midnight tomorrow in Amsterdam.
RUNS = [
    ("13:00 with 2 hours done", lambda _: str(NL), ["--rows", "52:192", "--tz", "Europe/Amsterdam", "--min-per-day",
                                                    "6h", "--done-today", "2h"],
     lambda: (rows_of("NL-15min.csv", 52, 192), dict(min_per_day=24, done_today=8, zone="Europe/Amsterdam"))),
    ("days from 06:00, as counts", lambda _: str(NL), ["--tz", "Europe/Amsterdam", "--day-start", "06:00",
                                                       "--min-per-day", "30", "--done-today", "12"],
     lambda: (rows_of("NL-15min.csv"), dict(min_per_day=30, done_today=12, zone="Europe/Amsterdam",
                                            day_start=time(6)))),
    ("the bidding zone's clock on a day of 100 quarters", lambda _: str(FR_XML), ["--min-per-day", "5h"],
     lambda: (rows_of("FR-15min.csv"), dict(min_per_day=20, zone="Europe/Paris"))),
    ("naive times' own days, cut by a deadline in a window", naive_csv,
     ["--rows", "52:192", "--min-per-day", "3h", "--deadline", "12:00", "--window", "13:00-10:00"],
     lambda: (_utc_walls("NL-15min.csv", 52, 144),
              dict(min_per_day=12, zone="UTC", allowed=[True] * 84 + [False] * 8))),
]


def command_says(capsys, *arguments: str) -> tuple[int, str, str]:
    status = main(list(arguments))
    out, err = capsys.readouterr()
    return status, out, err


@pytest.mark.parametrize(("source", "options", "planned"), [run[1:] for run in RUNS], ids=[run[0] for run in RUNS])
def test_a_quota_plans_as_plan_does_on_the_same_prices(source, options, planned, capsys, tmp_path):
    path = source(tmp_path)
    rules = FR_RULES if path == str(FR_XML) else RULES
    status, out, err = command_says(capsys, path, *rules, *options)
    (prices, starts), extra = planned()
    expected = plan(prices, rules[1], *VALUES[1:], times=starts, **extra)
    assert (status, err) == (0, "")
    assert [int(word) for word in out.split()] == expected.periods


# (case, options beyond the rules and NL's rows 52:192, the error line after "kestrava-plan: error: ")
REFUSALS = [
    ("with --per-day", ["--tz", "UTC", "--per-day", "--min-per-day", "2h"],
     "--min-per-day plans the days as one horizon, each day with its quota, so that the gap rules hold across "
     "midnight: leave out --per-day"),
    ("offsets and no zone", ["--min-per-day", "2h"],
     "--min-per-day: the times carry a UTC offset but name no time zone (row 54: '2025-12-16T12:00:00Z'), so their "
     "local time of day is unknown: give the zone with --tz, such as --tz Europe/Berlin (or --tz UTC)"),
    ("today's quota beyond today", ["--tz", "Europe/Amsterdam", "--min-per-day", "12h", "--done-today", "30min"],
     "no plan meets the rules: 2025-12-16 holds 44 of the periods planned, fewer than its quota of 46 periods "
     "(--min-per-day 12h less --done-today 30min); lower --min-per-day"),
    ("tomorrow outside the window", ["--tz", "Europe/Amsterdam", "--window", "13:00-20:00", "--min-per-day", "30",
                                     "--done-today", "2", "--max-gap-between-periods", "20h",
                                     "--max-gap-from-start", "20h"],
     "no plan meets the rules: 2025-12-17 holds 28 of the periods planned inside --window 13:00-20:00, fewer than "
     "its quota of 30 periods (--min-per-day 30); widen --window or lower --min-per-day"),
    ("done today alone", ["--tz", "UTC", "--done-today", "2h"],
     "--done-today (2h = 8 periods) needs --min-per-day: it is what already ran toward the first day's quota"),
]


@pytest.mark.parametrize(("options", "message"), [case[1:] for case in REFUSALS], ids=[c[0] for c in REFUSALS])
def test_a_quota_is_refused_in_the_commands_words(options, message, capsys):
    status, out, err = command_says(capsys, str(NL), "--rows", "52:192", *RULES, *options)
    assert (status, out, err) == (2, "", f"kestrava-plan: error: {message}\n")
