"""Backtests three loads on every day of 2024 in DE-LU and NL with both strategies: what
each plan cost over the year, and what it saved against the timer plan of the demo (the
first plan in time order that keeps the same rules and size, prices ignored).

Every plan of the year (days x loads x strategies) is one call of
`kestrava_plan.plan_table`: a row per day, load and strategy, the rules and the day's
threshold (its 6th-cheapest price, as in the demo) as columns. A day without all its
24 hours is skipped and counted (DE-LU has no prices for 2024-01-31).

Then, under each worked tariff of examples/tariffs/, each load's yearly cost at the paid
price when planned on the spot price and when planned on the paid price
(backtest_tariffs.py).

    python examples/backtest.py [--png DIR] [--threads N]    (pip install pyarrow;
                                                             --png needs matplotlib)
"""

from __future__ import annotations

import argparse
import sys
import time
from collections import defaultdict
from collections.abc import Sequence
from dataclasses import dataclass, field
from datetime import date, timedelta
from decimal import ROUND_HALF_EVEN, Decimal
from functools import cache
from pathlib import Path
from typing import TYPE_CHECKING

import pyarrow as pa

from backtest_tariffs import WORKED, Costs, tariff_costs
from demo import BASELINE_NOTE, CHEAP_RANK, Rules, cheapest_rank_price, load_hourly_days, timer_plan
from kestrava_plan import column, plan_table
from kestrava_plan.command import png_chart
from recipe_common import HOURS_A_DAY, YEAR_FILES

if TYPE_CHECKING:
    from matplotlib.axes import Axes


@dataclass(frozen=True)
class Load:
    name: str
    power_kw: Decimal  # while it runs
    rules: Rules


# The loads of benchmarks/bench_plan.py: hours a day, shortest run, longest pause, latest start.
LOADS = (Load("heat pump", Decimal(2), Rules(6, 2, 4, 4)), Load("EV", Decimal(11), Rules(5, 1, 20, 20)),
         Load("boiler", Decimal(3), Rules(3, 1, 8, 8)))
STRATEGIES = {"lowest average": True, "cheap base + cheap hours": False}  # the demo's names
MONTHS = range(1, 13)
TARIFF_NOTE = ("(spot): planned on the spot price; (paid): planned on the paid price; both costed at the paid price, "
               "EUR/kWh their average. A plan's size follows its prices (the lowest average takes more hours when they "
               "lower the average), so a plan on the paid price can cost more in all and less a kWh.")
RULE_COLUMNS = ("min_selections", "min_consecutive_periods", "max_gap_between_periods", "max_gap_from_start")


@dataclass(frozen=True)
class Day:
    zone: str
    day: date
    prices: list[str]  # the texts as written, in time order
    threshold: str


@dataclass
class Totals:
    """One load, strategy and zone over the year; money in EUR."""

    days: int = 0
    hours: int = 0
    cost: Decimal = Decimal(0)
    timer_cost: Decimal = Decimal(0)
    monthly: dict[int, tuple[Decimal, Decimal]] = field(default_factory=dict)  # month -> (cost, timer cost)


def whole_days(zone: str, path: Path) -> tuple[list[Day], list[date]]:
    """The zone's days that have all their hours, and the days of the year that do not."""
    found = load_hourly_days(path)
    first = date.fromisoformat(min(found))
    calendar = [first.replace(month=1, day=1) + timedelta(days=n) for n in range(366)]
    calendar = [day for day in calendar if day.year == first.year]
    days, skipped = [], []
    for day in calendar:
        periods = found.get(day.isoformat(), [])
        if len(periods) != HOURS_A_DAY:
            skipped.append(day)
            continue
        prices = [period.price for period in periods]
        days.append(Day(zone, day, prices, cheapest_rank_price(prices, CHEAP_RANK)))
    return days, skipped


def requests(days: Sequence[Day]) -> tuple[pa.Table, list[tuple[Day, Load, str]]]:
    """A row per day, load and strategy, its id the index of its key in the list."""
    keys = [(day, load, strategy) for day in days for load in LOADS for strategy in STRATEGIES]
    columns: dict[str, pa.Array] = {
        "id": pa.array(range(len(keys)), pa.int64()),
        "prices": pa.array([day.prices for day, _, _ in keys], pa.list_(pa.string())),
        "threshold": pa.array([day.threshold for day, _, _ in keys], pa.string()),
        "aggressive": pa.array([STRATEGIES[strategy] for _, _, strategy in keys], pa.bool_()),
    }
    for position, name in enumerate(RULE_COLUMNS):
        columns[name] = pa.array([load.rules.values()[position] for _, load, _ in keys], pa.int64())
    return pa.table(columns), keys


