"""``kestrava_plan.plan_table`` against ``kestrava_plan.plan`` row by row: seeded random
tables of every accepted price type and list layout, rules as scalars and as columns,
blocked periods and carried states, the most expensive plan and no short last run, times in every unit and kind of zone with counts as
durations, a quota per day (across days of 92 and 100 quarter-hours, days cut by the
horizon, each day_start, the zone of the times or another), and rows that ``plan``
refuses (empty or null lists, null prices, texts that are no numbers, NaN, null or
negative counts, times that are too few, null, out of order, repeated, unevenly spaced
or of the wrong length, durations that are no whole periods, a quota without times or
on a fixed offset, done_today alone). Each row must
give plan's periods and exact cost, or plan's message word for word.

A longer run, and one table again from the seed a failure prints:
    KESTRAVA_TABLE_DIFF_TABLES=400 python -m pytest -q test_plan_table.py
    KESTRAVA_TABLE_DIFF_SEED=<seed> KESTRAVA_TABLE_DIFF_TABLES=1 python -m pytest -q test_plan_table.py
"""

from __future__ import annotations

import decimal
import os
import random
import subprocess
import sys
import zoneinfo
from datetime import datetime, time, timedelta, timezone
from typing import Any

import plan_model
import pytest
from kestrava_plan import column, plan, plan_table

pa = pytest.importorskip("pyarrow")

TABLES = int(os.environ.get("KESTRAVA_TABLE_DIFF_TABLES", "60"))
FIRST_SEED = int(os.environ.get("KESTRAVA_TABLE_DIFF_SEED", "1900"))
SCALE = 6  # the places of plan_model's plan requests

PRICE_TYPES = [pa.string(), pa.large_string(), pa.string_view(), pa.decimal128(38, SCALE),
               pa.decimal256(76, SCALE), pa.int64(), pa.float64()]
LIST_TYPES = [pa.list_, pa.large_list, pa.list_view, pa.large_list_view]
COUNTS = ["min_selections", "min_consecutive_periods", "max_gap_between_periods", "max_gap_from_start",
          "running_for", "off_for"]
FLAGS = ["aggressive", "most_expensive", "allow_short_last_run"]
DAY_COUNTS = ["min_per_day", "done_today"]


def price_of(value: decimal.Decimal, kind: Any) -> Any:
    if pa.types.is_int64(kind):
        return int(value)
    if pa.types.is_float64(kind):
        return float(value)
    if pa.types.is_decimal(kind):
        return value.quantize(decimal.Decimal(1).scaleb(-SCALE))
    return format(value, "f")


def spoil(rng: random.Random, row: dict[str, Any], kind: Any) -> None:
    """Makes the row one that plan refuses before or while planning."""
    prices = row["prices"]
    choice = rng.choice(["empty", "null list", "null price", "bad price", "null count", "negative count"])
    if choice == "empty":
        row["prices"] = []
    elif choice == "null list":
        row["prices"] = None
    elif choice == "null price":
        prices[rng.randrange(len(prices))] = None
    elif choice == "bad price" and pa.types.is_float64(kind):
        prices[rng.randrange(len(prices))] = rng.choice([float("nan"), float("inf"), 5e-324])
    elif choice == "bad price" and kind in (pa.string(), pa.large_string(), pa.string_view()):
        prices[rng.randrange(len(prices))] = rng.choice(["1.2.3", "", "1e5", " 7"])
    else:
        row[rng.choice(COUNTS)] = None if choice == "null count" else -rng.randint(1, 3)


# Times: a zone that is UTC, an offset, or a name whose clocks change within the rows
# (2024-03-31 01:00 UTC in Amsterdam), and periods that are whole in every unit.
ZONES = ["UTC", "+05:30", "Europe/Amsterdam"]
PERIODS = [timedelta(minutes=15), timedelta(hours=1), timedelta(seconds=1)]
UNITS = ["s", "ms", "us", "ns"]
DST_CHANGE = datetime(2024, 3, 31, 1, tzinfo=timezone.utc)
# A quota's days: Amsterdam's midnights before its days of 92 and of 100 quarter-hours.
DST_DAYS = [datetime(2024, 3, 30, 23, tzinfo=timezone.utc), datetime(2024, 10, 26, 22, tzinfo=timezone.utc)]


