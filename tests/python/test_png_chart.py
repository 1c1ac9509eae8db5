"""The PNG chart on real days, judged from the drawn artists' extents and colours: a
marker under every chosen bar that contrasts with what it sits on, a legend that
covers no bar and no marker, tick labels that stay apart. Then `--png` on the command
and the demo, with and without matplotlib. matplotlib is a test requirement, so
nothing here is skipped."""

from __future__ import annotations

import csv
import sys
from datetime import datetime
from decimal import Decimal
from itertools import pairwise
from pathlib import Path
from typing import Any
from zoneinfo import ZoneInfo

import pytest

import kestrava_plan
from kestrava_plan import command
from kestrava_plan.command import png_chart
from test_demo import demo

ROOT = Path(__file__).resolve().parents[2]
HEAT_PUMP = (6, 2, 4, 4)  # hours, shortest run, longest pause, latest start
MIN_CONTRAST = 3.0


def day_of(zone: str, day: str) -> tuple[list[str], list[str], int]:
    """(prices, local labels, periods per hour) of a bundled day."""
    if day.startswith("2024"):
        with (ROOT / "data" / "day-ahead-2024" / f"{zone}-sample.csv").open(newline="") as handle:
            rows = [row for row in list(csv.reader(handle))[1:] if row[0].startswith(day)]
        return [price for _, price in rows], [stamp[11:16] for stamp, _ in rows], 1
    with (ROOT / "data" / "day-ahead-15min" / f"{zone}-15min.csv").open(newline="") as handle:
        local = [(datetime.fromisoformat(start).astimezone(ZoneInfo("Europe/Paris")), price)
                 for start, price in list(csv.reader(handle))[1:]]
    rows = [(moment, price) for moment, price in local if moment.date().isoformat() == day]
    return [price for _, price in rows], [f"{moment:%H:%M%:z}" for moment, _ in rows], 4


def relative_luminance(color: Any) -> float:
    from matplotlib.colors import to_rgb

    linear = [c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4 for c in to_rgb(color)]
    return 0.2126 * linear[0] + 0.7152 * linear[1] + 0.0722 * linear[2]


def contrast(first: Any, second: Any) -> float:
    darker, lighter = sorted((relative_luminance(first), relative_luminance(second)))
    return (lighter + 0.05) / (darker + 0.05)


def overlap(a: Any, b: Any) -> bool:
    """Whether two display boxes share more than a hairline (half a pixel)."""
    return min(a.x1, b.x1) - max(a.x0, b.x0) > 0.5 and min(a.y1, b.y1) - max(a.y0, b.y0) > 0.5


def marker_boxes(axis: Any, dpi: float) -> list[tuple[float, Any, Any]]:
    """(x in data, display box, face colour) of every marker drawn on the axes."""
    from matplotlib.transforms import Bbox

    boxes = []
    for collection in axis.collections:
        centres = collection.get_offset_transform().transform(collection.get_offsets())
        for number, ((x, _), (cx, cy)) in enumerate(zip(collection.get_offsets(), centres)):
            sizes, faces = collection.get_sizes(), collection.get_facecolor()
            half = (sizes[number % len(sizes)] ** 0.5) / 2 * dpi / 72  # size is an area in points squared
            boxes.append((float(x), Bbox.from_extents(cx - half, cy - half, cx + half, cy + half),
                          faces[number % len(faces)]))
    return boxes