@cache
def timer_of(size: int, rules: Rules) -> tuple[int, ...]:
    """The timer plan depends on the size and the rules only, never on the day."""
    return tuple(timer_plan(HOURS_A_DAY, size, rules))


def add_plan(totals: Totals, day: Day, load: Load, periods: Sequence[int], cost: str) -> None:
    per_mwh = load.power_kw / 1000  # MWh used in one hour
    spent = Decimal(cost) * per_mwh
    timer_spent = sum((Decimal(day.prices[i]) for i in timer_of(len(periods), load.rules)), Decimal(0)) * per_mwh
    totals.days += 1
    totals.hours += len(periods)
    totals.cost += spent
    totals.timer_cost += timer_spent
    month_cost, month_timer = totals.monthly.get(day.day.month, (Decimal(0), Decimal(0)))
    totals.monthly[day.day.month] = (month_cost + spent, month_timer + timer_spent)


def add_up(planned: pa.Table, keys: Sequence[tuple[Day, Load, str]]) -> tuple[dict[tuple[str, str, str], Totals],
                                                                              list[str]]:
    """Totals per (load, strategy, zone), and the message of every plan refused."""
    totals: dict[tuple[str, str, str], Totals] = defaultdict(Totals)
    refused = []
    for row in planned.to_pylist():
        day, load, strategy = keys[row["id"]]
        if row["error"] is not None:
            refused.append(f"{day.zone} {day.day} {load.name} ({strategy}): {row['error']}")
            continue
        add_plan(totals[(load.name, strategy, day.zone)], day, load, row["periods"], row["cost"])
    return totals, refused


def spot_plans(planned: pa.Table, keys: Sequence[tuple[Day, Load, str]]) -> dict[tuple[str, date, str, str],
                                                                             list[int]]:
    """The periods of every plan made, by (zone, day, load, strategy)."""
    return {(day.zone, day.day, load.name, strategy): row["periods"] for row in planned.to_pylist()
            if row["error"] is None for day, load, strategy in [keys[row["id"]]]}


def euros(value: Decimal) -> str:
    return f"{value.quantize(Decimal('0.01'), ROUND_HALF_EVEN):,}"


def aligned(rows: Sequence[Sequence[str]], names: int) -> str:
    """The first `names` columns left-aligned, the numbers after them right-aligned."""
    widths = [max(len(row[c]) for row in rows) for c in range(len(rows[0]))]
    return "\n".join("  ".join(cell.ljust(width) if c < names else cell.rjust(width)
                                for c, (cell, width) in enumerate(zip(row, widths))).rstrip() for row in rows)


def results_table(totals: dict[tuple[str, str, str], Totals]) -> str:
    rows = [("load", "zone", "strategy", "kW", "days", "hours", "cost EUR", "timer plan EUR", "saved EUR", "saved")]
    for load in LOADS:
        for zone in YEAR_FILES:
            for strategy in STRATEGIES:
                found = totals[(load.name, strategy, zone)]
                saved = found.timer_cost - found.cost
                share = f"{saved * 100 / found.timer_cost:.1f}%" if found.timer_cost > 0 else "-"
                rows.append((load.name, zone, strategy, str(load.power_kw), str(found.days), str(found.hours),
                             euros(found.cost), euros(found.timer_cost), euros(saved), share))
    return aligned(rows, names=3)


def tariff_table(costs: dict[tuple[str, str, str], Costs]) -> str:
    rows = [("load", "tariff", "zone", "strategy", "days", "hours (spot)", "EUR (spot)", "hours (paid)", "EUR (paid)",
             "saved EUR", "saved", "EUR/kWh (spot)", "EUR/kWh (paid)")]
    for load in LOADS:
        for tariff, zone in WORKED.items():
            for strategy in STRATEGIES:
                found = costs[(load.name, strategy, tariff)]
                saved = found.on_spot - found.on_paid
                share = f"{saved * 100 / found.on_spot:.1f}%" if found.on_spot > 0 else "-"
                rows.append((load.name, tariff, zone, strategy, str(found.days), str(found.hours_on_spot),
                             euros(found.on_spot), str(found.hours_on_paid), euros(found.on_paid), euros(saved), share,
                             per_kwh(found.on_spot, found.hours_on_spot * load.power_kw),
                             per_kwh(found.on_paid, found.hours_on_paid * load.power_kw)))
    return aligned(rows, names=4)


