"""What the table recipes share: the bundled year files, the heat pump they plan on every
day, and the totals table they all print, so that their answers can be compared line by
line.

Functions that a cluster ships to its workers must not use this module (a worker cannot
import it): the recipes pass these values to them as arguments.
"""

from __future__ import annotations

from collections.abc import Iterable
from decimal import ROUND_HALF_EVEN, Decimal, Inexact, localcontext
from pathlib import Path
from typing import TypedDict

DATA = Path(__file__).resolve().parent.parent / "data" / "day-ahead-2024"
# Each file: a header "Datetime,Price (EUR/MWh)", then one row per hour.
YEAR_FILES = {zone: DATA / f"{zone}-2024.csv" for zone in ("DE-LU", "NL")}
HOURS_A_DAY = 24  # a day with fewer rows is not planned



class Rules(TypedDict):
    """plan_table's rules by name, so that **rules type-checks."""

    low_price_threshold: str
    min_selections: int
    min_consecutive_periods: int
    max_gap_between_periods: int
    max_gap_from_start: int


# A heat pump: 6 hours a day, runs of at least 2 hours, never more than 4 hours off, the
# first run within 4 hours; hours at or below 50 EUR/MWh are cheap.
HEAT_PUMP: Rules = {"low_price_threshold": "50", "min_selections": 6, "min_consecutive_periods": 2,
             "max_gap_between_periods": 4, "max_gap_from_start": 4}
HEADLINE = ("Heat pump on every whole day of 2024: 6 h a day, runs of 2 h or more, at most 4 h off, "
            "cheap at or below 50 EUR/MWh")
COLUMNS = ("zone", "days", "hours", "EUR at 1 MW", "avg EUR/MWh")


def totals_table(rows: Iterable[tuple[str, int, int, Decimal]]) -> str:
    """(zone, days, hours run, exact cost) rows as the table every recipe prints: the cost
    is the sum of the chosen hours' prices, what a 1 MW load pays, shown exactly."""
    lines = [f"{COLUMNS[0]:<6}{COLUMNS[1]:>6}{COLUMNS[2]:>7}{COLUMNS[3]:>15}{COLUMNS[4]:>13}"]
    for zone, days, hours, cost in rows:
        with localcontext() as context:
            context.traps[Inexact] = True  # the prices have at most 3 decimals, so the sums too
            shown = Decimal(cost).quantize(Decimal("0.001"))
        average = (Decimal(cost) / hours).quantize(Decimal("0.01"), ROUND_HALF_EVEN)
        lines.append(f"{zone:<6}{days:>6}{hours:>7}{shown:>15,}{average:>13}")
    return "\n".join(lines)
