"""The `kestrava-plan` command: plans a series of prices read from CSV, JSON, ENTSO-E XML
or stdin with `plan`, and prints the chosen indices or times.

This package holds what only the command needs: its readers (readers, csv_prices,
json_prices, provider_json, entsoe, source_text, read_options, price_texts), its times
(command_time, horizons, per_day), its words for the planner's refusals
(refusal_words) and its charts (chart, png_chart). It imports the library,
`kestrava_plan`, which never imports it.
"""

from __future__ import annotations

import argparse
import contextlib
import json
import os
import re
import sys
from collections.abc import Iterator, Sequence
from dataclasses import replace
from datetime import UTC, datetime, time, timedelta, tzinfo
from importlib import metadata
from typing import BinaryIO, NamedTuple
from zoneinfo import ZoneInfo

from ..message_texts import cut
from ..plan_result import Plan
from ..planning import plan
from . import png_chart
from .chart import glyphs_for, render_chart, use_color
from .command_time import Clock, clock, row_of, rule_count, rule_value, zone_needed
from .horizons import Horizon, HorizonOptions, time_of_day, whole_horizon, window_of
from .per_day import Day, days_of
from .price_texts import MOST_PRICES, MOST_READ, InputError, PriceList, PriceRow, PriceRows, price_text
from .read_options import ReadOptions
from .readers import format_for, read_price_rows, read_prices
from .refusal_words import RefusalWords
from .source_text import decoded
from .tariff_option import cost_members, load_tariff, paid_texts, plan_paid, price_table

PROGRAM = "kestrava-plan"

# The planner (or a tariff) names a bad price or time by its index; the command names
# its place in the file.
_PRICE_INDEX = re.compile(r"(prices|times)\[([0-9]+)\]: (.*)", re.DOTALL)

_DESCRIPTION = """\
Choose the cheapest periods of a series of prices under timing rules, and print their
zero-based indices (or, with --times, their runs as times).

Mind the defaults: both gap limits are 0, which allows no period off, so with only the
required options every period is chosen. Set --max-gap-between-periods and
--max-gap-from-start to the longest pause you accept.

Every rule that counts periods also takes a duration when the input has ISO 8601
times: 2h, 90min (or 90m), 1h30min, 1d, or ISO PT2H, PT1H30M. It must be a whole
number of the input's periods; a plain number is a count of periods."""

# The rule options as the command names them, with their argparse destinations.
_RULE_OPTIONS = (("--min-selections", "min_selections"), ("--min-consecutive-periods", "min_consecutive_periods"),
                 ("--max-gap-between-periods", "max_gap_between_periods"),
                 ("--max-gap-from-start", "max_gap_from_start"), ("--running-for", "running_for"),
                 ("--off-for", "off_for"), ("--min-per-day", "min_per_day"), ("--done-today", "done_today"))


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


def _input_options(parser: argparse.ArgumentParser) -> None:
    source = parser.add_argument_group("input")
    source.add_argument("--format", dest="input_format", choices=("auto", "csv", "json", "xml"), default="auto",
                        help="auto: by the file suffix (.csv, .tsv, .txt, .json, .xml), else by the first "
                        "character: [ or { is JSON, < is XML, anything else CSV")
    source.add_argument("--column", help="the price column, by header name or zero-based index (default: the "
                        "only column, the first whose name says price, or the one beside the time column); "
                        "JSON: the member holding the price(s)")
    source.add_argument("--time-column", metavar="COLUMN", help="the time column for --times (default: the "
                        "first whose name looks like a time or date, or whose cells look like one)")
    source.add_argument("--no-header", dest="header", action="store_const", const=False, default=None,
                        help="CSV: the first row is data (default: detected)")
    source.add_argument("--delimiter", metavar="{,|;|tab}",
                        help="CSV: the cell delimiter (default: sniffed among comma, semicolon and tab)")
    source.add_argument("--decimal-comma", action=argparse.BooleanOptionalAction, default=None,
                        help="prices (and the threshold) write the decimal point as a comma: 81,85 (default: "
                        "on for a semicolon or tab file whose prices look like 81,85 and never like 81.85)")
    source.add_argument("--series", type=int, default=1, metavar="N", help="XML: the time series whose "
                        "classificationSequence_AttributeInstanceComponent.position is N (default 1)")
    source.add_argument("--rows", type=parse_rows, metavar="START:STOP",
                        help="use only the data rows START:STOP (zero-based, like a slice)")
    source.add_argument("--area", help="JSON: the area of prices given by area, as in a Nord Pool answer's "
                        "entryPerArea (default: the only one)")


