"""`prices_from_records`: the prices and times of the price lists that price services
hand out, each a list of mappings with a start, maybe an end, and a price. Lists are
joined in time order and must leave no gap or overlap.

Prices come out as exact Decimals: a float, which is what a JSON number becomes, is read
through its shortest repr (0.1 is one tenth, never its binary expansion).
"""

from __future__ import annotations

import math
from collections.abc import Iterable, Mapping, Sequence
from datetime import datetime
from decimal import Decimal
from itertools import pairwise
from typing import Any, NamedTuple

from .message_texts import shown
from .period_times import in_utc
from .price_values import DECIMAL_TEXT, EXPONENT_TEXT, price_value

# Key names of the services, in the order they are looked for; then any key whose name
# says price or time (the command looks for columns and members by the same words).
START_KEYS = ("start", "startsAt", "start_time", "deliveryStart", "valid_from", "time", "hour")
END_KEYS = ("end", "endsAt", "end_time", "deliveryEnd", "valid_to")
PRICE_KEYS = ("price", "value", "total", "value_inc_vat", "entryPerArea")
# The words of a key, column or member name that say price or time, in the languages
# of the markets.
PRICE_WORDS = ("price", "preis", "prijs", "prix", "pris", "precio", "prezzo", "cena", "hinta")
TIME_WORDS = ("time", "date", "zeit", "datum", "tijd", "heure", "fecha", "start", "from", "mtu", "hour",
              "stunde", "uur", "delivery")


class PriceRecords(NamedTuple):
    """The prices and the start of each period, in time order."""

    prices: list[Decimal]
    times: list[datetime]


class PriceRecord(NamedTuple):
    """One record as read: its start, its end when it gives one, and its price."""

    start: datetime
    end: datetime | None
    price: Decimal
    place: str  # "lists[1][5]", for messages


def _key(record: Mapping[str, Any], known: Sequence[str], words: Sequence[str], skip: Sequence[str]) -> str | None:
    found = next((key for key in known if key in record), None)
    if found is not None:
        return found
    return next((key for key in record if isinstance(key, str) and key not in skip
                 and any(word in key.lower() for word in words)), None)


def _missing(place: str, what: str, record: Mapping[str, Any], option: str) -> ValueError:
    keys = ", ".join(map(repr, list(record)[:8]))
    return ValueError(f"{place} has no {what} that is known by name (its keys: {keys}); name it with {option}=")


def _price_object(record: Mapping[str, Any], place: str, price_key: str | tuple[str, ...] | None) -> tuple[Any, str]:
    path = (price_key,) if isinstance(price_key, str) else price_key
    if path is None:
        key = _key(record, PRICE_KEYS, PRICE_WORDS, ())
        if key is None:
            raise _missing(place, "price", record, "price_key")
        path = (key,)
    value: Any = record
    for key in path:
        if not isinstance(value, Mapping) or key not in value:
            raise ValueError(f"{place}{''.join(f'[{k!r}]' for k in path)}: there is no key {key!r}")
        value, place = value[key], f"{place}[{key!r}]"
    if isinstance(value, Mapping):
        # Nord Pool gives the price of each area asked for: one area is the price.
        if len(value) != 1:
            names = ", ".join(map(str, list(value)[:5]))
            raise ValueError(f"{place} holds {len(value)} prices ({names}): name one with price_key=(..., NAME)")
        (name, value), = value.items()
        place = f"{place}[{name!r}]"
    return value, place


def _price(value: Any, place: str) -> Decimal:
    if isinstance(value, bool) or not isinstance(value, (str, int, float, Decimal)):
        raise TypeError(f"{place}: {value!r} is a {type(value).__name__}, not a price")
    if isinstance(value, float) and not math.isfinite(value) or isinstance(value, Decimal) and not value.is_finite():
        raise ValueError(f"{place}: {value} is not a finite number")
    if isinstance(value, str):
        if EXPONENT_TEXT.fullmatch(value):
            return Decimal(value)
        if not DECIMAL_TEXT.fullmatch(value):
            raise ValueError(f"{place}: {shown(value)} is not a decimal number")
    return price_value(value)