def random_times(rng: random.Random, n: int, period: timedelta, zone: Any, around: datetime) -> list[Any] | None:
    """The start of each of n periods, or (one row in four) times plan refuses."""
    first = around - period * rng.randint(0, n)
    times: list[Any] = [(first + period * i).astimezone(zone) for i in range(n)]
    choice = rng.choice(["fine"] * 12 + ["null", "null time", "too few", "swapped", "repeated", "missing", "extra"])
    if choice == "null":
        return None
    if choice == "null time":
        times[rng.randrange(n)] = None
    elif choice == "too few":
        times = times[:rng.randint(0, 1)]
    elif choice == "swapped" and n >= 3:
        times[1], times[2] = times[2], times[1]
    elif choice == "repeated" and n >= 2:
        at = rng.randrange(1, n)
        times[at] = times[at - 1]
    elif choice == "missing" and n >= 3:
        del times[rng.randrange(1, n - 1)]
    elif choice == "extra":
        times.append(times[-1] + period)
    return times


def as_durations(rng: random.Random, rows: list[dict[str, Any]], period: timedelta, counts: list[str]) -> list[str]:
    """Turns some counts of every row into durations, now and then not a whole number of
    periods; answers their names."""
    names = [name for name in counts if rng.random() < 0.4]
    odd = timedelta(seconds=1) if period > timedelta(seconds=1) else timedelta(0)  # whole in any unit
    for row in rows:
        for name in names:
            if row[name] is not None:
                row[name] = period * row[name] + (odd if rng.random() < 0.05 else timedelta(0))
    return names


