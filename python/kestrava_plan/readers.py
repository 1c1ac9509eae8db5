"""Reading the command's input: the format chosen, the rows chosen, and the JSON reader.
The CSV reader is in `csv_prices`, the ENTSO-E XML document's in `entsoe`; each gives
the price texts in order with the place of each in the file and, when the input has
them, the times.

Prices stay texts from the file to the planner, so no value is ever rounded on the way.
CSV is read row by row; JSON and XML are read whole, so their length is bounded.
"""

from __future__ import annotations

import json
import sys
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import Any, TextIO

from .csv_prices import SNIFFED_LINES, read_csv_prices
from .entsoe import read_publication_document
from .price_texts import MOST_PRICES, MOST_READ, InputError, PriceList, cut, plain_decimal, shown, too_many
from .read_options import PRICE_WORDS, TIME_WORDS, ReadOptions
from .source_text import Lines

# The most text of a document read whole: a year of quarter-hours in either format
# is a few MiB.
LONGEST_DOCUMENT = 16 * 2**20


def format_for(source: str, requested: str) -> str:
    """The input format by the file suffix, when not named; "auto" when unknown."""
    if requested != "auto" or source == "-":
        return requested
    suffix = Path(source).suffix.lower()
    return {".json": "json", ".csv": "csv", ".tsv": "csv", ".txt": "csv", ".xml": "xml"}.get(suffix, "auto")


def _document(lines: Lines, input_format: str) -> str:
    text = lines.rest(LONGEST_DOCUMENT)
    if text is None:
        raise InputError(f"the {input_format.upper()} input is longer than {LONGEST_DOCUMENT // 2**20} MiB, more "
                         "than is read whole: split it, or give CSV, which is read row by row")
    return text


def _planned(prices: PriceList, rows: slice | None) -> PriceList:
    chosen = prices.sliced(rows) if rows is not None else prices
    if len(chosen.written) > MOST_PRICES:
        raise too_many(chosen.places[MOST_PRICES])
    return chosen


def read_prices(source: str | TextIO, options: ReadOptions) -> PriceList:
    """The prices of the rows `options.rows` of a text in the format named, or, for
    "auto", the one its first character says: [ or { is JSON, < is XML, else CSV."""
    lines = Lines(source)
    input_format = options.input_format
    if input_format == "auto":
        first = "".join(lines.ahead(SNIFFED_LINES)).lstrip()[:1]
        input_format = "json" if first in ("[", "{") else "xml" if first == "<" else "csv"
    if input_format == "json":
        return _planned(read_json_prices(_document(lines, input_format), options), options.rows)
    if input_format == "xml":
        return _planned(read_publication_document(_document(lines, input_format), options.series), options.rows)
    return read_csv_prices(lines, options)


# ---------------------------------------------------------------------------
# JSON


def _json_number(text: str, place: str) -> str:
    """A JSON number as the planner's text: its source text, or, when it has an
    exponent, the same value written out exactly ("1e2" -> "100")."""
    if "e" not in text.lower():
        return text
    written_out = plain_decimal(text)
    if written_out is None:
        raise InputError(f"{place}: {cut(text)} is too large or too small to write out as a decimal")
    return written_out


def _json_price(value: Any, place: str) -> str:
    if isinstance(value, _JsonNumber):
        return _json_number(value, place)
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


def _object_rows(document: list[Any], options: ReadOptions) -> tuple[list[str], list[str], list[str] | None]:
    written, places, times = [], [], []
    for position, element in enumerate(document):
        place = f"JSON element {position}"
        if not isinstance(element, dict):
            raise InputError(f"{place}: {_shown(element)} is not an object, unlike element 0")
        key = _member(element, options.column, PRICE_WORDS, None)
        if key is None:
            wanted = options.column if options.column is not None else "price"
            raise InputError(f"{place} has no member {shown(wanted)}")
        written.append(_json_price(element[key], f"{place}, member {shown(key)}"))
        places.append(f"{place}, member {shown(key)}")
        time_key = _member(element, options.time_column, TIME_WORDS, key)
        if time_key is not None:
            times.append(str(element[time_key]))
    return written, places, times if len(times) == len(written) else None


def read_json_prices(text: str, options: ReadOptions) -> PriceList:
    """The prices of a JSON document: a list of prices, a list of objects holding the
    price under `column` (default: "price", or the first member whose name says price),
    or an object holding the list under `column` (default "prices"). Numbers keep their
    exact source text; a number with an exponent is written out exactly."""
    number = _counted(_JsonNumber)
    try:
        document = json.loads(text, parse_float=number, parse_int=number, parse_constant=_counted(_JsonConstant))
    except json.JSONDecodeError as error:
        raise InputError(f"invalid JSON: {error}") from None
    except RecursionError:
        raise InputError(f"the JSON input is nested more than {sys.getrecursionlimit()} levels deep, which no "
                         "list of prices is") from None
    if isinstance(document, dict):
        key = options.column if options.column is not None else "prices"
        if key not in document:
            raise InputError(f"the JSON object has no member {shown(key)}")
        document = document[key]
        options = ReadOptions(time_column=options.time_column, decimal_comma=options.decimal_comma)
    if not isinstance(document, list):
        raise InputError('the JSON input must be a list of prices or an object with a "prices" list')
    if not document:
        raise InputError("no prices: the JSON list is empty")
    decimal_comma = bool(options.decimal_comma)
    if isinstance(document[0], dict):
        written, places, times = _object_rows(document, options)
        return PriceList(written, places, times, decimal_comma)
    places = [f"JSON element {position}" for position in range(len(document))]
    written = [_json_price(value, place) for value, place in zip(document, places)]
    return PriceList(written, places, None, decimal_comma)