def _rule_options(parser: argparse.ArgumentParser) -> None:
    rules = parser.add_argument_group("planning (named like the function's parameters)")
    rules.add_argument("--low-price-threshold", required=True, metavar="PRICE",
                       help="periods priced at or below this decimal text are cheap (with --most-expensive: the "
                       "high-price threshold, periods priced at or above it are added)")
    rules.add_argument("--min-selections", required=True, metavar="N", help="choose at least N periods")
    rules.add_argument("--min-consecutive-periods", required=True, metavar="N",
                       help="every run of adjacent chosen periods is at least N long")
    rules.add_argument("--max-gap-between-periods", default="0", metavar="N",
                       help="no gap between runs, nor after the last run, is longer than N (default 0: none, "
                       "so every period from the first on is chosen)")
    rules.add_argument("--max-gap-from-start", default="0", metavar="N",
                       help="the first chosen period is at most N periods in (default 0)")
    rules.add_argument("--running-for", default="0", metavar="N",
                       help="the load has been running for N periods before the first (default 0; with "
                       "--per-day, before the first day only: every other day starts with no state)")
    rules.add_argument("--off-for", default="0", metavar="N",
                       help="the load has been off for N periods before the first (default 0; with --per-day, "
                       "before the first day only)")
    rules.add_argument("--tariff", metavar="FILE", help="plan on the prices the user pays under this tariff (TOML: "
                       "grid fees, taxes, VAT); the input's prices are then in its spot_unit, "
                       "--low-price-threshold is a paid price in its unit, and the input needs times")
    rules.add_argument("--aggressive", action=argparse.BooleanOptionalAction, default=True,
                       help="lowest average price (default); --no-aggressive: cheapest base plan "
                       "plus the most cheap periods")
    rules.add_argument("--most-expensive", action="store_true",
                       help="the dearest periods instead (to discharge a battery or shed a load): the plan of "
                       "the negated prices, with --low-price-threshold read as the high-price threshold")
    rules.add_argument("--no-short-last-run", dest="allow_short_last_run", action="store_false",
                       help="no run shorter than --min-consecutive-periods, not even one that ends at the last "
                       "period (with --deadline, none that ends at the deadline)")
    rules.add_argument("--min-per-day", default="0", metavar="N",
                       help="the base plan holds at least N periods within each local day the input touches, a day "
                       "it cuts included; the days are planned as one horizon (needs the input's times)")
    rules.add_argument("--done-today", default="0", metavar="N",
                       help="with --min-per-day: the load already ran N periods on the first day (--running-for "
                       "included), which lowers that day's quota")


