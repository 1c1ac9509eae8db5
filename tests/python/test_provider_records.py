"""prices_from_records on three services' shapes of one real day, held to the day's
CSV, and the records it refuses, word for word."""

from __future__ import annotations

import csv
import json
import random
from datetime import datetime, timedelta, timezone
from decimal import Decimal
from pathlib import Path
from zoneinfo import ZoneInfo

import pytest

from kestrava_plan import prices_from_records

DATA = Path(__file__).resolve().parents[2] / "data"
SHAPES = {  # file: (the lists in it, how to read them, the unit's factor to EUR/MWh)
    "nordpool-api": (lambda d: [d["multiAreaEntries"]], {}, 1),
    "ha-raw-today": (lambda d: [d["raw_today"]], {}, 1000),
    "tibber-get-prices": (lambda d: [d["prices"]["Home"]], {"time_key": "start_time"}, 1000),
}


def day_of_csv() -> list[Decimal]:
    with (DATA / "day-ahead-2024" / "DE-LU-sample.csv").open() as handle:
        return [Decimal(row[1]) for row in csv.reader(handle) if row[0].startswith("2024-07-07")]


@pytest.mark.parametrize("shape", SHAPES)
def test_each_shape_gives_the_day_of_the_csv(shape):
    lists_of, options, factor = SHAPES[shape]
    document = json.loads((DATA / "provider-json" / f"{shape}-DE-LU-2024-07-07.json").read_text())
    lists = lists_of(document)
    prices, times = prices_from_records(*lists, **options)
    assert [price * factor for price in prices] == day_of_csv()
    assert [t.astimezone(timezone.utc) for t in times] == [
        datetime(2024, 7, 6, 22, tzinfo=timezone.utc) + timedelta(hours=h) for h in range(24)]
    # Split in two lists and given in any order, the records join the same way.
    records = list(lists[0])
    random.Random(shape).shuffle(records)
    assert prices_from_records(records[:7], records[7:], **options) == (prices, times)


def hour(h: int, minute: int = 0) -> str:
    return f"2024-07-07T{h:02d}:{minute:02d}:00+02:00"


REFUSED = [  # (lists, options, error, message)
    ([[{"start": hour(0), "end": hour(1), "value": 1}, {"start": hour(2), "value": 2}]], {}, ValueError,
     "no price from 2024-07-07T01:00:00+02:00 to 2024-07-07T02:00:00+02:00: lists[0][0] ends at the first, "
     "lists[0][1] starts at the second"),
    ([[{"start": hour(0), "end": hour(1, 30), "value": 1}], [{"start": hour(1), "value": 2}]], {}, ValueError,
     "lists[0][0] ends at 2024-07-07T01:30:00+02:00, after lists[1][0] starts at 2024-07-07T01:00:00+02:00: "
     "the periods overlap"),
    ([[{"time": hour(3), "price": 1}], [{"time": "2024-07-07 01:00:00Z", "price": 2}]], {}, ValueError,
     "two prices for the period starting at 2024-07-07T03:00:00+02:00 (lists[0][0] and lists[1][0])"),
    ([[{"startsAt": "2024-07-07T00:00:00", "total": 1}]], {}, ValueError,
     "lists[0][0]['startsAt']: 2024-07-07T00:00:00 has no time zone, so its instant is unknown"),
    ([[{"hour": hour(0), "cost": 1}]], {}, ValueError,
     "lists[0][0] has no price that is known by name (its keys: 'hour', 'cost'); name it with price_key="),
    ([[{"deliveryStart": hour(0), "entryPerArea": {"DE-LU": 1, "NL": 2}}]], {}, ValueError,
     "lists[0][0]['entryPerArea'] holds 2 prices (DE-LU, NL): name one with price_key=(..., NAME)"),
    ([[{"valid_from": hour(0), "value_inc_vat": "0,25"}]], {}, ValueError,
     "lists[0][0]['value_inc_vat']: '0,25' is not a decimal number"),
    ([[{"start": hour(0), "price": float("nan")}]], {}, ValueError, "lists[0][0]['price']: nan is not a finite number"),
    ([{"start": hour(0), "price": 1}], {}, TypeError, "lists[0] must be a list of mappings, not dict"),
    ([[]], {}, ValueError, "no price records: the lists are empty"),
]


@pytest.mark.parametrize("lists, options, error, message", REFUSED)
def test_records_refused(lists, options, error, message):
    with pytest.raises(error) as caught:
        prices_from_records(*lists, **options)
    assert str(caught.value) == message


def test_keys_named_and_floats_read_by_repr():
    records = [{"from": hour(1), "p": {"EUR": 0.1}, "x": 1e-05}, {"from": hour(0), "p": {"EUR": 3}, "x": 2}]
    assert prices_from_records(records, price_key=("p", "EUR"), time_key="from").prices == [3, Decimal("0.1")]
    assert prices_from_records(records, price_key="x", time_key="from").prices == [2, Decimal("0.00001")]
    hours = [{"hour": datetime(2024, 10, 27, 2, fold=fold, tzinfo=ZoneInfo("Europe/Berlin")), "price": fold}
             for fold in (1, 0)]  # the hour the clocks go back, twice
    assert prices_from_records(hours) == ([0, 1], [hours[1]["hour"], hours[0]["hour"]])
