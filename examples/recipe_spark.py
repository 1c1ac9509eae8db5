"""Plans a heat pump on every day of 2024 in two bidding zones with Spark: Spark SQL
groups each zone's day into an array of prices in time order, `mapInArrow` hands each
partition's Arrow batches to `kestrava_plan.plan_table` on the executors, and Spark adds
up the cost.

    python examples/recipe_spark.py                     Spark in this process (local[2])
    python examples/recipe_spark.py --master URL        a cluster whose executors have
                                                        kestrava and pyarrow installed

(pip install pyspark pyarrow; Spark needs a Java runtime)
"""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Iterator

import pyarrow as pa
from pyspark.sql import DataFrame, SparkSession

from kestrava_plan import plan_table
from recipe_common import HEADLINE, HEAT_PUMP, HOURS_A_DAY, YEAR_FILES, Rules, totals_table

PLANS_SCHEMA = "id string, periods array<int>, cost string, count int, error string"


def plan_batches(batches: Iterator[pa.RecordBatch], rules: Rules) -> Iterator[pa.RecordBatch]:
    """Runs on an executor: the plans of each Arrow batch of a partition. One thread
    each, as Spark runs partitions side by side."""
    for batch in batches:
        yield from plan_table(pa.Table.from_batches([batch]), **rules, threads=1).to_batches()


def read_days(spark: SparkSession) -> DataFrame:
    """One row per zone and whole day, the prices as text exactly as written. The times
    stay text too: ISO times sort in time order, and no session time zone shifts them."""
    for zone, path in YEAR_FILES.items():
        spark.read.csv(str(path), header=True, schema="ts STRING, price STRING") \
            .createOrReplaceTempView(f"hours_{zone.replace('-', '_')}")
    hours = " UNION ALL ".join(f"SELECT '{zone}' AS zone, ts, price FROM hours_{zone.replace('-', '_')}"
                               for zone in YEAR_FILES)
    return spark.sql(f"""
        SELECT concat(zone, ' ', substr(ts, 1, 10)) AS id, zone,
               transform(array_sort(collect_list(struct(ts, price))), hour -> hour.price) AS prices
        FROM ({hours})
        GROUP BY zone, substr(ts, 1, 10)
        HAVING count(*) = {HOURS_A_DAY}""")


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--master", default="local[2]", help="Spark master URL (default local[2])")
    args = parser.parse_args(argv)
    # Local executors run this interpreter, which has kestrava.
    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    spark = (SparkSession.builder.master(args.master).appName("kestrava recipe")
             .config("spark.ui.enabled", "false").config("spark.ui.showConsoleProgress", "false").config("spark.sql.shuffle.partitions", "4").getOrCreate())
    spark.sparkContext.setLogLevel("ERROR")
    try:
        days = read_days(spark)
        plans = days.mapInArrow(lambda batches: plan_batches(batches, HEAT_PUMP), PLANS_SCHEMA)
        plans.join(days.select("id", "zone"), "id").createOrReplaceTempView("plans")
        totals = spark.sql("""
            SELECT zone, count(*), sum(count), sum(CAST(cost AS DECIMAL(18, 3)))
            FROM plans WHERE error IS NULL GROUP BY zone ORDER BY zone""").collect()
    finally:
        spark.stop()
    print(HEADLINE)
    print(totals_table(tuple(row) for row in totals))


if __name__ == "__main__":
    main()
