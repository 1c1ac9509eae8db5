"""`plan_table`: `plan` for every row of an Arrow table or stream at once, planned in
compiled code on every core.

One row is one request: an id (passed through), a list of prices, and the rules of
`plan`, each either one value for every row or a column of the data, named with
`column("name")`; with a column of times, the counts may be durations. The data is anything that exports an Arrow stream
(`__arrow_c_stream__`: pyarrow, Polars, DuckDB) or a pandas DataFrame (through
pyarrow). The answer has one row per input row: the id, `periods` (list<int32>),
`cost` (the exact sum of the chosen prices as decimal text), `count` (int32) and
`error` (plan's message for a row it refuses, else null).
"""

from __future__ import annotations

import importlib
import operator
import os
from dataclasses import dataclass
from datetime import time, timedelta, tzinfo
from decimal import Decimal
from typing import Any, SupportsIndex

from . import _planner
from .arrow_days import clock_of_column, with_days
from .local_days import day_start_of
from .period_times import checked_duration, is_pandas
from .tariffs import Tariff


# The most threads a call may ask for: far more than any machine's cores, and few
# enough that a typo cannot start a process's worth of threads.
MOST_THREADS = 1024


@dataclass(frozen=True)
class Column:
    """A rule of `plan_table` read from a column of the data, one value per row."""

    name: str


def column(name: str) -> Column:
    """Names the column a rule of `plan_table` is read from: `min_selections=column("k")`.

    A plain value (a str too: thresholds are decimal texts) is the rule for every row."""
    if not isinstance(name, str):
        raise TypeError(f"column: the name must be a str, not {type(name).__name__}")
    return Column(name)


# The rules as the planner names and orders them; all but these are counts, which may
# be given as durations.
_RULES: tuple[str, ...] = _planner.RULES
_COUNTS = frozenset(_RULES) - {"low_price_threshold", "aggressive", "allowed", "most_expensive",
                                "allow_short_last_run"}
# The quota per day, plan's last two rules: plan refuses its durations and negative
# counts row by row, after the times, so the planner does too.
_DAY_COUNTS = _RULES[_RULES.index("allow_short_last_run") + 1:]


def _duration(name: str, value: object, times: str | None) -> tuple[int, int] | None:
    """A count given as a timedelta, as (days, microseconds within the day) for the
    planner, which divides it by each row's period; None for anything else."""
    if name not in _COUNTS or not isinstance(value, timedelta):
        return None
    if name not in _DAY_COUNTS:
        checked_duration(name, value, times is not None, _untimed)
    return value.days, value.seconds * 1_000_000 + value.microseconds


def _untimed(name: str, duration: str) -> str:
    return (f"{name}: a duration ({duration}) needs times to count periods: pass times, the name of a column of "
            "lists of timestamps")


# The optional modules found so far: a finaliser that plans while the interpreter
# exits can import nothing, and by then sys.modules may have let them go.
_found: dict[str, Any] = {}


def _optional_module(name: str) -> Any:
    if name not in _found:
        try:
            _found[name] = importlib.import_module(name)
        except ImportError:
            return None
    return _found[name]


def _stream_capsule(data: Any) -> Any:
    if is_pandas(data, "DataFrame"):
        pyarrow = _optional_module("pyarrow")
        if pyarrow is None:
            raise TypeError("data: a pandas DataFrame needs pyarrow to be read as Arrow data; pip install pyarrow")
        data = pyarrow.Table.from_pandas(data, preserve_index=False)
    if _is_pyarrow_table(data):
        # A pyarrow Table exports its stream through a reader whose end lets the lock go
        # where it cannot unwind: a daemon thread at exit would abort there. Its
        # batches export plainly, and the planner reads them as one stream.
        return data.schema.__arrow_c_schema__(), [batch.__arrow_c_array__()[1] for batch in data.to_batches()]
    export = getattr(type(data), "__arrow_c_stream__", None)
    if export is None:
        raise TypeError(f"data must export an Arrow stream (__arrow_c_stream__: a pyarrow Table or RecordBatchReader, "
                        f"a Polars DataFrame, a DuckDB relation) or be a pandas DataFrame, not {type(data).__name__}")
    return export(data)


