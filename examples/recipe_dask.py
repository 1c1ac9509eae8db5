"""Plans a heat pump on every day of 2024 in two bidding zones on a Dask cluster: the
days are a Dask DataFrame, `kestrava_plan.plan_table` plans each partition where it lies,
and Dask adds up the cost.

    python examples/recipe_dask.py                          a small local cluster
    python examples/recipe_dask.py --scheduler HOST:8786    a running cluster, whose
                                                            workers have kestrava installed

(pip install 'dask[distributed]' pandas pyarrow)
"""

from __future__ import annotations

import argparse

import dask.dataframe as dd
import pandas as pd
import pyarrow as pa
from dask.distributed import Client, LocalCluster

from kestrava_plan import plan_table
from recipe_common import HEADLINE, HEAT_PUMP, Rules, totals_table
from recipe_pandas import read_days

PARTITIONS = 8


def plan_partition(days: pd.DataFrame, rules: Rules) -> pd.DataFrame:
    """The plans of one partition's days with their zone, the cost as an exact decimal.

    Runs on a worker, so it takes the rules as an argument rather than from a module the
    worker may not have. One thread each: the cluster runs partitions side by side."""
    plans = plan_table(days, **rules, threads=1)
    plans = plans.assign(cost=plans["cost"].astype(pd.ArrowDtype(pa.decimal128(18, 3))))
    return plans.merge(days[["id", "zone"]], on="id")


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scheduler", metavar="ADDRESS", help="a running cluster's scheduler (default: start a "
                        "local cluster of 2 workers in this process)")
    args = parser.parse_args(argv)
    with (Client(args.scheduler) if args.scheduler else
          Client(LocalCluster(n_workers=2, threads_per_worker=1, processes=False, dashboard_address=None))):
        # Arrow-backed columns: Dask keeps a list column as it is, where it would turn
        # a column of Python lists into their text.
        days = pa.Table.from_pandas(read_days(), preserve_index=False).to_pandas(types_mapper=pd.ArrowDtype)
        # The answer's columns and types, from the first day planned here.
        meta = plan_partition(days.head(1), HEAT_PUMP).iloc[:0]
        plans = dd.from_pandas(days, npartitions=PARTITIONS).map_partitions(plan_partition, HEAT_PUMP, meta=meta)
        planned = plans[plans["error"].isna()]
        totals = planned.groupby("zone").agg({"id": "count", "count": "sum", "cost": "sum"}).compute()
    print(HEADLINE)
    print(totals_table(totals.sort_index().itertuples(name=None)))


if __name__ == "__main__":
    main()
