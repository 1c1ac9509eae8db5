"""The `kestrava-plan` command: plans a day of prices read from CSV, JSON or stdin.

Prices stay texts from the input file to the planner, so no value is ever rounded
on the way. The terminal chart shared with the demo lives here as well
(`render_chart`), so that it ships with the package and needs nothing beyond the
standard library.
"""

from __future__ import annotations

import argparse
import csv
import io
import json
import os
import re
import sys
from collections.abc import Collection, Sequence
from dataclasses import dataclass
from decimal import ROUND_HALF_EVEN, Decimal, InvalidOperation, localcontext
from importlib import metadata
from pathlib import Path
from typing import Any, TextIO

import kestrava

PROGRAM = "kestrava-plan"

# A cell that starts like a number (optional sign, optional point, then a digit)
# marks a data row; a first row without any such cell is a header.
_NUMBER_START = re.compile(r"^[+-]?\.?[0-9]")


class InputError(Exception):
    """The input could not be turned into a list of price texts."""


# ---------------------------------------------------------------------------
# Reading prices


def parse_rows(text: str) -> slice:
    """Turns "START:STOP" (either side may be empty) into a slice of data rows."""
    start_text, colon, stop_text = text.partition(":")
    if not colon:
        raise argparse.ArgumentTypeError(f"expected START:STOP, got {text!r}")
    try:
        start = int(start_text) if start_text.strip() else None
        stop = int(stop_text) if stop_text.strip() else None
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected START:STOP with integers, got {text!r}") from None
    return slice(start, stop)


def _is_header(row: Sequence[str]) -> bool:
    return not any(_NUMBER_START.match(cell) for cell in row)


def _pick_csv_column(header: Sequence[str] | None, width: int, column: str | None) -> int:
    if column is not None:
        if column.lstrip("-").isdigit():
            index = int(column)
            if not -width <= index < width:
                raise InputError(f"column {index} is out of range: the rows have {width} columns")
            return index % width
        if header is None:
            raise InputError(f"column {column!r} named, but the CSV input has no header row")
        if column not in header:
            raise InputError(f"no column {column!r}; the header has {', '.join(map(repr, header))}")
        return list(header).index(column)
    if width == 1:
        return 0
    if header is not None:
        for index, name in enumerate(header):
            if "price" in name.lower():
                return index
    raise InputError("the CSV input has several columns; choose one with --column NAME or --column INDEX")


def read_csv_prices(text: str, column: str | None, header: bool | None) -> list[str]:
    """The price texts of one CSV column, blank rows skipped, cells stripped of spaces.

    `header` None detects a header row: a first row with no cell that starts like a number.
    """
    rows = [[cell.strip() for cell in row] for row in csv.reader(io.StringIO(text))]
    rows = [row for row in rows if any(row)]
    if not rows:
        return []
    names: list[str] | None = None
    if header is True or (header is None and _is_header(rows[0])):
        names, rows = rows[0], rows[1:]
    width = len(names) if names is not None else len(rows[0])
    index = _pick_csv_column(names, width, column)
    prices = []
    for number, row in enumerate(rows, start=2 if names is not None else 1):
        if index >= len(row):
            raise InputError(f"CSV row {number} has no column {index}")
        prices.append(row[index])
    return prices


def read_json_prices(text: str, column: str | None) -> list[Any]:
    """The prices of a JSON document: a list of prices, a list of objects holding the
    price under `column` (default "price"), or an object holding the list under
    `column` (default "prices"). Numbers keep their exact source text."""
    try:
        document = json.loads(text, parse_float=str, parse_int=str, parse_constant=str)
    except json.JSONDecodeError as error:
        raise InputError(f"invalid JSON: {error}") from None
    if isinstance(document, dict):
        key = column if column is not None else "prices"
        if key not in document:
            raise InputError(f"the JSON object has no member {key!r}")
        document = document[key]
        column = None
    if not isinstance(document, list):
        raise InputError('the JSON input must be a list of prices or an object with a "prices" list')
    prices: list[Any] = []
    for position, element in enumerate(document):
        if isinstance(element, dict):
            key = column if column is not None else "price"
            if key not in element:
                raise InputError(f"JSON element {position} has no member {key!r}")
            element = element[key]
        # Anything else (null, true, a nested list) goes to the planner as it is,
        # which answers with its own message for a price that is not text.
        prices.append(element)
    return prices


def read_prices(text: str, input_format: str, column: str | None, header: bool | None) -> list[Any]:
    if input_format == "auto":
        input_format = "json" if text.lstrip()[:1] in ("[", "{") else "csv"
    if input_format == "json":
        return read_json_prices(text, column)
    return read_csv_prices(text, column, header)


