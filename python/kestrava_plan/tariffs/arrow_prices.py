"""A table's spot prices turned into paid prices, batch by batch, with pyarrow.compute:
exact decimal256 arithmetic over every period of a batch at once, and the amounts of a
local time looked up once per distinct wall-clock time of the batch.

A row the vectorised pass cannot compose (a price that is no decimal, a sum past 76
digits) sends its batch down the exact path of `Tariff.paid_prices`, row by row; a row
that even that refuses, or that has no times, gets the message `plan` would give,
written into the answer's error column by `with_row_errors`.
"""

from __future__ import annotations

import importlib
from collections import deque
from collections.abc import Iterator
from decimal import Decimal
from typing import Any

from .composing import Composer

# decimal256 holds 76 digits; a composition that needs more is done by the exact path.
MOST_DIGITS = 76
MOST_DECIMAL128_DIGITS = 38
UNTIMED = ("tariff: the amounts of a tariff depend on the local time: pass times, or prices as a pandas Series "
           "with a DatetimeIndex")
# A decimal text, or a float written by Arrow ("1e-7"): the digits after the point, the exponent.
NUMBER_PARTS = r"^[+-]?[0-9]*\.?(?P<fraction>[0-9]*)(?:[eE](?P<exponent>[+-]?[0-9]+))?$"


def _arrow() -> tuple[Any, Any]:
    return importlib.import_module("pyarrow"), importlib.import_module("pyarrow.compute")


def holds_plain_texts(texts: Any) -> bool:
    """Whether a large_string array's values hold only the bytes of decimal texts
    without `_` (digits, "+", "-", "."): Arrow reads these, and refuses what the
    planner's syntax refuses. "+" to "9" are one range, less "," and "/"."""
    np = numpy()
    if not len(texts):
        return True
    offsets = np.frombuffer(texts.buffers()[1], dtype=np.int64)[texts.offset:texts.offset + len(texts) + 1]
    data = np.frombuffer(texts.buffers()[2], dtype=np.uint8)[int(offsets[0]):int(offsets[-1])]
    inside = (data >= ord("+")) & (data <= ord("9")) & (data != ord(",")) & (data != ord("/"))
    return bool(inside.all())


def digits_of(value: Decimal) -> tuple[int, int]:
    """(precision, scale) that hold `value` exactly, at least (1, 0)."""
    sign, digits, exponent = value.as_tuple()
    scale = max(-int(exponent), 0)
    return max(len(digits) + max(int(exponent), 0), scale, 1), scale


def decimal_array(values: list[Decimal]) -> Any:
    """The values as one decimal256 array at their widest scale."""
    pa, _ = _arrow()
    shapes = [digits_of(value) for value in values] or [(1, 0)]
    scale = max(scale for _, scale in shapes)
    whole = max(precision - own for precision, own in shapes)
    return pa.array(values, pa.decimal256(min(whole + scale, MOST_DIGITS), scale))


def decimal_scalar(value: Decimal) -> Any:
    pa, _ = _arrow()
    precision, scale = digits_of(value)
    return pa.scalar(value, pa.decimal256(precision, scale))


def tight(values: Any) -> Any:
    """decimal values cast to the narrowest decimal256 that holds them, so that the
    precision of later products stays within 76 digits."""
    pa, pc = _arrow()
    scale = values.type.scale
    extreme = pc.max(pc.abs(values)).as_py() if len(values) else None
    whole = len(str(int(abs(extreme)))) if extreme else 1
    return pc.cast(values, pa.decimal256(max(whole + scale, 1), scale))


def spot_decimals(values: Any) -> Any:
    """Spot prices of any column type the planner reads, as exact decimal256 values
    (a float as its shortest repr); pyarrow's ArrowInvalid for a text that is no number."""
    pa, pc = _arrow()
    kind = values.type
    if pa.types.is_decimal(kind):
        return tight(pc.cast(values, pa.decimal256(MOST_DIGITS if kind.precision > MOST_DIGITS else kind.precision,
                                                   kind.scale)))
    if pa.types.is_integer(kind):
        return tight(pc.cast(values, pa.decimal256(20, 0)))
    if not pa.types.is_floating(kind) and not holds_plain_texts(pc.cast(values, pa.large_string())):
        # An exponent, a `_` or a space, which only the exact path reads as the planner does.
        raise pa.ArrowInvalid("a price that is no plain decimal text")
    texts = pc.cast(values, pa.string())
    parts = pc.extract_regex(texts, NUMBER_PARTS)
    if parts.null_count:
        raise pa.ArrowInvalid("a price that is no number")
    exponent = pc.cast(pc.replace_substring_regex(pc.struct_field(parts, "exponent"), "^$", "0"), pa.int64())
    scales = pc.subtract(pc.utf8_length(pc.struct_field(parts, "fraction")).cast(pa.int64()), exponent)
    scale = max(pc.max(scales).as_py() or 0, 0)
    return tight(pc.cast(texts, pa.decimal256(MOST_DIGITS, scale)))


