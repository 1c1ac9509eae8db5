"""Plans a heat pump on every day of 2024 in two bidding zones with Polars: the prices of
each zone's day become a list in time order, `kestrava_plan.plan_table` plans the whole
DataFrame at once and answers a DataFrame, and Polars adds up the cost.

    python examples/recipe_polars.py        (pip install polars pyarrow)
"""

from __future__ import annotations

import polars as pl

from kestrava_plan import plan_table
from recipe_common import HEADLINE, HEAT_PUMP, HOURS_A_DAY, YEAR_FILES, totals_table


def read_days() -> pl.DataFrame:
    """One row per zone and whole day; the prices as Float64, which plan_table reads by
    their shortest repr, so 64.98 is planned as 64.98."""
    hours = pl.concat([
        pl.read_csv(path, try_parse_dates=True)
        .select(pl.lit(zone).alias("zone"), pl.col("Datetime"), pl.col("Price (EUR/MWh)").alias("price"))
        for zone, path in YEAR_FILES.items()])
    return (hours.group_by("zone", pl.col("Datetime").dt.date().alias("day"))
            .agg(pl.col("price").sort_by("Datetime"), pl.len().alias("hours"))
            .filter(pl.col("hours") == HOURS_A_DAY)
            .select(pl.concat_str("zone", pl.col("day").cast(pl.String), separator=" ").alias("id"), "zone",
                    pl.col("price").alias("prices"))
            .sort("id"))


def main() -> None:
    days = read_days()
    plans = plan_table(days, **HEAT_PUMP)
    totals = (plans.join(days.select("id", "zone"), on="id")
              .filter(pl.col("error").is_null())
              .group_by("zone")
              .agg(pl.len(), pl.col("count").sum(), pl.col("cost").str.to_decimal(scale=3).sum())
              .sort("zone"))
    print(HEADLINE)
    print(totals_table(totals.iter_rows()))


if __name__ == "__main__":
    main()