@pytest.mark.parametrize(("zone", "day", "count"), [
    ("NL", "2024-04-21", 24),  # hourly, negative prices at midday; two panels
    ("DE-LU", "2025-10-01", 96),  # quarter-hours, no negative price
    ("FR", "2025-10-26", 100),  # quarter-hours, no negative price, the clocks go back
])
def test_chart_layout_on_real_days(zone: str, day: str, count: int) -> None:
    prices, labels, per_hour = day_of(zone, day)
    assert len(prices) == count
    threshold = sorted(prices, key=Decimal)[6 * per_hour - 1]
    rules = [value * per_hour for value in HEAT_PUMP]
    plans = [png_chart.PlanBars(f"aggressive={aggressive}",
                                kestrava_plan.cheapest_periods(prices, threshold, *rules, aggressive=aggressive))
             for aggressive in (True, False)]
    figure = png_chart.draw(f"{zone} {day}", prices, labels, threshold, plans, "EUR/MWh")
    figure.canvas.draw()
    renderer = figure.canvas.get_renderer()  # type: ignore[attr-defined]
    page = figure.bbox
    bars = [(patch.get_window_extent(renderer), patch.get_facecolor()) for axis in figure.axes
            for patch in axis.patches if patch.get_height() != 0]  # type: ignore[attr-defined]
    for axis, plan in zip(figure.axes, plans):
        marks = marker_boxes(axis, figure.dpi)
        assert sorted(round(x) for x, _, _ in marks) == sorted(plan.chosen)
        legend = axis.get_legend().get_window_extent(renderer)
        for _, box, face in marks:
            assert page.x0 <= box.x0 and box.x1 <= page.x1 and page.y0 <= box.y0 and box.y1 <= page.y1
            under = [color for bar, color in bars if overlap(bar, box)] + [axis.get_facecolor()]
            assert min(contrast(face, color) for color in under) >= MIN_CONTRAST, (box, face, under)
            assert not overlap(legend, box), "the legend covers a marker"
        covered = [bar for bar, _ in bars if overlap(legend, bar)]
        assert not covered, f"the legend covers {len(covered)} bars"
    ticks = sorted((text.get_window_extent(renderer) for text in figure.axes[-1].get_xticklabels()
                    if text.get_visible() and text.get_text()), key=lambda box: box.x0)
    assert len(ticks) >= 20
    for left, right in pairwise(ticks):
        assert not overlap(left, right), (left, right)
    assert all(page.y0 <= box.y0 and page.x0 <= box.x0 and box.x1 <= page.x1 for box in ticks)


def run_demo(argv: list[str]) -> int:
    status: int = demo.main(argv)
    return status


SOURCE = str(ROOT / "data" / "day-ahead-15min" / "FR-15min.csv")
PLAN_ARGS = [SOURCE, "--low-price-threshold", "60", "--min-selections", "24", "--min-consecutive-periods", "8",
             "--max-gap-between-periods", "16", "--max-gap-from-start", "16"]
HINT = "the PNG needs matplotlib, which is not installed: pip install 'kestrava[plot]'\n"


@pytest.mark.parametrize(("program", "args", "status", "stderr"), [
    ("command", PLAN_ARGS, 0, ""),
    ("command", [*PLAN_ARGS, "--png", "{png}"], 2, f"kestrava-plan: error: --png: {HINT}"),
    ("demo", [], 0, ""),
    ("demo", ["--png", "{png}"], 2, f"demo: {HINT}"),
])
def test_only_png_needs_matplotlib(monkeypatch: pytest.MonkeyPatch, capsys: pytest.CaptureFixture[str],
                                   tmp_path: Path, program: str, args: list[str], status: int, stderr: str) -> None:
    for name in [name for name in sys.modules if name == "matplotlib" or name.startswith("matplotlib.")]:
        monkeypatch.delitem(sys.modules, name)
    monkeypatch.setitem(sys.modules, "matplotlib", None)  # import matplotlib now raises ImportError
    argv = [arg.format(png=tmp_path / "plan.png") for arg in args]
    assert (command.main(argv) if program == "command" else run_demo(argv)) == status
    out, err = capsys.readouterr()
    assert err == stderr
    assert (out == "") == (status == 2)  # nothing planned in vain
    assert not (tmp_path / "plan.png").exists()


@pytest.mark.parametrize(("program", "args"), [
    ("command", [*PLAN_ARGS, "--png", "{folder}/plan.png"]),
    ("demo", ["--zone", "FR", "--day", "2025-10-26", "--png", "{folder}/plan.png"]),
    ("command", [*PLAN_ARGS, "--png", "{folder}/missing/plan.png"]),
])
def test_png_is_written(capsys: pytest.CaptureFixture[str], tmp_path: Path, program: str, args: list[str]) -> None:
    argv = [arg.format(folder=tmp_path) for arg in args]
    png = Path(argv[-1])
    status = command.main(argv) if program == "command" else run_demo(argv)
    out, err = capsys.readouterr()
    if png.parent.exists():
        assert status == 0 and png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    else:  # the plan is not printed either: the PNG is written first
        assert (status, out, err) == (2, "", f"kestrava-plan: error: --png: cannot write {png}: No such file or "
                                      "directory\n")
