"""The command's JSON reader: a list of prices, an object holding one, or the price
lists of a provider's document wherever they sit (read in `provider_json`).

Numbers keep their exact source text from the document to the planner; a number with
an exponent is written out exactly.
"""

from __future__ import annotations

import json
import sys
from collections.abc import Callable, Sequence
from dataclasses import replace
from typing import Any

from ..message_texts import cut, shown
from ..provider_records import TIME_WORDS
from .price_texts import MOST_READ, InputError, PriceList, plain_decimal
from .provider_json import (Found, JsonList, child, find_lists, is_timed, members, nothing_fits, place_in,
                            price_member, record_prices)
from .read_options import ReadOptions


def _json_number(text: str, place: str) -> str:
    """A JSON number as the planner's text: its source text, or, when it has an
    exponent, the same value written out exactly ("1e2" -> "100")."""
    if "e" not in text.lower():
        return text
    written_out = plain_decimal(text)
    if written_out is None:
        raise InputError(f"{place}: {cut(text)} is too large or too small to write out as a decimal")
    return written_out


def _json_price(value: Any, place: str, decimal_comma: bool) -> str:
    """A price as the list's texts write it: a JSON number writes a point whatever
    --decimal-comma says of the texts, so with it on the point becomes the comma that
    the texts' one conversion reads."""
    if isinstance(value, _JsonNumber):
        number = _json_number(value, place)
        return number.replace(".", ",") if decimal_comma else number
    if isinstance(value, str) and not isinstance(value, _JsonConstant):
        return value
    raise InputError(f"{place}: {_shown(value)} is not a price (a number or a decimal text)")


# A number or a string longer than this is shown cut short.
_CUT = 40


def _shown(value: Any, depth: int = 0) -> str:
    """A JSON value as its document writes it, numbers in their source text, cut short:
    three items of a list or an object, three levels deep."""
    if isinstance(value, (list, dict)) and depth == 3:
        return "[...]" if isinstance(value, list) else "{...}"
    if isinstance(value, list):
        items = [_shown(item, depth + 1) for item in value[:3]] + (["..."] if len(value) > 3 else [])
        return f"[{', '.join(items)}]"
    if isinstance(value, dict):
        members = [f"{json.dumps(key)[:_CUT]}: {_shown(item, depth + 1)}" for key, item in list(value.items())[:3]]
        return f"{{{', '.join(members + (['...'] if len(value) > 3 else []))}}}"
    text = str(value) if isinstance(value, (_JsonNumber, _JsonConstant)) else json.dumps(value)
    return text if len(text) <= _CUT else f"{text[:_CUT - 3]}..."


class _JsonNumber(str):
    """The source text of a JSON number, kept apart from JSON strings."""

    __slots__ = ()


def _counted(make: Callable[[str], str]) -> Callable[[str], str]:
    """`make`, refusing the document at its number past MOST_READ: a JSON number costs
    far more memory than its text."""
    count = 0

    def number(text: str) -> str:
        nonlocal count
        count += 1
        if count > MOST_READ:
            raise InputError(f"the JSON input holds more than {MOST_READ:,} numbers, more than is read: split it")
        return make(text)
    return number


class _JsonConstant(str):
    """NaN, Infinity or -Infinity, which JSON readers allow and no price is."""

    __slots__ = ()


def _member(element: dict[str, Any], option: str | None, words: Sequence[str], skip: str | None) -> str | None:
    if option is not None:
        return option if option in element else None
    return next((key for key in element if key != skip and any(word in key.lower() for word in words)), None)


def _object_rows(items: JsonList, options: ReadOptions) -> PriceList:
    """The prices of a list of objects in the list's order, the times as written: for
    objects without times, or with times that name no instant."""
    path, document = items
    written, places, times = [], [], []
    for position, element in enumerate(document):
        place = place_in(path, position)
        if not isinstance(element, dict):
            raise InputError(f"{place}: {_shown(element)} is not an object, unlike element 0")
        key = price_member(element, options.column)
        if key is None:
            wanted = shown(options.column) if options.column is not None else "that says price"
            raise InputError(f"{place} has no member {wanted} (its members: {members(element)}); "
                             "name it with --column")
        written.append(_json_price(element[key], f"{place}, member {shown(key)}", bool(options.decimal_comma)))
        places.append(f"{place}, member {shown(key)}")
        time_key = _member(element, options.time_column, TIME_WORDS, key)
        if time_key is None and options.time_column is not None:
            raise InputError(f"{place} has no member {shown(options.time_column)} (its members: {members(element)}); "
                             "name the time with --time-column")
        if time_key is not None:
            times.append(str(element[time_key]))
    return PriceList(written, places, times if len(times) == len(written) else None, bool(options.decimal_comma))


def _plain_values(items: JsonList, options: ReadOptions) -> PriceList:
    path, document = items
    places = [place_in(path, position) for position in range(len(document))]
    written = [_json_price(value, place, bool(options.decimal_comma)) for value, place in zip(document, places)]
    return PriceList(written, places, None, bool(options.decimal_comma))


def _parsed(text: str) -> Any:
    number = _counted(_JsonNumber)
    try:
        return json.loads(text, parse_float=number, parse_int=number, parse_constant=_counted(_JsonConstant))
    except json.JSONDecodeError as error:
        raise InputError(f"invalid JSON: {error}") from None
    except RecursionError:
        raise InputError(f"the JSON input is nested more than {sys.getrecursionlimit()} levels deep, which no "
                         "list of prices is") from None


def _by_area_refused(options: ReadOptions) -> None:
    if options.area is not None:
        raise InputError(f"--area {options.area}: the input holds no prices by area (as a Nord Pool answer's "
                         "entryPerArea does); leave --area out")


def _found_prices(document: Any, path: str, options: ReadOptions) -> PriceList:
    """The prices of a document or of the list --column names, by the first shape that fits."""
    if isinstance(document, list) and document and not isinstance(document[0], dict):
        _by_area_refused(options)
        return _plain_values((path, document), options)
    found: Found = find_lists(document, path, options.column)
    timed = [items for items in found.records if is_timed(items[1][0], options)]
    if timed:
        return record_prices(timed, options)
    _by_area_refused(options)
    if len(found.records) == 1:
        return _object_rows(found.records[0], options)
    if found.records:
        paths = ", ".join(path or "the top-level list" for path, _ in found.records)
        raise InputError(f"{len(found.records)} lists of prices and no times to join them by ({cut(paths)}): "
                         "name one with --column")
    if isinstance(document, dict) and isinstance(document.get("prices"), list) and document["prices"]:
        return _found_prices(document["prices"], child(path, "prices"), options)
    raise nothing_fits(document, found, options)


def read_json_prices(text: str, options: ReadOptions) -> PriceList:
    """The prices of a JSON document: a list of prices; the list under `column` of an
    object; a list of objects holding the price under `column` (default: the first
    member whose name says price); or the lists of price objects with times anywhere in
    the document (a provider's answer), joined in time order. Numbers keep their exact
    source text; a number with an exponent is written out exactly."""
    document = _parsed(text)
    if isinstance(document, dict) and options.column is not None and isinstance(document.get(options.column), list):
        named = document[options.column]
        if not named:
            raise InputError(f"no prices: the JSON list {shown(options.column)} is empty")
        return _found_prices(named, options.column, replace(options, column=None))
    if document == []:
        raise InputError("no prices: the JSON list is empty")
    if not isinstance(document, (list, dict)):
        raise InputError('the JSON input must be a list of prices or an object with a "prices" list')
    return _found_prices(document, "", options)
