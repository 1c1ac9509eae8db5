"""Provider JSON: the lists of price objects found anywhere in a JSON document (a Nord
Pool day-ahead answer, a home-automation price sensor's attributes, a price service's
answer), read by `prices_from_records`, joined in time order, and, when their periods
differ in length, split into periods of the finest length.

A list is a list of prices when its first element is an object with a price member
(--column, else one known by name). A list that repeats the prices of another (one
integration's `prices` beside its `prices_today` and `prices_tomorrow`) is left out.
"""

from __future__ import annotations

import math
import re
from collections import deque
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from datetime import datetime, timedelta
from decimal import Decimal
from itertools import pairwise
from typing import Any

from ..message_texts import cut, shown
from ..period_times import duration_text, in_utc
from ..provider_records import (END_KEYS, PRICE_KEYS, PRICE_WORDS, START_KEYS, TIME_WORDS, PriceRecord, _key,
                                joined_records)
from .price_texts import MOST_READ, InputError, PriceList, plain_decimal
from .read_options import ReadOptions

JsonList = tuple[str, list[Any]]  # a list and its path in the document: "raw_today", "data.homes[0].today"
_Price = tuple[datetime, Decimal]  # a price and its start in UTC, to tell the lists that repeat others

# The lengths of the market's periods: without ends, a step of another length between
# two starts is a missing price, not a long period.
_MARKET_PERIODS = frozenset(timedelta(minutes=minutes) for minutes in (5, 10, 15, 30, 60))
# Members listed in a message before the rest is cut.
_LISTED = 8
# The places joined_records names: "lists[1][5]"; and its messages about what one
# record holds, which list the record's members.
_RECORD_PLACE = re.compile(r"lists\[([0-9]+)\]\[([0-9]+)\]")
_ABOUT_A_RECORD = re.compile(r"lists\[([0-9]+)\]\[([0-9]+)\](?:\['[^']*'\])*(?::| has no) ")
# Its refusal of a value that is no price, told in JSON's words.
_NOT_A_PRICE = re.compile(r": (?:.*) is a (NoneType|bool|dict|list), not a price$")
_JSON_KINDS = {"NoneType": "null", "bool": "true or false", "dict": "an object", "list": "a list"}
# Its refusal of a text with a decimal comma, which records never take.
_COMMA_PRICE = re.compile(r"'([+-]?[0-9]+),([0-9]+)' is not a decimal number$")


@dataclass
class Found:
    """The lists of a document, by kind, in document order."""

    records: list[JsonList] = field(default_factory=list)  # of objects with a price member
    others: list[JsonList] = field(default_factory=list)  # of objects without one
    plain: list[str] = field(default_factory=list)  # paths of lists of plain values
    empty: list[str] = field(default_factory=list)  # paths of empty lists


def child(path: str, key: str | int) -> str:
    if isinstance(key, int):
        return f"{path}[{key}]"
    return f"{path}.{key}" if path else key


def place_in(path: str, index: int) -> str:
    """Where element `index` of the list at `path` is, for messages."""
    return child(path, index) if path else f"JSON element {index}"


def members(element: Mapping[str, Any]) -> str:
    names = [shown(name) for name in list(element)[:_LISTED]]
    rest = f", ... ({len(element)} in all)" if len(element) > _LISTED else ""
    return (", ".join(names) + rest) if names else "none"


def price_member(record: Mapping[str, Any], column: str | None) -> str | None:
    if column is not None:
        return column if column in record else None
    return _key(record, PRICE_KEYS, PRICE_WORDS, ())


def _start_member(record: Mapping[str, Any], options: ReadOptions) -> str | None:
    """The start member as prices_from_records finds it."""
    if options.time_column is not None:
        return options.time_column if options.time_column in record else None
    end = next((key for key in END_KEYS if key in record), "")
    return _key(record, START_KEYS, TIME_WORDS, (end, *PRICE_KEYS))


def is_timed(record: Mapping[str, Any], options: ReadOptions) -> bool:
    """Whether a record's start is a time with an offset, an instant to join lists by."""
    key = _start_member(record, options)
    value = record.get(key) if key is not None else None
    if not isinstance(value, str):
        return False
    try:
        return datetime.fromisoformat(value).utcoffset() is not None
    except ValueError:
        return False


def _classify(path: str, items: list[Any], column: str | None, found: Found,
              pending: deque[tuple[str, Any]]) -> None:
    if not items:
        found.empty.append(path)
    elif not isinstance(items[0], dict):
        found.plain.append(path)
    elif price_member(items[0], column) is not None:
        found.records.append((path, items))
    else:
        found.others.append((path, items))
        pending.extend((child(path, index), item) for index, item in enumerate(items))