def per_kwh(cost: Decimal, kwh: Decimal) -> str:
    return f"{(cost / kwh).quantize(Decimal('0.0001'), ROUND_HALF_EVEN)}"


def draw_charts(folder: Path, totals: dict[tuple[str, str, str], Totals]) -> list[Path]:
    """One PNG per load: each zone's saving per month against the timer plan, for both
    strategies."""
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    paths = []
    for load in LOADS:
        figure = Figure(figsize=(10, 7), dpi=png_chart.DPI, layout="constrained")
        FigureCanvasAgg(figure)
        axes = figure.subplots(len(YEAR_FILES), 1, sharex=True, squeeze=False)[:, 0]
        for axis, zone in zip(axes, YEAR_FILES):
            draw_zone(axis, zone, [totals[(load.name, strategy, zone)] for strategy in STRATEGIES])
        axes[-1].set_xticks(MONTHS, [date(2000, month, 1).strftime("%b") for month in MONTHS])
        figure.suptitle(f"{load.name}, {load.power_kw} kW, 2024: saved per month against the timer plan")
        path = folder / f"backtest-{load.name.replace(' ', '-').lower()}.png"
        png_chart.save_png(path, figure)
        paths.append(path)
    return paths


def draw_zone(axis: Axes, zone: str, by_strategy: Sequence[Totals]) -> None:
    width = 0.4
    for offset, strategy, colour, found in zip((-width / 2, width / 2), STRATEGIES, ("#2ca02c", "#1f77b4"),
                                               by_strategy):
        # Floats only for bar heights; every amount printed comes from decimals.
        saved = [float(timer - cost) for cost, timer in (found.monthly.get(m, (Decimal(0),) * 2) for m in MONTHS)]
        axis.bar([m + offset for m in MONTHS], saved, width, label=strategy, color=colour)
    axis.set_ylabel("EUR saved")
    axis.set_title(zone, loc="left")
    # Above the axes, clear of every bar.
    axis.legend(loc="lower right", bbox_to_anchor=(1, 1), ncols=len(STRATEGIES), fontsize=8, frameon=False)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--png", type=Path, metavar="DIR", help="also draw a chart per load into DIR (needs "
                        "matplotlib)")
    parser.add_argument("--threads", type=int, metavar="N", help="plan on N threads (default: every core)")
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    if args.png is not None:
        png_chart.require_matplotlib()  # before the work, not after it
    days: list[Day] = []
    print(f"Every whole day of 2024; a day's cheap hours: at or below its {CHEAP_RANK}th-cheapest price")
    for zone, path in YEAR_FILES.items():
        found, skipped = whole_days(zone, path)
        days += found
        missing = f" ({', '.join(map(str, skipped))})" if skipped else ""
        print(f"{zone}: {len(found)} days planned, {len(skipped)} skipped for missing hours{missing}")
    requested, keys = requests(days)
    started = time.perf_counter()
    planned = plan_table(requested, low_price_threshold=column("threshold"), min_selections=column("min_selections"),
                         min_consecutive_periods=column("min_consecutive_periods"),
                         max_gap_between_periods=column("max_gap_between_periods"),
                         max_gap_from_start=column("max_gap_from_start"), aggressive=column("aggressive"),
                         threads=args.threads)
    seconds = time.perf_counter() - started
    print(f"Planned {len(keys):,} plans ({len(days)} days x {len(LOADS)} loads x {len(STRATEGIES)} strategies) "
          f"in one plan_table call: {seconds * 1000:.1f} ms, {len(keys) / seconds:,.0f} plans a second")
    totals, refused = add_up(planned, keys)
    print()
    print(results_table(totals))
    print(BASELINE_NOTE)
    for message in refused:
        print(f"refused: {message}")
    costs = tariff_costs(spot_plans(planned, keys), days, LOADS, STRATEGIES, args.threads)
    print()
    print("Under each worked tariff of examples/tariffs/, both plans costed at the paid price, the clock-change "
          "days left out:")
    print(tariff_table(costs))
    print(TARIFF_NOTE)
    if args.png is not None:
        args.png.mkdir(parents=True, exist_ok=True)
        paths = draw_charts(args.png, totals)
        print(f"Saved {', '.join(str(path) for path in paths)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
