"""What crosses into plan_table from another library: streams that were already read,
and batches that do not match their schema, as a buggy or hostile producer hands them
out. Each is refused with a ValueError; none may crash the process or be read past its
buffers."""

from __future__ import annotations

from typing import Any

import numpy as np
import pytest
from kestrava_plan import column, plan_table

import c_stream

pa = pytest.importorskip("pyarrow")

RULES = {"low_price_threshold": "0", "min_selections": 1, "min_consecutive_periods": 1}
RELEASED = "data: the Arrow stream was already read (its capsule holds a released stream); export a new one"


def table(layout: Any = pa.list_) -> Any:
    return pa.table({"id": [1, 2], "prices": pa.array([["3", "1", "2"], ["1", "2"]], layout(pa.string()))})


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


def fewer_columns(batch: Any) -> None:
    batch.n_children -= 1


def short_column(batch: Any) -> None:
    c_stream.child(batch, 1).length -= 1


def no_column(batch: Any) -> None:
    batch.children = None


def prices_past_their_items(batch: Any) -> None:
    c_stream.child(c_stream.child(batch, 1), 0).length -= 1


def past_the_columns(batch: Any) -> None:
    batch.offset = 1


def negative_length(batch: Any) -> None:
    batch.length = -1


def no_offsets(batch: Any) -> None:
    c_stream.child(batch, 1).n_buffers = 1


# Each layout of the prices with the fault the table's rows are planned through.
MALFORMED = [
    (pa.list_, fewer_columns, "the batch has 1 column where its schema has 2"),
    (pa.list_, short_column, "column 'prices' has 1 row where the batch needs 2"),
    (pa.list_, no_column, "has no columns"),
    (pa.list_, past_the_columns, "column 'id' has 2 rows where the batch needs 3"),
    (pa.list_, negative_length, "has a negative length or offset"),
    (pa.list_, prices_past_their_items, "column 'prices': "),
    (pa.list_view, prices_past_their_items, "column 'prices': "),
    (pa.large_list_view, prices_past_their_items, "column 'prices': "),
    (pa.list_, no_offsets, "column 'prices': "),
]


@pytest.mark.parametrize(("layout", "change", "message"), MALFORMED)
def test_a_batch_that_breaks_its_schema_is_refused(layout: Any, change: Any, message: str) -> None:
    with pytest.raises(ValueError) as refusal:
        plan_table(c_stream.Tampered(table(layout), change), **RULES).read_all()
    assert str(refusal.value).startswith("data: a batch of the Arrow stream does not match its schema: ")
    assert message in str(refusal.value)


@pytest.mark.parametrize("fields", [{"format": None}, {"n_children": 2}, {"n_children": -1}])
def test_a_schema_that_lacks_its_parts_is_refused(fields: dict[str, Any]) -> None:
    with pytest.raises(ValueError) as refusal:
        plan_table(c_stream.SchemaOnly(**fields), **RULES)
    assert str(refusal.value) == "data: the Arrow stream's schema is malformed: a format or a child it counts is missing"


# A name the call reads that two columns share, and a shared name it does not read.
TWICE = [
    ("prices", {}, "prices: the data has 2 columns named 'prices'; rename all but one, so that the name says which "
     "to read"),
    ("id", {}, "id: the data has 2 columns named 'id'; rename all but one, so that the name says which to read"),
    ("k", {"min_selections": column("k")}, "min_selections: the data has 2 columns named 'k'; rename all but one, "
     "so that the name says which to read"),
    ("note", {}, None),
]


@pytest.mark.parametrize(("name", "change", "message"), TWICE)
def test_a_column_named_twice_is_read_only_when_the_call_does_not_read_it(name: str, change: dict[str, Any],
                                                                       message: str | None) -> None:
    columns = {"id": pa.array([1]), "prices": pa.array([["3", "1"]]), "k": pa.array([1]), "note": pa.array(["x"])}
    names = [*columns, name]
    data = pa.Table.from_arrays([*columns.values(), columns[name]], names=names)
    if message is None:
        assert plan_table(data, **{**RULES, **change}).column("periods").to_pylist() == [[0, 1]]
        return
    with pytest.raises(ValueError) as refusal:
        plan_table(data, **{**RULES, **change})
    assert str(refusal.value) == message


@pytest.mark.parametrize("threads", [0, -1, True, 1.5, "2", 1025, 200_000, 2**32])
def test_threads_outside_1_to_1024_are_refused(threads: Any) -> None:
    with pytest.raises(ValueError) as refusal:
        plan_table(table(), **RULES, threads=threads)
    assert str(refusal.value) == f"threads must be None or an int from 1 to 1024, not {threads!r}"


def live_threads() -> int:
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("Threads:"))


def test_a_batch_never_gets_more_threads_than_it_has_rows_to_share() -> None:
    data = pa.table({"id": range(8), "prices": [["3", "1", "2"]] * 8})
    before = live_threads()
    answer = plan_table(pa.RecordBatchReader.from_batches(data.schema, data.to_batches()), **RULES, threads=1024)
    assert answer.read_next_batch().num_rows == 8
    assert live_threads() - before <= 8


def int32s(*values: int) -> Any:
    return pa.py_buffer(np.array(values, dtype=np.int32).tobytes())


def texts_going_back() -> Any:
    return pa.StringArray.from_buffers(4, int32s(0, 1, 3, 2, 4), pa.py_buffer(b"3122"))


def view_past_its_buffer() -> Any:
    made = pa.array(["1" * 20, "2" * 20], pa.string_view())
    views = np.frombuffer(made.buffers()[1], dtype=np.int32).copy()
    views[7] = 30  # the second text's offset: 30 + 20 bytes in a buffer of 40
    return pa.Array.from_buffers(pa.string_view(), 2, [None, pa.py_buffer(views.tobytes()), made.buffers()[2]])


def view_of_no_buffer() -> Any:
    made = pa.array(["1" * 20, "2" * 20], pa.string_view())
    views = np.frombuffer(made.buffers()[1], dtype=np.int32).copy()
    views[6] = 1  # the second text's buffer, of the one there is
    return pa.Array.from_buffers(pa.string_view(), 2, [None, pa.py_buffer(views.tobytes()), made.buffers()[2]])


# Items that break their own layout, in the rows of a batch: each is read by nothing
# before it is refused, whatever list holds it.
BAD_ITEMS = [
    (pa.list_, int32s(0, 2, 4), texts_going_back, "text offsets go back at item 2"),
    (pa.large_list, pa.py_buffer(np.array([0, 2, 4], dtype=np.int64).tobytes()), texts_going_back,
     "text offsets go back at item 2"),
    (pa.list_, int32s(0, 1, 2), view_past_its_buffer, "a text view's buffer or range does not exist at item 1"),
    (pa.list_, int32s(0, 1, 2), view_of_no_buffer, "a text view's buffer or range does not exist at item 1"),
    (pa.list_, int32s(0, 3, 2), texts_going_back, "list offsets go back at row 1"),
]


@pytest.mark.parametrize(("layout", "offsets", "items", "message"), BAD_ITEMS)
def test_items_that_break_their_layout_are_refused(layout: Any, offsets: Any, items: Any, message: str) -> None:
    values = items()
    prices = pa.Array.from_buffers(layout(values.type), 2, [None, offsets], children=[values])
    with pytest.raises(ValueError) as refusal:
        plan_table(pa.table({"id": [1, 2], "prices": prices}), **RULES)
    assert str(refusal.value) == f"data: a batch of the Arrow stream does not match its schema: column 'prices': {message}"