def _day_options(parser: argparse.ArgumentParser) -> None:
    days = parser.add_argument_group("days, windows and deadlines (need the input's times, naive local ones or "
                                     "in a zone: times with only a UTC offset need --tz; local time is the time "
                                     "the output shows)")
    days.add_argument("--per-day", action="store_true",
                      help="plan each local day of the input on its own (23 or 25 hours when the clocks "
                      "change): one line per day, its date then its indices counted from the day's first "
                      "period; a day the input holds only part of is planned as it is and marked partial; "
                      "a day that cannot be planned gets its error line on standard error, the others go on, "
                      "and the exit status is 2")
    days.add_argument("--day-start", metavar="HH:MM", help="with --per-day or --min-per-day: days start at this "
                      "time (default 00:00) and end at the same time the next day")
    days.add_argument("--window", metavar="HH:MM-HH:MM", help="choose only periods that lie wholly inside "
                      "this stretch of every day, such as 22:00-06:00")
    days.add_argument("--deadline", metavar="HH:MM", help="end each plan at the first HH:MM after its start: "
                      "no period after it is planned or counted as a pause")


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROGRAM, description=_DESCRIPTION, formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="Exit status: 0 on success, 2 on any error, printed as 'kestrava-plan: error: ...' with the "
        "row and column of a bad price.")
    parser.add_argument("source", nargs="?", default="-",
                        help="a CSV, JSON or ENTSO-E XML file; - or nothing reads stdin")
    parser.add_argument("--version", action="version", version=f"%(prog)s {_version()}")
    _input_options(parser)
    _rule_options(parser)
    _day_options(parser)
    output = parser.add_argument_group("output")
    shapes = output.add_mutually_exclusive_group()
    shapes.add_argument("--json", action="store_true", help='print {"indices": [...]} as JSON (with "times"); '
                        'with --per-day a list of {"date", "partial", "periods", "times"}, "error" instead of a plan '
                        'for a day without one')
    shapes.add_argument("--chart", action="store_true", help="also draw the prices with the chosen periods")
    output.add_argument("--times", action="store_true",
                        help="print each run of chosen periods as START/END, one a line, instead of the indices "
                        "(times that are not ISO 8601: each chosen period's time as written)")
    output.add_argument("--tz", metavar="ZONE", help="show times in this IANA zone, with their UTC offset, and "
                        "count --min-per-day's days by its clock (default: the bidding zone's own zone when the "
                        "input names it, else the times as written)")
    output.add_argument("--png", metavar="FILE", help="also draw the prices and the chosen periods as a PNG "
                        "bar chart (needs matplotlib: pip install 'kestrava[plot]')")
    output.add_argument("--color", choices=("auto", "always", "never"), default="auto",
                        help="colour the chart's chosen bars (auto: on a terminal, unless NO_COLOR is set)")
    output.add_argument("--show-prices", action="store_true", help="with --tariff: print every period's paid "
                        "price and its parts (chosen ones marked *) and the chosen periods' sums, before the plan")
    output.add_argument("--quiet", action="store_true", help="no warning about gap limits that choose everything")
    return parser


def _version() -> str:
    try:
        return metadata.version("kestrava")
    except metadata.PackageNotFoundError:
        return "unknown"


def _opened(source: str) -> contextlib.AbstractContextManager[BinaryIO]:
    if source != "-":
        return open(source, "rb")
    if sys.stdin is None:
        raise InputError("cannot read stdin: it is closed (give a file, or - with input)")
    return contextlib.nullcontext(sys.stdin.buffer)


def _read(source: str, options: ReadOptions) -> PriceList:
    """The prices of the file or stdin, read as a stream."""
    try:
        with _opened(source) as binary:
            return read_prices(decoded(binary), options)
    except OSError as error:
        raise InputError(f"cannot read {source}: {error.strerror or error}") from None


def _fail(message: str) -> int:
    print(f"{PROGRAM}: error: {message}", file=sys.stderr)
    return 2


def _planner_message(error: BaseException, prices: PriceList, first: int = 0) -> str:
    """The planner's message, a bad price named by its place in the file (`first`: the
    row of the planner's price 0)."""
    message = str(error)
    match = _PRICE_INDEX.fullmatch(message)
    if match is not None and first + int(match[2]) < len(prices.places):
        place = prices.places[first + int(match[2])]
        return f"{place if match[1] == 'prices' else row_of(place)}: {match[3]}"
    return message


def _print_plan(args: argparse.Namespace, times: Clock, texts: list[str], threshold: str, chosen: Plan) -> None:
    shown = [times.time(index) for index in range(len(texts))] if args.times else None
    if args.json:
        document: dict[str, object] = {"indices": chosen.periods}
        if shown is not None:
            document["times"] = [shown[index] for index in chosen.periods]
        print(json.dumps(document | cost_members(chosen)))
        return
    if shown is None:
        print(" ".join(map(str, chosen.periods)))
    elif times.runs_known():
        print("\n".join(times.run(start, stop) for start, stop in chosen.runs))
    else:
        print("\n".join(shown[index] for index in chosen.periods))
    if args.chart:
        print()
        print(render_chart(texts, set(chosen.periods), threshold, labels=shown, glyphs=glyphs_for(sys.stdout),
                           color=use_color(args.color, sys.stdout)))


