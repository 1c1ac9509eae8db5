"""Plans a heat pump on every day of 2024 in two bidding zones with DuckDB: SQL reads the
bundled CSVs and groups each zone's day into a list of prices in time order,
`kestrava_plan.plan_table` plans every day at once, and SQL adds up the cost.

    python examples/recipe_duckdb.py        (pip install duckdb pyarrow)
"""

from __future__ import annotations

import duckdb

from kestrava_plan import plan_table
from recipe_common import HEADLINE, HEAT_PUMP, HOURS_A_DAY, YEAR_FILES, totals_table


def read_days(connection: duckdb.DuckDBPyConnection) -> None:
    """Table `days`: one row per zone and whole day, the prices exact as DECIMAL."""
    zones = " UNION ALL ".join(
        f"SELECT '{zone}' AS zone, Datetime AS ts, \"Price (EUR/MWh)\" AS price "
        f"FROM read_csv('{path}', header = true, "
        f"columns = {{'Datetime': 'TIMESTAMP', 'Price (EUR/MWh)': 'DECIMAL(9, 3)'}})"
        for zone, path in YEAR_FILES.items())
    connection.execute(f"""
        CREATE TABLE days AS
        SELECT zone || ' ' || CAST(CAST(ts AS DATE) AS VARCHAR) AS id, zone, list(price ORDER BY ts) AS prices
        FROM ({zones})
        GROUP BY zone, CAST(ts AS DATE)
        HAVING count(*) = {HOURS_A_DAY}
        ORDER BY id""")


def main() -> None:
    connection = duckdb.connect()
    read_days(connection)
    # A DuckDB relation is a stream: the answer is a pyarrow RecordBatchReader that plans
    # each batch as DuckDB reads it back by its variable's name. The days stream through
    # a cursor of their own, as the connection is busy with the query that reads the plans.
    plans = plan_table(connection.cursor().table("days"), **HEAT_PUMP)
    totals = connection.execute("""
        SELECT days.zone, count(*), sum(plans.count), sum(CAST(plans.cost AS DECIMAL(18, 3)))
        FROM plans JOIN days USING (id)
        WHERE plans.error IS NULL
        GROUP BY days.zone
        ORDER BY days.zone""").fetchall()
    print(HEADLINE)
    print(totals_table(totals))


if __name__ == "__main__":
    main()
