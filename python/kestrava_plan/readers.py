"""Readers of the command's input: CSV (comma, semicolon or tab, decimal points or
commas) and JSON here, the ENTSO-E XML document in `entsoe`; each gives the price texts
in order with the place of each in the file and, when the input has them, the times.

Prices stay texts from the file to the planner, so no value is ever rounded on the way.
"""

from __future__ import annotations

import csv
import io
import json
import re
from collections.abc import Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any

from .entsoe import read_publication_document
from .price_texts import InputError, PriceList, looks_like_decimal_commas, plain_decimal

# A cell that starts like a number (optional sign, optional point, then a digit)
# marks a data row; a first row without any such cell is a header.
_NUMBER_START = re.compile(r"^[+-]?\.?[0-9]")
# Header words that name a price or a time column, in the languages of the markets.
_PRICE_WORDS = ("price", "preis", "prijs", "prix", "pris", "precio", "prezzo", "cena", "hinta")
_TIME_WORDS = ("time", "date", "zeit", "datum", "tijd", "heure", "fecha", "start", "from", "mtu", "hour",
               "stunde", "uur", "delivery")
# A cell that looks like a date (2024-04-21, 21.04.2024, 04/21/2024) or a clock time.
_TIME_VALUE = re.compile(r"[0-9]{1,4}[-./][0-9]{1,2}[-./][0-9]{1,4}|[0-9]{1,2}:[0-9]{2}")
DELIMITERS = {",": ",", ";": ";", "tab": "\t", "\\t": "\t", "\t": "\t"}
_SNIFFED_LINES = 50


@dataclass(frozen=True)
class ReadOptions:
    input_format: str = "auto"  # auto, csv, json or xml
    column: str | None = None  # the price column or JSON member
    time_column: str | None = None  # the time column or JSON member
    header: bool | None = None  # None: detected
    delimiter: str | None = None  # None: sniffed
    decimal_comma: bool | None = None  # None: on for a semicolon or tab file written so
    series: int = 1  # XML: the classification position of the time series


def format_for(source: str, requested: str) -> str:
    """The input format by the file suffix, when not named; "auto" when unknown."""
    if requested != "auto" or source == "-":
        return requested
    suffix = Path(source).suffix.lower()
    return {".json": "json", ".csv": "csv", ".tsv": "csv", ".txt": "csv", ".xml": "xml"}.get(suffix, "auto")


def read_prices(text: str, options: ReadOptions) -> PriceList:
    input_format = options.input_format
    if input_format == "auto":
        first = text.lstrip()[:1]
        input_format = "json" if first in ("[", "{") else "xml" if first == "<" else "csv"
    if input_format == "json":
        return read_json_prices(text, options)
    if input_format == "xml":
        return read_publication_document(text, options.series)
    return read_csv_prices(text, options)


# ---------------------------------------------------------------------------
# CSV


def sniff_delimiter(text: str) -> str:
    """The first of tab, semicolon and comma that splits every one of the first lines
    into the same number of cells, more than one; a comma when none does."""
    sample = [line for line in text.splitlines()[:_SNIFFED_LINES] if line.strip()]
    for candidate in ("\t", ";", ","):
        widths = {len(row) for row in csv.reader(sample, delimiter=candidate)}
        if len(widths) == 1 and widths.pop() > 1:
            return candidate
    return ","


def _delimiter_of(text: str, named: str | None) -> str:
    if named is None:
        return sniff_delimiter(text)
    if named not in DELIMITERS:
        raise InputError(f"unknown delimiter {named!r}: use ',', ';' or 'tab'")
    return DELIMITERS[named]


def _column_by_option(option: str, header: Sequence[str] | None, width: int) -> int:
    if option.lstrip("-").isdigit():
        index = int(option)
        if not -width <= index < width:
            raise InputError(f"column {index} is out of range: the rows have {width} columns")
        return index % width
    if header is None:
        raise InputError(f"column {option!r} named, but the CSV input has no header row")
    if option not in header:
        raise InputError(f"no column {option!r}; the header has {', '.join(map(repr, header))}")
    return list(header).index(option)


def _named_like(header: Sequence[str] | None, words: Sequence[str], skip: int | None) -> int | None:
    for index, name in enumerate(header or ()):
        if index != skip and any(word in name.lower() for word in words):
            return index
    return None


def _time_column(header: Sequence[str] | None, first_row: Sequence[str], width: int,
                 option: str | None, price: int | None) -> int | None:
    if option is not None:
        return _column_by_option(option, header, width)
    named = _named_like(header, _TIME_WORDS, price)
    if named is not None:
        return named
    for index, cell in enumerate(first_row[:width]):
        if index != price and _TIME_VALUE.search(cell):
            return index
    return None