def _save_png(args: argparse.Namespace, times: Clock, texts: list[str], threshold: str, horizon: Horizon,
              chosen: Plan, spot: list[str] | None = None) -> None:
    """Draws the plan of `horizon` into args.png; InputError when the file cannot be written."""
    shown = range(horizon.start, horizon.stop)
    labels = [times.time(index) for index in shown] if times.written is not None else [str(index) for index in shown]
    strategy = "lowest average" if args.aggressive else "cheap base + cheap periods"
    source = "stdin" if args.source == "-" else os.path.basename(args.source)
    figure = png_chart.draw(f"{source}: {len(labels)} periods", texts[horizon.start:horizon.stop], labels, threshold,
                            [png_chart.PlanBars(f"{strategy} (aggressive={args.aggressive})", chosen.periods)],
                            (args.tariff.unit or "price paid") if args.tariff is not None else "price", spot)
    try:
        png_chart.save_png(args.png, figure)
    except OSError as error:
        raise InputError(f"--png: cannot write {args.png}: {error.strerror or error}") from None


def _rule_counts(args: argparse.Namespace, times: Clock, period: timedelta | None) -> dict[str, int]:
    """Each rule as a count of periods (of `period` when the horizons needed it);
    InputError for a value that is neither a count nor a duration of whole periods."""
    values = {name: rule_value(option, getattr(args, name)) for option, name in _RULE_OPTIONS}
    durations = [value for value in values.values() if not isinstance(value, int)]
    if durations and period is None:
        period = times.period()
    why = times.missing() if durations and period is None else ""
    return {name: rule_count(option, values[name], period, why) for option, name in _RULE_OPTIONS}


def _even_period(times: Clock) -> timedelta | None:
    """The length of every period, None when the times tell none."""
    try:
        return times.period()
    except InputError:
        return None


def _told(args: argparse.Namespace, times: Clock, period: timedelta | None, refusal: str, first: int) -> str:
    """The planner's refusal of the periods from `first` on, in the command's words."""
    written = {name: getattr(args, name) for _, name in _RULE_OPTIONS}
    return RefusalWords(written, times, period or _even_period(times), args.window).told(refusal, first)


def _warn_if_everything(args: argparse.Namespace, rules: dict[str, int], count: int) -> bool:
    """Warns, and says so, when the gap limits choose every one of `count` periods."""
    if (args.quiet or rules["max_gap_between_periods"] or rules["max_gap_from_start"]
            or rules["min_selections"] >= count):
        return False
    print(f"{PROGRAM}: warning: both gap limits are 0, so every period is chosen; allow pauses with "
          "--max-gap-between-periods and --max-gap-from-start (--quiet hides this)", file=sys.stderr)
    return True


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        return _plan(args)
    except Exception as error:  # noqa: BLE001 - a fault of the command is still one line and status 2
        return _fail(f"unexpected {type(error).__name__}: {cut(str(error))} (a fault of {PROGRAM}: please report it)")


def _horizon_options(args: argparse.Namespace) -> HorizonOptions | None:
    """The day options, checked before any input is read; None when none is given."""
    if args.day_start is not None and not args.per_day and not _quota_given(args):
        raise InputError("--day-start: days start there only with --per-day or --min-per-day: add one, or leave "
                         "--day-start out")
    if args.per_day and _quota_given(args):
        raise InputError("--min-per-day plans the days as one horizon, each day with its quota, so that the gap "
                         "rules hold across midnight: leave out --per-day")
    if not (args.per_day or args.window or args.deadline):
        return None
    return HorizonOptions(args.per_day, time_of_day("--day-start", args.day_start or "00:00"),
                          window_of(args.window) if args.window is not None else None,
                          time_of_day("--deadline", args.deadline) if args.deadline is not None else None)


def _quota_given(args: argparse.Namespace) -> bool:
    """Whether --min-per-day or --done-today asks for a quota (0 and 0h do not)."""
    return any(rule_value(option, getattr(args, name)) not in (0, timedelta(0))
               for option, name in (("--min-per-day", "min_per_day"), ("--done-today", "done_today")))


class _DayClock(NamedTuple):
    """plan's times, zone and day_start: how a quota's days are counted."""

    times: list[datetime] | None = None
    zone: tzinfo | None = None
    day_start: time = time(0)


