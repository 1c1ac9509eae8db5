"""The PNG chart of plans, shared by the command (`--png`) and the demo: one bar chart
per plan, drawn off-screen with matplotlib's Agg backend. matplotlib (the `plot`
extra) is imported only when a chart is drawn, so everything else runs without it.

The layout keeps every part readable on any day:
- a chosen bar is green and outlined, and a marker under it sits in a band kept free
  below the lowest bar, on the white background: it shows where a bar is too thin to
  see, and never sits dark on a green bar;
- the legend, headed by the plan's name, stands above the axes, clear of every bar;
- the tick labels stand upright at a step that keeps hours whole and leaves room
  between them at 96 and 100 quarter-hours.
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING

from .chart import decimal_of

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

INSTALL_HINT = "the PNG needs matplotlib, which is not installed: pip install 'kestrava[plot]'"

CHOSEN_FACE = "#2ca02c"  # green
CHOSEN_EDGE = "#006400"  # dark green
LEFT_OUT_FACE = "#d3d3d3"  # light grey
THRESHOLD_COLOR = "#ff7f0e"  # orange
SPOT_COLOR = "#1f4e99"  # dark blue: the spot price under a tariff's paid price
# Dark green on the white background: a contrast of 7.4:1 (on the green bar it was 2.2:1).
MARK_COLOR = CHOSEN_EDGE
MARK_SIZE = 22  # points squared
# The band below the lowest bar that holds the markers, and the room above the
# highest, as shares of the prices' span.
MARK_BAND = 0.12
HEADROOM = 0.05
MAX_TICKS = 25
# Tick steps that keep hours whole on quarter-hour data (4) and days whole on hourly (24).
TICK_STEPS = (1, 2, 4, 8, 12, 24, 48, 96, 168, 336, 672, 1344, 2688, 5376, 10752)
PANEL_HEIGHT = 3.6  # inches per plan
DPI = 100


class ChartUnavailable(Exception):
    """matplotlib is not installed; the message says how to install it."""


@dataclass(frozen=True)
class PlanBars:
    title: str  # heads the plan's legend
    chosen: Sequence[int]  # indices of the chosen periods


def require_matplotlib() -> None:
    """Raises ChartUnavailable unless matplotlib can be imported: ask before the work
    whose result the chart would show."""
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise ChartUnavailable(INSTALL_HINT) from None


def tick_step(count: int) -> int:
    """The smallest step of TICK_STEPS that labels at most MAX_TICKS of `count` bars."""
    return next((step for step in TICK_STEPS if -(-count // step) <= MAX_TICKS), -(-count // MAX_TICKS))


def draw(title: str, prices: Sequence[str], labels: Sequence[str], threshold: str, plans: Sequence[PlanBars],
         unit: str, spot: Sequence[str] | None = None) -> Figure:
    """The figure, one panel per plan, on an Agg canvas (no display needed); `spot`,
    the spot price of each period in the prices' unit, is drawn as a line over the
    bars of the paid prices a tariff makes of it."""
    require_matplotlib()
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    figure = Figure(figsize=(10, 1.2 + PANEL_HEIGHT * len(plans)), dpi=DPI, layout="constrained")
    FigureCanvasAgg(figure)
    axes = figure.subplots(len(plans), 1, sharex=True, squeeze=False)[:, 0]
    # Floats only for pixel positions; every amount printed comes from decimals.
    values = [float(decimal_of(price)) for price in prices]
    limit = float(decimal_of(threshold))
    spot_values = [float(decimal_of(price)) for price in spot] if spot is not None else None
    for axis, plan in zip(axes, plans):
        _draw_plan(axis, values, limit, threshold, plan, unit, spot_values)
    step = tick_step(len(labels))
    ticks = list(range(0, len(labels), step))
    axes[-1].set_xticks(ticks, [labels[i] for i in ticks], fontsize=7, rotation=90)
    axes[-1].set_xlim(-0.75, len(values) - 0.25)
    figure.suptitle(title)
    return figure


def save_png(path: Path | str, figure: Figure) -> None:
    """Writes the figure as a PNG file."""
    figure.savefig(path, dpi=DPI)


def _draw_plan(axis: Axes, values: Sequence[float], limit: float, threshold: str, plan: PlanBars,
               unit: str, spot: Sequence[float] | None = None) -> None:
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch

    chosen = set(plan.chosen)
    low = min(0.0, limit, *values, *(spot or ()))
    high = max(0.0, limit, *values, *(spot or ()))
    span = high - low or 1.0
    axis.bar(range(len(values)), values, color=[CHOSEN_FACE if i in chosen else LEFT_OUT_FACE for i in
                                                range(len(values))],
             edgecolor=[CHOSEN_EDGE if i in chosen else "none" for i in range(len(values))], linewidth=0.8)
    # The band below the lowest bar is kept free for the markers.
    axis.set_ylim(low - MARK_BAND * span, high + HEADROOM * span)
    axis.scatter(sorted(chosen), [low - MARK_BAND * span / 2] * len(chosen), marker="^", color=MARK_COLOR,
                 s=MARK_SIZE, zorder=3)
    axis.axhline(limit, color=THRESHOLD_COLOR, linestyle="--")
    axis.axhline(0, color="black", linewidth=0.6)
    axis.set_ylabel(unit)
    spot_line = []
    if spot is not None:
        axis.step(range(len(spot)), spot, where="mid", color=SPOT_COLOR, linewidth=1.4, zorder=4)
        spot_line = [Line2D([], [], color=SPOT_COLOR, label="spot price (the bars: the price paid)")]
    axis.legend(handles=[*spot_line,
        Patch(facecolor=CHOSEN_FACE, edgecolor=CHOSEN_EDGE, label=f"chosen ({len(chosen)}), marked ▲ below"),
        Patch(facecolor=LEFT_OUT_FACE, label="left out"),
        Line2D([], [], color=THRESHOLD_COLOR, linestyle="--", label=f"threshold {threshold} (cheap at or below)"),
    ], title=plan.title, alignment="left", loc="lower left", bbox_to_anchor=(0, 1), ncols=3, fontsize=8,
        title_fontsize=9, frameon=False, borderaxespad=0.3)
