"""Plans a heat pump on a real day of day-ahead electricity prices and shows what it
saves.

On an hourly day (2024) it plans with both strategies, draws each plan as a terminal
chart and compares the money with a timer plan: the first plan in time order that keeps
the same rules, prices ignored. On a quarter-hour day (2025) it plans the 96 (or 92, or
100) quarter-hours with `kestrava_plan.cheapest_periods` and compares the plan with
the one made on the same day's hourly averages, both priced on the quarter-hours.

Standard library only; `--png FILE` also draws the plans with matplotlib
(`pip install 'kestrava[plot]'`) through `kestrava_plan.command.png_chart`, the chart of the
command's `--png`. Money is computed with `decimal`, exactly.
"""

from __future__ import annotations

import argparse
import csv
import sys
from collections.abc import Sequence
from dataclasses import dataclass
from datetime import UTC, datetime, timedelta
from decimal import ROUND_HALF_EVEN, Decimal, Inexact, localcontext
from functools import cache
from pathlib import Path
from zoneinfo import ZoneInfo

import kestrava
from kestrava_plan import cheapest_periods
from kestrava_plan.command import png_chart
from kestrava_plan.command.chart import decimal_of, glyphs_for, render_chart, use_color

DATA_DIR = Path(__file__).resolve().parent.parent / "data"
HOURLY_FILES = {"DE-LU": "day-ahead-2024/DE-LU-sample.csv", "NL": "day-ahead-2024/NL-sample.csv"}
# Quarter-hour files: the path and the price unit (the NL source publishes EUR/kWh).
QUARTER_FILES = {"DE-LU": ("day-ahead-15min/DE-LU-15min.csv", "EUR/MWh"),
                 "FR": ("day-ahead-15min/FR-15min.csv", "EUR/MWh"),
                 "NL": ("day-ahead-15min/NL-15min.csv", "EUR/kWh")}
# The three zones keep Central European time; the quarter-hour files are in UTC.
MARKET_TIME = ZoneInfo("Europe/Berlin")
DEFAULT_ZONE = "NL"
DEFAULT_DAY = "2024-04-21"
# The threshold defaults to the price of the day's CHEAP_RANK-th cheapest hour,
# so that roughly a quarter of the hours count as cheap.
CHEAP_RANK = 6
QUARTERS = 4  # quarter-hours in an hour
HOUR = timedelta(hours=1)
QUARTER_HOUR = timedelta(minutes=15)
SAME_PERIODS = "(the same periods as above)"
BASELINE_NOTE = ("Timer plan: the first plan in time order that keeps the same rules and size, prices ignored "
                 "(a timer that needs no price data).")


@dataclass(frozen=True)
class Period:
    start: datetime  # local time: aware on quarter-hour days, as written on hourly ones
    price: str  # the text exactly as published


@dataclass(frozen=True)
class Rules:
    min_selections: int
    min_consecutive_periods: int
    max_gap_between_periods: int
    max_gap_from_start: int

    def values(self) -> tuple[int, int, int, int]:
        """The four counts in the order of the planners' parameters."""
        return (self.min_selections, self.min_consecutive_periods, self.max_gap_between_periods,
                self.max_gap_from_start)

    def scaled(self, factor: int) -> Rules:
        return Rules(*(value * factor for value in self.values()))


@dataclass(frozen=True)
class Plan:
    title: str
    aggressive: bool
    chosen: list[int]


@dataclass(frozen=True)
class Money:
    hours: int
    cost: Decimal  # EUR for the chosen hours
    average_price: Decimal  # EUR/MWh over the chosen hours
    baseline: list[int]  # the timer plan of as many hours
    cost_of_baseline: Decimal  # EUR for the timer plan
    saving: Decimal  # cost_of_baseline - cost


