"""Reading the command's input: the format chosen and the rows chosen. The CSV reader
is in `csv_prices`, the JSON reader in `json_prices`, the ENTSO-E XML document's in
`entsoe`; each gives the price texts in order with the place of each in the file and,
when the input has them, the times.

Prices stay texts from the file to the planner, so no value is ever rounded on the way.
CSV is read row by row, and can be handed on so (`read_price_rows`); JSON and XML are
read whole, so their length is bounded.
"""

from __future__ import annotations

from pathlib import Path
from typing import TextIO

from .csv_prices import SNIFFED_LINES, read_csv_prices, stream_csv_prices
from .entsoe import read_publication_document
from .json_prices import read_json_prices
from .price_texts import InputError, PriceList, PriceRows, too_many
from .read_options import ReadOptions
from .source_text import Lines

__all__ = ["LONGEST_DOCUMENT", "format_for", "read_json_prices", "read_price_rows", "read_prices"]

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


def _planned(prices: PriceList, options: ReadOptions) -> PriceList:
    chosen = prices.sliced(options.rows) if options.rows is not None else prices
    if len(chosen.written) > options.most:
        raise too_many(chosen.places[options.most], options.most, chosen.times is not None)
    return chosen


def _format_of(lines: Lines, options: ReadOptions) -> str:
    """The format named, or, for "auto", the one the first character says: [ or { is
    JSON, < is XML, else CSV; InputError for --area given to a format without areas."""
    input_format = options.input_format
    if input_format == "auto":
        first = "".join(lines.ahead(SNIFFED_LINES)).lstrip()[:1]
        input_format = "json" if first in ("[", "{") else "xml" if first == "<" else "csv"
    if options.area is not None and input_format != "json":
        raise InputError(f"--area {options.area}: only JSON prices are given by area; leave --area out")
    return input_format


def _read_whole(lines: Lines, input_format: str, options: ReadOptions) -> PriceList:
    if input_format == "json":
        return _planned(read_json_prices(_document(lines, input_format), options), options)
    return _planned(read_publication_document(_document(lines, input_format), options.series), options)


def read_prices(source: str | TextIO, options: ReadOptions) -> PriceList:
    """The prices of the rows `options.rows` of a text in the format named, or, for
    "auto", the one its first character says."""
    lines = Lines(source)
    input_format = _format_of(lines, options)
    return read_csv_prices(lines, options) if input_format == "csv" else _read_whole(lines, input_format, options)


def read_price_rows(source: str | TextIO, options: ReadOptions) -> PriceRows:
    """The prices of `read_prices`, handed on as they are read: CSV row by row, JSON
    and XML after the whole document."""
    lines = Lines(source)
    input_format = _format_of(lines, options)
    if input_format == "csv":
        return stream_csv_prices(lines, options)
    return PriceRows.of(_read_whole(lines, input_format, options))
