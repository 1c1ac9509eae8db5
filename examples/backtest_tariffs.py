"""The backtest's loads under the worked tariffs of examples/tariffs/: what each pays over
2024 at the paid price when it is planned on the spot price (the plans of backtest.py) and
when it is planned on the paid price, the threshold then the day's 6th-cheapest paid price.

A tariff reads each hour at its local time, so the two clock-change days, whose 24 labels
in the 2024 files are no real local time, are left out of both sides.
"""

from __future__ import annotations

from collections import defaultdict
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from datetime import date, datetime
from decimal import Decimal
from pathlib import Path
from typing import TYPE_CHECKING
from zoneinfo import ZoneInfo

import pyarrow as pa

from demo import CHEAP_RANK
from kestrava_plan import Tariff, column, plan_table

if TYPE_CHECKING:
    from backtest import Day, Load

TARIFFS = Path(__file__).resolve().parent / "tariffs"
# Each worked tariff on the zone whose prices it adds to (there are no Danish prices here:
# the Danish-shaped table runs on DE-LU's, whose clock is the same).
WORKED = {"de-time-of-use-grid-fee": "DE-LU", "nl-supplier-formula": "NL", "dk-network-table": "DE-LU"}
FILE_CLOCK = ZoneInfo("Europe/Berlin")  # the local time the 2024 files label, in both zones
CLOCK_CHANGE_DAYS = (date(2024, 3, 31), date(2024, 10, 27))
RULE_COLUMNS = ("min_selections", "min_consecutive_periods", "max_gap_between_periods", "max_gap_from_start")


@dataclass(frozen=True)
class PricedDay:
    """A day of spot prices with its UTC starts and its paid prices under one tariff."""

    zone: str
    day: date
    spot: list[str]
    starts: list[datetime]
    paid: list[Decimal]


@dataclass
class Costs:
    """One load, strategy and tariff over the year, in EUR at the paid price."""

    days: int = 0
    on_spot: Decimal = Decimal(0)
    on_paid: Decimal = Decimal(0)
    hours_on_spot: int = 0
    hours_on_paid: int = 0

    def add(self, load_kw: Decimal, paid: Sequence[Decimal], on_spot: Sequence[int], on_paid: Sequence[int]) -> None:
        """One day: the paid prices and the periods of both plans."""
        self.days += 1
        self.on_spot += load_kw * sum((paid[i] for i in on_spot), Decimal(0))
        self.on_paid += load_kw * sum((paid[i] for i in on_paid), Decimal(0))
        self.hours_on_spot += len(on_spot)
        self.hours_on_paid += len(on_paid)


def priced_days(tariff: Tariff, zone: str, days: Sequence[Day]) -> list[PricedDay]:
    """The zone's days but those of the clock changes."""
    priced = []
    for day in days:
        if day.zone != zone or day.day in CLOCK_CHANGE_DAYS:
            continue
        starts = [datetime(day.day.year, day.day.month, day.day.day, hour, tzinfo=FILE_CLOCK) for hour in
                  range(len(day.prices))]
        priced.append(PricedDay(zone, day.day, day.prices, starts, tariff.paid_prices(day.prices, starts)))
    return priced


def paid_plans(tariff: Tariff, priced: Sequence[PricedDay], loads: Sequence[Load], strategies: Mapping[str, bool],
               threads: int | None) -> dict[tuple[date, str, str], list[int]]:
    """Every day, load and strategy planned on its paid prices in one plan_table call."""
    keys = [(day, load, strategy) for day in priced for load in loads for strategy in strategies]
    columns: dict[str, pa.Array] = {
        "id": pa.array(range(len(keys)), pa.int64()),
        "prices": pa.array([day.spot for day, _, _ in keys], pa.list_(pa.string())),
        "times": pa.array([day.starts for day, _, _ in keys], pa.list_(pa.timestamp("us", tz="UTC"))),
        "threshold": pa.array([format(sorted(day.paid)[CHEAP_RANK - 1], "f") for day, _, _ in keys], pa.string()),
        "aggressive": pa.array([strategies[strategy] for _, _, strategy in keys], pa.bool_()),
    }
    for position, name in enumerate(RULE_COLUMNS):
        columns[name] = pa.array([load.rules.values()[position] for _, load, _ in keys], pa.int64())
    planned = plan_table(pa.table(columns), tariff=tariff, times="times", low_price_threshold=column("threshold"),
                         min_selections=column("min_selections"),
                         min_consecutive_periods=column("min_consecutive_periods"),
                         max_gap_between_periods=column("max_gap_between_periods"),
                         max_gap_from_start=column("max_gap_from_start"), aggressive=column("aggressive"),
                         threads=threads)
    plans = {}
    for (day, load, strategy), row in zip(keys, planned.to_pylist(), strict=True):
        if row["error"] is not None:
            raise RuntimeError(f"{day.zone} {day.day} {load.name} ({strategy}) on the paid price: {row['error']}")
        plans[(day.day, load.name, strategy)] = row["periods"]
    return plans


def tariff_costs(spot_plans: Mapping[tuple[str, date, str, str], Sequence[int]], days: Sequence[Day],
                 loads: Sequence[Load], strategies: Mapping[str, bool],
                 threads: int | None) -> dict[tuple[str, str, str], Costs]:
    """Costs per (load, strategy, tariff); spot_plans holds backtest.py's periods by (zone, day, load, strategy)."""
    costs: dict[tuple[str, str, str], Costs] = defaultdict(Costs)
    for name, zone in WORKED.items():
        tariff = Tariff.from_toml(TARIFFS / f"{name}.toml")
        priced = priced_days(tariff, zone, days)
        on_paid = paid_plans(tariff, priced, loads, strategies, threads)
        for day in priced:
            for load in loads:
                for strategy in strategies:
                    costs[(load.name, strategy, name)].add(load.power_kw, day.paid,
                                                           spot_plans[(zone, day.day, load.name, strategy)],
                                                           on_paid[(day.day, load.name, strategy)])
    return costs