def load_hourly_days(path: Path) -> dict[str, list[Period]]:
    """The file's hours grouped by date, in file order."""
    days: dict[str, list[Period]] = {}
    with path.open(newline="", encoding="utf-8") as handle:
        reader = csv.reader(handle)
        next(reader)  # header: Datetime,Price (EUR/MWh)
        for stamp, price in reader:
            start = datetime.fromisoformat(stamp)
            days.setdefault(start.date().isoformat(), []).append(Period(start, price))
    return days


def load_quarter_days(path: Path) -> dict[str, list[Period]]:
    """The file's quarter-hours (UTC starts) grouped by local market day."""
    days: dict[str, list[Period]] = {}
    with path.open(newline="", encoding="utf-8") as handle:
        reader = csv.reader(handle)
        next(reader)  # header: start,price
        for start, price in reader:
            local = datetime.fromisoformat(start).astimezone(MARKET_TIME)
            days.setdefault(local.date().isoformat(), []).append(Period(local, price))
    return days


def cheapest_rank_price(prices: Sequence[str], rank: int) -> str:
    """The text of the rank-th cheapest price (1 = the cheapest)."""
    ordered = sorted(prices, key=decimal_of)
    return ordered[min(rank, len(ordered)) - 1]


def timer_plan(count: int, size: int, rules: Rules) -> list[int]:
    """The first valid plan of exactly `size` of `count` periods in time order (the
    smallest list of indices): what a timer would run, knowing the rules but no prices.

    Each period is taken when a valid plan can still be completed after taking it;
    `can_finish` answers that from the state after a period: how many periods are
    still to take, the current run's length (capped where the rule stops caring) and
    the current gap's length.
    """
    shortest, longest_gap, latest_start = (rules.min_consecutive_periods, rules.max_gap_between_periods,
                                           rules.max_gap_from_start)

    def taken(state: tuple[int, int, int, bool]) -> tuple[int, int, int, bool] | None:
        left, run, _, _ = state
        return (left - 1, min(run + 1, shortest), 0, True) if left > 0 else None

    def skipped(state: tuple[int, int, int, bool]) -> tuple[int, int, int, bool] | None:
        left, run, gap, started = state
        if 0 < run < shortest:  # a run may only end short at the end of the day
            return None
        gap = gap + 1 if run == 0 else 1
        return (left, 0, gap, started) if gap <= (longest_gap if started else latest_start) else None

    @cache
    def can_finish(index: int, state: tuple[int, int, int, bool]) -> bool:
        if index == count:
            return state[0] == 0 and state[3]
        return any(after is not None and can_finish(index + 1, after) for after in (taken(state), skipped(state)))

    state: tuple[int, int, int, bool] | None = (size, 0, 0, False)
    if not can_finish(0, state):
        raise ValueError(f"no valid plan of {size} of {count} periods")
    plan: list[int] = []
    for index in range(count):
        # The state can finish, so taking or skipping this period can.
        after = taken(state) if state is not None else None
        if after is not None and can_finish(index + 1, after):
            plan.append(index)
            state = after
        else:
            state = skipped(state) if state is not None else None
    return plan


def money_of(prices: Sequence[str], chosen: Sequence[int], rules: Rules, power_kw: Decimal) -> Money:
    """What running `power_kw` during the chosen hours costs, against the timer plan of
    as many hours."""
    values = [decimal_of(price) for price in prices]
    per_mwh = power_kw / 1000  # MWh used in one hour
    baseline = timer_plan(len(prices), len(chosen), rules)
    cost = sum((values[i] for i in chosen), Decimal(0)) * per_mwh
    cost_of_baseline = sum((values[i] for i in baseline), Decimal(0)) * per_mwh
    average = sum((values[i] for i in chosen), Decimal(0)) / len(chosen)
    return Money(len(chosen), cost, average, baseline, cost_of_baseline, cost_of_baseline - cost)


def rounded(value: Decimal, places: str = "0.01") -> str:
    return f"{value.quantize(Decimal(places), ROUND_HALF_EVEN):,}"


