"""A table's paid prices on 64-bit integers: every price, amount and rate is an integer
count of units of 10**-scale, so the composition is numpy arithmetic on whole arrays,
exact while no product can pass 2**62 (checked from the operands' largest magnitudes
before each product; past it the batch takes the exact path of `Tariff.paid_prices`).

The paid prices leave as decimal128(38, Q) lists, Q fixed before the first batch (the
spot prices' scale plus those of factor, rate and amounts, or the rounding's places),
so that the stream keeps one schema. A batch the exact path composes leaves as texts in
a table (cast to the table's type at the end: texts again when a paid price needs more
than decimal128's 38 digits); in a stream, a row with such a price is refused. The amounts of each distinct instant of a batch
are looked up once, and kept for the next call.
"""

from __future__ import annotations

import importlib
import weakref
from collections import deque
from decimal import ROUND_HALF_EVEN, Decimal
from typing import Any
from zoneinfo import ZoneInfo

from .arrow_prices import UNTIMED, holds_plain_texts
from .composing import Composer
from .exact import EXACT
from .rules import Rules

# decimal128 holds 38 digits.
MOST_DIGITS = 38
# Products are checked against this bound: a sum of two values under it stays in int64.
LARGEST = 2**62
MINUTE = 60_000_000  # microseconds
MOST_MINUTES = 2 * 366 * 24 * 60


def _modules() -> tuple[Any, Any, Any]:
    return (importlib.import_module("pyarrow"), importlib.import_module("pyarrow.compute"),
            importlib.import_module("numpy"))


def scale_of(value: Decimal) -> int:
    return max(-int(value.as_tuple().exponent), 0)


def amount_scale(rules: Rules) -> int:
    """The most decimals of any amount the tariff can add."""
    values = [Decimal(0)]
    for component in rules.components:
        values += [component.default, *(component.table or ()), *([component.amount] if component.amount else [])]
        for zone in component.zones or ():
            values += [*(zone.table or ()), *([zone.amount] if zone.amount is not None else [])]
    return max(scale_of(value) for value in values)


def units(value: Decimal, scale: int) -> int:
    """`value` as a whole number of 10**-scale (it has at most `scale` decimals)."""
    return int(value.scaleb(scale, EXACT))  # the default context would round past 28 digits


def largest(values: Any) -> int:
    _, _, np = _modules()
    if not np.ndim(values):
        return abs(int(values))
    return max(abs(int(values.max())), abs(int(values.min()))) if values.size else 0


def checked_product(left: Any, right: Any) -> Any:
    """left * right, elementwise or by a scalar; OverflowError when it could leave int64."""
    if largest(left) * largest(right) >= LARGEST:
        raise OverflowError("a paid price past 64-bit integers")
    return left * right


def rounded(values: Any, shift: int, half_even: bool) -> Any:
    """values / 10**shift rounded half-even or half away from zero: half a divisor
    added and floored, then a tie (nothing left over) taken one down where it must.
    Floor division by a number is numpy's fast one; divmod is not."""
    _, _, np = _modules()
    divisor = 10**shift
    shifted = values + divisor // 2
    quotient = shifted // divisor
    tie = shifted == quotient * divisor
    down = tie & ((quotient & 1) == 1) if half_even else tie & (values < 0)
    return np.where(down, quotient - 1, quotient)


# A float within 2**-52 of its value, times 10**s, is within 0.25 of the whole number of
# units it stands for while that is below 10**15: rounding gives it exactly.
MOST_FLOAT_UNITS = 10.0**15


def small_text_units(texts: Any, scale: int) -> Any:
    """Plain decimal texts of at most `scale` decimals as int64 units of 10**-scale, read
    as floats (Arrow's float reading is several times faster than its decimal one);
    None when some value is too large for that to be exact."""
    pa, pc, np = _modules()
    scaled = pc.cast(texts, pa.float64()).to_numpy(zero_copy_only=False) * 10.0**scale
    if len(scaled) and np.abs(scaled).max() >= MOST_FLOAT_UNITS:
        return None
    return np.rint(scaled).astype(np.int64)