def _day_clock(args: argparse.Namespace, times: Clock, horizon: Horizon) -> _DayClock:
    """plan's times, zone and day_start for --min-per-day, counted by the command's
    clock (--tz, else the bidding zone's); InputError for times that do not tell days."""
    if not _quota_given(args):
        return _DayClock()
    if not times.runs_known():
        raise InputError(f"--min-per-day needs the input's times, to tell its days: {times.missing()}")
    if times.offsets_without_zone():
        assert times.written is not None
        raise zone_needed("--min-per-day", times.places[0], times.written[0])
    starts = list(times.starts[horizon.start:horizon.stop]) if times.starts is not None else []
    zone = times.zone
    if zone is None:
        # Naive times are local times as written: their days are the dates they show.
        starts, zone = [start.replace(tzinfo=UTC) for start in starts], ZoneInfo("UTC")
    day_start = time_of_day("--day-start", args.day_start) if args.day_start is not None else time(0)
    return _DayClock(starts, zone, day_start)


def _horizons(args: argparse.Namespace, options: HorizonOptions | None, times: Clock,
              count: int) -> tuple[timedelta | None, Horizon]:
    """The period length, when the times tell it, and the horizon of the whole input."""
    if options is None:
        # Rows are periods only when no price is missing between them, whatever the rules.
        return times.period() if times.runs_known() else None, Horizon(None, 0, count)
    named = "--window" if args.window else "--deadline"
    if not times.runs_known():
        raise InputError(f"{named} needs the input's times, to tell the time of day: {times.missing()}")
    if times.offsets_without_zone():
        assert times.written is not None
        raise zone_needed(named, times.places[0], times.written[0])
    period = times.period()
    assert period is not None
    return period, whole_horizon([times.local(index) for index in range(count)], period, options)


def _plan_one(args: argparse.Namespace, prices: PriceList, texts: list[str], threshold: str, rules: dict[str, int],
              horizon: Horizon, held: bool, times: Clock, days: _DayClock = _DayClock()) -> Plan | str:
    """The plan of one horizon, or why there is none; the load's state before the input
    only when `held`; `days`: the days of a quota (plan's times, zone and day_start)."""
    if horizon.error is not None:
        return horizon.error

    def planned(planned_prices: Sequence[object]) -> Plan:
        return plan(planned_prices, threshold, rules["min_selections"],  # type: ignore[arg-type]
                    rules["min_consecutive_periods"], rules["max_gap_between_periods"], rules["max_gap_from_start"],
                    args.aggressive, allowed=horizon.allowed, running_for=rules["running_for"] if held else 0,
                    off_for=rules["off_for"] if held else 0, most_expensive=args.most_expensive,
                    allow_short_last_run=args.allow_short_last_run, min_per_day=rules["min_per_day"],
                    done_today=rules["done_today"], times=days.times, zone=days.zone, day_start=days.day_start)

    try:
        spot = texts[horizon.start:horizon.stop]
        if args.tariff is None:
            return planned(spot)
        assert times.starts is not None  # _require_times
        return plan_paid(args.tariff, spot, times.starts[horizon.start:horizon.stop], planned)
    except (ValueError, TypeError, OverflowError) as error:
        return _planner_message(error, prices, horizon.start)
    except BaseException as error:
        # An internal failure of the planner (an exact sum that overflows) derives
        # from BaseException; it is reported like any other error of the request.
        if type(error).__name__ != "PanicException":
            raise
        return str(error)


def _day_document(times: Clock, horizon: Horizon, outcome: Plan | str) -> dict[str, object]:
    document: dict[str, object] = {"date": str(horizon.day), "partial": horizon.partial}
    if isinstance(outcome, str):
        document["error"] = outcome
        return document
    document["periods"] = outcome.periods
    document["times"] = [times.time(horizon.start + index) for index in outcome.periods]
    return document | cost_members(outcome)


def _print_day(args: argparse.Namespace, times: Clock, texts: list[str], threshold: str, horizon: Horizon,
               chosen: Plan, period: timedelta) -> None:
    if args.times:
        shown = [times.run(horizon.start + start, horizon.start + stop, period) for start, stop in chosen.runs]
    else:
        shown = [str(index) for index in chosen.periods]
    print(f"{horizon.day}{' (partial)' if horizon.partial else ''}: {' '.join(shown)}".rstrip())
    if args.chart:
        labels = [times.time(index) for index in range(horizon.start, horizon.stop)]
        print()
        print(render_chart(texts[horizon.start:horizon.stop], set(chosen.periods), threshold, labels=labels,
                           glyphs=glyphs_for(sys.stdout), color=use_color(args.color, sys.stdout)))
        print()