def euros(value: Decimal) -> str:
    return f"{rounded(value)} EUR"


def table(rows: Sequence[Sequence[str]]) -> str:
    """Columns padded to their widest cell: the first left-aligned, the others right."""
    widths = [max(len(row[c]) for row in rows) for c in range(len(rows[0]))]
    lines = []
    for row in rows:
        cells = [row[0].ljust(widths[0])] + [cell.rjust(width) for cell, width in zip(row[1:], widths[1:])]
        lines.append("  ".join(cells).rstrip())
    return "\n".join(lines)


def format_money_table(plans: Sequence[Plan], money: Sequence[Money]) -> str:
    rows = [("strategy", "hours", "avg EUR/MWh", "cost", "timer plan", "saved")]
    for plan, m in zip(plans, money):
        saved = euros(m.saving)
        if m.cost_of_baseline > 0:
            saved += f" ({rounded(m.saving * 100 / m.cost_of_baseline, '0.1')}%)"
        rows.append((plan.title, str(m.hours), rounded(m.average_price), euros(m.cost),
                     euros(m.cost_of_baseline), saved))
    return table(rows)


def hourly_averages(prices: Sequence[str]) -> list[str]:
    """The exact average of each hour's four quarter-hour prices, as decimal texts."""
    with localcontext() as context:
        context.traps[Inexact] = True  # a quarter of a decimal is a decimal: never rounded
        averages = [sum(map(decimal_of, prices[start:start + QUARTERS]), Decimal(0)) / QUARTERS
                    for start in range(0, len(prices), QUARTERS)]
    return [format(value.normalize(), "f") for value in averages]


def quarters_of(hours: Sequence[int]) -> list[int]:
    return [hour * QUARTERS + quarter for hour in hours for quarter in range(QUARTERS)]


def shows_offsets(periods: Sequence[Period]) -> bool:
    """Whether the day's clock changes, so that a local time needs its UTC offset to say
    which of two it is."""
    return len({period.start.utcoffset() for period in periods}) > 1


def clock_text(moment: datetime, offsets: bool) -> str:
    return f"{moment:%H:%M%:z}" if offsets else f"{moment:%H:%M}"


def labels_of(periods: Sequence[Period]) -> list[str]:
    """Each period's local start: "02:45", or "02:45+02:00" on a day whose clock changes."""
    offsets = shows_offsets(periods)
    return [clock_text(period.start, offsets) for period in periods]


def end_of(period: Period, length: timedelta) -> datetime:
    """When the period ends, counted in real time so that a clock change is kept."""
    if period.start.tzinfo is None:
        return period.start + length
    return (period.start.astimezone(UTC) + length).astimezone(MARKET_TIME)


def runs_of(chosen: Sequence[int], periods: Sequence[Period], length: timedelta) -> str:
    """The chosen periods as runs from the first one's start to the last one's end, in
    local time: "01:00-03:00, 13:00-14:00" (with UTC offsets on a day whose clock changes)."""
    offsets = shows_offsets(periods)
    runs: list[list[int]] = []
    for index in chosen:
        if runs and runs[-1][-1] == index - 1:
            runs[-1].append(index)
        else:
            runs.append([index])
    return ", ".join(f"{clock_text(periods[run[0]].start, offsets)}-"
                     f"{clock_text(end_of(periods[run[-1]], length), offsets)}" for run in runs)


