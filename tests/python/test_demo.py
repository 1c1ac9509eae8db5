"""The demo on the bundled real days: what it prints must agree with the library, and
its baseline must keep the rules the plan keeps."""

from __future__ import annotations

import csv
import importlib.util
import itertools
import os
import random
import re
import subprocess
import sys
from datetime import datetime, timedelta
from decimal import ROUND_HALF_EVEN, Decimal
from pathlib import Path
from types import ModuleType
from zoneinfo import ZoneInfo

import pytest

import kestrava
import kestrava_plan
import plan_model

ROOT = Path(__file__).resolve().parents[2]
DEMO = ROOT / "examples" / "demo.py"
DATA = ROOT / "data" / "day-ahead-2024"
STRATEGIES = {"lowest average": True, "cheap base + cheap hours": False}
HEAT_PUMP = (6, 2, 4, 4)  # hours, shortest run, longest pause, latest start
BUNDLED_DAYS = [(zone, day) for zone in ("DE-LU", "NL")
                for day in ("2024-01-15", "2024-04-21", "2024-07-07", "2024-10-13", "2024-12-12")]
QUARTER_DAYS = [("DE-LU", "2025-10-01"), ("FR", "2025-10-26"), ("NL", "2025-12-16"), ("NL", "2025-12-18")]


def load_demo() -> ModuleType:
    module_spec = importlib.util.spec_from_file_location("demo", DEMO)
    assert module_spec is not None and module_spec.loader is not None
    module = importlib.util.module_from_spec(module_spec)
    sys.modules["demo"] = module  # dataclasses look their module up by name
    module_spec.loader.exec_module(module)
    return module


demo = load_demo()


def run_demo(*args: str, encoding: str = "utf-8") -> subprocess.CompletedProcess[str]:
    env = {**os.environ, "PYTHONIOENCODING": encoding, "NO_COLOR": "1"}
    return subprocess.run([sys.executable, str(DEMO), *args], capture_output=True, text=True,
                          encoding="utf-8", env=env, timeout=600)


def day_prices(zone: str, day: str) -> list[str]:
    with (DATA / f"{zone}-sample.csv").open(newline="") as handle:
        return [price for stamp, price in list(csv.reader(handle))[1:] if stamp.startswith(day)]


def first_valid_plan(count: int, size: int, shortest: int, longest_gap: int, latest_start: int) -> list[int] | None:
    """The model of the timer plan: combinations come in time order, so the first that
    the model of the answer finds valid is the one."""
    rules = plan_model.Problem((0,) * count, (False,) * count, size, shortest, longest_gap, latest_start)
    return next((list(plan) for plan in itertools.combinations(range(count), size)
                 if plan_model.is_valid(plan, rules)), None)


def test_timer_plan_is_the_first_valid_plan_in_time_order() -> None:
    rng = random.Random(7)
    for _ in range(300):
        count = rng.randint(1, 10)
        size = rng.randint(1, count)
        shortest = rng.randint(1, size)
        longest_gap = rng.randint(0, 4)
        latest_start = rng.randint(0, longest_gap)
        rules = demo.Rules(size, shortest, longest_gap, latest_start)
        expected = first_valid_plan(count, size, shortest, longest_gap, latest_start)
        if expected is None:
            with pytest.raises(ValueError, match=f"no valid plan of {size} of {count} periods"):
                demo.timer_plan(count, size, rules)
        else:
            assert demo.timer_plan(count, size, rules) == expected, (count, rules)


def plan_sections(stdout: str) -> dict[str, tuple[list[int], list[int]]]:
    """For each strategy: the hours its headline lists and the rows its chart marks
    (a plan with the same hours as the one before it refers to that chart)."""
    lines = stdout.splitlines()
    sections: dict[str, tuple[list[int], list[int]]] = {}
    marked: list[int] = []
    for number, line in enumerate(lines):
        headline = re.fullmatch(r"(.+) \(aggressive=(True|False)\): periods ([\d, ]+?) \([^)]*\)"
                                r"( \(the same periods as above\))?", line)
        if headline:
            listed = [int(hour) for hour in headline.group(3).split(", ")]
            if headline.group(4) is None:
                rows = itertools.takewhile(lambda row: row[:1].isdigit(),
                                           itertools.dropwhile(lambda row: not row[:1].isdigit(), lines[number + 1:]))
                marked = [index for index, row in enumerate(rows) if row.split()[2] in ("●", "*")]
            sections[headline.group(1)] = (listed, marked)
    return sections