class _Days:
    """The days as they are planned: each printed at once, one line or one member of a
    JSON list; a day without a plan on its own line of standard error, in the days' order."""

    def __init__(self, args: argparse.Namespace) -> None:
        self._args = args
        self.count = 0
        self.failed = False
        self._warned = False

    def add(self, day: Day, texts: list[str], threshold: str, rules: dict[str, int], outcome: Plan | str) -> None:
        args = self._args
        self._warned = self._warned or _warn_if_everything(args, rules, day.horizon.stop - day.horizon.start)
        if args.json:
            print("[" if self.count == 0 else ", ", json.dumps(_day_document(day.clock, day.horizon, outcome)), sep="",
                  end="")
        self.count += 1
        if isinstance(outcome, str):
            self.failed = True
            if not args.json:
                sys.stdout.flush()
            print(f"{PROGRAM}: error: {day.horizon.day}: {outcome}", file=sys.stderr, flush=True)
        elif not args.json:
            _print_day(args, day.clock, texts, threshold, day.horizon, outcome, day.period)

    def close(self) -> None:
        """Ends the JSON list of the days printed, even when a fault of the input stops them."""
        if self._args.json and self.count:
            print("]")
        sys.stdout.flush()


def _read_options(args: argparse.Namespace, most: int) -> ReadOptions:
    return ReadOptions(format_for(args.source, args.input_format), args.column, args.time_column, args.header,
                       args.delimiter, args.decimal_comma, args.series, args.rows, args.area, most)


def _threshold(args: argparse.Namespace, decimal_comma: bool) -> str:
    # Typed, not read from the file: a point is a decimal point even in a file of commas.
    return price_text(args.low_price_threshold, decimal_comma and "," in args.low_price_threshold,
                      "--low-price-threshold")


def _read_all(args: argparse.Namespace) -> tuple[PriceList, list[str], str, Clock]:
    """The prices, their texts, the threshold and the input's clock; InputError."""
    prices = _read(args.source, _read_options(args, MOST_PRICES))
    if prices.note is not None:
        print(f"{PROGRAM}: note: {prices.note}", file=sys.stderr)
    texts = prices.texts()
    threshold = _threshold(args, prices.decimal_comma)
    if args.times and prices.times is None:
        raise InputError("--times: the input has no time column (name one with --time-column)")
    return prices, texts, threshold, clock(prices, args.tz)


def _reading(source: str, rows: Iterator[PriceRow]) -> Iterator[PriceRow]:
    try:
        yield from rows
    except OSError as error:
        raise InputError(f"cannot read {source}: {error.strerror or error}") from None


def _open_rows(args: argparse.Namespace, files: contextlib.ExitStack) -> PriceRows:
    """The rows of the input, read as the caller takes them, the file kept open in
    `files`; InputError."""
    try:
        prices = read_price_rows(decoded(files.enter_context(_opened(args.source))), _read_options(args, MOST_READ))
    except OSError as error:
        raise InputError(f"cannot read {args.source}: {error.strerror or error}") from None
    if prices.note is not None:
        print(f"{PROGRAM}: note: {prices.note}", file=sys.stderr)
    if args.times and not prices.timed:
        raise InputError("--times: the input has no time column (name one with --time-column)")
    return replace(prices, rows=_reading(args.source, prices.rows))


def _plan_days(args: argparse.Namespace, options: HorizonOptions) -> int:
    """--per-day: each day planned and printed as it is read, so that memory holds one
    day. A fault of the input ends the output at the day it is found in."""
    days = _Days(args)
    rules: dict[str, int] | None = None
    try:
        with contextlib.ExitStack() as files:
            prices = _open_rows(args, files)
            threshold = _threshold(args, prices.decimal_comma)
            for day in days_of(prices, args.tz, options):
                if rules is None:
                    rules = _rule_counts(args, day.clock, day.period)
                texts = day.prices.texts()
                _require_times(args, day.clock)
                outcome = _plan_one(args, day.prices, texts, threshold, rules, day.horizon, days.count == 0, day.clock)
                if isinstance(outcome, str):
                    outcome = _told(args, day.clock, day.period, outcome, day.horizon.start)
                days.add(day, texts, threshold, rules, outcome)
        days.close()
    except InputError as error:
        days.close()
        return _fail(str(error))
    except BrokenPipeError:
        return _quiet_on_broken_pipe()
    return 2 if days.failed else 0