def _is_pyarrow_table(data: Any) -> bool:
    kind = type(data)
    return kind.__module__.split(".")[0] == "pyarrow" and kind.__name__ == "Table"


def _is_table(data: Any) -> bool:
    """Whether the answer is a table (the data is one) rather than a stream."""
    kind = type(data)
    return (kind.__module__.split(".")[0], kind.__name__) in {("pyarrow", "Table"), ("pandas", "DataFrame"),
                                                             ("polars", "DataFrame")}


def _answer(data: Any, planned: Any) -> Any:
    pyarrow = _optional_module("pyarrow")
    if pyarrow is None:
        if is_pandas(data, "DataFrame") or not _is_table(data):
            return planned
        return _optional_module("polars").DataFrame(planned)
    # pyarrow pulls the batches through an iterator in compiled code: no bytecode runs
    # under pyarrow's own frames, which cannot unwind when the interpreter ends a daemon
    # thread at exit, and what planning raises (Ctrl-C included) reaches the caller as is.
    schema = pyarrow.Schema._import_from_c_capsule(planned.schema())
    batches = planned.batches(pyarrow.RecordBatch._import_from_c_capsule)
    if not _is_table(data):
        return pyarrow.RecordBatchReader.from_batches(schema, batches)
    table = pyarrow.Table.from_batches(batches, schema)
    if is_pandas(data, "DataFrame"):
        return table.to_pandas()
    if type(data).__module__.split(".")[0] == "polars":
        return _optional_module("polars").from_arrow(table)
    return table


def _plan_table(stream: object, id: str | None, prices: str, times: str | None, days: str | None,
                rules: dict[str, tuple[str | None, object, tuple[int, int] | None]], threads: int, /) -> Any:
    """The core of plan_table: an 'arrow_array_stream' capsule or a table's batches as
    (schema capsule, [array capsule, ...]), the id, prices and times column names, the
    hidden column of each period's local day (or None), each rule by its name as (its
    column's name or None, its value for every row, a count's duration as (days,
    microseconds) or None), and the number of threads. Returns the batches to read with
    batches() or __arrow_c_stream__."""
    columns, scalars, durations = zip(*(rules[name] for name in _RULES))
    return _planner._plan_table(stream, id, prices, times, days, columns, scalars, durations, threads)


def _day_count(value: object) -> object:
    """A day count for every row as plan reads it: a Column or timedelta as it is, else an int."""
    return value if isinstance(value, (Column, timedelta)) else operator.index(value)  # type: ignore[arg-type]


def _quota_possible(given: dict[str, object]) -> bool:
    return any(isinstance(given[name], Column) or (given[name] != timedelta(0) and given[name] != 0)
               for name in _DAY_COUNTS)


def _timestamp_zone(schema: Any, times: str) -> tuple[bool, str | None]:
    """(whether `times` is one column of lists of timezone-aware timestamps, its zone)."""
    pyarrow = _optional_module("pyarrow")
    if schema.names.count(times) != 1:
        return False, None
    kind = schema.field(times).type
    listed = getattr(kind, "value_type", None)
    if listed is None or not pyarrow.types.is_timestamp(listed) or listed.tz is None:
        return False, None
    return True, listed.tz