# ---------------------------------------------------------------------------
# The terminal chart


@dataclass(frozen=True)
class Glyphs:
    chosen: str  # bar cell of a chosen period
    other: str  # bar cell of a period left out
    threshold: str  # the threshold line, drawn over the bars
    mark: str  # the marker column of a chosen period


UNICODE_GLYPHS = Glyphs(chosen="█", other="░", threshold="│", mark="●")
ASCII_GLYPHS = Glyphs(chosen="#", other=".", threshold="|", mark="*")


def glyphs_for(stream: TextIO) -> Glyphs:
    """The box-drawing glyphs when the stream can encode them, plain ASCII otherwise."""
    encoding = getattr(stream, "encoding", None) or "ascii"
    try:
        "".join(vars(UNICODE_GLYPHS).values()).encode(encoding)
    except (UnicodeEncodeError, LookupError):
        return ASCII_GLYPHS
    return UNICODE_GLYPHS


def decimal_of(text: str) -> Decimal:
    """The exact value of a price text that the planner accepted (underscores are
    digit separators there)."""
    try:
        return Decimal(text.replace("_", ""))
    except InvalidOperation:
        raise ValueError(f"not a decimal text: {text!r}") from None


def render_chart(
    prices: Sequence[str],
    chosen: Collection[int],
    threshold: str,
    *,
    labels: Sequence[str] | None = None,
    width: int = 48,
    glyphs: Glyphs = UNICODE_GLYPHS,
    color: bool = False,
) -> str:
    """One horizontal bar per period, from zero to its price; chosen periods drawn
    solid and marked, the others shaded; the threshold as a vertical line."""
    if width < 2:
        raise ValueError("the chart needs a width of at least 2")
    values = [decimal_of(price) for price in prices]
    limit = decimal_of(threshold)
    low = min([Decimal(0), limit, *values])
    high = max([Decimal(0), limit, *values])
    span = high - low if high != low else Decimal(1)

    def column(value: Decimal) -> int:
        # Plenty of digits: the scaling itself must not round before the last step.
        with localcontext() as context:
            context.prec = 60
            return int(((value - low) * width / span).to_integral_value(ROUND_HALF_EVEN))

    zero = column(Decimal(0))
    # Keep a cell on each side of zero that has prices, so a tiny price still shows.
    if low < 0:
        zero = max(zero, 1)
    if high > 0:
        zero = min(zero, width - 1)
    line = column(limit)
    texts = [str(label) for label in labels] if labels is not None else [str(i) for i in range(len(prices))]
    label_width = max((len(text) for text in texts), default=1)
    price_width = max((len(price) for price in prices), default=1)
    paint_on, paint_off = ("\x1b[1;32m", "\x1b[0m") if color else ("", "")

    rows = []
    # The scale above the bars: the lowest value at the left, zero where the
    # bars start (when prices go negative), the highest value at the right.
    axis = [" "] * (width + 1)
    high_text = _plain(high)
    scale_marks = [(0, _plain(low))]
    if low < 0:
        scale_marks.append((zero, "0"))
    scale_marks.append((width + 1 - len(high_text), high_text))
    for position, text in scale_marks:
        for offset, char in enumerate(text):
            if 0 <= position + offset <= width:
                axis[position + offset] = char
    rows.append(f"{'':>{label_width}} {'':>{price_width}}   {''.join(axis).rstrip()}")
    for index, (text, price, value) in enumerate(zip(texts, prices, values)):
        cells = [" "] * (width + 1)
        end = column(value)
        if value > 0:
            span_cells = range(zero, max(end, zero + 1))
        elif value < 0:
            span_cells = range(max(0, min(end, zero - 1)), zero)
        else:
            span_cells = range(0)
        is_chosen = index in chosen
        for cell in span_cells:
            cells[cell] = glyphs.chosen if is_chosen else glyphs.other
        cells[line] = glyphs.threshold
        bar = "".join(cells).rstrip()
        if is_chosen and color:
            bar = paint_on + bar + paint_off
        mark = glyphs.mark if is_chosen else " "
        rows.append(f"{text:>{label_width}} {price:>{price_width}} {mark} {bar}")
    legend = (
        f"{glyphs.mark} {glyphs.chosen} chosen ({len(chosen)})   {glyphs.other} left out   "
        f"{glyphs.threshold} threshold {threshold} (cheap at or below)"
    )
    rows.append(f"{'':>{label_width}} {'':>{price_width}}   {legend}")
    return "\n".join(rows)


def _plain(value: Decimal) -> str:
    return format(value.normalize(), "f")


