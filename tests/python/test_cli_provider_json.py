"""kestrava-plan on provider JSON: each provider shape of one real day plans as the same
day of the CSV does, the shapes it refuses end in one error line that names what is
there, and mixed 60- and 15-minute periods are planned by the quarter-hour."""

from __future__ import annotations

import json
import math
import random
from collections.abc import Callable
from datetime import datetime, timedelta, timezone
from decimal import Decimal
from pathlib import Path
from typing import Any

import pytest

from kestrava_plan import cheapest_periods
from kestrava_plan.command import main
from kestrava_plan.command.price_texts import InputError
from kestrava_plan.command.read_options import ReadOptions
from kestrava_plan.command.readers import read_prices

DATA = Path(__file__).resolve().parents[2] / "data"
CSV_DAY = [str(DATA / "day-ahead-2024" / "DE-LU-sample.csv"), "--rows", "48:72"]  # 2024-07-07
RULES = ["--min-selections", "6", "--min-consecutive-periods", "2", "--max-gap-between-periods", "6",
         "--max-gap-from-start", "6"]
MIDNIGHT_UTC = datetime(2024, 7, 6, 22, tzinfo=timezone.utc)


def planned(capsys: pytest.CaptureFixture[str], *argv: str) -> tuple[int, Any, str]:
    status = main(list(argv))
    out, err = capsys.readouterr()
    return status, json.loads(out) if status == 0 else out, err


def provider(name: str) -> Any:
    return json.loads((DATA / "provider-json" / f"{name}-DE-LU-2024-07-07.json").read_text())


def raw_today() -> list[dict[str, Any]]:
    return provider("ha-raw-today")["raw_today"]


def nordpool_two_areas() -> Any:
    document = provider("nordpool-api")
    for entry in document["multiAreaEntries"]:
        entry["entryPerArea"] = {"NL": 999, **entry["entryPerArea"]}
    return document


# (shape, the document, options, threshold): the shipped files, then the other shapes
# the readers find, written from the same day.
SHAPES: list[tuple[str, Callable[[], Any], list[str], str]] = [
    ("nordpool-api file", lambda: provider("nordpool-api"), [], "20"),
    ("ha-raw-today file", lambda: provider("ha-raw-today"), [], "0.020"),
    ("tibber-get-prices file", lambda: provider("tibber-get-prices"), [], "0.020"),
    ("nordpool, one of two areas", nordpool_two_areas, ["--area", "DE-LU"], "20"),
    ("today and tomorrow nested deep, out of order", lambda: {"data": {"viewer": {"homes": [{"currentSubscription": {
        "priceInfo": {"tomorrow": [{"startsAt": r["start"], "total": r["value"]} for r in raw_today()[12:]],
                      "today": [{"startsAt": r["start"], "total": r["value"]} for r in raw_today()[:12]]}}}]}}},
     [], "0.020"),
    ("a day list beside its halves, times with a space", lambda: {
        "prices_today": [{"time": r["start"].replace("T", " "), "price": r["value"]} for r in raw_today()[:10]],
        "prices_tomorrow": [{"time": r["start"].replace("T", " "), "price": r["value"]} for r in raw_today()[10:]],
        "prices": [{"time": r["start"].replace("T", " "), "price": r["value"]} for r in raw_today()]}, [], "0.020"),
    ("newest first, price member named", lambda: {"results": [
        {"valid_from": r["start"], "valid_to": r["end"], "value_exc_vat": 0, "eur": r["value"]}
        for r in reversed(raw_today())]}, ["--column", "eur"], "0.020"),
    ("the same list twice", lambda: {"raw_today": raw_today(), "copy": {"raw_today": raw_today()}}, [], "0.020"),
    ("a top-level list, time member named", lambda: [{"at": r["start"], "price": r["value"]} for r in raw_today()],
     ["--time-column", "at"], "0.020"),
]