class InstantAmounts:
    """Each instant's row of integers (what its amounts add), kept sorted by instant
    across calls: a table of the same year finds every instant at once with one
    search, and only new instants are looked up in Python."""

    def __init__(self, width: int) -> None:
        _, _, np = _modules()
        self.instants = np.empty(0, dtype=np.int64)
        self.values = np.empty((0, width), dtype=np.int64)
        self.largest = 0  # the largest magnitude of any value kept
        self.grid: Any = None  # the rows by minute from the first instant, once built
        self.kept_mask: Any = None

    def lookup(self, instants: Any, new: Any) -> Any:
        """The rows of `instants` (microseconds since 1970); `new` computes the rows of
        sorted, distinct instants not kept yet."""
        _, _, np = _modules()
        dense = self.dense_rows(instants)
        if dense is not None:
            return dense
        where = np.searchsorted(self.instants, instants)
        inside = np.minimum(where, max(len(self.instants) - 1, 0))
        if len(self.instants) == 0 or not (self.instants[inside] == instants).all():
            missing = np.setdiff1d(instants, self.instants)
            merged = np.concatenate([self.instants, missing])
            order = np.argsort(merged, kind="stable")
            self.instants = merged[order]
            added = new(missing)
            self.largest = max(self.largest, largest(added))
            self.values = np.concatenate([self.values, added])[order]
            self.grid = None
            where = np.searchsorted(self.instants, instants)
        return self.values[where]

    def dense_rows(self, instants: Any) -> Any:
        """The rows by a direct index when every instant is a kept whole minute within
        a year's span of them: a year of minutes is a table of half a million rows."""
        _, _, np = _modules()
        if len(self.instants) == 0 or not len(instants):
            return None
        first, last = int(self.instants[0]), int(self.instants[-1])
        if self.grid is None:
            if (last - first) // MINUTE > MOST_MINUTES or (self.instants % MINUTE).any():
                return None
            self.grid = np.full(((last - first) // MINUTE + 1, self.values.shape[1]), -1, dtype=np.int64)
            self.kept_mask = np.zeros(len(self.grid), dtype=bool)
            self.grid[(self.instants - first) // MINUTE] = self.values
            self.kept_mask[(self.instants - first) // MINUTE] = True
        since = instants - first
        index = since // MINUTE
        if not (index * MINUTE == since).all() or not (index.view(np.uint64) < len(self.grid)).all():
            return None  # not a whole minute, or outside the grid (a negative index is past its end)
        if not self.kept_mask[index].all():
            return None
        return self.grid[index]


# The stores of each tariff's composer, by what their rows hold, let go with it.
_KEPT: weakref.WeakKeyDictionary[Composer, dict[tuple[str, int], InstantAmounts]] = weakref.WeakKeyDictionary()


class IntegerComposer:
    """Paid prices of a table's batches at the fixed scale `out_scale`, for spot prices
    of `spot_scale` decimals."""

    def __init__(self, composer: Composer, prices: str, times: str, spot_scale: int, whole: bool) -> None:
        rules = composer.rules
        self.composer, self.prices, self.times, self.spot_scale = composer, prices, times, spot_scale
        self.whole = whole  # a table, whose type is chosen after its last batch
        self.row_errors: deque[dict[int, str]] = deque()
        self.factor_scale, self.rate_scale = scale_of(rules.spot_factor), scale_of(rules.vat_rate)
        self.amount_scale = amount_scale(rules)
        # spot' has spot_scale + factor_scale decimals; the sum before VAT, `common`.
        self.common = max(spot_scale + self.factor_scale, self.amount_scale)
        exact = self.common + self.rate_scale
        self.exact_scale = exact
        self.out_scale = rules.rounding.places if rules.rounding is not None else exact
        self.zone = ZoneInfo(rules.time_zone)
        stores = _KEPT.setdefault(composer, {})
        self.kept = stores.setdefault(("sums", self.amount_scale), InstantAmounts(2))
        self.fixed_kept = stores.setdefault(("fixed", exact), InstantAmounts(1))
        # With VAT on every base, paid = spot x per_spot + fixed: per_spot in units of
        # 10**-exact per unit of spot, fixed (what the amounts add, VAT included) in units
        # of 10**-exact, kept per instant.
        taxed_spot = units(rules.vat_rate, self.rate_scale) if composer.spot_taxed else 0
        self.per_spot = (units(rules.spot_factor, self.factor_scale) * 10**(self.common - spot_scale - self.factor_scale)
                         * (10**self.rate_scale + taxed_spot)) if rules.on_negative else None
        self.widest = 1  # the most digits of a paid price composed so far

    def output_type(self, digits: int = 38) -> Any:
        """Lists of decimal128 of `digits` (38 for a stream, whose prices are not known
        yet; a table's widest, for the planner reads narrow decimals faster)."""
        pa, _, _ = _modules()
        return pa.large_list(pa.decimal128(max(digits, self.out_scale, 1), self.out_scale))

    def new_amounts(self, instants: Any) -> Any:
        """(the components' sum, the taxed sum) in units at instants in microseconds since 1970."""
        pa, pc, np = _modules()
        walls = pc.local_timestamp(pa.array(instants, pa.timestamp("us", tz=self.zone.key)))
        found = [self.composer.amounts(wall) for wall in walls.to_numpy(zero_copy_only=False).tolist()]
        return np.array([(units(amounts.total, self.amount_scale), units(amounts.taxed, self.amount_scale))
                         for amounts in found], dtype=np.int64).reshape(-1, 2)

    def new_fixed(self, instants: Any) -> Any:
        """What the amounts add at instants in microseconds since 1970, VAT included, in
        units of 10**-exact_scale."""
        pa, pc, np = _modules()
        walls = pc.local_timestamp(pa.array(instants, pa.timestamp("us", tz=self.zone.key)))
        found = [self.composer.amounts(wall) for wall in walls.to_numpy(zero_copy_only=False).tolist()]
        return np.array([units(amounts.fixed, self.exact_scale) for amounts in found], dtype=np.int64).reshape(-1, 1)

    def spot_units(self, spot: Any) -> Any:
        """Spot prices as int64 units of 10**-spot_scale; ArrowInvalid for one that is
        no number or has more decimals or digits than that holds."""
        pa, pc, np = _modules()
        if pa.types.is_integer(spot.type):
            return np.asarray(pc.cast(spot, pa.int64()).to_numpy(zero_copy_only=False)) * 10**self.spot_scale
        if spot.null_count:
            raise pa.ArrowInvalid("a null price")
        if not pa.types.is_decimal(spot.type):
            spot = pc.cast(spot, pa.large_string())
            if not holds_plain_texts(spot):
                # An exponent, a `_` or a space, which only the exact path reads as the planner does.
                raise pa.ArrowInvalid("a price that is no plain decimal text")
            found = small_text_units(spot, self.spot_scale)
            if found is not None:
                return found
        decimals = pc.cast(spot, pa.decimal128(18, self.spot_scale))
        # decimal128 is two little-endian 64-bit words; below 10**18 the low one is the value.
        words = np.frombuffer(decimals.buffers()[1], dtype=np.int64)
        return words[2 * decimals.offset:2 * (decimals.offset + len(decimals)):2].copy()

    def paid_units(self, spot: Any, starts: Any) -> Any:
        """The paid prices, in units of 10**-out_scale, of flat arrays of spot prices and starts."""
        pa, pc, np = _modules()
        rules = self.composer.rules
        values = self.spot_units(spot)
        if rules.negative_zero:
            np.maximum(values, 0, out=values)
        instants = pc.cast(pc.cast(starts, pa.timestamp("us", tz="UTC")), pa.int64()).to_numpy(zero_copy_only=False)
        paid = self.exact_units(values, instants) if self.per_spot is None else self.affine_units(values, instants)
        if self.out_scale >= self.exact_scale:
            return checked_product(paid, 10**(self.out_scale - self.exact_scale))
        assert rules.rounding is not None
        return rounded(paid, self.exact_scale - self.out_scale, rules.rounding.mode == ROUND_HALF_EVEN)

    def affine_units(self, values: Any, instants: Any) -> Any:
        """spot x per_spot + fixed, in units of 10**-exact_scale, in place of `values`."""
        assert self.per_spot is not None
        fixed = self.fixed_kept.lookup(instants, self.new_fixed)[:, 0]
        if largest(values) * abs(self.per_spot) + self.fixed_kept.largest >= LARGEST:
            raise OverflowError("a paid price past 64-bit integers")
        values *= self.per_spot
        values += fixed
        return values

    def exact_units(self, values: Any, instants: Any) -> Any:
        """The paid prices part by part, in units of 10**-exact_scale: VAT depends on the
        sign of each base."""
        _, _, np = _modules()
        rules = self.composer.rules
        values = checked_product(values, units(rules.spot_factor, self.factor_scale))
        values = checked_product(values, 10**(self.common - self.spot_scale - self.factor_scale))
        found = checked_product(self.kept.lookup(instants, self.new_amounts), 10**(self.common - self.amount_scale))
        total, taxed = found[:, 0], found[:, 1]
        base = values + taxed if self.composer.spot_taxed else taxed
        vat = checked_product(base, units(rules.vat_rate, self.rate_scale))
        if not rules.on_negative:
            vat = np.where(base < 0, 0, vat)
        return checked_product(values + total, 10**self.rate_scale) + vat

    def decimal_lists(self, paid: Any, lengths: Any) -> Any:
        """int64 units as lists of decimal128(38, out_scale), sign-extended into two words
        noting the most digits they need."""
        pa, _, np = _modules()
        words = np.empty((len(paid), 2), dtype=np.int64)
        words[:, 0] = paid
        words[:, 1] = paid >> 63
        values = pa.Array.from_buffers(self.output_type().value_type, len(paid), [None, pa.py_buffer(words)])
        self.widest = max(self.widest, len(str(largest(paid))))
        offsets = np.concatenate([[0], np.cumsum(lengths)]).astype(np.int64)
        return pa.LargeListArray.from_arrays(pa.array(offsets), values)

    def batch(self, batch: Any) -> Any:
        """The batch with its prices column holding the paid prices."""
        pa, pc, np = _modules()
        prices, times = batch.column(self.prices), batch.column(self.times)
        composable = pc.fill_null(pc.equal(pc.list_value_length(prices), pc.list_value_length(times)), False)
        flags = composable.to_numpy(zero_copy_only=False)
        errors = {int(row): self.refusal(prices[int(row)].as_py(), times[int(row)].as_py())
                  for row in np.flatnonzero(~flags)}
        try:
            if flags.all():
                column = self.decimal_lists(self.paid_units(pc.list_flatten(prices), pc.list_flatten(times)),
                                            pc.list_value_length(prices).to_numpy(zero_copy_only=False))
            else:
                column = self.exactly(prices, times, flags, errors)
        except (pa.ArrowInvalid, pa.ArrowNotImplementedError, OverflowError):
            column = self.exactly(prices, times, flags, errors)
        self.row_errors.append({row: message for row, message in errors.items() if message is not None})
        return batch.set_column(batch.schema.get_field_index(self.prices), self.prices, column)

    def refusal(self, prices: Any, times: Any) -> str | None:
        """What `plan` with the tariff says of a row whose times do not match its prices."""
        if times is None:
            return UNTIMED if prices is not None else None
        try:
            self._exact_row(prices, times)
        except (TypeError, ValueError, ArithmeticError) as refused:
            return str(refused)
        return None

    def _exact_row(self, prices: Any, times: Any) -> list[Decimal]:
        from .spot_prices import spot_values
        values = spot_values(prices)
        if len(values) != len(times):
            raise ValueError(f"times holds {len(times)} times for {len(values)} prices")
        return [self.composer.paid(value, time.astimezone(self.zone)) for value, time in zip(values, times)]

    def exactly(self, prices: Any, times: Any, flags: Any, errors: dict[int, str | None]) -> Any:
        """The exact path, row by row, for a batch the integer pass could not compose:
        texts in a table, decimal128 in a stream."""
        pa, _, _ = _modules()
        rows: list[list[Decimal] | None] = []
        for row, flag in enumerate(flags):
            if not flag:
                rows.append(None)
                continue
            try:
                paid = self._exact_row(prices[row].as_py(), times[row].as_py())
                digits = max(len(str(abs(units(value, self.out_scale)))) for value in paid) if paid else 1
                if digits > MOST_DIGITS and not self.whole:
                    raise ValueError(f"tariff: a paid price of {digits} digits at scale {self.out_scale}, more than "
                                     f"the {MOST_DIGITS} a stream of decimal prices carries: pass a pyarrow Table, "
                                     "or the prices as texts")
                self.widest = max(self.widest, digits)
                rows.append(paid)
            except (TypeError, ValueError, ArithmeticError) as refused:
                errors[row] = str(refused)
                rows.append(None)
        if self.whole:
            return pa.array([None if paid is None else [format(value, "f") for value in paid] for paid in rows],
                            pa.large_list(pa.string()))
        return pa.array(rows, self.output_type())
