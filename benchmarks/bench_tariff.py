"""What a tariff costs: plan_table's rows per second on the 2024 backtest table
(examples/backtest.py: every whole day of DE-LU and NL x three loads x both
strategies) with and without a tariff, and `plan` at n = 96 (a quarter-hour day) with
and without one, all in one run, in interleaved rounds, best of --repeat.

The table gains a times column (each day's hours from local midnight, in UTC) so that
both runs read the same columns; it is timed with its prices as texts (as the backtest
writes them) and as decimal128(12, 2). The tariff is the issue's shape: an energy tax,
a time-of-use grid fee of two zones, an hourly table valid for a quarter, VAT on some
parts, and a rounding. "with tariff" reuses one Tariff, which keeps the amounts of
every instant it has met; "first call" is a fresh Tariff's first table. `plan` is
timed with times in both runs.

    python benchmarks/bench_tariff.py [--repeat N] [--threads N]
    python benchmarks/bench_tariff.py --stages   # where plan's time with a tariff goes
    python benchmarks/bench_tariff.py --instructions   # the same ratios in instructions (valgrind)

--instructions counts each call's instructions under valgrind's callgrind (after two
calls that warm the caches a reused Tariff keeps), so that the load of a shared
machine moves no figure.
"""

from __future__ import annotations

import argparse
import csv
import sys
import time
import timeit
from collections.abc import Callable
from datetime import datetime, timedelta, timezone
from pathlib import Path
from zoneinfo import ZoneInfo

import pyarrow as pa

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "examples"))
sys.path.insert(0, str(ROOT / "benchmarks"))

import callgrind_count  # noqa: E402
from backtest import requests, whole_days  # noqa: E402
from recipe_common import YEAR_FILES  # noqa: E402

from kestrava_plan import Tariff, column, plan, plan_table  # noqa: E402

TARIFF = """
time_zone = "Europe/Berlin"
spot_unit = "EUR/MWh"
unit = "EUR/kWh"
holidays = ["2024-12-25", "2024-12-26"]
[[component]]
name = "energy tax"
amount = "0.1228"
[[component]]
name = "grid fee"
default = "0.0800"
  [[component.zone]]
  amount = "0.1500"
  hours = ["07:00-09:00", "17:00-20:00"]
  months = [1, 2, 3, 10, 11, 12]
  days = ["mon", "tue", "wed", "thu", "fri"]
  [[component.zone]]
  amount = "0.0300"
  hours = ["22:00-06:00"]
  days = ["holiday", "sat", "sun"]
[[component]]
name = "network table"
table = ["0.05", "0.05", "0.05", "0.05", "0.05", "0.05", "0.07", "0.09", "0.09", "0.07", "0.07", "0.07",
         "0.07", "0.07", "0.07", "0.07", "0.09", "0.12", "0.12", "0.12", "0.09", "0.07", "0.05", "0.05"]
from = "2024-04-01"
until = "2024-07-01"
[vat]
rate = "0.19"
applies_to = ["spot", "energy tax", "grid fee"]
[rounding]
places = 5
mode = "half-even"
"""
ZONES = {"DE-LU": ZoneInfo("Europe/Berlin"), "NL": ZoneInfo("Europe/Amsterdam")}
RULE_COLUMNS = ("min_selections", "min_consecutive_periods", "max_gap_between_periods", "max_gap_from_start")


def backtest_table() -> pa.Table:
    days = [day for zone, path in YEAR_FILES.items() for day in whole_days(zone, path)[0]]
    table, keys = requests(days)
    starts = []
    for day, _, _ in keys:
        midnight = datetime(day.day.year, day.day.month, day.day.day, tzinfo=ZONES[day.zone]).astimezone(timezone.utc)
        starts.append([midnight + timedelta(hours=hour) for hour in range(len(day.prices))])
    return table.append_column("times", pa.array(starts, pa.list_(pa.timestamp("us", tz="UTC"))))


def best(run: Callable[[], object], repeat: int) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def table_runs(table: pa.Table, tariff: Tariff, threads: int) -> dict[str, Callable[[], object]]:
    rules = {name: column(name) for name in RULE_COLUMNS}

    def planned(chosen: Tariff | None) -> object:
        return plan_table(table, low_price_threshold="0.25" if chosen else column("threshold"),
                          aggressive=column("aggressive"), times="times", threads=threads, tariff=chosen, **rules)
    return {"without": lambda: planned(None), "with": lambda: planned(tariff),
            "first call": lambda: planned(Tariff.from_toml(TARIFF))}


def quarter_hour_day() -> tuple[list[str], list[datetime]]:
    with (ROOT / "data" / "day-ahead-15min" / "DE-LU-15min.csv").open(encoding="utf-8") as file:
        rows = list(csv.reader(file))[1:97]
    return [price for _, price in rows], [datetime.fromisoformat(start) for start, _ in rows]


def stages(tariff: Tariff, calls: int) -> None:
    """Each step of `plan` with a tariff at n = 96 timed alone, best of 5 rounds."""
    from kestrava_plan.tariffs.spot_prices import spot_values
    prices, starts = quarter_hour_day()
    composer = tariff.composer
    priced = tariff.planned(prices, starts)  # meets the times once, as a reused Tariff has
    texts = composer.texts(priced.paid)
    planned = plan(prices, "0.3", 16, 4, 24, 24, times=starts, tariff=tariff)
    values, amounts = [priced.values[i] for i in planned.periods], [priced.amounts[i] for i in planned.periods]
    steps = {"read the spot texts": lambda: spot_values(prices),
             "read, find amounts, compose": lambda: tariff.planned(prices, starts),
             "paid prices as texts": lambda: composer.texts(priced.paid),
             f"cost_parts ({len(values)} periods)": lambda: composer.part_sums(values, amounts, planned.cost),
             "plan without tariff": lambda: plan(prices, "60", 16, 4, 24, 24, times=starts),
             "plan on the paid texts": lambda: plan(texts, "0.3", 16, 4, 24, 24, times=starts),
             "plan with tariff": lambda: plan(prices, "0.3", 16, 4, 24, 24, times=starts, tariff=tariff)}
    print(f"plan at n = 96 with a tariff, step by step, {calls} calls, best of 5:")
    for name, step in steps.items():
        print(f"  {name:28} {min(timeit.repeat(step, number=calls, repeat=5)) / calls * 1e6:8.1f} us per call")