def give_quotas(rng: random.Random, rows: list[dict[str, Any]]) -> None:
    """A quota per day for each row: none, a few periods or up to a third of the row's,
    done_today below, at or above it, now and then done_today alone, None or negative."""
    for row in rows:
        quota = rng.choice([0, 1, 2, 4, rng.randint(0, len(row["prices"] or []) // 3 + 1)])
        row["min_per_day"], row["done_today"] = quota, rng.choice([0, 0, 1, rng.randint(0, quota + 2)])
        if rng.random() < 0.2:
            row.update(rng.choice([{"min_per_day": None}, {"done_today": None}, {"min_per_day": -1},
                                   {"done_today": -1}, {"min_per_day": 0, "done_today": -1}]))


def random_rows(rng: random.Random, kind: Any, count: int, long_rows: bool) -> list[dict[str, Any]]:
    rows: list[dict[str, Any]] = []
    prices: list[Any] = []
    for number in range(count):
        # A fleet's rows share their prices: a third bring the last row's again.
        shared = bool(prices) and rng.random() < 0.3
        # A day of quarter-hours, whole or cut by the horizon, for a quota.
        size = rng.randint(90, 200) if long_rows and rng.random() < 0.15 else rng.randint(1, 12)
        request = plan_model.random_plan_request(rng, len(prices) if shared else size)
        prices = prices if shared else [price_of(value, kind) for value in request.prices]
        row = {"id": f"row {number}", "prices": list(prices),
               "low_price_threshold": format(request.threshold, "f"), "aggressive": request.aggressive,
               "allowed": request.allowed, "most_expensive": rng.random() < 0.3,
               "allow_short_last_run": rng.random() < 0.6}
        row.update(zip(COUNTS, (request.min_selections, request.min_run, request.max_gap, request.max_lead,
                                request.running_for, request.off_for)))
        # A backtest's rows: the last request again, with the other strategy.
        if shared and rng.random() < 0.5 and rows[-1]["prices"]:  # neither null nor spoilt empty
            row = rows[-1] | {"id": f"row {number}", "prices": list(rows[-1]["prices"]),
                              "aggressive": not rows[-1]["aggressive"]}
        if rng.random() < 0.15:
            spoil(rng, row, kind)
        rows.append(row)
    return rows


def expected(row: dict[str, Any], rules: dict[str, Any]) -> tuple[Any, ...]:
    """(periods, cost, count, error) as plan gives them for the row."""
    given = {name: row[name] if isinstance(value, type(column(""))) else value for name, value in rules.items()
             if name != "times"}
    try:
        answer = plan(row["prices"], times=row.get("times"), **given)
    except (TypeError, ValueError) as refusal:
        return None, None, None, str(refusal)
    return answer.periods, format(answer.cost, "f"), len(answer.periods), None


def random_table(seed: int) -> tuple[Any, list[dict[str, Any]], dict[str, Any], int]:
    """(data, its rows, the rules as plan_table takes them, threads); half the tables
    have times, and then some counts are durations."""
    rng = random.Random(seed)
    kind = rng.choice(PRICE_TYPES)
    quota = rng.random() < 0.5
    timed = rng.random() < (0.85 if quota else 0.5)
    rows = random_rows(rng, kind, rng.randint(1, 40), timed and quota)
    period, unit, zone = rng.choice(PERIODS), rng.choice(UNITS), rng.choice(ZONES)
    counts = COUNTS + DAY_COUNTS * quota
    if quota:
        give_quotas(rng, rows)
        period = timedelta(minutes=15) if rng.random() < 0.7 else period
    durations = []
    if timed:
        tz = timezone(timedelta(hours=5, minutes=30)) if zone == "+05:30" else zoneinfo.ZoneInfo(zone)
        around = rng.choice(DST_DAYS) if quota else DST_CHANGE
        for row in rows:
            row["times"] = random_times(rng, len(row["prices"] or [0]), period, tz, around)
        durations = as_durations(rng, rows, period, counts)
    rules: dict[str, Any] = {}
    if quota:  # the days' clock: the times' zone or another, and when a day starts
        rules["zone"] = rng.choice([None, None, "Europe/Amsterdam", zoneinfo.ZoneInfo("America/New_York")])
        rules["day_start"] = rng.choice([time(0), "02:30", time(6, 15)])
    for name in ["low_price_threshold", "allowed"] + FLAGS + counts:
        first = rows[0][name]
        # A scalar count that is negative refuses the whole call: only the carried two are turned.
        as_column = (rng.random() < 0.75 or name == "allowed" or any(row[name] is None for row in rows)
                     or (name in COUNTS[:4] and first < first * 0))
        negative = not as_column and name in COUNTS[4:] and first < first * 0  # 0 or a timedelta of 0
        rules[name] = column(name) if as_column else (-first if negative else first)
    count_types = [(name, pa.duration(unit) if name in durations else pa.int64()) for name in counts]
    schema = pa.schema([("id", pa.string()), ("prices", rng.choice(LIST_TYPES)(kind)),
                        ("low_price_threshold", pa.string()), ("allowed", pa.list_(pa.bool_()))] +
                       [(name, pa.bool_()) for name in FLAGS] + count_types +
                       [("times", rng.choice(LIST_TYPES)(pa.timestamp(unit, zone)))] * timed)
    if timed:
        rules["times"] = "times"
    table = pa.Table.from_pylist(rows, schema=schema)
    cut = rng.randint(0, len(rows))  # two batches, the second with an offset into its columns
    data = pa.Table.from_batches([batch for part in (table.slice(0, cut), table.slice(cut))
                                  for batch in part.to_batches()], schema)
    return data, rows, rules, rng.choice([1, 2, 3])


def test_rows_match_plan() -> None:
    for seed in range(FIRST_SEED, FIRST_SEED + TABLES):
        data, rows, rules, threads = random_table(seed)
        # Every other table as a stream, whose days are read as its batches are.
        source = data if seed % 2 else pa.RecordBatchReader.from_batches(data.schema, data.to_batches())
        planned = plan_table(source, threads=threads, **rules)
        planned = planned if seed % 2 else planned.read_all()
        planned.validate(full=True)
        answer = planned.to_pylist()
        assert [row["id"] for row in answer] == [row["id"] for row in rows]
        for index, (row, got) in enumerate(zip(rows, answer)):
            want = expected(row, rules)
            assert (got["periods"], got["cost"], got["count"], got["error"]) == want, (
                f"seed {seed}, row {index}: {row}\n  rules {rules}\n  plan_table: {got}\n  plan: {want}\n"
                f"  again: KESTRAVA_TABLE_DIFF_SEED={seed} KESTRAVA_TABLE_DIFF_TABLES=1 "
                "python -m pytest -q test_plan_table.py -k rows_match_plan")


def edge_price(rng: random.Random) -> str:
    """A price text near where a sum leaves one machine word: 17 to 20 digits, 14 to 17
    decimals, leading and trailing zeros, '_' between digits, either sign."""
    digits = "".join(rng.choice("0123456789") for _ in range(rng.choice([1, 2, rng.randint(15, 20)])))
    decimals = rng.choice([0, 2, rng.randint(14, 17)])
    digits = digits.rjust(decimals + 1, "0")
    whole, point = digits[: len(digits) - decimals], digits[len(digits) - decimals:]
    if rng.random() < 0.3:
        whole = whole[0] + "_" + whole[1:] if len(whole) > 1 else whole
    return rng.choice(["", "-"]) + whole + ("." + point if decimals else "")


def test_costs_near_the_word_limits_match_plan() -> None:
    rng = random.Random(19)
    rows = []
    for index in range(400):
        prices = [edge_price(rng) for _ in range(rng.randint(1, 6))]
        if rng.random() < 0.2:  # a sum of zero, written without a sign
            prices.append(prices[0][1:] if prices[0][0] == "-" else "-" + prices[0])
        rows.append({"id": index, "prices": prices, "min_selections": len(prices)})
    rules = dict(RULES, low_price_threshold="0", max_gap_between_periods=0, max_gap_from_start=0)
    answer = plan_table(pa.Table.from_pylist(rows), **dict(rules, min_selections=column("min_selections")))
    for row, got in zip(rows, answer.to_pylist()):
        _, cost, _, error = expected(row, dict(rules, min_selections=row["min_selections"]))
        assert (got["cost"], got["error"]) == (cost, error), row


# Decimal prices, in units of their last place, on either side of 64 bits (which are
# read without 128-bit division) and of the sign.
DECIMAL_EDGES = [0, 1, -1, 2**63 - 1, -2**63, 2**63, -2**63 - 1, 2**64 - 1, -2**64, 2**64 + 1, -10**37 - 5]


@pytest.mark.parametrize("kind", [pa.decimal128(38, 2), pa.decimal256(76, 2), pa.decimal128(38, 0)])
def test_decimal_prices_on_either_side_of_64_bits_read_as_written(kind: Any) -> None:
    values = [decimal.Decimal(f"{units}E{-kind.scale}") for units in DECIMAL_EDGES]
    rows = pa.array([[value] for value in values], pa.list_(kind))
    answer = plan_table(pa.table({"id": range(len(values)), "prices": rows}), **dict(
        RULES, low_price_threshold="0", min_selections=1, max_gap_between_periods=0, max_gap_from_start=0))
    assert answer.column("cost").to_pylist() == [format(plan([value], "0", 1, 1).cost, "f") for value in values]


# Thresholds that 64-bit units at the prices' scale cannot hold, against decimal prices
# a table reads as integers: beside, on and below a price by less than a unit, and not
# a decimal text at all.
WIDE_THRESHOLDS = ["1.5000000000000000000000001", "1.4999999999999999999999999", "1.50000000000000000000",
                   "-0.0000000000000000000001", "1234567890123456789012", "1e3", "1.5_0"]


@pytest.mark.parametrize("kind", [pa.decimal128(38, 2), pa.decimal128(18, 0)])
def test_decimal_prices_against_thresholds_wider_than_their_units(kind: Any) -> None:
    prices = [decimal.Decimal(text).quantize(decimal.Decimal(1).scaleb(-kind.scale))
              for text in ("1.50", "1.49", "2.00", "1.51", "-3")]
    rows = [{"id": index, "prices": prices, "low_price_threshold": threshold}
            for index, threshold in enumerate(WIDE_THRESHOLDS)]
    data = pa.Table.from_pylist(rows, pa.schema([("id", pa.int64()), ("prices", pa.list_(kind)),
                                                 ("low_price_threshold", pa.string())]))
    # Every cheap period joins the plan: the cheap flags show.
    rules = dict(RULES, low_price_threshold=column("low_price_threshold"), max_gap_between_periods=4,
                 max_gap_from_start=4, aggressive=False)
    for row, got in zip(rows, plan_table(data, **rules).to_pylist()):
        assert (got["periods"], got["cost"], got["count"], got["error"]) == expected(row, rules), row


# A float is its shortest repr, written plainly from 1e-4 to below 1e16: the floats on
# either side of both edges, each alone and beside its negation.
FLOAT_EDGES = [1e-5, 9.9999e-5, 1e-4, 1.5e-4, 1e15, 9.999999999999998e15, 1e16, 1.2345678901234568e16, 9.9e16, 1e17]


def test_floats_at_the_edges_of_their_plain_writing_cost_as_in_plan() -> None:
    rows = [{"id": index, "prices": prices} for index, value in enumerate(FLOAT_EDGES)
            for prices in ([value], [value, -value])]
    answer = plan_table(pa.Table.from_pylist(rows), **dict(RULES, min_selections=1, max_gap_between_periods=1,
                                                            max_gap_from_start=1))
    for row, got in zip(rows, answer.to_pylist()):
        _, cost, _, error = expected(row, dict(RULES, min_selections=1, max_gap_between_periods=1,
                                               max_gap_from_start=1))
        assert (got["cost"], got["error"]) == (cost, error), row


PRICES = [["3", "1", "2"], ["5", "0.50", "4"]]
ANSWER = [{"id": 7, "periods": [1], "cost": "1", "count": 1, "error": None},
          {"id": 8, "periods": [1], "cost": "0.50", "count": 1, "error": None}]
RULES = {"low_price_threshold": "0", "min_selections": 1, "min_consecutive_periods": 1, "max_gap_between_periods": 2,
         "max_gap_from_start": 2}


def rows_of(answer: Any) -> list[dict[str, Any]]:
    if hasattr(answer, "to_dicts"):  # polars
        return answer.to_dicts()
    if hasattr(answer, "to_dict"):  # pandas: periods as numpy arrays, null as None
        return [{**row, "periods": [int(period) for period in row["periods"]],
                 "error": row["error"] if isinstance(row["error"], str) else None}
                for row in answer.to_dict("records")]
    return pa.Table.from_batches(list(answer)).to_pylist() if hasattr(answer, "read_all") else answer.to_pylist()


def source(kind: str) -> tuple[Any, str, Any]:
    """(the data in this kind, the type of answer it gets, what closes it)."""
    table = pa.table({"id": [7, 8], "prices": PRICES})
    if kind == "pyarrow table":
        return table, "Table", None
    if kind == "pyarrow reader":
        return pa.RecordBatchReader.from_batches(table.schema, table.to_batches()), "RecordBatchReader", None
    module = pytest.importorskip(kind)
    if kind == "polars":
        return module.from_arrow(table), "DataFrame", None
    if kind == "pandas":
        return table.to_pandas(), "DataFrame", None
    # A connection of its own, closed after: the default one goes on allocating in the
    # background, which the leak tests would count.
    connection = module.connect()
    connection.register("prices_table", table)
    return connection.sql("select * from prices_table"), "RecordBatchReader", connection


@pytest.mark.parametrize("values", [["9", "3", "1", "2", "5", "0.50", "4"], ["9", None, "3", "1", "2", "5", "0.50", "4"]])
def test_text_prices_are_read_from_where_their_values_start(values: list[str | None]) -> None:
    # Values with an offset of their own, with and without a validity bitmap, none null in the lists.
    start = len(values) - 6
    prices = pa.ListArray.from_arrays(pa.array([0, 3, 6], pa.int32()), pa.array(values).slice(start))
    assert rows_of(plan_table(pa.table({"id": [7, 8], "prices": prices}), **RULES)) == ANSWER


@pytest.mark.parametrize("kind", ["pyarrow table", "pyarrow reader", "polars", "duckdb", "pandas"])
def test_each_kind_of_data_gives_its_kind_of_answer(kind: str) -> None:
    data, answer_type, connection = source(kind)
    try:
        answer = plan_table(data, **RULES)
        assert type(answer).__name__ == answer_type
        assert rows_of(answer) == ANSWER
    finally:
        if connection is not None:
            connection.close()


class OneShot:
    """A producer whose stream can be exported once, as a query's or a socket's."""

    def __init__(self, table: Any) -> None:
        self.reader: Any = table.to_reader()

    def __arrow_c_stream__(self, requested_schema: Any = None) -> Any:
        reader, self.reader = self.reader, None
        return reader.__arrow_c_stream__(requested_schema)


@pytest.mark.parametrize("zone", ["+01:00", "Europe/Berlin"])
def test_a_stream_with_a_quota_is_read_once_whatever_its_zone(zone: str) -> None:
    tz = timezone(timedelta(hours=1)) if zone[0] == "+" else zoneinfo.ZoneInfo(zone)
    times = [datetime(2024, 1, 1, 22, tzinfo=tz) + timedelta(hours=hour) for hour in range(4)]
    table = pa.table({"id": [1], "prices": [["3", "1", "2", "4"]],
                      "times": pa.array([times], pa.list_(pa.timestamp("s", tz=zone)))})
    rules = {"low_price_threshold": "0", "min_selections": 1, "min_consecutive_periods": 1, "min_per_day": 1}
    got = plan_table(OneShot(table), times="times", **rules).read_all().to_pylist()[0]
    row = {"prices": ["3", "1", "2", "4"], "times": times}
    assert (got["periods"], got["cost"], got["count"], got["error"]) == expected(row, rules)


def test_a_stream_gives_one_batch_per_batch_as_it_is_read() -> None:
    read: list[int] = []

    def batches():
        for number in range(3):
            read.append(number)
            yield pa.record_batch({"id": [number] * (number + 1), "prices": [PRICES[0]] * (number + 1)})

    schema = pa.schema([("id", pa.int64()), ("prices", pa.list_(pa.string()))])
    answer = plan_table(pa.RecordBatchReader.from_batches(schema, batches()), **RULES)
    first = answer.read_next_batch()
    assert read == [0] and first.num_rows == 1
    assert [batch.num_rows for batch in answer] == [2, 3] and read == [0, 1, 2]


# Whole-call refusals: what is wrong with the data or a scalar rule, word for word.
COUNT_TYPES = "an integer type (int8 to int64, uint8 to uint32), or duration with times"
BAD_CALLS = [
    ({"prices": "price"}, ValueError,
     "prices: the data has no column 'price' (its columns: id, prices, k, at, when, naive, mars, hours)"),
    # Timestamps and durations are stored as int64, yet they are no counts or prices.
    ({"min_selections": column("at")}, TypeError, f"min_selections: column 'at' is timestamp; plan_table takes "
     f"{COUNT_TYPES}"),
    ({"prices": "when"}, TypeError, "prices: column 'when' is list<timestamp>; plan_table takes a list (list, "
     "large_list or list_view) of prices: string, large_string, string_view, decimal128, decimal256, an integer type "
     "or double"),
    ({"min_selections": column("hours")}, TypeError, "min_selections: column 'hours' holds durations, which need "
     "times to count periods: pass times, the name of a column of lists of timestamps"),
    ({"min_selections": timedelta(hours=1)}, TypeError, "min_selections: a duration (1:00:00) needs times to count "
     "periods: pass times, the name of a column of lists of timestamps"),
    ({"times": "when", "off_for": timedelta(minutes=-15)}, ValueError, "off_for: -0:15:00 is a negative duration"),
    ({"times": "k"}, TypeError, "times: column 'k' is int64; plan_table takes a list (list, large_list or list_view) "
     "of timestamp with a time zone"),
    ({"times": "naive"}, ValueError, "times: column 'naive' is list<timestamp>, which has no time zone; give "
     "timezone-aware timestamps (for example tz_localize a pandas column, or cast to a timestamp type with a tz): "
     "the periods of a day when the clocks change cannot be told from naive times"),
    ({"times": "mars"}, ValueError, "times: column 'mars' is in the time zone 'Mars/Olympus', which zoneinfo does "
     "not know; give a zone name of the tz database or an offset like +01:00"),
    ({"min_selections": column("id")}, TypeError, f"min_selections: column 'id' is string; plan_table takes {COUNT_TYPES}"),
    ({"prices": "k"}, TypeError, "prices: column 'k' is int64; plan_table takes a list (list, large_list or "
     "list_view) of prices: string, large_string, string_view, decimal128, decimal256, an integer type or double"),
    ({"low_price_threshold": "x"}, ValueError, "low_price_threshold: 'x' is not a decimal number"),
    ({"running_for": -1}, ValueError, "running_for cannot be negative (got -1)"),
    ({"max_gap_between_periods": 2**63}, ValueError,
     "max_gap_between_periods: plan_table takes counts below 2**63 (got 9223372036854775808)"),
    ({"aggressive": 1}, TypeError, "aggressive must be a bool, not int"),
    ({"allow_short_last_run": 1}, TypeError, "allow_short_last_run must be a bool, not int"),
]


@pytest.mark.parametrize(("change", "error", "message"), BAD_CALLS)
def test_a_bad_column_or_scalar_refuses_the_call(change: dict[str, Any], error: type, message: str) -> None:
    hour = datetime(2024, 1, 1, tzinfo=timezone.utc)
    data = pa.table({"id": ["a"], "prices": [["1"]], "k": [1], "at": pa.array([hour], pa.timestamp("s")),
                     "when": pa.array([[hour]], pa.list_(pa.timestamp("s", "UTC"))),
                     "naive": pa.array([[hour]], pa.list_(pa.timestamp("us"))),
                     "mars": pa.array([[0]], pa.list_(pa.timestamp("s", "Mars/Olympus"))),
                     "hours": pa.array([timedelta(hours=1)], pa.duration("s"))})
    with pytest.raises(error) as refusal:
        plan_table(data, **{**RULES, **change})
    assert str(refusal.value) == message


@pytest.mark.parametrize("ending", ["raise SystemExit(0)", "raise ValueError('the script failed')"])
def test_an_answer_alive_at_exit_leaves_standard_error_alone(ending: str) -> None:
    """The interpreter may end with an answer still held (a reader in a module global, a
    traceback); the process then says nothing but the script's own error."""
    script = ("import pyarrow as pa\nfrom kestrava_plan import plan_table\n"
              "schema = pa.schema([('id', pa.int64()), ('prices', pa.list_(pa.string()))])\n"
              "source = pa.RecordBatchReader.from_batches(schema, [])\n"
              "answer = plan_table(source, low_price_threshold='0', min_selections=1, min_consecutive_periods=1)\n"
              f"{ending}\n")
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert "nanobind" not in done.stderr and "leaked" not in done.stderr, done.stderr