class TableComposer:
    """Paid prices for a table's batches under one tariff."""

    def __init__(self, composer: Composer, prices: str, times: str) -> None:
        self.composer = composer
        self.prices = prices
        self.times = times
        # Each batch's row errors, in the order the batches were read: the answer's
        # batches come out in the same order.
        self.row_errors: deque[dict[int, str]] = deque()

    def amounts_of(self, starts: Any) -> tuple[Any, Any]:
        """(each period's components' sum, its taxed sum) as decimal arrays."""
        pa, pc = _arrow()
        zone = self.composer.rules.time_zone
        local = pc.local_timestamp(pc.cast(pc.cast(starts, pa.timestamp("us", tz="UTC")),
                                           pa.timestamp("us", tz=zone)))
        distinct = pc.unique(local)
        amounts = [self.composer.amounts(wall) for wall in distinct.to_pylist()]
        where = pc.index_in(local, value_set=distinct)
        return (pc.take(decimal_array([found.total for found in amounts]), where),
                pc.take(decimal_array([found.taxed for found in amounts]), where))

    def paid(self, spot: Any, starts: Any) -> Any:
        """The paid prices of flat arrays of spot prices and their starts."""
        pa, pc = _arrow()
        rules = self.composer.rules
        values = spot_decimals(spot)
        if rules.negative_zero:
            values = pc.if_else(pc.less(values, decimal_scalar(Decimal(0))), decimal_scalar(Decimal(0)), values)
        values = tight(pc.multiply(values, decimal_scalar(rules.spot_factor)))
        total, taxed = self.amounts_of(starts)
        base = tight(pc.add(values, taxed)) if self.composer.spot_taxed else taxed
        vat = tight(pc.multiply(base, decimal_scalar(rules.vat_rate)))
        if not rules.on_negative:
            vat = pc.if_else(pc.less(base, decimal_scalar(Decimal(0))), decimal_scalar(Decimal(0)), vat)
        paid = tight(pc.add(tight(pc.add(values, total)), vat))
        if rules.rounding is None:
            return paid
        mode = "half_to_even" if rules.rounding.mode == "ROUND_HALF_EVEN" else "half_towards_infinity"
        rounded = pc.round(paid, ndigits=rules.rounding.places, round_mode=mode)
        whole = rounded.type.precision - rounded.type.scale
        return pc.cast(rounded, pa.decimal256(min(whole + 1 + rules.rounding.places, MOST_DIGITS),
                                              rules.rounding.places))

    def batch(self, batch: Any) -> Any:
        """The batch with its prices column holding the paid prices."""
        pa, pc = _arrow()
        prices, times = batch.column(self.prices), batch.column(self.times)
        untimed = pc.is_null(times).to_pylist()
        matched = pc.fill_null(pc.equal(pc.list_value_length(prices), pc.list_value_length(times)), False)
        composable = pc.and_(matched, pc.invert(pc.is_null(times)))
        errors = {row: UNTIMED for row, missing in enumerate(untimed) if missing and prices[row].is_valid}
        try:
            paid = self.composed(pc.filter(prices, composable), pc.filter(times, composable))
            column = self.merged(prices, composable, paid)
        except (pa.ArrowInvalid, pa.ArrowNotImplementedError):
            column = self.exactly(prices, times, composable, errors)
        self.row_errors.append(errors)
        return batch.set_column(batch.schema.get_field_index(self.prices), self.prices, column)

    def composed(self, prices: Any, times: Any) -> Any:
        """The paid prices of rows whose times match their prices, as decimal texts."""
        pa, pc = _arrow()
        paid = plain_texts(self.paid(pc.list_flatten(prices), pc.list_flatten(times)))
        lengths = pc.fill_null(pc.list_value_length(prices), 0).to_numpy(zero_copy_only=False)
        offsets = numpy().concatenate([[0], lengths.cumsum()]).astype("int64")
        return pa.LargeListArray.from_arrays(pa.array(offsets), paid)

    def merged(self, prices: Any, composable: Any, paid: Any) -> Any:
        """The rows' paid prices where composed, their spot prices elsewhere (where
        the planner refuses the row itself), as one large_list<string> column."""
        pa, pc = _arrow()
        if pc.all(composable).as_py():
            return paid
        flags = composable.to_numpy(zero_copy_only=False)
        # Row r is paid[k] when it is the k-th composed row, else spot row r after them.
        where = numpy().where(flags, flags.cumsum() - 1, len(paid) + numpy().arange(len(flags)))
        spot = pc.cast(prices, pa.large_list(pa.string()))
        return pc.take(pa.concat_arrays([paid, spot]), pa.array(where))

    def exactly(self, prices: Any, times: Any, composable: Any, errors: dict[int, str]) -> Any:
        """The exact path, row by row, for a batch the vectorised pass could not compose."""
        pa, _ = _arrow()
        tariff_rows = []
        for row, flag in enumerate(composable.to_pylist()):
            spot = prices[row].as_py()
            if not flag:
                tariff_rows.append(None if spot is None else [str(price) for price in spot])
                continue
            try:
                values = [self._spot(price, index) for index, price in enumerate(spot)]
                tariff_rows.append([format(self.composer.paid(value, local), "f") for value, local in
                                    zip(values, [time.astimezone(self._zone()) for time in times[row].as_py()])])
            except (TypeError, ValueError, ArithmeticError) as refused:
                errors[row] = str(refused)
                tariff_rows.append(None)
        return pa.array(tariff_rows, pa.large_list(pa.string()))

    def _spot(self, price: object, index: int) -> Decimal:
        from .spot_prices import spot_value
        return spot_value(price, index)

    def _zone(self) -> Any:
        from zoneinfo import ZoneInfo
        return ZoneInfo(self.composer.rules.time_zone)


