"""Each period's local day for plan_table's quota per day, batch by batch with
pyarrow.compute, read as `local_days` reads plan's: the local date of the period's
start on the call's clock, one day earlier where the start comes before that date's
day begins. The planner, which has no time-zone database, gets the dates as a hidden
column of date32 lists and turns them into each row's days.
"""

from __future__ import annotations

import importlib
import re
from collections.abc import Iterator
from datetime import time, tzinfo
from typing import Any
from zoneinfo import ZoneInfo

from .local_days import day_begins

# A zone that Arrow writes as an offset: its times come to Python with a fixed offset,
# which plan refuses as a clock ("UTC" names a zone, and comes as ZoneInfo("UTC")).
FIXED_OFFSET = re.compile(r"^(Z|[+-][0-9]{2}:?[0-9]{2})$")


def _arrow() -> tuple[Any, Any]:
    return importlib.import_module("pyarrow"), importlib.import_module("pyarrow.compute")


def clock_of_column(zone: str | tzinfo | None, column_zone: str | None) -> ZoneInfo | None:
    """The clock the days are counted by: `zone` (a name or a ZoneInfo), else the zone
    the times' type names; None where that is a fixed offset, whose rows plan refuses."""
    if isinstance(zone, str):
        return ZoneInfo(zone)
    if isinstance(zone, ZoneInfo):
        if zone.key is None:
            raise ValueError("zone: plan_table needs a ZoneInfo made from a zone's name, which pyarrow reads")
        return zone
    if zone is not None:
        raise TypeError(f"zone must be a zone name or a zoneinfo.ZoneInfo, not {type(zone).__name__}")
    if column_zone is None or FIXED_OFFSET.match(column_zone):
        return None
    return ZoneInfo(column_zone)


def local_dates(times: Any, clock: ZoneInfo, day_start: time) -> Any:
    """A list<date32> column holding, for each time of each row of `times` (a list of
    timezone-aware timestamps), the local day its period starts in."""
    pa, pc = _arrow()
    starts = pc.cast(pc.list_flatten(times), pa.timestamp("ns", tz="UTC"))
    dates = pc.cast(pc.local_timestamp(pc.cast(starts, pa.timestamp("ns", tz=clock.key))), pa.date32())
    distinct = pc.unique(dates)
    begins = pa.array([None if day is None else day_begins(day, clock, day_start) for day in distinct.to_pylist()],
                      pa.timestamp("ns", tz="UTC"))
    before = pc.less(starts, pc.take(begins, pc.index_in(dates, value_set=distinct)))
    numbers = pc.cast(dates, pa.int32())
    days = pc.if_else(before, pc.subtract(numbers, pa.scalar(1, pa.int32())), numbers).view(pa.date32())
    lengths = pc.fill_null(pc.list_value_length(times), 0).to_numpy(zero_copy_only=False)
    offsets = importlib.import_module("numpy").concatenate([[0], lengths.cumsum()]).astype("int32")
    return pa.ListArray.from_arrays(pa.array(offsets), days, mask=pc.is_null(times))


def days_name(names: list[str]) -> str:
    """A column name that no column of the data has."""
    name = "__kestrava_days"
    while name in names:
        name += "_"
    return name


def with_days(reader: Any, times: str, clock: ZoneInfo, day_start: time) -> tuple[Any, str]:
    """(the batches of `reader` with a column of each period's local day, its name)."""
    pa, _ = _arrow()
    name = days_name(reader.schema.names)
    schema = reader.schema.append(pa.field(name, pa.list_(pa.date32())))

    def batches() -> Iterator[Any]:
        for batch in reader:
            yield batch.append_column(name, local_dates(batch.column(times), clock, day_start))

    return pa.RecordBatchReader.from_batches(schema, batches()), name