def save_png(path: Path, title: str, periods: Sequence[Period], threshold: str, plans: Sequence[Plan],
             unit: str) -> None:
    """Draws one bar chart per plan into a PNG file (needs matplotlib)."""
    bars = [png_chart.PlanBars(f"{plan.title} (aggressive={plan.aggressive})", plan.chosen) for plan in plans]
    figure = png_chart.draw(title, [period.price for period in periods], labels_of(periods), threshold, bars, unit)
    try:
        png_chart.save_png(path, figure)
    except OSError as error:
        raise DemoError(f"cannot write {path}: {error.strerror or error}") from None


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        description="Plan a heat pump on a bundled real day of day-ahead prices: an hourly day of 2024 with "
        "both strategies, or a quarter-hour day of 2025 against its hourly averages.")
    parser.add_argument("--zone", choices=sorted(set(HOURLY_FILES) | set(QUARTER_FILES)), default=DEFAULT_ZONE,
                        help="bidding zone")
    parser.add_argument("--day", default=DEFAULT_DAY, help="date, YYYY-MM-DD (see --list)")
    parser.add_argument("--list", action="store_true", help="list the bundled zones and days, then stop")
    parser.add_argument("--data-dir", type=Path, default=DATA_DIR, help="folder of the price folders")
    parser.add_argument("--threshold", metavar="PRICE",
                        help=f"cheap at or below this price (default: the day's {CHEAP_RANK}th cheapest hour, "
                        f"or {CHEAP_RANK * QUARTERS}th cheapest quarter-hour)")
    parser.add_argument("--power-kw", type=Decimal, default=Decimal(2), metavar="KW",
                        help="electric power of the appliance while it runs (default 2)")
    parser.add_argument("--min-selections", type=int, default=6, metavar="N", help="hours to run (default 6)")
    parser.add_argument("--min-consecutive-periods", type=int, default=2, metavar="N",
                        help="shortest run in hours (default 2)")
    parser.add_argument("--max-gap-between-periods", type=int, default=4, metavar="N",
                        help="longest pause in hours, the end of the day included (default 4)")
    parser.add_argument("--max-gap-from-start", type=int, default=4, metavar="N",
                        help="latest first hour (default 4)")
    parser.add_argument("--width", type=int, default=48, help="width of the bars (default 48)")
    parser.add_argument("--color", choices=("auto", "always", "never"), default="auto")
    parser.add_argument("--png", type=Path, metavar="FILE", help="also save the charts as a PNG (needs matplotlib)")
    return parser


class DemoError(Exception):
    """A problem to report in one line, with exit status 2."""


@dataclass(frozen=True)
class Day:
    periods: list[Period]
    unit: str  # of the prices
    quarter_hours: bool  # else hours


def load_day(args: argparse.Namespace) -> Day:
    """The chosen day: an hourly day of 2024, or a quarter-hour day when its date is in
    the zone's quarter-hour file."""
    try:
        hourly = load_hourly_days(args.data_dir / HOURLY_FILES[args.zone]) if args.zone in HOURLY_FILES else {}
        quarters = load_quarter_days(args.data_dir / QUARTER_FILES[args.zone][0]) \
            if args.zone in QUARTER_FILES else {}
    except OSError as error:
        raise DemoError(f"cannot read {error.filename}: {error.strerror or error}") from None
    if args.day in hourly:
        return Day(hourly[args.day], "EUR/MWh", quarter_hours=False)
    if args.day in quarters:
        return Day(quarters[args.day], QUARTER_FILES[args.zone][1], quarter_hours=True)
    raise DemoError(f"no day {args.day} for {args.zone}; bundled days: {', '.join([*hourly, *quarters])}")


def list_days(data_dir: Path) -> None:
    for zone in sorted(set(HOURLY_FILES) | set(QUARTER_FILES)):
        parts = []
        if zone in HOURLY_FILES:
            parts.append(f"{', '.join(load_hourly_days(data_dir / HOURLY_FILES[zone]))} (hours)")
        if zone in QUARTER_FILES:
            parts.append(f"{', '.join(load_quarter_days(data_dir / QUARTER_FILES[zone][0]))} (quarter-hours)")
        print(f"{zone}: {'; '.join(parts)}")


def rules_line(rules: Rules, unit: str) -> str:
    return (f"at least {rules.min_selections} {unit}s, runs of at least {rules.min_consecutive_periods} {unit}s, "
            f"never more than {rules.max_gap_between_periods} {unit}s off, at most {rules.max_gap_from_start} "
            f"{unit}s before the first run")