@pytest.mark.parametrize(("shape", "document", "options", "threshold"), SHAPES, ids=[s[0] for s in SHAPES])
def test_each_shape_plans_as_the_day_of_the_csv(shape, document, options, threshold, tmp_path, capsys):
    path = tmp_path / "prices.json"
    path.write_text(json.dumps(document()))
    status, got, err = planned(capsys, str(path), *options, "--low-price-threshold", threshold, *RULES,
                               "--json", "--times")
    assert (status, err) == (0, "")
    assert got["indices"] == planned(capsys, *CSV_DAY, "--low-price-threshold", "20", *RULES, "--json")[1]["indices"]
    assert [datetime.fromisoformat(time) for time in got["times"]] == [
        MIDNIGHT_UTC + timedelta(hours=index) for index in got["indices"]]


def hours(*pairs: tuple[int, int]) -> list[dict[str, str]]:
    return [{"start": f"2024-07-07T{start:02d}:00:00+02:00", "end": f"2024-07-07T{end:02d}:00:00+02:00",
             "value": "1"} for start, end in pairs]


# (what is wrong, the document, options, the message after "kestrava-plan: error: ")
REFUSED = [
    ("two areas, none chosen", nordpool_two_areas(), [], "multiAreaEntries[0]['entryPerArea'] holds the prices of "
     "2 areas ('NL', 'DE-LU'): choose one with --area"),
    ("an area not there", provider("nordpool-api"), ["--area", "NL"],
     "no area 'NL': multiAreaEntries[0]['entryPerArea'] has 'DE-LU'"),
    ("an area asked of a plain price", provider("ha-raw-today"), ["--area", "NL"],
     "--area NL: raw_today[0]['value'] is a price, not prices by area; leave --area out"),
    ("no entries", {**provider("nordpool-api"), "multiAreaEntries": []}, [], "no prices: multiAreaEntries is empty"),
    ("only empty lists", {"today": [], "unit": "kWh", "raw_today": [], "raw_tomorrow": []}, [],
     "no prices: today, raw_today, raw_tomorrow are empty (the JSON object's members: 'today', 'unit', "
     "'raw_today', 'raw_tomorrow')"),
    ("no list", {"unit": "kWh", "current_price": 1}, [],
     "the JSON object holds no list of prices (its members: 'unit', 'current_price'): name the list with --column"),
    ("no price member", {"data": [{"start": "2024-07-07T00:00:00+02:00", "eur": 1}]}, [],
     "data[0] has no member that says price (its members: 'start', 'eur'); name the price with --column"),
    ("the named price member missing", {"data": hours((0, 1))}, ["--column", "eur"],
     "data[0] has no member 'eur' (its members: 'start', 'end', 'value'); name the price with --column"),
    ("a later record without its price", {"raw_today": [*hours((0, 1)), {"start": "2024-07-07T01:00:00+02:00"}]},
     [], "raw_today[1] has no price that is known by name (its keys: 'start'); name it with --column"),
    ("the named time member missing", {"data": hours((0, 1), (1, 2))}, ["--time-column", "at"],
     "data[0] has no member 'at' (its members: 'start', 'end', 'value'); name the time with --time-column"),
    ("a gap", {"raw_today": hours((0, 1), (2, 3))}, [], "no price from 2024-07-07T01:00:00+02:00 to "
     "2024-07-07T02:00:00+02:00: raw_today[0] ends at the first, raw_today[1] starts at the second"),
    ("an overlap", {"raw_today": hours((0, 2), (1, 3))}, [], "raw_today[0] ends at 2024-07-07T02:00:00+02:00, "
     "after raw_today[1] starts at 2024-07-07T01:00:00+02:00: the periods overlap"),
    ("a gap in records without ends", [{"start_time": f"2024-07-07T{hour:02d}:00:00+02:00", "price": 1}
                                       for hour in (0, 1, 3)], [],
     "the price from 2024-07-07T03:00:00+02:00 starts 2:00:00 after the one before it, from "
     "2024-07-07T01:00:00+02:00, and the records give no end: is a price missing?"),
    ("two lists without times", {"today": [{"price": 1}], "tomorrow": [{"price": 2}]}, [],
     "2 lists of prices and no times to join them by (today, tomorrow): name one with --column"),
    ("a last second after 400 days", {"raw_today": [
        {"start": "2024-01-01T00:00:00Z", "end": "2025-02-04T00:00:00Z", "value": 1},
        {"start": "2025-02-04T00:00:00Z", "end": "2025-02-04T00:00:01Z", "value": 2}]}, [],
     "the input mixes periods of 400 days, 0:00:00 and 0:00:01: in periods of 0:00:01 that is 34,560,001 periods, "
     "more than the 1,000,000 read"),
    ("a null price", {"raw_today": [*hours((0, 1)), {**hours((1, 2))[0], "value": None}]}, [],
     "raw_today[1]['value']: null is not a price (its members: 'start', 'end', 'value')"),
]