# ---------------------------------------------------------------------------
# The command


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description="Choose the cheapest periods of a day of prices (at most 28 periods) "
        "under timing rules, and print their zero-based indices.",
        epilog="Exit status: 0 on success, 2 on any error (the planner's own message is printed).",
    )
    parser.add_argument("source", nargs="?", default="-", help="a CSV or JSON file; - or nothing reads stdin")
    parser.add_argument("--version", action="version", version=f"%(prog)s {_version()}")
    source = parser.add_argument_group("input")
    source.add_argument(
        "--format", dest="input_format", choices=("auto", "csv", "json"), default="auto",
        help="input format; auto: by the file suffix (.json, .csv), else JSON when the text starts with [ or {",
    )
    source.add_argument(
        "--column",
        help="CSV: the price column, by header name or zero-based index (default: the only column, "
        "or the first whose name contains 'price'); JSON: the member holding the price(s)",
    )
    source.add_argument("--no-header", dest="header", action="store_const", const=False, default=None,
                        help="CSV: the first row is data (default: detected)")
    source.add_argument("--rows", type=parse_rows, metavar="START:STOP", help="use only the data rows START:STOP (zero-based, like a slice)")
    rules = parser.add_argument_group("planning (named like the function's parameters)")
    rules.add_argument("--low-price-threshold", required=True, metavar="PRICE",
                       help="periods priced at or below this decimal text are cheap")
    rules.add_argument("--min-selections", type=int, required=True, metavar="N",
                       help="choose at least N periods")
    rules.add_argument("--min-consecutive-periods", type=int, required=True, metavar="N",
                       help="every run of adjacent chosen periods is at least N long")
    rules.add_argument("--max-gap-between-periods", type=int, default=0, metavar="N",
                       help="no gap between runs, nor after the last run, is longer than N (default 0)")
    rules.add_argument("--max-gap-from-start", type=int, default=0, metavar="N",
                       help="the first chosen period is at most N periods in (default 0)")
    rules.add_argument("--aggressive", action=argparse.BooleanOptionalAction, default=True,
                       help="lowest average price (default); --no-aggressive: cheapest base plan "
                       "plus the most cheap periods")
    output = parser.add_argument_group("output").add_mutually_exclusive_group()
    output.add_argument("--json", action="store_true", help='print {"indices": [...]} as JSON')
    output.add_argument("--chart", action="store_true", help="also draw the prices with the chosen periods")
    parser.add_argument("--color", choices=("auto", "always", "never"), default="auto",
                        help="colour the chart's chosen bars (auto: on a terminal, unless NO_COLOR is set)")
    return parser


def _version() -> str:
    try:
        return metadata.version("kestrava")
    except metadata.PackageNotFoundError:
        return "unknown"


def _read_source(source: str) -> str:
    if source == "-":
        return sys.stdin.read()
    try:
        return Path(source).read_text(encoding="utf-8-sig")
    except OSError as error:
        raise InputError(f"cannot read {source}: {error.strerror or error}") from None


def _format_for(source: str, requested: str) -> str:
    if requested != "auto" or source == "-":
        return requested
    suffix = Path(source).suffix.lower()
    return {".json": "json", ".csv": "csv"}.get(suffix, "auto")


def _fail(message: str) -> int:
    print(f"{PROGRAM}: error: {message}", file=sys.stderr)
    return 2


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        prices = read_prices(_read_source(args.source), _format_for(args.source, args.input_format),
                             args.column, args.header)
    except InputError as error:
        return _fail(str(error))
    if args.rows is not None:
        prices = prices[args.rows]
    try:
        chosen = kestrava.get_cheapest_periods(
            prices,
            args.low_price_threshold,
            args.min_selections,
            args.min_consecutive_periods,
            args.max_gap_between_periods,
            args.max_gap_from_start,
            args.aggressive,
        )
    except (ValueError, TypeError, OverflowError) as error:
        return _fail(str(error))
    except BaseException as error:
        # An internal failure of the planner (an exact sum that overflows) derives
        # from BaseException; it is reported like any other error of the request.
        if type(error).__name__ != "PanicException":
            raise
        return _fail(str(error))

    if args.json:
        print(json.dumps({"indices": chosen}))
        return 0
    print(" ".join(map(str, chosen)))
    if args.chart:
        color = args.color == "always" or (
            args.color == "auto" and sys.stdout.isatty() and not os.environ.get("NO_COLOR")
        )
        print()
        print(render_chart(prices, set(chosen), args.low_price_threshold,
                           glyphs=glyphs_for(sys.stdout), color=color))
    return 0


if __name__ == "__main__":
    sys.exit(main())