def show_hourly_day(args: argparse.Namespace, hours: list[Period], rules: Rules) -> list[Plan]:
    prices = [hour.price for hour in hours]
    threshold = args.threshold if args.threshold is not None else cheapest_rank_price(prices, CHEAP_RANK)
    plans = [Plan(title, aggressive, kestrava.get_cheapest_periods(prices, threshold, *rules.values(),
                                                                   aggressive))
             for title, aggressive in (("lowest average", True), ("cheap base + cheap hours", False))]
    print(f"Heat pump, {args.zone} day-ahead prices, {args.day} (EUR/MWh)")
    print(f"Rules: {rules_line(rules, 'hour')}")
    cheap = sum(1 for price in prices if decimal_of(price) <= decimal_of(threshold))
    print(f"Cheap hours: {cheap} of {len(prices)}, priced at or below {threshold}")
    drawn: list[list[int]] = []
    for plan in plans:
        print()
        headline = (f"{plan.title} (aggressive={plan.aggressive}): periods {', '.join(map(str, plan.chosen))} "
                    f"({runs_of(plan.chosen, hours, HOUR)})")
        if plan.chosen in drawn:
            print(f"{headline} {SAME_PERIODS}")
            continue
        print(headline)
        print(render_chart(prices, set(plan.chosen), threshold, labels=labels_of(hours), width=args.width,
                           glyphs=glyphs_for(sys.stdout), color=use_color(args.color, sys.stdout)))
        drawn.append(plan.chosen)
    money = [money_of(prices, plan.chosen, rules, args.power_kw) for plan in plans]
    print()
    print(f"Money for a {args.power_kw} kW heat pump, against a timer plan of as many hours:")
    print(format_money_table(plans, money))
    print(BASELINE_NOTE)
    for size in sorted({m.hours for m in money}):
        baseline = next(m.baseline for m in money if m.hours == size)
        print(f"  timer plan of {size} hours: periods {', '.join(map(str, baseline))}")
    if args.png is not None:
        save_png(args.png, f"Heat pump, {args.zone}, {args.day}", hours, threshold, plans, "EUR/MWh")
    return plans


@dataclass(frozen=True)
class QuarterMoney:
    average: Decimal  # the plan's average price, in the prices' unit
    cost: Decimal  # EUR for `kwh` at that average


def quarter_money(prices: Sequence[str], chosen: Sequence[int], kwh: Decimal, unit: str) -> QuarterMoney:
    """The plan's average price, and what `kwh` cost at it: plans of different lengths
    are compared on the same energy."""
    average = sum((decimal_of(prices[i]) for i in chosen), Decimal(0)) / len(chosen)
    return QuarterMoney(average, average * (kwh / 1000 if unit == "EUR/MWh" else kwh))