def find_lists(document: Any, path: str, column: str | None) -> Found:
    """The lists of the document, walked without recursion (a document may be nested as
    deep as the parser allows). A Nord Pool answer is its `multiAreaEntries` alone: its
    block and area averages also carry prices."""
    found = Found()
    pending: deque[tuple[str, Any]] = deque([(path, document)])
    while pending:
        path, node = pending.popleft()
        if isinstance(node, list):
            _classify(path, node, column, found, pending)
        elif isinstance(node, dict):
            entries = node.get("multiAreaEntries")
            if isinstance(entries, list):
                if not entries:
                    raise InputError(f"no prices: {child(path, 'multiAreaEntries')} is empty")
                return Found(records=[(child(path, "multiAreaEntries"), entries)])
            pending.extend((child(path, key), value) for key, value in node.items() if isinstance(value, (list, dict)))
    return found


def nothing_fits(document: Any, found: Found, options: ReadOptions) -> InputError:
    """Why no list of prices was found, with the members there are."""
    if found.others:
        path, items = found.others[0]
        wanted = shown(options.column) if options.column is not None else "that says price"
        return InputError(f"{place_in(path, 0)} has no member {wanted} (its members: {members(items[0])}); "
                          "name the price with --column")
    if found.empty:
        there = f" (the JSON object's members: {members(document)})" if isinstance(document, dict) else ""
        return InputError(f"no prices: {cut(', '.join(path or 'the list' for path in found.empty))} "
                          f"{'is' if len(found.empty) == 1 else 'are'} empty{there}")
    if isinstance(document, dict):
        return InputError(f"the JSON object holds no list of prices (its members: {members(document)}): name the "
                          "list with --column")
    return InputError('the JSON input must be a list of prices or an object with a "prices" list')


def _message(error: Exception, lists: Sequence[JsonList]) -> str:
    """prices_from_records' message in the document's terms: the paths of its lists, the
    command's options, JSON's names of values, and the members of the record."""
    text = str(error)
    about = _ABOUT_A_RECORD.match(text)
    text = _RECORD_PLACE.sub(lambda match: place_in(lists[int(match[1])][0], int(match[2])), text)
    text = text.replace("price_key=(..., NAME)", "--area").replace("price_key=", "--column")
    text = text.replace("time_key=", "--time-column")
    not_price = _NOT_A_PRICE.search(text)
    if not_price is not None:
        text = f"{text[:not_price.start()]}: {_JSON_KINDS[not_price[1]]} is not a price"
    comma = _COMMA_PRICE.search(text)
    if comma is not None:
        return f"{text} (write {comma[1]}.{comma[2]})"
    record = lists[int(about[1])][1][int(about[2])] if about is not None else None
    if isinstance(record, dict) and "its keys" not in text:
        text += f" (its members: {members(record)})"
    return text


def _records(lists: Sequence[JsonList], price_key: str | tuple[str, ...] | None,
             time_key: str | None) -> list[PriceRecord]:
    for path, items in lists:
        strays = [index for index, item in enumerate(items) if not isinstance(item, dict)]
        if strays:
            raise InputError(f"{place_in(path, strays[0])}: {cut(str(items[strays[0]]))} is not an object, "
                             "unlike element 0")
    try:
        return joined_records([items for _, items in lists], price_key, time_key)
    except (ValueError, TypeError) as error:
        raise InputError(_message(error, lists)) from None


def _price_key(lists: Sequence[JsonList], options: ReadOptions) -> str | tuple[str, ...] | None:
    """The price member, and the area when prices are given by area (Nord Pool's
    entryPerArea): --area, else the only one."""
    path, items = lists[0]
    member = price_member(items[0], options.column)
    by_area = items[0][member] if member is not None else None
    if member is None or not isinstance(by_area, dict):
        if options.area is not None:
            raise InputError(f"--area {options.area}: {place_in(path, 0)}[{member!r}] is a price, not prices by area; "
                             "leave --area out")
        return options.column
    where = f"{place_in(path, 0)}[{member!r}]"
    if options.area is None:
        if len(by_area) == 1:
            return (member, next(iter(by_area)))
        raise InputError(f"{where} holds the prices of {len(by_area)} areas ({members(by_area)}): choose one "
                         "with --area")
    if options.area not in by_area:
        raise InputError(f"no area {shown(options.area)}: {where} has {members(by_area)}")
    return (member, options.area)