def _require_png(args: argparse.Namespace) -> None:
    """Checks --png before any input is read, not after planning it; InputError."""
    if args.png is None:
        return
    if args.per_day:
        raise InputError("--png draws one plan: leave out --per-day, or plan one day with --rows START:STOP")
    try:
        png_chart.require_matplotlib()
    except png_chart.ChartUnavailable as error:
        raise InputError(f"--png: {error}") from None


def _quiet_on_broken_pipe() -> int:
    """The reader went away (`kestrava-plan ... | head`): stop quietly, as shell tools do,
    and keep the interpreter from complaining again while it flushes at exit."""
    os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
    return 1


def _require_times(args: argparse.Namespace, times: Clock) -> None:
    """A tariff's amounts hang on the local time: InputError without the input's times."""
    if args.tariff is not None and times.starts is None:
        raise InputError(f"--tariff needs the input's times, for a tariff's amounts depend on the local time: "
                         f"{times.missing()}")


def _with_tariff(args: argparse.Namespace, times: Clock, texts: list[str], horizon: Horizon, chosen: Plan) -> list[str]:
    """Prints --show-prices' table of the horizon; the paid prices' texts, which the
    charts draw, in place of the input's."""
    assert times.starts is not None
    starts = times.starts[horizon.start:horizon.stop]
    if args.show_prices:
        labels = [times.time(index) for index in range(horizon.start, horizon.stop)]
        print(price_table(args.tariff, texts[horizon.start:horizon.stop], starts, labels, chosen))
        print()
    paid = paid_texts(args.tariff, texts[horizon.start:horizon.stop], starts)
    return texts[:horizon.start] + paid + texts[horizon.stop:]


def _spot_in_unit(args: argparse.Namespace, times: Clock, texts: list[str], horizon: Horizon) -> list[str]:
    """The horizon's spot prices in the tariff's unit, which --png draws under the paid ones."""
    assert times.starts is not None
    span = slice(horizon.start, horizon.stop)
    return [format(value, "f") for value in args.tariff.parts(texts[span], times.starts[span])["spot"]]


def _tariff_options(args: argparse.Namespace) -> None:
    """Reads --tariff into args.tariff and checks --show-prices; InputError."""
    if args.show_prices and args.tariff is None:
        raise InputError("--show-prices shows the parts of the paid prices: add --tariff FILE")
    if args.show_prices and (args.json or args.per_day):
        raise InputError("--show-prices prints a table of one plan: leave out --json and --per-day (--json gives "
                         "cost_parts with --tariff)")
    if args.tariff is not None:
        args.tariff = load_tariff(args.tariff)


def _plan(args: argparse.Namespace) -> int:
    try:
        _tariff_options(args)
        _require_png(args)
        options = _horizon_options(args)
        if options is not None and options.per_day:
            return _plan_days(args, options)
        prices, texts, threshold, times = _read_all(args)
        _require_times(args, times)
        period, horizon = _horizons(args, options, times, len(texts))
        rules = _rule_counts(args, times, period)
        days = _day_clock(args, times, horizon)
    except InputError as error:
        return _fail(str(error))
    chosen = _plan_one(args, prices, texts, threshold, rules, horizon, True, times, days)
    if isinstance(chosen, str):
        return _fail(_told(args, times, period, chosen, horizon.start))
    _warn_if_everything(args, rules, horizon.stop - horizon.start)
    try:
        spot = None
        if args.tariff is not None:
            spot = _spot_in_unit(args, times, texts, horizon)
            texts = _with_tariff(args, times, texts, horizon, chosen)
        if args.png is not None:  # before the output, so that a file that cannot be written leaves none
            _save_png(args, times, texts, threshold, horizon, chosen, spot)
        _print_plan(args, times, texts[horizon.start:horizon.stop], threshold, chosen)
        sys.stdout.flush()
    except InputError as error:
        return _fail(str(error))
    except BrokenPipeError:
        return _quiet_on_broken_pipe()
    return 0
