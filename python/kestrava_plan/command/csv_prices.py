"""The CSV reader: one column of prices, and maybe one of times, from a file with comma,
semicolon or tab between cells and decimal points or commas.

The rows are read as a stream. The delimiter is sniffed on the first lines and the
decimal comma judged on the first rows and those planned (the first of them, when the
rows are handed on as they are read); only the rows planned are kept, so that a file
of any length is read in memory bounded by what is planned.
"""

from __future__ import annotations

import csv
import itertools
import re
import sys
from collections import deque
from collections.abc import Callable, Iterable, Iterator, Sequence
from typing import NamedTuple, TextIO, TypeVar

from ..message_texts import shown
from ..provider_records import PRICE_WORDS, TIME_WORDS
from .price_texts import MOST_PRICES, InputError, PriceList, PriceRow, PriceRows, looks_like_decimal_commas, too_many
from .read_options import ReadOptions
from .source_text import LONGEST_ROW, Lines, LongRow

# A cell that starts like a number (optional sign, optional point, then a digit)
# marks a data row; a first row without any such cell is a header.
_NUMBER_START = re.compile(r"^[+-]?\.?[0-9]")
# A cell that looks like a date (2024-04-21, 21.04.2024, 04/21/2024) or a clock time.
_TIME_VALUE = re.compile(r"[0-9]{1,4}[-./][0-9]{1,2}[-./][0-9]{1,4}|[0-9]{1,2}:[0-9]{2}")
# A column index as --column takes it; ASCII digits only, as int() reads them.
_INDEX = re.compile(r"-?[0-9]{1,9}")
DELIMITERS = {",": ",", ";": ";", "tab": "\t", "\\t": "\t", "\t": "\t"}
SNIFFED_LINES = 50
# Far longer than any price or time; a longer cell is another kind of file.
LONGEST_CELL = 1000

_Item = TypeVar("_Item")


class _Row(NamedTuple):
    line: int  # the line of the file, counted from 1 with the header
    price: str
    time: str | None


def sniff_delimiter(text: str) -> str:
    """The first of tab, semicolon and comma that splits every one of the first lines
    into the same number of cells, more than one; a comma when none does."""
    sample = [line for line in text.splitlines()[:SNIFFED_LINES] if line.strip()]
    for candidate in ("\t", ";", ","):
        try:
            widths = {len(row) for row in csv.reader(sample, delimiter=candidate)}
        except csv.Error:
            continue
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
    if _INDEX.fullmatch(option):
        index = int(option)
        if not -width <= index < width:
            raise InputError(f"column {index} is out of range: the rows have {width} columns")
        return index % width
    if header is None:
        raise InputError(f"column {shown(option)} named, but the CSV input has no header row")
    if option not in header:
        names = ", ".join(map(shown, header[:10])) + (", ..." if len(header) > 10 else "")
        raise InputError(f"no column {shown(option)}; the header has {names}")
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
    named = _named_like(header, TIME_WORDS, price)
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
        price = _named_like(header, PRICE_WORDS, None)
    time = _time_column(header, first_row, width, options.time_column, price)
    if price is None:
        others = [index for index in range(width) if index != time]
        if len(others) != 1:
            raise InputError("the CSV input has several columns; choose one with --column NAME or --column INDEX")
        price = others[0]
    return price, time


def _is_header(row: Sequence[str]) -> bool:
    return not any(_NUMBER_START.match(cell) for cell in row)


def _check_cells(line: int, cells: Sequence[str]) -> None:
    for column, cell in enumerate(cells):
        if len(cell) > LONGEST_CELL:
            raise InputError(f"row {line}, column {column}: a cell of more than {LONGEST_CELL} characters is "
                             "refused (no price or time is that long: is this the right file and --delimiter?)")


def _too_long(row: LongRow, delimiter: str) -> InputError:
    """The refusal of a row too long to be read whole: its first long cell, if any."""
    try:
        _check_cells(row.line, next(csv.reader([row.start], delimiter=delimiter), []))
    except csv.Error:
        pass
    except InputError as error:
        return error
    return InputError(f"row {row.line}: a row of more than {LONGEST_ROW} characters is refused (is this the right "
                      "file and --delimiter?)")


def _records(lines: Lines, delimiter: str) -> Iterator[tuple[int, list[str]]]:
    """The rows that are not blank, as (line, cells stripped of spaces); a row is named
    by its last line in the file, counted from 1."""
    reader = csv.reader(lines, delimiter=delimiter)
    try:
        for cells in reader:
            lines.start_row()
            _check_cells(reader.line_num, cells)
            stripped = [cell.strip() for cell in cells]
            if any(stripped):
                yield reader.line_num, stripped
    except LongRow as row:
        raise _too_long(row, delimiter) from None
    except csv.Error as error:
        raise InputError(f"row {reader.line_num + 1}: {error}") from None


def _leading(items: Iterable[_Item], start: int, stop: int | None, refuse: Callable[[_Item], InputError],
             most: int) -> list[_Item]:
    kept: list[_Item] = []
    if stop is not None and stop <= start:
        return kept  # islice would still read up to START
    for item in itertools.islice(items, min(start, sys.maxsize), None if stop is None else min(stop, sys.maxsize)):
        if len(kept) == most:
            raise refuse(item)
        kept.append(item)
    return kept