def show_quarter_day(args: argparse.Namespace, quarters: list[Period], unit: str, rules: Rules) -> list[Plan]:
    prices = [quarter.price for quarter in quarters]
    if len(prices) % QUARTERS or quarters[0].start.minute:
        raise DemoError(f"{args.day} does not split into whole hours")
    threshold = args.threshold if args.threshold is not None else cheapest_rank_price(prices, CHEAP_RANK * QUARTERS)
    fine = rules.scaled(QUARTERS)
    chosen = cheapest_periods(prices, threshold, *fine.values())
    hourly_chosen = cheapest_periods(hourly_averages(prices), threshold, *rules.values())
    plans = [Plan("quarter-hours", True, chosen), Plan("hourly averages", True, quarters_of(hourly_chosen))]
    print(f"Heat pump, {args.zone} day-ahead prices, {args.day}, {len(prices)} quarter-hours ({unit})")
    if shows_offsets(quarters):
        print("The clocks change on this day: local times carry their UTC offset.")
    print(f"Rules in quarter-hours (the hourly rules x{QUARTERS}): {rules_line(fine, 'quarter-hour')}")
    cheap = sum(1 for price in prices if decimal_of(price) <= decimal_of(threshold))
    print(f"Cheap quarter-hours: {cheap} of {len(prices)}, priced at or below {threshold}")
    print()
    print(f"quarter-hour plan (aggressive=True): {runs_of(chosen, quarters, QUARTER_HOUR)}")
    print(render_chart(prices, set(chosen), threshold, labels=labels_of(quarters), width=args.width,
                       glyphs=glyphs_for(sys.stdout), color=use_color(args.color, sys.stdout)))
    print()
    print(f"plan on the hourly averages (aggressive=True): periods {', '.join(map(str, hourly_chosen))} of the "
          f"{len(prices) // QUARTERS} hours ({runs_of(plans[1].chosen, quarters, QUARTER_HOUR)})")
    print()
    print(money_lines(prices, plans, args.power_kw, unit))
    if args.png is not None:
        save_png(args.png, f"Heat pump, {args.zone}, {args.day}", quarters, threshold, plans, unit)
    return plans


def money_lines(prices: Sequence[str], plans: Sequence[Plan], power_kw: Decimal, unit: str) -> str:
    """Both plans priced on the quarter-hour prices and costed for the same energy, the
    quarter-hour plan's, at their average prices: the table and the sentence under it
    compare the same amounts."""
    kwh = power_kw * len(plans[0].chosen) / QUARTERS
    fine, hourly = (quarter_money(prices, plan.chosen, kwh, unit) for plan in plans)
    digits = "0.00001" if unit == "EUR/kWh" else "0.01"
    energy = f"{rounded(kwh, '0.1')} kWh"
    rows = [("plan", "hours run", f"avg {unit}", f"cost of {energy}")]
    for plan, figures, count in ((plans[0], fine, len(prices)), (plans[1], hourly, len(prices) // QUARTERS)):
        rows.append((f"{plan.title} ({count} prices)", str(Decimal(len(plan.chosen)) / QUARTERS),
                     rounded(figures.average, digits), euros(figures.cost)))
    difference = hourly.average - fine.average
    # The amount in the sentence is the difference of the two amounts the table shows.
    saved = Decimal(rounded(hourly.cost).replace(",", "")) - Decimal(rounded(fine.cost).replace(",", ""))
    # The share says how much, "less" or "more" which way: never "-1.2% more".
    share = f" ({rounded(abs(difference) * 100 / hourly.average, '0.1')}%)" if hourly.average > 0 else ""
    less = "less" if difference >= 0 else "more"
    return "\n".join([
        f"Money for a {power_kw} kW heat pump, both plans priced on the quarter-hour prices. They run for "
        f"different times, so each is costed for the same {energy} (the quarter-hour plan's energy) at its "
        "average price:",
        table(rows),
        f"Planning the quarter-hours pays {rounded(abs(difference), digits)} {unit} {less} on average{share}: "
        f"{euros(abs(saved))} {less} for the same {energy}."])


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    rules = Rules(args.min_selections, args.min_consecutive_periods, args.max_gap_between_periods,
                  args.max_gap_from_start)
    try:
        if args.list:
            try:
                list_days(args.data_dir)
            except OSError as error:
                raise DemoError(f"cannot read {error.filename}: {error.strerror or error}") from None
            return 0
        if args.png is not None:
            png_chart.require_matplotlib()  # before the work, not after it
        day = load_day(args)
        if day.quarter_hours:
            show_quarter_day(args, day.periods, day.unit, rules)
        else:
            show_hourly_day(args, day.periods, rules)
    except (DemoError, png_chart.ChartUnavailable, ValueError, TypeError, OverflowError) as error:
        print(f"demo: {error}", file=sys.stderr)
        return 2
    if args.png is not None:
        print(f"\nSaved {args.png}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