def plain_texts(values: Any) -> Any:
    """Decimal values as plain texts at their scale ("0.00000010", never "1.0E-7", which
    the planner refuses): the digits of the unscaled integer with the point put in."""
    pa, pc = _arrow()
    scale = values.type.scale
    if scale == 0:
        return pc.cast(values, pa.string())
    shifted = pc.multiply(pc.abs(values), pa.scalar(Decimal(10) ** scale, pa.decimal256(scale + 1, 0)))
    whole_digits = shifted.type.precision - shifted.type.scale
    digits = pc.utf8_lpad(pc.cast(pc.cast(shifted, pa.decimal256(whole_digits, 0)), pa.string()), scale + 1, "0")
    sign = pc.if_else(pc.less(values, pa.scalar(Decimal(0), values.type)), "-", "")
    return pc.binary_join_element_wise(sign, pc.utf8_slice_codeunits(digits, 0, -scale), ".",
                                       pc.utf8_slice_codeunits(digits, -scale), "")


def numpy() -> Any:
    return importlib.import_module("numpy")


def with_row_errors(batch: Any, errors: dict[int, str]) -> Any:
    """An answer batch with the rows in `errors` refused with their message."""
    if not errors:
        return batch
    pa, pc = _arrow()
    refused = pa.array([row in errors for row in range(batch.num_rows)])
    columns = []
    for name in batch.schema.names:
        column = batch.column(name)
        if name == "error":
            column = pa.array([errors.get(row, text) for row, text in enumerate(column.to_pylist())], column.type)
        elif name in ("periods", "cost", "count"):
            column = pc.if_else(refused, pa.scalar(None, column.type), column)
        columns.append(column)
    return pa.RecordBatch.from_arrays(columns, schema=batch.schema)


def paid_batches(reader: Any, composer: Any) -> Iterator[Any]:
    for batch in reader:
        yield composer.batch(batch)


def composable_schema(schema: Any, prices: str, times: str) -> bool:
    """Whether the columns are ones this pass composes: prices a list of numbers or
    texts, times a list of timezone-aware timestamps. Anything else goes to the planner
    as it is, which refuses it in its own words."""
    pa, _ = _arrow()
    names = schema.names
    if names.count(prices) != 1 or names.count(times) != 1:
        return False
    price_type, time_type = schema.field(prices).type, schema.field(times).type
    lists = (pa.types.is_list, pa.types.is_large_list, pa.types.is_list_view, pa.types.is_large_list_view)
    if not any(is_list(price_type) for is_list in lists) or not any(is_list(time_type) for is_list in lists):
        return False
    item, stamp = price_type.value_type, time_type.value_type
    numbers = (pa.types.is_string, pa.types.is_large_string, pa.types.is_string_view, pa.types.is_decimal,
               pa.types.is_integer, pa.types.is_float64)
    return any(kind(item) for kind in numbers) and pa.types.is_timestamp(stamp) and stamp.tz is not None