def _counted_from_end(items: Iterable[_Item], start: int, stop: int | None,
                      refuse: Callable[[_Item], InputError], most: int) -> list[_Item]:
    """Where an end counted from the last row falls is known only when the rows run
    out; meanwhile the rows that may still be chosen are held: the last -START ones,
    or those from START on, refused once more than `most` less the last -STOP are held."""
    held: deque[tuple[int, _Item]] = deque(maxlen=min(-start, sys.maxsize) if start < 0 else None)
    left_at_end = -stop if stop is not None and stop < 0 else 0
    count = 0
    for count, item in enumerate(items, 1):
        if (start >= 0 and count <= start) or (stop is not None and 0 <= stop < count):
            continue
        held.append((count - 1, item))
        if (stop is None or stop < 0) and len(held) - left_at_end > most:
            raise refuse(item)
    chosen = range(count)[start:stop]
    kept = [item for index, item in held if index in chosen]
    if len(kept) > most:
        raise refuse(kept[most])
    return kept


def select_rows(items: Iterable[_Item], rows: slice | None, refuse: Callable[[_Item], InputError],
                most: int = MOST_PRICES) -> list[_Item]:
    """list(items)[rows], read as a stream: no item is read past STOP when it counts from
    the start, and more than `most` chosen are refused, with `refuse(item)`, at the first
    item that makes it certain (or at the end, for a STOP from the start and a START
    from the end)."""
    if rows is not None and rows.step is not None:
        raise ValueError("rows: a slice without a step")
    start = 0 if rows is None or rows.start is None else rows.start
    stop = None if rows is None else rows.stop
    if start >= 0 and (stop is None or stop >= 0):
        return _leading(items, start, stop, refuse, most)
    return _counted_from_end(items, start, stop, refuse, most)


def _noting(rows: Iterable[_Row], first_prices: list[str]) -> Iterator[_Row]:
    """The rows, the prices of the first ones noted on the way for the decimal comma."""
    for row in rows:
        if len(first_prices) < SNIFFED_LINES:
            first_prices.append(row.price)
        yield row


def _header_and_first(records: Iterator[tuple[int, list[str]]],
                      options: ReadOptions) -> tuple[list[str] | None, tuple[int, list[str]]]:
    first = next(records, None)
    if first is None:
        raise InputError("no prices: the input is empty")
    if not (options.header is True or (options.header is None and _is_header(first[1]))):
        return None, first
    data = next(records, None)
    if data is None:
        raise InputError("no prices: the CSV input has a header row but no data rows")
    return first[1], data


class _Column(NamedTuple):
    rows: Iterator[_Row]  # every data row, as it is read
    first_prices: list[str]  # the first prices of the file, noted as they are read
    delimiter: str
    timed: bool  # the rows have a time column
    name: str  # the price column's, for messages

    def place(self, row: _Row) -> str:
        return f"row {row.line}, column {self.name}"

    def refuse(self, most: int) -> Callable[[_Row], InputError]:
        return lambda row: too_many(f"row {row.line}", most, self.timed)

    def decimal_comma(self, options: ReadOptions, planned: list[str]) -> bool:
        """As asked, else judged on the first rows and the first `planned` prices."""
        if options.decimal_comma is not None:
            return options.decimal_comma
        return self.delimiter in (";", "\t") and looks_like_decimal_commas(self.first_prices + planned)


def _column(source: str | TextIO | Lines, options: ReadOptions) -> _Column:
    lines = source if isinstance(source, Lines) else Lines(source)
    delimiter = _delimiter_of("".join(lines.ahead(SNIFFED_LINES)), options.delimiter)
    records = _records(lines, delimiter)
    header, first = _header_and_first(records, options)
    price, time = _columns(header, first[1], options)
    name = shown(header[price]) if header is not None else str(price)

    def picked(line: int, cells: list[str]) -> _Row:
        if price >= len(cells) or (time is not None and time >= len(cells)):
            raise InputError(f"row {line} has {len(cells)} {'cell' if len(cells) == 1 else 'cells'}, too few "
                             f"for column {name}")
        return _Row(line, cells[price], cells[time] if time is not None else None)

    first_prices: list[str] = []
    rows = _noting((picked(line, cells) for line, cells in itertools.chain([first], records)), first_prices)
    return _Column(rows, first_prices, delimiter, time is not None, name)


def read_csv_prices(source: str | TextIO | Lines, options: ReadOptions) -> PriceList:
    """The rows `options.rows` of one CSV column of prices, blank rows skipped, cells
    stripped of spaces. A row is named by its line in the file, counted from 1 with the
    header."""
    column = _column(source, options)
    chosen = select_rows(column.rows, options.rows, column.refuse(options.most), options.most)
    written = [row.price for row in chosen]
    times = [row.time or "" for row in chosen] if column.timed else None
    return PriceList(written, [column.place(row) for row in chosen], times,
                     column.decimal_comma(options, written))


def stream_csv_prices(source: str | TextIO | Lines, options: ReadOptions) -> PriceRows:
    """The rows `options.rows` of one CSV column of prices, as `read_csv_prices` reads
    them, handed on as they are read: only rows counted from the end are held, at most
    `options.most` of them. Decimal commas are judged on the first rows."""
    column = _column(source, options)
    start = 0 if options.rows is None or options.rows.start is None else options.rows.start
    stop = None if options.rows is None else options.rows.stop
    if start < 0 or (stop is not None and stop < 0):
        chosen: Iterator[_Row] = iter(select_rows(column.rows, options.rows, column.refuse(options.most),
                                                  options.most))
    else:
        chosen = itertools.islice(column.rows, min(start, sys.maxsize), None if stop is None else min(stop, sys.maxsize))
    first = list(itertools.islice(chosen, SNIFFED_LINES))
    return PriceRows((PriceRow(row.price, column.place(row), row.time) for row in itertools.chain(first, chosen)),
                     column.timed, column.decimal_comma(options, [row.price for row in first]))