def _with_days(data: Any, times: str | None, zone: Any, day_start: Any) -> tuple[Any, str | None]:
    """The data with a hidden column of each period's local day, and its name; the data
    without, and None, where the planner refuses the rows or the call itself (no times,
    times it cannot read, a fixed offset and no zone). A stream is read once: what is
    left of it is the reader made here."""
    start = day_start_of(day_start)
    if times is None:
        clock_of_column(zone, None)  # refuses a zone of the wrong type
        return data, None
    pyarrow = _optional_module("pyarrow")
    if pyarrow is None:
        raise TypeError(f"{_DAY_COUNTS[0]}: plan_table reads the local days with pyarrow; pip install pyarrow")
    source = pyarrow.Table.from_pandas(data, preserve_index=False) if is_pandas(data, "DataFrame") else data
    if not _is_pyarrow_table(source):
        if getattr(type(source), "__arrow_c_stream__", None) is None:
            _stream_capsule(source)  # raises its TypeError
        source = pyarrow.RecordBatchReader.from_stream(source)
    readable, column_zone = _timestamp_zone(source.schema, times)
    clock = clock_of_column(zone, column_zone)
    if not readable or clock is None:
        return source, None
    reader = source.to_reader() if _is_pyarrow_table(source) else source
    dated, name = with_days(reader, times, clock, start)
    if _is_pyarrow_table(source):
        return dated.read_all(), name
    return dated, name


def plan_table(data: Any, *, id: str | None = "id", prices: str = "prices",
               low_price_threshold: str | int | Decimal | float | Column,
               min_selections: SupportsIndex | timedelta | Column,
               min_consecutive_periods: SupportsIndex | timedelta | Column,
               max_gap_between_periods: SupportsIndex | timedelta | Column = 0,
               max_gap_from_start: SupportsIndex | timedelta | Column = 0,
               aggressive: bool | Column = True, allowed: Column | None = None,
               running_for: SupportsIndex | timedelta | Column = 0, off_for: SupportsIndex | timedelta | Column = 0,
               most_expensive: bool | Column = False, allow_short_last_run: bool | Column = True,
               min_per_day: SupportsIndex | timedelta | Column = 0, done_today: SupportsIndex | timedelta | Column = 0,
               times: str | None = None, zone: str | tzinfo | None = None, day_start: time | str = time(0),
               threads: int | None = None, tariff: Tariff | None = None) -> Any:
    """`plan` for every row of `data`, one request a row, in compiled code on `threads`
    threads (None: every core; 1: the calling thread alone; at most 1024, and never more
    than a batch has rows to share).

    data: a pyarrow Table or RecordBatchReader, a Polars DataFrame, a DuckDB relation,
        any object with __arrow_c_stream__, or a pandas DataFrame (needs pyarrow).
    id: the column passed through to the answer (any type), or None for none.
    prices: the column of price lists: list, large_list or list_view of string,
        large_string, string_view (decimal texts), decimal128, decimal256 (exact at
        their scale), integers, or double (a float means its shortest repr).
    The rules are those of `plan`; each is one value for every row, or column("name")
    to read it per row: the threshold from a column of prices, the counts from integer
    columns (counts are 64-bit here), aggressive, most_expensive and allow_short_last_run
    from bool columns, allowed (None, or a column of lists of bools; a null list allows
    every period).
    times: None, or the column of the start of each period: lists of timezone-aware
        timestamps (any unit), checked per row as `plan` checks its times. With times,
        each of the four counts, running_for, off_for, min_per_day and done_today may
        be a datetime.timedelta or column("name") of a duration column: a whole number
        of the row's periods. A row with a null list of times plans without times.
    min_per_day, done_today: plan's quota per day, from integer or duration columns
        too; a row with a quota and without times (or with times whose zone is only an
        offset, such as "+01:00", and no zone) gets plan's message. zone (a name or a
        ZoneInfo) and day_start (a datetime.time or "HH:MM") are one for the call: by
        default the zone the times' type names ("UTC" is one) and 00:00. The local days
        are read with pyarrow, batch by batch.
    tariff: a Tariff: every row is planned on the prices the user pays (the prices
        column holds spot prices in its spot_unit; low_price_threshold is a paid price
        in its unit) and cost is the paid cost. Needs times and pyarrow; a row with a
        null list of times is refused with plan's message. The paid prices are
        composed with pyarrow.compute, batch by batch; cost is written at the scale
        of the batch's paid prices (equal in value to plan's cost).

    Answer: a table for a table (a pyarrow Table for a pyarrow Table, a pandas or Polars
    DataFrame for one), else a pyarrow RecordBatchReader (without pyarrow, an object
    exporting __arrow_c_stream__), one output batch per input batch, planned as the
    consumer reads it. Columns: the id, periods (list<int32>), cost (the exact sum of
    the chosen prices as decimal text, as format(plan(...).cost, "f")), count (int32)
    and error: null where the row planned, else the message `plan` raises for the row,
    whose other columns are null. A bad row never stops the others.

    Raises ValueError for a missing column, a column name the call reads that two
    columns share, naive timestamps, threads outside 1 to 1024, a stream already read or
    a batch that does not match its schema; TypeError for a column of the wrong type or a
    duration without times; and for a scalar rule what `plan` raises for it (also
    ValueError for a negative running_for or off_for, or a count of 2**63 or more).
    Ctrl-C stops the batch with KeyboardInterrupt.
    """
    arguments = locals()  # the parameters alone, read by the rules' names
    given = {name: _day_count(arguments[name]) if name in _DAY_COUNTS else arguments[name] for name in _RULES}
    durations = {name: _duration(name, value, times) for name, value in given.items()}
    if allowed is not None and not isinstance(allowed, Column):
        raise TypeError(f"allowed: plan_table takes column(name) for a column of lists of bools, or None, not "
                        f"{type(allowed).__name__}")
    rules = {name: (value.name if isinstance(value, Column) else None, None if isinstance(value, Column) else value,
                    durations[name]) for name, value in given.items()}
    count = min(os.cpu_count() or 1, MOST_THREADS) if threads is None else threads
    if isinstance(count, bool) or not isinstance(count, int) or not 1 <= count <= MOST_THREADS:
        raise ValueError(f"threads must be None or an int from 1 to {MOST_THREADS}, not {threads!r}")
    for name, value in (("id", id), ("prices", prices), ("times", times)):
        if not isinstance(value, str) and not (name != "prices" and value is None):
            raise TypeError(f"{name}: the name of a column (a str), not {type(value).__name__}")
    source, days = _with_days(data, times, zone, day_start) if _quota_possible(given) else (data, None)
    if tariff is not None:
        return _plan_paid_table(data, source, tariff, id, prices, times, days, rules, count)
    planned = _plan_table(_stream_capsule(source), id, prices, times, days, rules, count)
    return _answer(data, planned)