def money_rows(stdout: str) -> dict[str, list[str]]:
    table = stdout.split("timer plan of as many hours:\n", 1)[1].splitlines()
    return {title: table[i].removeprefix(title).split() for i, title in enumerate(STRATEGIES, start=1)}


def euros(value: Decimal) -> str:
    return f"{value.quantize(Decimal('0.01'), ROUND_HALF_EVEN):,}"


def check_plans_and_money(stdout: str, prices: list[str], threshold: str) -> list[Decimal]:
    """Checks the plans and the money table against the library and the timer model;
    returns each strategy's saving."""
    sections = plan_sections(stdout)
    money = money_rows(stdout)
    assert sections.keys() == STRATEGIES.keys()
    savings = []
    for title, aggressive in STRATEGIES.items():
        chosen = kestrava.get_cheapest_periods(prices, threshold, *HEAT_PUMP, aggressive)
        assert sections[title] == (chosen, chosen)
        # 2 kW for an hour uses 0.002 MWh; the baseline is the first valid plan of as many hours.
        baseline = first_valid_plan(len(prices), len(chosen), *HEAT_PUMP[1:])
        assert baseline is not None
        total = sum((Decimal(prices[i]) for i in chosen), Decimal(0))
        cost = total * Decimal("0.002")
        of_baseline = sum((Decimal(prices[i]) for i in baseline), Decimal(0)) * Decimal("0.002")
        average = (total / len(chosen)).quantize(Decimal("0.01"))
        assert money[title][:7] == [str(len(chosen)), str(average), euros(cost), "EUR", euros(of_baseline), "EUR",
                                    euros(of_baseline - cost)]
        assert f"timer plan of {len(chosen)} hours: periods {', '.join(map(str, baseline))}" in stdout
        savings.append(of_baseline - cost)
    return savings


@pytest.mark.parametrize(("zone", "day", "threshold"), [
    ("NL", "2024-04-21", None),  # both strategies choose the same hours
    ("DE-LU", "2024-07-07", None),  # most hours below zero; the strategies differ
    ("NL", "2024-10-13", "45.5"),
])
def test_demo_shows_the_librarys_plans_and_their_money(zone: str, day: str, threshold: str | None) -> None:
    args = ["--zone", zone, "--day", day] + (["--threshold", threshold] if threshold else [])
    result = run_demo(*args)
    assert (result.returncode, result.stderr) == (0, ""), result.stderr
    prices = day_prices(zone, day)
    if threshold is None:  # the day's sixth-cheapest price
        threshold = sorted(prices, key=Decimal)[5]
    assert f"priced at or below {threshold}\n" in result.stdout
    check_plans_and_money(result.stdout, prices, threshold)


@pytest.mark.parametrize(("zone", "day"), BUNDLED_DAYS)
def test_no_bundled_day_shows_a_saving_against_a_forbidden_plan(zone: str, day: str) -> None:
    # Running from midnight broke "never more than 4 hours off" and showed losses on
    # half of these days; the timer plan keeps the rules, and the plan never loses to it.
    result = run_demo("--zone", zone, "--day", day)
    assert (result.returncode, result.stderr) == (0, ""), result.stderr
    prices = day_prices(zone, day)
    savings = check_plans_and_money(result.stdout, prices, sorted(prices, key=Decimal)[5])
    assert all(saving >= 0 for saving in savings), savings
    assert demo.BASELINE_NOTE in result.stdout.splitlines()


