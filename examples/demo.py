"""Plans a heat pump on a real day of day-ahead electricity prices with both
strategies, draws each plan as a terminal chart and compares the money with
simply running at the start of the day.

Standard library only; `--png FILE` also draws the day with matplotlib
(`pip install 'kestrava[plot]'`). Money is computed with `decimal`, exactly.
"""

from __future__ import annotations

import argparse
import csv
import os
import sys
from collections.abc import Sequence
from dataclasses import dataclass
from decimal import ROUND_HALF_EVEN, Decimal
from pathlib import Path

import kestrava
from kestrava_plan.chart import decimal_of, glyphs_for, render_chart

DATA_DIR = Path(__file__).resolve().parent.parent / "data" / "day-ahead-2024"
ZONE_FILES = {"DE-LU": "DE-LU-sample.csv", "NL": "NL-sample.csv"}
DEFAULT_ZONE = "NL"
DEFAULT_DAY = "2024-04-21"
# The threshold defaults to the price of the day's CHEAP_RANK-th cheapest hour,
# so that roughly a quarter of the hours count as cheap.
CHEAP_RANK = 6
SAME_HOURS = "(the same hours as above)"


@dataclass(frozen=True)
class Hour:
    label: str  # "HH:MM", local time
    price: str  # EUR/MWh, the text exactly as published


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
    cost_at_start: Decimal  # EUR for as many hours from the start of the day
    saving: Decimal  # cost_at_start - cost


def load_days(path: Path) -> dict[str, list[Hour]]:
    """The file's hours grouped by date, in file order."""
    days: dict[str, list[Hour]] = {}
    with path.open(newline="", encoding="utf-8") as handle:
        reader = csv.reader(handle)
        next(reader)  # header: Datetime,Price (EUR/MWh)
        for stamp, price in reader:
            date, _, time = stamp.partition(" ")
            days.setdefault(date, []).append(Hour(label=time[:5], price=price))
    return days


def cheapest_rank_price(prices: Sequence[str], rank: int) -> str:
    """The text of the rank-th cheapest price (1 = the cheapest)."""
    ordered = sorted(prices, key=decimal_of)
    return ordered[min(rank, len(ordered)) - 1]


def money_of(prices: Sequence[str], chosen: Sequence[int], power_kw: Decimal) -> Money:
    """What running `power_kw` during the chosen hours costs, against running it for
    the same number of hours from the start of the day."""
    values = [decimal_of(price) for price in prices]
    per_mwh = power_kw / 1000  # MWh used in one hour
    cost = sum((values[i] for i in chosen), Decimal(0)) * per_mwh
    cost_at_start = sum(values[: len(chosen)], Decimal(0)) * per_mwh
    average = sum((values[i] for i in chosen), Decimal(0)) / len(chosen)
    return Money(len(chosen), cost, average, cost_at_start, cost_at_start - cost)


def euros(value: Decimal) -> str:
    return f"{value.quantize(Decimal('0.01'), ROUND_HALF_EVEN):,} EUR"


def format_money_table(plans: Sequence[Plan], money: Sequence[Money]) -> str:
    header = ("strategy", "hours", "avg EUR/MWh", "cost", "from 00:00", "saved")
    rows = [header]
    for plan, m in zip(plans, money):
        saved = euros(m.saving)
        if m.cost_at_start > 0:
            share = (m.saving * 100 / m.cost_at_start).quantize(Decimal("0.1"), ROUND_HALF_EVEN)
            saved += f" ({share}%)"
        rows.append((plan.title, str(m.hours), f"{m.average_price.quantize(Decimal('0.01'), ROUND_HALF_EVEN)}",
                     euros(m.cost), euros(m.cost_at_start), saved))
    widths = [max(len(row[c]) for row in rows) for c in range(len(header))]
    lines = []
    for row in rows:
        cells = [row[0].ljust(widths[0])] + [cell.rjust(width) for cell, width in zip(row[1:], widths[1:])]
        lines.append("  ".join(cells).rstrip())
    return "\n".join(lines)