@pytest.mark.parametrize(("document", "options", "message"), [case[1:] for case in REFUSED],
                         ids=[case[0] for case in REFUSED])
def test_refused_shapes_end_in_one_error_line(document, options, message, tmp_path, capsys):
    path = tmp_path / "prices.json"
    path.write_text(json.dumps(document))
    assert planned(capsys, str(path), *options, "--low-price-threshold", "0", *RULES) == (
        2, "", f"kestrava-plan: error: {message}\n")


def minutes_text(minutes: int) -> str:
    return f"{minutes // 60}:{minutes % 60:02d}:00"


# (case, each record's length in minutes, whether records give their end): every record
# plans as its own length in the finest periods, the last one too.
MIXED_LENGTHS = [
    ("hours then quarter-hours", [60] * 24 + [15] * 96, True),
    ("hours then quarter-hours, starts only", [60] * 24 + [15] * 96, False),
    ("a last quarter-hour after hours", [60] * 5 + [15], True),
    ("a last hour after quarter-hours", [15] * 9 + [60], True),
    ("a last half-hour after quarter-hours", [15] * 6 + [30], True),
    ("a long first and a short last", [120, 60, 60, 30], True),
]


@pytest.mark.parametrize(("lengths", "ends"), [case[1:] for case in MIXED_LENGTHS], ids=[c[0] for c in MIXED_LENGTHS])
def test_mixed_lengths_are_planned_in_the_finest_periods(lengths, ends, tmp_path, capsys):
    draw = random.Random(str(lengths))
    start = datetime(2025, 9, 30, tzinfo=timezone(timedelta(hours=2)))
    begins = [start + timedelta(minutes=sum(lengths[:index])) for index in range(len(lengths))]
    records = [{"start": begin.isoformat(), "value": str(draw.randint(-50, 200))} for begin in begins]
    if ends:
        for record, begin, length in zip(records, begins, lengths):
            record["end"] = (begin + timedelta(minutes=length)).isoformat()
    path = tmp_path / "prices.json"
    path.write_text(json.dumps({"raw_tomorrow": records[len(records) // 2:], "raw_today": records[:len(records) // 2]}))
    finest = math.gcd(*lengths)
    each = [record["value"] for record, length in zip(records, lengths) for _ in range(length // finest)]
    # Rules as durations, which the old reading of the last record's length misjudged.
    rules = ["--min-selections", "1h", "--min-consecutive-periods", f"{finest}min", "--max-gap-between-periods",
             "2h", "--max-gap-from-start", "2h"]
    counts = [60 // finest, 1, 120 // finest, 120 // finest]
    status, got, err = planned(capsys, str(path), "--low-price-threshold", "10", *rules, "--json", "--times")
    assert status == 0, got
    assert got["indices"] == cheapest_periods(each, "10", *counts)
    assert [datetime.fromisoformat(time) for time in got["times"]] == [
        start + timedelta(minutes=finest * index) for index in got["indices"]]
    kinds = " and ".join(minutes_text(length) for length in sorted(set(lengths), reverse=True))
    assert err == (f"kestrava-plan: note: the input mixes periods of {kinds}: planned in the {len(each)} periods "
                   f"of {minutes_text(finest)}, each longer period's price standing for each of its parts\n")


def joined_as_defined(lists: list[list[tuple[int, int]]]) -> list[int] | None:
    """The prices of lists of (hour, price) records as the reader defines them: less each
    list that another holds (the first of equal lists stays), the rest joined in time
    order; None when they overlap or leave a gap."""
    held = [frozenset(records) for records in lists]
    kept = [records for index, records in enumerate(lists)
            if not any(held[index] < other or held[index] == other and later < index
                       for later, other in enumerate(held) if later != index)]
    joined = sorted(record for records in kept for record in records)
    hours = [hour for hour, _ in joined]
    return [price for _, price in joined] if hours == list(range(hours[0], hours[0] + len(hours))) else None


def test_lists_that_repeat_others_are_left_out_as_defined():
    draw = random.Random(20251210)
    outcomes = {True: 0, False: 0}
    for _ in range(3000):
        truth = [draw.randint(0, 3) for _ in range(8)]
        lists = []
        for _ in range(draw.randint(2, 6)):
            first = draw.randrange(8)
            records = [(hour, truth[hour]) for hour in range(first, draw.randint(first + 1, 8))]
            if draw.random() < 0.1:
                hour, price = records[-1]
                records[-1] = (hour, price + 1)
            lists.append(records)
        document = {f"l{number}": [{"start": (MIDNIGHT_UTC + timedelta(hours=hour)).isoformat(),
                                    "end": (MIDNIGHT_UTC + timedelta(hours=hour + 1)).isoformat(), "value": price}
                                   for hour, price in records] for number, records in enumerate(lists)}
        expected = joined_as_defined(lists)
        try:
            got = [int(text) for text in read_prices(json.dumps(document), ReadOptions("json")).written]
        except InputError:
            got = None
        assert got == expected, lists
        outcomes[expected is not None] += 1
    assert min(outcomes.values()) > 300, outcomes


def hours_of_csv(days: int) -> list[Decimal]:
    """The DE-LU prices from 2024-07-07 00:00 local time on, for `days` days, in EUR/MWh."""
    rows = (DATA / "day-ahead-2024" / "DE-LU-2024.csv").read_text().splitlines()
    first = next(index for index, row in enumerate(rows) if row.startswith("2024-07-07 00:00"))
    return [Decimal(row.split(",")[1]) for row in rows[first:first + 24 * days]]


# (file, its days, its period, its unit from EUR/MWh): a sensor's two days in EUR/kWh, and a
# supplier's half-hours in cent/kWh with 5 % VAT, newest first.
TWO_NEW_SHAPES = [("ha-prices-today-tomorrow", 2, timedelta(hours=1), Decimal("0.001")),
                  ("rates-half-hourly", 1, timedelta(minutes=30), Decimal("0.105"))]


@pytest.mark.parametrize(("name", "days", "period", "unit"), TWO_NEW_SHAPES, ids=[s[0] for s in TWO_NEW_SHAPES])
def test_the_shipped_files_read_as_the_days_of_the_csv_in_their_unit(name, days, period, unit):
    text = (DATA / "provider-json" / f"{name}-DE-LU-2024-07-07.json").read_text()
    read = read_prices(text, ReadOptions("json"))
    parts = timedelta(hours=1) // period
    assert [Decimal(price) for price in read.texts()] == [price * unit for price in hours_of_csv(days)
                                                          for _ in range(parts)]
    assert [datetime.fromisoformat(time) for time in read.times] == [
        MIDNIGHT_UTC + index * period for index in range(24 * days * parts)]