def counted_runs(tariff: Tariff, threads: int) -> dict[str, Callable[[], object]]:
    """One call of each figure that --instructions counts, by name."""
    texts = backtest_table()
    index = texts.schema.get_field_index("prices")
    decimals = texts.set_column(index, "prices", texts.column("prices").cast(pa.list_(pa.decimal128(12, 2))))
    runs: dict[str, Callable[[], object]] = {}
    for kind, table in {"texts": texts, "decimal128": decimals}.items():
        table_calls = table_runs(table, tariff, threads)
        runs.update({f"{kind} {name}": table_calls[name] for name in ("without", "with")})
    prices, starts = quarter_hour_day()
    runs["plan without"] = lambda: plan(prices, "60", 16, 4, 24, 24, times=starts)
    runs["plan with"] = lambda: plan(prices, "0.3", 16, 4, 24, 24, times=starts, tariff=tariff)
    return runs


def count_one(name: str, tariff: Tariff, threads: int) -> None:
    """In the counted process: two calls of `name` to warm up, then two counted."""
    run = counted_runs(tariff, threads)[name]
    run()
    run()

    def twice() -> int:
        run()
        run()
        return 2
    callgrind_count.count_calls(twice)


def print_instructions(threads: int) -> None:
    names = ("texts without", "texts with", "decimal128 without", "decimal128 with", "plan without", "plan with")
    counts = {}
    with callgrind_count.switch_library() as switch:
        for name in names:
            counted = [__file__, "--count", name, "--threads", str(threads)]
            counts[name] = callgrind_count.instructions_per_call(counted, switch)
    print(f"instructions per call (callgrind; plan_table threads={threads}):")
    for kind in ("texts", "decimal128"):
        without, with_ = counts[f"{kind} without"], counts[f"{kind} with"]
        print(f"  plan_table, prices as {kind:10} without {without:14,.0f}  with {with_:14,.0f}  "
              f"rows per instruction with / without {without / with_:6.1%}")
    without, with_ = counts["plan without"], counts["plan with"]
    print(f"  plan at n = 96                   without {without:14,.0f}  with {with_:14,.0f}  "
          f"with / without {with_ / without:.2f}x")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeat", type=int, default=5, help="rounds; each figure is the best (default 5)")
    parser.add_argument("--threads", type=int, default=1, help="plan_table's threads (default 1)")
    parser.add_argument("--stages", action="store_true", help="time each step of plan with a tariff instead")
    parser.add_argument("--instructions", action="store_true", help="count instructions instead (valgrind)")
    parser.add_argument("--count", help=argparse.SUPPRESS)  # the counted process: which call
    args = parser.parse_args(argv)
    tariff = Tariff.from_toml(TARIFF)
    if args.stages:
        stages(tariff, 300)
        return 0
    if args.count:
        count_one(args.count, tariff, args.threads)
        return 0
    if args.instructions:
        print_instructions(args.threads)
        return 0
    texts = backtest_table()
    index = texts.schema.get_field_index("prices")
    decimals = texts.set_column(index, "prices", texts.column("prices").cast(pa.list_(pa.decimal128(12, 2))))
    tables = {"texts": texts, "decimal128": decimals}
    runs = {(kind, name): run for kind, table in tables.items()
            for name, run in table_runs(table, tariff, args.threads).items()}
    prices, starts = quarter_hour_day()
    calls = 200
    plans = {"without": lambda: [plan(prices, "60", 16, 4, 24, 24, times=starts) for _ in range(calls)],
             "with": lambda: [plan(prices, "0.3", 16, 4, 24, 24, times=starts, tariff=tariff) for _ in range(calls)]}
    table_best = dict.fromkeys(runs, float("inf"))
    plan_best = dict.fromkeys(plans, float("inf"))
    for _ in range(args.repeat):  # interleaved, so that all meet the same machine
        for key, run in runs.items():
            table_best[key] = min(table_best[key], best(run, 1))
        for name, run in plans.items():
            plan_best[name] = min(plan_best[name], best(run, 1))
    rows = texts.num_rows
    print(f"plan_table, 2024 backtest table ({rows} rows of 24 periods, threads={args.threads}), best of {args.repeat}:")
    for kind in tables:
        print(f"  prices as {kind}:")
        for (of, name), seconds in table_best.items():
            if of == kind:
                print(f"    {name + ' tariff' if name != 'first call' else 'with tariff, first call':26} "
                      f"{rows / seconds:10,.0f} rows/s  {rows / seconds / (rows / table_best[(kind, 'without')]):6.1%}")
    print(f"plan at n = 96 (a quarter-hour day, with times), {calls} calls, best of {args.repeat}:")
    for name in plans:
        print(f"  {name + ' tariff':16} {plan_best[name] / calls * 1e6:12,.1f} us per call")
    print(f"  with / without   {plan_best['with'] / plan_best['without']:12.2f}x the time")
    return 0


if __name__ == "__main__":
    sys.exit(main())
