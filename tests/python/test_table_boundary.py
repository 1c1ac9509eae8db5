"""What crosses into plan_table from another library: streams that were already read,
and batches that do not match their schema, as a buggy or hostile producer hands them
out. Each is refused with a ValueError; none may crash the process or be read past its
buffers."""

from __future__ import annotations

from typing import Any

import pytest
from kestrava_plan import plan_table

import c_stream

pa = pytest.importorskip("pyarrow")

RULES = {"low_price_threshold": "0", "min_selections": 1, "min_consecutive_periods": 1}
RELEASED = "data: the Arrow stream was already read (its capsule holds a released stream); export a new one"


def table() -> Any:
    return pa.table({"id": [1, 2], "prices": [["3", "1", "2"], ["1", "2"]]})


class SameCapsule:
    """An exporter that hands out one capsule every time."""

    def __init__(self) -> None:
        self.capsule = table().__arrow_c_stream__()

    def __arrow_c_stream__(self, requested_schema: Any = None) -> Any:
        return self.capsule


def read_by_plan_table(data: SameCapsule) -> None:
    plan_table(data, **RULES)


def read_by_pyarrow(data: SameCapsule) -> None:
    pa.RecordBatchReader._import_from_c_capsule(data.capsule).read_all()


@pytest.mark.parametrize("first_reader", [read_by_plan_table, read_by_pyarrow])
def test_a_stream_read_before_is_refused(first_reader: Any) -> None:
    data = SameCapsule()
    first_reader(data)
    with pytest.raises(ValueError) as refusal:
        plan_table(data, **RULES)
    assert str(refusal.value) == RELEASED
