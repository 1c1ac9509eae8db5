"""The paid price of each period, exactly, and its parts:

    spot' = spot (0 when below zero and negative = "zero") x factor x unit conversion
    vat   = (spot' if taxed + the taxed components) x rate, 0 for a base below zero
            when on_negative is false
    paid  = spot' + every component + vat, then rounded when the tariff rounds.

The amounts at a local time are looked up once per distinct wall-clock time (a
repeated hour takes the same values both times) and kept in `Amounts`.
"""

from __future__ import annotations

from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from datetime import datetime
from decimal import Decimal, localcontext
from functools import reduce
from itertools import repeat

from .exact import EXACT, ROUNDING, rounding_in
from .rules import ZERO, Rules


@dataclass(frozen=True)
class Amounts:
    """What a local time adds: each component's amount, their sum, and the taxed sum."""

    each: tuple[Decimal, ...]
    total: Decimal
    taxed: Decimal
    fixed: Decimal  # total + taxed x rate: the paid price's part that does not depend on spot


class Composer:
    """Composes paid prices under one tariff, keeping the amounts of every wall-clock
    time met so far (a tariff's amounts never change, so the cache never goes stale)."""

    def __init__(self, rules: Rules) -> None:
        self.rules = rules
        self.spot_taxed = "spot" in rules.taxed
        self._taxed_flags = tuple(name in rules.taxed for name in rules.names)
        self._amounts: dict[datetime, Amounts] = {}
        self._quantum = Decimal(1).scaleb(-rules.rounding.places) if rules.rounding else None
        self._rounding = rounding_in(rules.rounding.mode) if rules.rounding else None
        # A text with at most 6 decimals and no exponent is what str() writes.
        self.plain_str = rules.rounding is not None and rules.rounding.places <= 6
        # With VAT on every base, paid = spot x per_spot + fixed: the same value, and the
        # same exponent, since the rate's is at most 0 (a decimal text has no exponent).
        self._per_spot = EXACT.multiply(rules.spot_factor, EXACT.add(Decimal(1), rules.vat_rate)
                                        if self.spot_taxed else Decimal(1)) if rules.on_negative else None

    def amounts(self, local: datetime) -> Amounts:
        wall = local.replace(tzinfo=None, fold=0)
        found = self._amounts.get(wall)
        if found is None:
            each = self.rules.amounts_at(wall)
            total = sum_of(each)
            taxed = sum_of(amount for amount, flag in zip(each, self._taxed_flags) if flag)
            fixed = EXACT.add(total, EXACT.multiply(taxed, self.rules.vat_rate))
            found = self._amounts[wall] = Amounts(each, total, taxed, fixed)
        return found

    def spot(self, price: Decimal) -> Decimal:
        if self.rules.negative_zero and price < 0:
            price = ZERO
        return EXACT.multiply(price, self.rules.spot_factor)

    def vat(self, spot: Decimal, amounts: Amounts) -> Decimal:
        base = EXACT.add(spot, amounts.taxed) if self.spot_taxed else amounts.taxed
        if base < 0 and not self.rules.on_negative:
            return ZERO
        return EXACT.multiply(base, self.rules.vat_rate)

    def rounded(self, paid: Decimal) -> Decimal:
        if self._quantum is None:
            return paid
        assert self.rules.rounding is not None
        return paid.quantize(self._quantum, rounding=self.rules.rounding.mode, context=ROUNDING)

    def paid(self, price: Decimal, local: datetime) -> Decimal:
        return self.paid_all((price,), (local,))[0]

    def amounts_of(self, locals_: Iterable[datetime]) -> list[Amounts]:
        kept = self._amounts
        return [kept.get(local.replace(tzinfo=None, fold=0)) or self.amounts(local) for local in locals_]

    def paid_all(self, prices: Sequence[Decimal], locals_: Sequence[datetime]) -> list[Decimal]:
        return self.paid_of(prices, self.amounts_of(locals_))

    def paid_of(self, prices: Sequence[Decimal], found: Sequence[Amounts]) -> list[Decimal]:
        """The paid price of each period given its amounts."""
        if self._per_spot is not None:
            return self._affine_paid(prices, found, self._per_spot)
        rules, quantum = self.rules, self._quantum
        mode = rules.rounding.mode if rules.rounding is not None else None
        add, multiply = EXACT.add, EXACT.multiply
        factor, rate, zero_negative, taxed_spot = rules.spot_factor, rules.vat_rate, rules.negative_zero, self.spot_taxed
        untaxed_negative = not rules.on_negative
        composed: list[Decimal] = []
        for price, amounts in zip(prices, found):
            spot = multiply(ZERO if zero_negative and price < 0 else price, factor)
            base = add(spot, amounts.taxed) if taxed_spot else amounts.taxed
            vat = ZERO if untaxed_negative and base < 0 else multiply(base, rate)
            paid = add(add(spot, amounts.total), vat)
            composed.append(paid if quantum is None else paid.quantize(quantum, rounding=mode, context=ROUNDING))
        return composed

    def _affine_paid(self, prices: Sequence[Decimal], found: Sequence[Amounts], per_spot: Decimal) -> list[Decimal]:
        """With VAT on every base, paid = spot x per_spot + fixed, mapped over all periods
        by the decimal module's own methods: no bytecode runs per period."""
        # max keeps a price at 0 as it is, as `ZERO if price < 0 else price` does.
        spots = map(max, prices, repeat(ZERO)) if self.rules.negative_zero else prices
        # fma rounds nothing in EXACT: the value and exponent of add(multiply(...), fixed).
        paid = map(EXACT.fma, spots, repeat(per_spot), [amounts.fixed for amounts in found])
        if self._rounding is None or self._quantum is None:
            return list(paid)
        return list(map(self._rounding.quantize, paid, repeat(self._quantum)))

    def texts(self, paid: Iterable[Decimal]) -> list[str]:
        """Paid prices as the planner reads them: format "f", or str where it writes the same."""
        return list(map(str, paid) if self.plain_str else map(format, paid, repeat("f")))

    def parts(self, prices: Sequence[Decimal], locals_: Sequence[datetime]) -> dict[str, list[Decimal]]:
        return self.parts_of(prices, self.amounts_of(locals_))

    def parts_of(self, prices: Sequence[Decimal], found: Sequence[Amounts]) -> dict[str, list[Decimal]]:
        """Each part's amount per period: spot, the components, vat, and rounding (the
        paid price less the others) when the tariff rounds."""
        rounds = self._quantum is not None
        names = ("spot", *self.rules.names, "vat", *(("rounding",) if rounds else ()))
        add = EXACT.add
        rows = []
        for price, amounts in zip(prices, found):
            spot = self.spot(price)
            vat = self.vat(spot, amounts)
            row = (spot, *amounts.each, vat)
            if rounds:
                exact = add(add(spot, amounts.total), vat)
                row += (EXACT.subtract(self.rounded(exact), exact),)
            rows.append(row)
        return {name: list(column) for name, column in zip(names, zip(*rows, strict=True) if rows else [()] * len(names))}

    def part_sums(self, prices: Sequence[Decimal], found: Sequence[Amounts], paid_sum: Decimal) -> dict[str, Decimal]:
        """Each part summed over the periods (their spot prices, amounts, and the sum of
        their paid prices from ZERO, as a plan's cost is), exactly. Where paid = spot x
        per_spot + fixed, spot and VAT are one product of sums (the same values and
        exponents as the sums of the products: the rate's and every spot value's
        exponents are at most 0)."""
        if self._per_spot is None or not prices:
            return {name: sum_of(column) for name, column in self.parts_of(prices, found).items()}
        add, multiply, rules = EXACT.add, EXACT.multiply, self.rules
        spots = map(max, prices, repeat(ZERO)) if rules.negative_zero else prices  # as paid_of reads them
        # sum() adds with the operators, in EXACT: the values and exponents of sum_of, without
        # parsing each addition's arguments.
        with localcontext(EXACT):
            spot_sum = sum(spots, ZERO)
            taxed = sum([amounts.taxed for amounts in found], ZERO)
            total = sum([amounts.total for amounts in found], ZERO)
            each = [sum(column, ZERO) for column in zip(*[amounts.each for amounts in found])]
        # add(ZERO, ...): a zero sum is +0 as sum_of gives it, whatever the factor's sign.
        spot = add(ZERO, multiply(spot_sum, rules.spot_factor))
        vat = add(ZERO, multiply(add(spot, taxed) if self.spot_taxed else taxed, rules.vat_rate))
        sums = {"spot": spot, **dict(zip(rules.names, each)), "vat": vat}
        if self._quantum is not None:
            sums["rounding"] = EXACT.subtract(paid_sum, add(add(spot, total), vat))
        return sums


def sum_of(values: Iterable[Decimal]) -> Decimal:
    return reduce(EXACT.add, values, ZERO)