def save_png(path: Path, title: str, hours: Sequence[Hour], threshold: str, plans: Sequence[Plan]) -> None:
    """Draws one bar chart per plan into a PNG file (needs matplotlib)."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    # Floats only for pixel positions; every amount printed comes from decimals.
    values = [float(decimal_of(hour.price)) for hour in hours]
    figure, axes = plt.subplots(len(plans), 1, figsize=(10, 3.2 * len(plans)), sharex=True, squeeze=False)
    for axis, plan in zip(axes[:, 0], plans):
        colours = ["tab:green" if i in plan.chosen else "lightgrey" for i in range(len(hours))]
        axis.bar(range(len(hours)), values, color=colours)
        axis.axhline(float(decimal_of(threshold)), color="tab:orange", linestyle="--",
                     label=f"threshold {threshold}")
        axis.axhline(0, color="black", linewidth=0.6)
        axis.set_title(f"{plan.title}: hours {', '.join(map(str, plan.chosen))}", fontsize=10)
        axis.set_ylabel("EUR/MWh")
        axis.legend(loc="upper left", fontsize=8)
    axes[-1, 0].set_xticks(range(len(hours)), [hour.label[:2] for hour in hours], fontsize=8)
    axes[-1, 0].set_xlabel("hour")
    figure.suptitle(title)
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    plt.close(figure)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        description="Plan a heat pump on a bundled real day of day-ahead prices with both strategies.")
    parser.add_argument("--zone", choices=sorted(ZONE_FILES), default=DEFAULT_ZONE, help="bidding zone")
    parser.add_argument("--day", default=DEFAULT_DAY, help="date, YYYY-MM-DD (see --list)")
    parser.add_argument("--list", action="store_true", help="list the bundled zones and days, then stop")
    parser.add_argument("--data-dir", type=Path, default=DATA_DIR, help="folder of the price files")
    parser.add_argument("--threshold", metavar="PRICE",
                        help=f"cheap at or below this price (default: the day's {CHEAP_RANK}th cheapest price)")
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


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    files = {zone: args.data_dir / name for zone, name in ZONE_FILES.items()}
    try:
        if args.list:
            for zone, path in files.items():
                print(f"{zone}: {', '.join(load_days(path))}")
            return 0
        days = load_days(files[args.zone])
    except OSError as error:
        print(f"demo: cannot read {error.filename}: {error.strerror or error}", file=sys.stderr)
        return 2
    if args.day not in days:
        print(f"demo: no day {args.day} for {args.zone}; bundled days: {', '.join(days)}", file=sys.stderr)
        return 2
    hours = days[args.day]
    prices = [hour.price for hour in hours]
    threshold = args.threshold if args.threshold is not None else cheapest_rank_price(prices, CHEAP_RANK)
    rules = (args.min_selections, args.min_consecutive_periods, args.max_gap_between_periods, args.max_gap_from_start)

    plans = []
    try:
        for title, aggressive in (("lowest average", True), ("cheap base + cheap hours", False)):
            chosen = kestrava.get_cheapest_periods(prices, threshold, *rules, aggressive)
            plans.append(Plan(title, aggressive, chosen))
    except (ValueError, TypeError, OverflowError) as error:
        print(f"demo: {error}", file=sys.stderr)
        return 2

    title = f"Heat pump, {args.zone} day-ahead prices, {args.day} (EUR/MWh)"
    print(title)
    print(f"Rules: at least {rules[0]} hours, runs of at least {rules[1]} hours, never more than "
          f"{rules[2]} hours off, first run starting by hour {rules[3]}")
    cheap = sum(1 for price in prices if decimal_of(price) <= decimal_of(threshold))
    print(f"Cheap hours: {cheap} of {len(prices)}, priced at or below {threshold}")
    glyphs = glyphs_for(sys.stdout)
    color = args.color == "always" or (args.color == "auto" and sys.stdout.isatty() and not os.environ.get("NO_COLOR"))
    drawn: list[list[int]] = []
    for plan in plans:
        print()
        headline = f"{plan.title} (aggressive={plan.aggressive}): hours {', '.join(map(str, plan.chosen))}"
        if plan.chosen in drawn:
            print(f"{headline} {SAME_HOURS}")
            continue
        print(headline)
        print(render_chart(prices, set(plan.chosen), threshold, labels=[hour.label for hour in hours],
                           width=args.width, glyphs=glyphs, color=color))
        drawn.append(plan.chosen)
    print()
    print(f"Money for a {args.power_kw} kW heat pump, against running the same number of hours from 00:00:")
    print(format_money_table(plans, [money_of(prices, plan.chosen, args.power_kw) for plan in plans]))

    if args.png is not None:
        try:
            save_png(args.png, title, hours, threshold, plans)
        except ImportError:
            print("demo: the PNG needs matplotlib: pip install 'kestrava[plot]'", file=sys.stderr)
            return 2
        print(f"\nSaved {args.png}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
