"""The table recipes and the backtest in examples/: each prints what plan gives day by day
on the bundled year, and what the README shows."""

from __future__ import annotations

import csv
import importlib.util
import re
import shutil
import subprocess
import sys
from collections import defaultdict
from decimal import ROUND_HALF_EVEN, Decimal
from functools import cache
from pathlib import Path

import pytest

from kestrava_plan import plan
from test_demo import demo

ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
YEAR_FILES = {zone: ROOT / "data" / "day-ahead-2024" / f"{zone}-2024.csv" for zone in ("DE-LU", "NL")}
HEAT_PUMP = ("50", 6, 2, 4, 4)  # the recipes' threshold and rules
# The backtest's loads: kW, then hours, shortest run, longest pause, latest start.
LOADS = {"heat pump": (2, 6, 2, 4, 4), "EV": (11, 5, 1, 20, 20), "boiler": (3, 3, 1, 8, 8)}
STRATEGIES = {"lowest average": True, "cheap base + cheap hours": False}
SPARK_READY = importlib.util.find_spec("pyspark") is not None and shutil.which("java") is not None


@cache
def whole_days(zone: str) -> dict[str, list[str]]:
    days: dict[str, list[str]] = defaultdict(list)
    with YEAR_FILES[zone].open(newline="") as handle:
        for stamp, price in list(csv.reader(handle))[1:]:
            days[stamp[:10]].append(price)
    return {day: prices for day, prices in days.items() if len(prices) == 24}


def run_example(name: str, *args: str) -> str:
    done = subprocess.run([sys.executable, str(EXAMPLES / name), *args], capture_output=True, text=True,
                          timeout=600)
    assert done.returncode == 0, done.stderr
    return done.stdout


def readme_block(lead: str) -> list[str]:
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    return readme.split(lead, 1)[1].split("```text\n", 1)[1].split("```", 1)[0].splitlines()


def euros(value: Decimal) -> str:
    return f"{value.quantize(Decimal('0.01'), ROUND_HALF_EVEN):,}"


@pytest.mark.parametrize("name", [
    "recipe_duckdb.py", "recipe_polars.py", "recipe_pandas.py", "recipe_dask.py",
    pytest.param("recipe_spark.py", marks=pytest.mark.skipif(not SPARK_READY, reason="needs pyspark and java")),
])
def test_recipe_totals_are_the_sums_of_plan_day_by_day(name: str) -> None:
    printed = run_example(name).splitlines()
    rows = {zone: (int(days), int(hours), Decimal(cost.replace(",", "")), average)
            for zone, days, hours, cost, average in (line.split() for line in printed[2:])}
    for zone in YEAR_FILES:
        plans = [plan(prices, *HEAT_PUMP) for prices in whole_days(zone).values()]
        cost = sum((made.cost for made in plans), Decimal(0))
        hours = sum(len(made.periods) for made in plans)
        average = (cost / hours).quantize(Decimal("0.01"), ROUND_HALF_EVEN)
        assert rows[zone] == (len(plans), hours, cost, str(average)), name
    assert printed == readme_block("Each recipe prints the same table:"), name


def backtest_expectations() -> dict[tuple[str, str, str], list[str]]:
    """Each row of the backtest's table after its three names, from plan day by day: the
    threshold is the day's 6th-cheapest price, the timer plan the demo's of as many hours."""
    expected = {}
    for (load, (kw, *rules)), (strategy, aggressive), zone in (
            (item, strategy, zone) for item in LOADS.items() for strategy in STRATEGIES.items() for zone in YEAR_FILES):
        hours, cost, timer_cost = 0, Decimal(0), Decimal(0)
        for prices in whole_days(zone).values():
            made = plan(prices, sorted(prices, key=Decimal)[5], *rules, aggressive)
            timer = demo.timer_plan(24, len(made.periods), demo.Rules(*rules))
            hours += len(made.periods)
            cost += made.cost * kw / 1000
            timer_cost += sum((Decimal(prices[i]) for i in timer), Decimal(0)) * kw / 1000
        expected[(load, zone, strategy)] = [str(kw), str(len(whole_days(zone))), str(hours), euros(cost),
                                            euros(timer_cost), euros(timer_cost - cost),
                                            f"{(timer_cost - cost) * 100 / timer_cost:.1f}%"]
    return expected


def test_backtest_agrees_with_plan_and_the_timer_plan_and_draws_a_chart_per_load(tmp_path: Path) -> None:
    printed = run_example("backtest.py", "--png", str(tmp_path)).splitlines()
    assert printed[1:3] == ["DE-LU: 365 days planned, 1 skipped for missing hours (2024-01-31)",
                            "NL: 366 days planned, 0 skipped for missing hours"]
    assert re.fullmatch(r"Planned 4,386 plans \(731 days x 3 loads x 2 strategies\) in one plan_table call: "
                        r"[\d.]+ ms, [\d,]+ plans a second", printed[3]), printed[3]
    rows = {tuple(cells[:3]): cells[3:] for cells in (re.split(r"\s{2,}", line) for line in printed[6:18])}
    assert rows == backtest_expectations()
    charts = sorted(tmp_path.glob("*.png"))
    assert [path.name for path in charts] == ["backtest-boiler.png", "backtest-ev.png", "backtest-heat-pump.png"]
    assert all(path.read_bytes().startswith(b"\x89PNG\r\n\x1a\n") for path in charts)
    # The README shows this run's lines, the time aside.
    shown = readme_block("python examples/backtest.py --png charts")
    assert [line for line in shown if not line.startswith("Planned")] == \
        [line.replace(str(tmp_path), "charts") for line in printed if not line.startswith("Planned")]