def test_demo_lists_the_bundled_days() -> None:
    result = run_demo("--list")
    assert result.returncode == 0
    lines = result.stdout.splitlines()
    for zone in ("DE-LU", "NL"):
        days = sorted({row[:10] for row in (DATA / f"{zone}-sample.csv").read_text().splitlines()[1:]})
        assert any(line.startswith(f"{zone}: {', '.join(days)} (hours)") for line in lines), lines
    assert "FR: 2025-10-26 (quarter-hours)" in lines


@pytest.mark.parametrize(("args", "message"), [
    (["--day", "2024-02-30"], "demo: no day 2024-02-30 for NL; bundled days: 2024-01-15, "),
    (["--threshold", "cheap"], "demo: Invalid decimal"),
    (["--min-consecutive-periods", "7"], "demo: min_consecutive_periods cannot be greater than min_selections"),
    (["--data-dir", "/nonexistent"], "demo: cannot read /nonexistent/day-ahead-2024/NL-sample.csv"),
])
def test_demo_errors_exit_2_with_a_message(args: list[str], message: str) -> None:
    result = run_demo(*args)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.startswith(message)


def test_demo_falls_back_to_ascii_where_the_terminal_cannot_draw_boxes() -> None:
    result = run_demo(encoding="ascii")
    assert result.returncode == 0, result.stderr
    assert result.stdout.isascii()
    assert plan_sections(result.stdout) == plan_sections(run_demo().stdout)


def test_hourly_averages_are_exact() -> None:
    rng = random.Random(15)
    prices = [f"{rng.randint(-50_000, 300_000) / 1000:.3f}" for _ in range(100)]
    averages = demo.hourly_averages(prices)
    assert len(averages) == 25
    for hour, average in enumerate(averages):
        assert Decimal(average) * 4 == sum(Decimal(price) for price in prices[4 * hour:4 * hour + 4])
    assert demo.hourly_averages(["0.0001", "0", "0", "0"]) == ["0.000025"]
    assert demo.quarters_of([0, 2]) == [0, 1, 2, 3, 8, 9, 10, 11]


def quarter_day(zone: str, day: str) -> tuple[list[str], list[str]]:
    """(local labels, prices) of a bundled quarter-hour day."""
    periods = demo.load_quarter_days(ROOT / "data" / "day-ahead-15min" / f"{zone}-15min.csv")[day]
    return [f"{period.start:%H:%M}" for period in periods], [period.price for period in periods]


def test_quarter_hour_days_are_whole_local_days() -> None:
    lengths = {(zone, day): len(quarter_day(zone, day)[1]) for zone, day in QUARTER_DAYS}
    assert lengths == {("DE-LU", "2025-10-01"): 96, ("FR", "2025-10-26"): 100, ("NL", "2025-12-16"): 96,
                       ("NL", "2025-12-18"): 96}
    labels, _ = quarter_day("FR", "2025-10-26")
    assert labels[:2] == ["00:00", "00:15"] and labels.count("02:00") == 2 and labels[-1] == "23:45"


def runs_text(zone: str, day: str, chosen: list[int]) -> str:
    """The runs of chosen quarter-hours from the file's UTC starts: local start and end,
    with the UTC offset on a day whose offset changes."""
    berlin = ZoneInfo("Europe/Berlin")
    with (ROOT / "data" / "day-ahead-15min" / f"{zone}-15min.csv").open(newline="") as handle:
        starts = [datetime.fromisoformat(row[0]) for row in list(csv.reader(handle))[1:]]
    starts = [start for start in starts if start.astimezone(berlin).date().isoformat() == day]
    shape = "%H:%M%:z" if len({start.astimezone(berlin).utcoffset() for start in starts}) > 1 else "%H:%M"
    firsts = [i for i in chosen if i - 1 not in chosen]
    lasts = [i for i in chosen if i + 1 not in chosen]
    return ", ".join(f"{starts[first].astimezone(berlin):{shape}}-"
                     f"{(starts[last] + timedelta(minutes=15)).astimezone(berlin):{shape}}"
                     for first, last in zip(firsts, lasts))


