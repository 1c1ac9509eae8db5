"""kestrava-plan on provider JSON: each provider shape of one real day plans as the same
day of the CSV does, the shapes it refuses end in one error line that names what is
there, and mixed 60- and 15-minute periods are planned by the quarter-hour."""

from __future__ import annotations

import json
import random
from collections.abc import Callable
from datetime import datetime, timedelta, timezone
from pathlib import Path
from typing import Any

import pytest

from kestrava_plan import cheapest_periods
from kestrava_plan.command import main

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


@pytest.mark.parametrize("ends", [True, False], ids=["with ends", "starts only"])
def test_hours_then_quarter_hours_are_planned_by_the_quarter_hour(ends, tmp_path, capsys):
    draw = random.Random(20251001)
    start = datetime(2025, 9, 30, tzinfo=timezone(timedelta(hours=2)))
    hourly = [(start + timedelta(hours=h), timedelta(hours=1), str(draw.randint(-50, 200))) for h in range(24)]
    quarters = [(start + timedelta(days=1, minutes=15 * q), timedelta(minutes=15), f"{draw.randint(-500, 2000)}.5")
                for q in range(96)]
    records = [{"start": begin.isoformat(), **({"end": (begin + length).isoformat()} if ends else {}), "value": price}
               for begin, length, price in hourly + quarters]
    path = tmp_path / "prices.json"
    path.write_text(json.dumps({"raw_tomorrow": records[24:], "raw_today": records[:24]}))
    rules = ("10", 16, 4, 12, 12)
    status, got, err = planned(capsys, str(path), "--low-price-threshold", rules[0], "--min-selections",
                               str(rules[1]), "--min-consecutive-periods", str(rules[2]), "--max-gap-between-periods",
                               str(rules[3]), "--max-gap-from-start", str(rules[4]), "--json", "--times")
    each_quarter = [price for _, _, price in hourly for _ in range(4)] + [price for _, _, price in quarters]
    assert status == 0
    assert got["indices"] == cheapest_periods(each_quarter, *rules)
    assert [datetime.fromisoformat(time) for time in got["times"]] == [
        start + timedelta(minutes=15 * index) for index in got["indices"]]
    assert err == ("kestrava-plan: note: the input mixes periods of 1:00:00 and 0:15:00: planned in the 192 periods "
                   "of 0:15:00, each longer period's price standing for each of its parts\n")