def spot_scale(item: Any, column: Any) -> int | None:
    """The most decimals of the spot prices, when the integer pass can read them: a
    decimal's scale, 0 for integers, for texts the most digits after a point in
    `column` (a whole table's column, read at once; None for a stream); None for floats."""
    pa, pc = _arrow()
    if pa.types.is_decimal(item):
        return int(item.scale)
    if pa.types.is_integer(item):
        return 0
    if column is None or pa.types.is_floating(item):
        return None
    texts = pc.list_flatten(column)
    # Both in bytes: a text that is not ASCII is no decimal text, and is refused.
    point = pc.find_substring(texts, ".")
    decimals = pc.if_else(pc.less(point, 0), 0, pc.subtract(pc.subtract(pc.binary_length(texts), point), 1))
    return int(pc.max(decimals).as_py() or 0)


def table_composer(schema: Any, table: Any, composer: Composer, prices: str, times: str) -> Any:
    """The integer pass when the spot prices' scale is known before the first batch (a
    pyarrow Table, or a stream of decimal or integer prices), else the decimal256 one;
    None for columns the planner should refuse itself."""
    if not composable_schema(schema, prices, times):
        return None
    from .arrow_integers import IntegerComposer
    scale = spot_scale(schema.field(prices).type.value_type, None if table is None else table.column(prices))
    if scale is not None:
        return IntegerComposer(composer, prices, times, scale, table is not None)
    return TableComposer(composer, prices, times)


def paid_reader(reader: Any, composer: Any, whole: bool) -> Any:
    """The batches of `reader` with the prices column holding paid prices. A `whole`
    table's batches are composed at once, so that its decimals are as narrow as its
    widest paid price; a stream's as the planner reads them."""
    pa, pc = _arrow()
    index = reader.schema.get_field_index(composer.prices)
    if not hasattr(composer, "output_type"):
        schema = reader.schema.set(index, pa.field(composer.prices, pa.large_list(pa.string())))
        return pa.RecordBatchReader.from_batches(schema, paid_batches(reader, composer))
    if not whole:
        schema = reader.schema.set(index, pa.field(composer.prices, composer.output_type()))
        return pa.RecordBatchReader.from_batches(schema, paid_batches(reader, composer))
    batches = list(paid_batches(reader, composer))
    texts = composer.widest > MOST_DECIMAL128_DIGITS
    output = pa.large_list(pa.string()) if texts else composer.output_type(composer.widest)
    schema = reader.schema.set(index, pa.field(composer.prices, output))
    return pa.RecordBatchReader.from_batches(schema, [
        batch.set_column(index, composer.prices, as_type(batch.column(index), output, texts)) for batch in batches])


def as_type(paid: Any, output: Any, texts: bool) -> Any:
    """A batch's paid prices (decimal128 or text lists) as the table's `output` type:
    decimals become plain texts when some paid price needs more digits than decimal128."""
    pa, pc = _arrow()
    if not texts and pa.types.is_decimal(paid.type.value_type):
        # decimal128 is laid out alike at every precision: the composed values, each
        # known to fit, take the narrower type without a cast.
        values = paid.values
        narrow = pa.Array.from_buffers(output.value_type, len(values), values.buffers(), values.null_count,
                                       values.offset)
        return pa.LargeListArray.from_arrays(paid.offsets, narrow)
    if not texts or not pa.types.is_decimal(paid.type.value_type):
        return pc.cast(paid, output)
    return pa.LargeListArray.from_arrays(pc.cast(paid.offsets, pa.int64()), plain_texts(paid.values))


class PatchedBatches:
    """The planner's answer batches with the rows the tariff refused written in."""

    def __init__(self, planned: Any, composer: Any) -> None:
        self.planned = planned
        self.composer = composer

    def schema(self) -> object:
        return self.planned.schema()

    def batches(self, import_batch: Any) -> Iterator[Any]:
        for batch in self.planned.batches(import_batch):
            yield with_row_errors(batch, self.composer.row_errors.popleft())
