"""The prices a price sensor's attributes hold: every list of mappings among them (at
most three mappings deep) that `prices_from_records` reads is a candidate. The longest
is taken, then each other that still joins with those taken (tomorrow's beside today's);
a list that repeats periods already taken (`prices` beside `prices_today` and
`prices_tomorrow`) or reads as no prices is left out. No Home Assistant here: this runs
in the executor."""

from __future__ import annotations

from collections.abc import Iterator, Mapping
from dataclasses import dataclass
from datetime import date, datetime
from typing import Any

import kestrava_plan

_DEPTH = 3


@dataclass(frozen=True)
class SensorPrices:
    """The prices read, and what the config flow shows of them."""

    prices: tuple[Any, ...]
    times: tuple[datetime, ...]
    shape: str  # the attribute names the prices came from
    unit: str


def _price_lists(value: Any, path: str, depth: int) -> Iterator[tuple[str, list[Any]]]:
    if isinstance(value, list) and value and all(isinstance(item, Mapping) for item in value):
        yield path, value
    elif isinstance(value, Mapping) and depth < _DEPTH:
        for key, inner in value.items():
            yield from _price_lists(inner, f"{path}.{key}" if path else str(key), depth + 1)


def _unit(attributes: Mapping[str, Any]) -> str:
    unit = attributes.get("unit_of_measurement")
    if isinstance(unit, str) and unit:
        return unit
    currency, per = attributes.get("currency"), attributes.get("unit")
    return "/".join(str(part) for part in (currency, per) if part) or "?"


def _read(lists: list[tuple[str, list[Any]]]) -> tuple[kestrava_plan.PriceRecords, str] | None:
    try:
        records = kestrava_plan.prices_from_records(*(items for _, items in lists))
    except (TypeError, ValueError):
        return None
    return records, " + ".join(path for path, _ in lists)


def _joined(lists: list[tuple[str, list[Any]]]) -> tuple[kestrava_plan.PriceRecords, str] | None:
    """The longest readable list, and each other that joins with those taken."""
    readable = sorted((one for one in lists if _read([one]) is not None), key=lambda one: -len(one[1]))
    taken: list[tuple[str, list[Any]]] = []
    for one in readable:
        if _read([*taken, one]) is not None:
            taken.append(one)
    return _read(sorted(taken, key=lists.index)) if taken else None


def read_sensor_prices(attributes: Mapping[str, Any]) -> SensorPrices:
    """The prices of a sensor's attributes; ValueError saying what was found otherwise."""
    lists = list(_price_lists(attributes, "", 0))
    if not lists:
        raise ValueError("no attribute holds a list of price records")
    found = _joined(lists)
    if found is None:
        names = ", ".join(path for path, _ in lists)
        raise ValueError(f"no price records that read as prices in {names}")
    records, shape = found
    return SensorPrices(tuple(records.prices), tuple(records.times), shape, _unit(attributes))


def periods_on(prices: SensorPrices, day: date, zone: Any) -> int:
    """How many of the periods start on `day` in `zone`."""
    return sum(1 for start in prices.times if start.astimezone(zone).date() == day)
