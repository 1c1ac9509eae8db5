"""Plans a heat pump on every day of 2024 in two bidding zones with pandas: a groupby
makes each zone's day a list of prices in time order, `kestrava_plan.plan_table` plans
the whole DataFrame at once (through pyarrow) and answers a DataFrame, and pandas adds
up the cost.

    python examples/recipe_pandas.py        (pip install pandas pyarrow)
"""

from __future__ import annotations

from decimal import Decimal

import pandas as pd

from kestrava_plan import plan_table
from recipe_common import HEADLINE, HEAT_PUMP, HOURS_A_DAY, YEAR_FILES, totals_table


def read_days() -> pd.DataFrame:
    """One row per zone and whole day. The prices are read as text, exactly as written;
    float64 would do too (plan_table reads a float by its shortest repr)."""
    hours = pd.concat([
        pd.read_csv(path, dtype={"Price (EUR/MWh)": str}, parse_dates=["Datetime"])
        .rename(columns={"Price (EUR/MWh)": "price"}).assign(zone=zone)
        for zone, path in YEAR_FILES.items()])
    hours = hours.sort_values("Datetime")
    days = (hours.groupby(["zone", hours["Datetime"].dt.date.rename("day")])["price"]
            .agg(list).reset_index(name="prices"))
    days = days[days["prices"].map(len) == HOURS_A_DAY]
    return days.assign(id=days["zone"] + " " + days["day"].astype(str))[["id", "zone", "prices"]]


def main() -> None:
    days = read_days()
    plans = plan_table(days, **HEAT_PUMP)
    planned = plans[plans["error"].isna()].merge(days[["id", "zone"]], on="id")
    totals = planned.assign(cost=planned["cost"].map(Decimal)).groupby("zone").agg(
        days=("id", "size"), hours=("count", "sum"), cost=("cost", "sum"))
    print(HEADLINE)
    print(totals_table(totals.itertuples(name=None)))


if __name__ == "__main__":
    main()