@pytest.mark.parametrize(("zone", "day"), [*QUARTER_DAYS, ("NL", "2025-12-17")])  # 12-17: quarter-hours pay more
def test_quarter_hour_day_is_compared_with_its_hourly_averages(zone: str, day: str) -> None:
    result = run_demo("--zone", zone, "--day", day)
    assert (result.returncode, result.stderr) == (0, ""), result.stderr
    labels, prices = quarter_day(zone, day)
    threshold = sorted(prices, key=Decimal)[23]
    chosen = kestrava_plan.cheapest_periods(prices, threshold, 24, 8, 16, 16)
    hours = kestrava_plan.cheapest_periods(demo.hourly_averages(prices), threshold, *HEAT_PUMP)
    assert f"priced at or below {threshold}\n" in result.stdout
    # Both plans costed for the energy of the quarter-hour plan (2 kW for 15 minutes a quarter-hour).
    kwh = Decimal(len(chosen)) / 2
    per_unit = kwh / 1000 if zone != "NL" else kwh
    averages = [sum(Decimal(prices[i]) for i in plan) / len(plan) for plan in (chosen, demo.quarters_of(hours))]
    costs = [average * per_unit for average in averages]
    lines = result.stdout.splitlines()
    table = lines[next(i for i, line in enumerate(lines) if line.startswith("Money for a")) + 1:][:4]
    assert [row.split()[-2] for row in table[1:3]] == [euros(cost) for cost in costs]
    assert table[0].endswith(f"cost of {kwh:.1f} kWh")
    assert table[1].split()[3] == str(Decimal(len(chosen)) / 4)
    # The sentence under the table names the difference of the two amounts it shows.
    shown = [Decimal(row.split()[-2]) for row in table[1:3]]
    sentence = re.fullmatch(r"Planning the quarter-hours pays [\d.]+ EUR/[Mk]Wh (less|more) on average \(([\d.]+)%\): "
                            r"([\d.]+) EUR (less|more) for the same ([\d.]+) kWh\.", table[3])
    assert sentence is not None, table[3]
    share = (abs(averages[1] - averages[0]) * 100 / averages[1]).quantize(Decimal("0.1"), ROUND_HALF_EVEN)
    less = "less" if costs[0] <= costs[1] else "more"
    assert sentence.groups() == (less, str(share), str(abs(shown[1] - shown[0])), less, f"{kwh:.1f}")


@pytest.mark.parametrize(("zone", "day"), QUARTER_DAYS)
def test_quarter_hour_runs_are_local_times_and_indices_are_periods(zone: str, day: str) -> None:
    result = run_demo("--zone", zone, "--day", day)
    _, prices = quarter_day(zone, day)
    threshold = sorted(prices, key=Decimal)[23]
    chosen = kestrava_plan.cheapest_periods(prices, threshold, 24, 8, 16, 16)
    averages = demo.hourly_averages(prices)
    hours = kestrava_plan.cheapest_periods(averages, threshold, *HEAT_PUMP)
    assert f"quarter-hour plan (aggressive=True): {runs_text(zone, day, chosen)}\n" in result.stdout
    assert (f"): periods {', '.join(map(str, hours))} of the {len(averages)} hours "
            f"({runs_text(zone, day, demo.quarters_of(hours))})\n") in result.stdout


@pytest.mark.parametrize(("lead", "args"), [
    ("`scripts/demo.sh` prints, for the default day:", []),
    ("The quarter-hour day follows", ["--zone", "DE-LU", "--day", "2025-10-01"]),
    ("(`scripts/demo.sh --zone FR --day 2025-10-26`):", ["--zone", "FR", "--day", "2025-10-26"]),
])
def test_readme_shows_what_the_demo_prints(lead: str, args: list[str]) -> None:
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    block = readme.split(lead, 1)[1].split("```text\n", 1)[1].split("```", 1)[0].splitlines()
    printed = iter(run_demo(*args).stdout.splitlines())
    # Every line the README shows comes in the output in the same order ("..." leaves rows out).
    missing = [line for line in block if line != "..." and line not in printed]
    assert not missing, missing