def _time(value: Any, place: str) -> datetime:
    if isinstance(value, str):
        try:
            value = datetime.fromisoformat(value)
        except ValueError:
            raise ValueError(f"{place}: {shown(value)} is not an ISO 8601 time") from None
    if not isinstance(value, datetime):
        raise TypeError(f"{place}: {value!r} is a {type(value).__name__}, not a time")
    if value.utcoffset() is None:
        raise ValueError(f"{place}: {value.isoformat()} has no time zone, so its instant is unknown")
    try:
        in_utc(value)
    except OverflowError:
        side = "before year 1" if value.year == 1 else "after year 9999"
        raise ValueError(f"{place}: {shown(value.isoformat())} is out of range: in UTC it falls {side}") from None
    return value


def _record(record: Any, place: str, price_key: str | tuple[str, ...] | None, time_key: str | None) -> PriceRecord:
    if not isinstance(record, Mapping):
        raise TypeError(f"{place}: {record!r:.60} is a {type(record).__name__}, not a mapping")
    end_key = next((key for key in END_KEYS if key in record), None)
    price, price_place = _price_object(record, place, price_key)
    start_key = time_key or _key(record, START_KEYS, TIME_WORDS, (end_key or "", *PRICE_KEYS))
    if start_key is None or start_key not in record:
        raise _missing(place, "start time", record, "time_key") if time_key is None else \
            ValueError(f"{place} has no key {time_key!r}")
    end = record[end_key] if end_key is not None else None
    return PriceRecord(_time(record[start_key], f"{place}[{start_key!r}]"),
                   None if end is None else _time(end, f"{place}[{end_key!r}]"),
                   _price(price, price_place), place)


def _records(lists: Sequence[Any], price_key: str | tuple[str, ...] | None, time_key: str | None) -> list[PriceRecord]:
    records = []
    for number, items in enumerate(lists):
        if isinstance(items, (str, bytes, Mapping)) or not isinstance(items, Iterable):
            raise TypeError(f"lists[{number}] must be a list of mappings, not {type(items).__name__}")
        records += [_record(item, f"lists[{number}][{index}]", price_key, time_key) for index, item in enumerate(items)]
    return records


def _check_joins(records: Sequence[PriceRecord]) -> None:
    for record in records:
        if record.end is not None and in_utc(record.end) <= in_utc(record.start):
            raise ValueError(f"{record.place} ends at {record.end.isoformat()}, not after its start "
                             f"{record.start.isoformat()}")
    for this, after in pairwise(records):
        if in_utc(this.start) == in_utc(after.start):
            raise ValueError(f"two prices for the period starting at {this.start.isoformat()} "
                             f"({this.place} and {after.place})")
        if this.end is None or in_utc(this.end) == in_utc(after.start):
            continue
        if in_utc(this.end) > in_utc(after.start):
            raise ValueError(f"{this.place} ends at {this.end.isoformat()}, after {after.place} starts at "
                             f"{after.start.isoformat()}: the periods overlap")
        raise ValueError(f"no price from {this.end.isoformat()} to {after.start.isoformat()}: {this.place} "
                         f"ends at the first, {after.place} starts at the second")


def joined_records(lists: Sequence[Iterable[Mapping[str, Any]]], price_key: str | tuple[str, ...] | None,
                   time_key: str | None) -> list[PriceRecord]:
    """The records of `lists` in time order, as `prices_from_records` reads and checks them."""
    records = sorted(_records(lists, price_key, time_key), key=lambda record: in_utc(record.start))
    if not records:
        raise ValueError("no price records: the lists are empty")
    _check_joins(records)
    return records


def prices_from_records(*lists: Iterable[Mapping[str, Any]], price_key: str | tuple[str, ...] | None = None,
                        time_key: str | None = None) -> PriceRecords:
    """The prices and times of one or more lists of price records, joined in time order.

    Each record is a mapping with a start (an ISO 8601 text with an offset, or an aware
    datetime), maybe an end, and a price (a number or a decimal text). The keys are found
    by name: start/end/value, time/price, start_time/price, startsAt/total, hour/price,
    valid_from/valid_to/value_inc_vat, deliveryStart/deliveryEnd/entryPerArea, else the
    first whose name says price or time; price_key and time_key name them instead.
    price_key may be a path into nested mappings, ("entryPerArea", "DE-LU"); a price
    held alone in a mapping is taken from it. A missing end is the next start.

    Raises ValueError for periods that overlap, repeat, or leave a gap, naming the time.
    """
    records = joined_records(lists, price_key, time_key)
    return PriceRecords([record.price for record in records], [record.start for record in records])