def _plan_paid_table(data: Any, source: Any, tariff: Tariff, id: str | None, prices: str, times: str | None,
                     days: str | None, rules: dict[str, tuple[str | None, object, tuple[int, int] | None]],
                     threads: int) -> Any:
    """plan_table on the paid prices under `tariff`; `source` is the data with its days."""
    if not isinstance(tariff, Tariff):
        raise TypeError(f"tariff must be a kestrava_plan.Tariff, not {type(tariff).__name__}")
    if times is None:
        raise TypeError("tariff: the amounts of a tariff depend on the local time: pass times, the name of a column "
                        "of lists of timestamps")
    pyarrow = _optional_module("pyarrow")
    if pyarrow is None:
        raise TypeError("tariff: plan_table composes the paid prices with pyarrow; pip install pyarrow")
    from .tariffs.arrow_prices import PatchedBatches, paid_reader, table_composer
    if is_pandas(source, "DataFrame"):
        source = pyarrow.Table.from_pandas(source, preserve_index=False)
    table = source if _is_pyarrow_table(source) else None
    if table is None and getattr(type(source), "__arrow_c_stream__", None) is None:
        _stream_capsule(source)  # raises its TypeError
    reader = source.to_reader() if table is not None else pyarrow.RecordBatchReader.from_stream(source)
    composer = table_composer(reader.schema, table, tariff.composer, prices, times)
    if composer is None:
        return _answer(data, _plan_table(_stream_capsule(reader), id, prices, times, days, rules, threads))
    reader = paid_reader(reader, composer, table is not None)
    return _answer(data, PatchedBatches(_plan_table(_stream_capsule(reader), id, prices, times, days, rules,
                                                    threads), composer))
