"""The terminal chart shared by the command and the demo: bars, marks, the threshold
line, and a scale whose labels stay apart on every bundled day."""

from __future__ import annotations

import csv
import re
from decimal import Decimal
from pathlib import Path

import pytest

from kestrava_plan.command.chart import ASCII_GLYPHS, UNICODE_GLYPHS, Glyphs, decimal_of, render_chart

ROOT = Path(__file__).resolve().parents[2]
HOURLY = ROOT / "data" / "day-ahead-2024"


def bar_start(prices: list[str], labels: list[str]) -> int:
    """A row is the label and the price right-aligned, a one-character mark, the bar."""
    return max(map(len, labels)) + max(map(len, prices)) + 4


def scale_and_rows(chart: str, prices: list[str], labels: list[str]) -> tuple[list[str], list[str]]:
    """The scale lines (from where the bars start) and the rows of the periods."""
    lines = chart.splitlines()
    label_width = max(map(len, labels))
    count = next(number for number, line in enumerate(lines) if line[:label_width].strip())
    return [line[bar_start(prices, labels):] for line in lines[:count]], lines[count:count + len(prices)]


def bars(chart: str, prices: list[str], labels: list[str]) -> list[tuple[str, str, str, str]]:
    """(label, price, mark, bar) of each period's row."""
    label_width = max(map(len, labels))
    price_width = max(map(len, prices))
    start = bar_start(prices, labels)
    _, rows = scale_and_rows(chart, prices, labels)
    return [(row[:label_width].strip(), row[label_width + 1:label_width + 1 + price_width].strip(),
             row[start - 2], row[start:]) for row in rows]


def filled(bar: str, glyph: str) -> list[int]:
    return [position for position, cell in enumerate(bar) if cell == glyph]


@pytest.mark.parametrize("glyphs", [UNICODE_GLYPHS, ASCII_GLYPHS], ids=["unicode", "ascii"])
@pytest.mark.parametrize(("prices", "threshold", "chosen"), [
    (["10", "20", "40", "30", "5"], "15", {0, 4}),
    (["-20", "-5", "0", "10", "30"], "-5", {0, 1, 2}),
    (["1_000", "0.5", "2000.25"], "1500", set()),
])
def test_chart_rows(prices: list[str], threshold: str, chosen: set[int], glyphs: Glyphs) -> None:
    labels = [f"h{i}" for i in range(len(prices))]
    chart = render_chart(prices, chosen, threshold, labels=labels, width=40, glyphs=glyphs)
    scale, _ = scale_and_rows(chart, prices, labels)
    assert len(chart.splitlines()) == len(scale) + len(prices) + 1  # the scale, one row per period, the legend
    threshold_columns = set()
    for index, (label, price, mark, bar) in enumerate(bars(chart, prices, labels)):
        assert (label, price) == (labels[index], prices[index])
        assert mark == (glyphs.mark if index in chosen else " ")
        assert len(bar) <= 41
        # A chosen bar is drawn solid, any other shaded, never a mix.
        fill, other = (glyphs.chosen, glyphs.other) if index in chosen else (glyphs.other, glyphs.chosen)
        assert other not in bar
        assert (fill in bar) == (decimal_of(price) != 0)
        threshold_columns.add(bar.index(glyphs.threshold))
    assert len(threshold_columns) == 1  # one vertical line through every row
    assert f"threshold {threshold}" in chart.splitlines()[-1]


def test_chart_scales_bars_from_zero() -> None:
    prices = ["0", "10", "20", "40", "-20"]
    labels = [str(i) for i in range(len(prices))]
    chart = render_chart(prices, {1, 2, 3, 4}, "0", width=60, glyphs=ASCII_GLYPHS)
    # The scale runs from -20 to 40 over 60 cells: zero at cell 20, one cell per unit.
    assert chart.splitlines()[0].split() == ["-20", "0", "40"]
    rows = bars(chart, prices, labels)
    assert [bar.index("|") for *_, bar in rows] == [20] * 5
    assert filled(rows[0][3], "#") == []
    assert filled(rows[1][3], "#") == list(range(21, 30))  # cell 20 carries the threshold line
    assert filled(rows[2][3], "#") == list(range(21, 40))
    assert filled(rows[3][3], "#") == list(range(21, 60))
    assert filled(rows[4][3], "#") == list(range(0, 20))


def test_chart_shows_a_tiny_price_with_one_cell() -> None:
    chart = render_chart(["1000", "0.001", "-0.001"], set(), "1000", width=20, glyphs=ASCII_GLYPHS)
    rows = bars(chart, ["1000", "0.001", "-0.001"], ["0", "1", "2"])
    assert len(filled(rows[1][3], ".")) == 1
    assert len(filled(rows[2][3], ".")) == 1


def test_chart_rejects_a_width_too_small_to_draw() -> None:
    with pytest.raises(ValueError, match="width"):
        render_chart(["1"], {0}, "1", width=1)


def bundled_days() -> list[tuple[str, str, list[str]]]:
    days: dict[tuple[str, str], list[str]] = {}
    for path in sorted(HOURLY.glob("*-sample.csv")):
        with path.open(newline="") as handle:
            for stamp, price in list(csv.reader(handle))[1:]:
                days.setdefault((path.name.removesuffix("-sample.csv"), stamp[:10]), []).append(price)
    return [(zone, day, prices) for (zone, day), prices in days.items()]


BUNDLED_DAYS = bundled_days()


def thresholds(prices: list[str]) -> list[str]:
    """The demo's default (the sixth-cheapest price) and the values where labels meet."""
    ordered = sorted(prices, key=Decimal)
    return [ordered[5], ordered[0], ordered[-1], "0", ordered[1]]


@pytest.mark.parametrize("width", [48, 16])
@pytest.mark.parametrize(("zone", "day", "prices"), BUNDLED_DAYS, ids=[f"{zone} {day}" for zone, day, _ in BUNDLED_DAYS])
def test_scale_labels_stay_apart_on_every_bundled_day(zone: str, day: str, prices: list[str], width: int) -> None:
    labels = [f"{hour:02}:00" for hour in range(len(prices))]
    for threshold in thresholds(prices):
        chart = render_chart(prices, set(), threshold, labels=labels, width=width, glyphs=ASCII_GLYPHS)
        scale, _ = scale_and_rows(chart, prices, labels)
        values = [Decimal(0), Decimal(threshold), *map(Decimal, prices)]
        low, high = min(values), max(values)
        wanted = {value.normalize() for value in (low, Decimal(0), Decimal(threshold), high)}
        found: list[tuple[Decimal, int, int, int]] = []  # value, line, first and last cell
        for number, line in enumerate(scale):
            words = [(Decimal(word[0]).normalize(), word.start(), word.end() - 1) for word in re.finditer(r"\S+", line)]
            # Labels that touched would read as one word; in a line they follow the values.
            assert [value for value, *_ in words] == sorted(value for value, *_ in words), (threshold, scale)
            found += [(value, number, first, last) for value, first, last in words]
        assert sorted(value for value, *_ in found) == sorted(wanted), (threshold, scale)
        places = {value: (first, last) for value, _, first, last in found}
        assert places[low.normalize()][0] == 0 and places[high.normalize()][1] == width
        line_column = bars(chart, prices, labels)[0][3].index("|")
        first, last = places[Decimal(threshold).normalize()]
        assert first <= line_column <= last or Decimal(threshold) in (low, high, 0), (threshold, scale)
