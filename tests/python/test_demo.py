"""The demo on the bundled real days: what it prints must agree with the library."""

from __future__ import annotations

import csv
import importlib.util
import os
import re
import subprocess
import sys
from decimal import ROUND_HALF_EVEN, Decimal
from pathlib import Path

import pytest

import kestrava

ROOT = Path(__file__).resolve().parents[2]
DEMO = ROOT / "examples" / "demo.py"
DATA = ROOT / "data" / "day-ahead-2024"
STRATEGIES = {"lowest average": True, "cheap base + cheap hours": False}
HEAT_PUMP = (6, 2, 4, 4)  # hours, shortest run, longest pause, latest start


def run_demo(*args: str, encoding: str = "utf-8") -> subprocess.CompletedProcess[str]:
    env = {**os.environ, "PYTHONIOENCODING": encoding, "NO_COLOR": "1"}
    return subprocess.run([sys.executable, str(DEMO), *args], capture_output=True, text=True,
                          encoding="utf-8", env=env, timeout=600)


def day_prices(zone: str, day: str) -> list[str]:
    with (DATA / f"{zone}-sample.csv").open(newline="") as handle:
        return [price for stamp, price in list(csv.reader(handle))[1:] if stamp.startswith(day)]


def plan_sections(stdout: str, hours: int) -> dict[str, tuple[list[int], list[int]]]:
    """For each strategy: the hours its headline lists and the rows its chart marks
    (a plan with the same hours as the one before it refers to that chart)."""
    lines = stdout.splitlines()
    sections: dict[str, tuple[list[int], list[int]]] = {}
    marked: list[int] = []
    for number, line in enumerate(lines):
        headline = re.fullmatch(r"(.+) \(aggressive=(True|False)\): hours ([\d, ]+?)( \(the same hours as above\))?",
                                line)
        if headline:
            listed = [int(hour) for hour in headline.group(3).split(", ")]
            if headline.group(4) is None:
                rows = [row for row in lines[number + 1:] if row[:1].isdigit()][:hours]  # after the scale
                assert [row.split()[0] for row in rows] == [f"{h:02}:00" for h in range(hours)]
                marked = [index for index, row in enumerate(rows) if row.split()[2] in ("●", "*")]
            sections[headline.group(1)] = (listed, marked)
    return sections


def money_rows(stdout: str) -> dict[str, list[str]]:
    table = stdout.split("from 00:00:\n", 1)[1].splitlines()
    return {title: table[i].removeprefix(title).split() for i, title in enumerate(STRATEGIES, start=1)}


def euros(value: Decimal) -> str:
    return f"{value.quantize(Decimal('0.01'), ROUND_HALF_EVEN):,}"


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

    sections = plan_sections(result.stdout, len(prices))
    money = money_rows(result.stdout)
    assert sections.keys() == STRATEGIES.keys()
    for title, aggressive in STRATEGIES.items():
        chosen = kestrava.get_cheapest_periods(prices, threshold, *HEAT_PUMP, aggressive)
        assert sections[title] == (chosen, chosen)
        # 2 kW for an hour uses 0.002 MWh; the baseline runs as many hours from 00:00.
        total = sum((Decimal(prices[i]) for i in chosen), Decimal(0))
        cost = total * Decimal("0.002")
        at_start = sum((Decimal(p) for p in prices[:len(chosen)]), Decimal(0)) * Decimal("0.002")
        average = (total / len(chosen)).quantize(Decimal("0.01"))
        assert money[title][:7] == [str(len(chosen)), str(average), euros(cost), "EUR", euros(at_start), "EUR",
                                    euros(at_start - cost)]


def test_demo_lists_the_bundled_days() -> None:
    result = run_demo("--list")
    assert result.returncode == 0
    for zone in ("DE-LU", "NL"):
        days = sorted({row[:10] for row in (DATA / f"{zone}-sample.csv").read_text().splitlines()[1:]})
        assert f"{zone}: {', '.join(days)}" in result.stdout.splitlines()


@pytest.mark.parametrize(("args", "message"), [
    (["--day", "2024-02-30"], "demo: no day 2024-02-30 for NL; bundled days: 2024-01-15, "),
    (["--threshold", "cheap"], "demo: Invalid decimal"),
    (["--min-consecutive-periods", "7"], "demo: min_consecutive_periods cannot be greater than min_selections"),
    (["--data-dir", "/nonexistent"], "demo: cannot read /nonexistent/NL-sample.csv"),
])
def test_demo_errors_exit_2_with_a_message(args: list[str], message: str) -> None:
    result = run_demo(*args)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.startswith(message)


def test_demo_falls_back_to_ascii_where_the_terminal_cannot_draw_boxes() -> None:
    result = run_demo(encoding="ascii")
    assert result.returncode == 0, result.stderr
    assert result.stdout.isascii()
    assert plan_sections(result.stdout, 24) == plan_sections(run_demo().stdout, 24)


def test_png_needs_the_plot_extra(tmp_path: Path) -> None:
    png = tmp_path / "day.png"
    result = run_demo("--png", str(png))
    if importlib.util.find_spec("matplotlib") is None:
        assert result.returncode == 2
        assert "pip install 'kestrava[plot]'" in result.stderr
        assert not png.exists()
    else:
        assert result.returncode == 0, result.stderr
        assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