def _without_repeats(lists: list[JsonList], price_key: str | tuple[str, ...] | None,
                     time_key: str | None) -> list[JsonList]:
    """The lists less each whose prices another list holds as well, the first of equal
    lists kept, in time linear in the records.

    Each price goes to the first list holding it, largest first and then in document
    order. A list whose prices all went to one other list is held by that list, so it is
    left out. When the lists that stay join without overlap, a list held by another is
    held by the one that stays, which is the first holder of each of its prices: so
    exactly the lists held by another are left out. Otherwise fewer are, and the join
    refuses the overlap all the same.
    """
    if len(lists) == 1:
        return lists
    held = [{(in_utc(record.start), record.price) for record in _records([items], price_key, time_key)}
            for items in lists]
    owner: dict[_Price, int] = {}
    for index in sorted(range(len(held)), key=lambda index: (-len(held[index]), index)):
        for price in held[index]:
            owner.setdefault(price, index)
    return [items for index, items in enumerate(lists) if not _held_by_another(index, held[index], owner)]


def _held_by_another(index: int, prices: set[_Price], owner: dict[_Price, int]) -> bool:
    first = owner[next(iter(prices))]
    return first != index and all(owner[price] == first for price in prices)


def _time_text(moment: datetime) -> str:
    text = moment.isoformat()
    return f"{text[:-6]}Z" if text.endswith("+00:00") else text


def _lengths(records: Sequence[PriceRecord], has_ends: bool) -> list[timedelta]:
    """Each period's length: to the next start, the last one's to its end, else that of
    the one before. Records without ends are known only by their starts: a step of no
    market length is a gap."""
    steps = [in_utc(after.start) - in_utc(this.start) for this, after in pairwise(records)]
    if not has_ends and len(set(steps)) > 1:
        for this, after, step in zip(records, records[1:], steps):
            if step not in _MARKET_PERIODS:
                raise InputError(f"the price from {_time_text(after.start)} starts {duration_text(step)} after the "
                                 f"one before it, from {_time_text(this.start)}, and the records give no end: is a "
                                 "price missing?")
    last = records[-1]
    return steps + [in_utc(last.end) - in_utc(last.start) if last.end is not None else steps[-1]]


def _split(records: Sequence[PriceRecord],
           lengths: list[timedelta]) -> tuple[list[Decimal], list[datetime], str | None]:
    """Each price once for each finest period it covers, and the note that says so;
    InputError when that makes more periods than a document is read for."""
    if len(set(lengths)) <= 1:
        return [record.price for record in records], [record.start for record in records], None
    finest = timedelta(microseconds=math.gcd(*(length // timedelta(microseconds=1) for length in lengths)))
    kinds = " and ".join(duration_text(length) for length in sorted(set(lengths), reverse=True))
    count = sum(length // finest for length in lengths)
    if count > MOST_READ:
        raise InputError(f"the input mixes periods of {kinds}: in periods of {duration_text(finest)} that is "
                         f"{count:,} periods, more than the {MOST_READ:,} read")
    prices, times = [], []
    for record, length in zip(records, lengths):
        for part in range(length // finest):
            prices.append(record.price)
            times.append((in_utc(record.start) + part * finest).astimezone(record.start.tzinfo))
    note = (f"the input mixes periods of {kinds}: planned in the {len(prices)} periods of {duration_text(finest)}, "
            "each longer period's price standing for each of its parts")
    return prices, times, note


def record_prices(lists: list[JsonList], options: ReadOptions) -> PriceList:
    """The prices of lists of timed price objects, joined in time order."""
    price_key = _price_key(lists, options)
    lists = _without_repeats(lists, price_key, options.time_column)
    records = _records(lists, price_key, options.time_column)
    has_ends = any(key in items[0] for _, items in lists for key in END_KEYS)
    lengths = _lengths(records, has_ends) if len(records) > 1 else []
    prices, times, note = _split(records, lengths)
    texts, places = [], []
    for price, time in zip(prices, times):
        place = f"the JSON price from {_time_text(time)}"
        text = plain_decimal(str(price))
        if text is None:
            raise InputError(f"{place}: {cut(str(price))} is too large or too small to write out as a decimal")
        texts.append(text)
        places.append(place)
    # A Nord Pool area names its bidding zone, whose clock shows the times by default.
    area = price_key[-1] if isinstance(price_key, tuple) else None
    return PriceList(texts, places, [_time_text(time) for time in times], decimal_comma=False, note=note, area=area,
                     comma_option=False)