def _columns(header: Sequence[str] | None, first_row: Sequence[str], options: ReadOptions) -> tuple[int, int | None]:
    """(price column, time column or None): as named by the options, else the only
    column, the one whose name says price, or the one beside the time column."""
    width = len(header) if header is not None else len(first_row)
    price: int | None = None
    if options.column is not None:
        price = _column_by_option(options.column, header, width)
    elif width == 1:
        price = 0
    else:
        price = _named_like(header, _PRICE_WORDS, None)
    time = _time_column(header, first_row, width, options.time_column, price)
    if price is None:
        others = [index for index in range(width) if index != time]
        if len(others) != 1:
            raise InputError("the CSV input has several columns; choose one with --column NAME or --column INDEX")
        price = others[0]
    return price, time


def _is_header(row: Sequence[str]) -> bool:
    return not any(_NUMBER_START.match(cell) for cell in row)


def read_csv_prices(text: str, options: ReadOptions) -> PriceList:
    """One CSV column of prices, blank rows skipped, cells stripped of spaces. A row is
    named by its line in the file, counted from 1 with the header."""
    delimiter = _delimiter_of(text, options.delimiter)
    reader = csv.reader(io.StringIO(text), delimiter=delimiter)
    rows = [(reader.line_num, [cell.strip() for cell in row]) for row in reader]
    rows = [(line, row) for line, row in rows if any(row)]
    if not rows:
        raise InputError("no prices: the input is empty")
    header: list[str] | None = None
    if options.header is True or (options.header is None and _is_header(rows[0][1])):
        header, rows = rows[0][1], rows[1:]
        if not rows:
            raise InputError("no prices: the CSV input has a header row but no data rows")
    price, time = _columns(header, rows[0][1], options)
    name = repr(header[price]) if header is not None else str(price)
    written, places, times = [], [], []
    for line, row in rows:
        if price >= len(row) or (time is not None and time >= len(row)):
            raise InputError(f"row {line} has {len(row)} {'cell' if len(row) == 1 else 'cells'}, too few "
                             f"for column {name}")
        written.append(row[price])
        places.append(f"row {line}, column {name}")
        if time is not None:
            times.append(row[time])
    decimal_comma = options.decimal_comma
    if decimal_comma is None:
        decimal_comma = delimiter in (";", "\t") and looks_like_decimal_commas(written)
    return PriceList(written, places, times if time is not None else None, decimal_comma)


# ---------------------------------------------------------------------------
# JSON


def _json_number(text: str, place: str) -> str:
    """A JSON number as the planner's text: its source text, or, when it has an
    exponent, the same value written out exactly ("1e2" -> "100")."""
    if "e" not in text.lower():
        return text
    written_out = plain_decimal(text)
    if written_out is None:
        raise InputError(f"{place}: {text} is too large or too small to write out as a decimal")
    return written_out


def _json_price(value: Any, place: str) -> str:
    if isinstance(value, _JsonNumber):
        return _json_number(value, place)
    if isinstance(value, str) and not isinstance(value, _JsonConstant):
        return value
    raise InputError(f"{place}: {_shown(value)} is not a price (a number or a decimal text)")


def _shown(value: Any) -> str:
    """A JSON value as its document writes it, numbers in their source text."""
    if isinstance(value, (_JsonNumber, _JsonConstant)):
        return str(value)
    if isinstance(value, list):
        return f"[{', '.join(map(_shown, value))}]"
    if isinstance(value, dict):
        return f"{{{', '.join(f'{json.dumps(key)}: {_shown(item)}' for key, item in value.items())}}}"
    return json.dumps(value)


class _JsonNumber(str):
    """The source text of a JSON number, kept apart from JSON strings."""


class _JsonConstant(str):
    """NaN, Infinity or -Infinity, which JSON readers allow and no price is."""


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
        key = _member(element, options.column, _PRICE_WORDS, None)
        if key is None:
            wanted = options.column if options.column is not None else "price"
            raise InputError(f"{place} has no member {wanted!r}")
        written.append(_json_price(element[key], f"{place}, member {key!r}"))
        places.append(f"{place}, member {key!r}")
        time_key = _member(element, options.time_column, _TIME_WORDS, key)
        if time_key is not None:
            times.append(str(element[time_key]))
    return written, places, times if len(times) == len(written) else None


def read_json_prices(text: str, options: ReadOptions) -> PriceList:
    """The prices of a JSON document: a list of prices, a list of objects holding the
    price under `column` (default: "price", or the first member whose name says price),
    or an object holding the list under `column` (default "prices"). Numbers keep their
    exact source text; a number with an exponent is written out exactly."""
    try:
        document = json.loads(text, parse_float=_JsonNumber, parse_int=_JsonNumber, parse_constant=_JsonConstant)
    except json.JSONDecodeError as error:
        raise InputError(f"invalid JSON: {error}") from None
    if isinstance(document, dict):
        key = options.column if options.column is not None else "prices"
        if key not in document:
            raise InputError(f"the JSON object has no member {key!r}")
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
