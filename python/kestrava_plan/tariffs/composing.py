"""The paid price of each period, exactly, and its parts:

    spot' = spot (0 when below zero and negative = "zero") x factor x unit conversion
    vat   = (spot' if taxed + the taxed components) x rate, 0 for a base below zero
            when on_negative is false
    paid  = spot' + every component + vat, then rounded when the tariff rounds.

The amounts at a local time are looked up once per distinct wall-clock time (a
repeated hour takes the same values both times) and kept in `Amounts`.
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from datetime import datetime
from decimal import Decimal

from .exact import EXACT, ROUNDING
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

    def paid_all(self, prices: Sequence[Decimal], locals_: Sequence[datetime]) -> list[Decimal]:
        """paid() of each period in one loop: for a day of periods, calling spot, vat and
        rounded per period cost more than their arithmetic."""
        add, multiply, kept, rules = EXACT.add, EXACT.multiply, self._amounts, self.rules
        factor, rate, quantum = rules.spot_factor, rules.vat_rate, self._quantum
        mode = rules.rounding.mode if rules.rounding is not None else None
        zero_negative, taxed_spot, untaxed_negative = rules.negative_zero, self.spot_taxed, not rules.on_negative
        found: list[Decimal] = []
        per_spot = self._per_spot
        if per_spot is not None:
            for price, local in zip(prices, locals_):
                fixed = (kept.get(local.replace(tzinfo=None, fold=0)) or self.amounts(local)).fixed
                paid = add(multiply(ZERO if zero_negative and price < 0 else price, per_spot), fixed)
                found.append(paid if quantum is None else paid.quantize(quantum, rounding=mode, context=ROUNDING))
            return found
        for price, local in zip(prices, locals_):
            amounts = kept.get(local.replace(tzinfo=None, fold=0)) or self.amounts(local)
            spot = multiply(ZERO if zero_negative and price < 0 else price, factor)
            base = add(spot, amounts.taxed) if taxed_spot else amounts.taxed
            vat = ZERO if untaxed_negative and base < 0 else multiply(base, rate)
            paid = add(add(spot, amounts.total), vat)
            found.append(paid if quantum is None else paid.quantize(quantum, rounding=mode, context=ROUNDING))
        return found

    def parts(self, prices: Sequence[Decimal], locals_: Sequence[datetime]) -> dict[str, list[Decimal]]:
        """Each part's amount per period: spot, the components, vat, and rounding (the
        paid price less the others) when the tariff rounds."""
        rounds = self._quantum is not None
        names = ("spot", *self.rules.names, "vat", *(("rounding",) if rounds else ()))
        add, kept = EXACT.add, self._amounts
        rows = []
        for price, local in zip(prices, locals_):
            amounts = kept.get(local.replace(tzinfo=None, fold=0)) or self.amounts(local)
            spot = self.spot(price)
            vat = self.vat(spot, amounts)
            row = (spot, *amounts.each, vat)
            if rounds:
                exact = add(add(spot, amounts.total), vat)
                row += (EXACT.subtract(self.rounded(exact), exact),)
            rows.append(row)
        return {name: list(column) for name, column in zip(names, zip(*rows, strict=True) if rows else [()] * len(names))}


    def part_sums(self, prices: Sequence[Decimal], locals_: Sequence[datetime]) -> dict[str, Decimal]:
        """Each part summed over the periods, exactly. Where paid = spot x per_spot + fixed,
        spot and VAT are one product of sums (the same values and exponents as the sums
        of the products: the rate's and every spot value's exponents are at most 0)."""
        if self._per_spot is None or not prices:
            return {name: sum_of(column) for name, column in self.parts(prices, locals_).items()}
        add, multiply, kept, rules = EXACT.add, EXACT.multiply, self._amounts, self.rules
        spot_sum = taxed = total = ZERO
        each = [ZERO] * len(rules.names)
        for price, local in zip(prices, locals_):
            amounts = kept.get(local.replace(tzinfo=None, fold=0)) or self.amounts(local)
            spot_sum = add(spot_sum, ZERO if rules.negative_zero and price < 0 else price)
            taxed, total = add(taxed, amounts.taxed), add(total, amounts.total)
            each = [add(part, amount) for part, amount in zip(each, amounts.each)]
        # add(ZERO, ...): a zero sum is +0 as sum_of gives it, whatever the factor's sign.
        spot = add(ZERO, multiply(spot_sum, rules.spot_factor))
        vat = add(ZERO, multiply(add(spot, taxed) if self.spot_taxed else taxed, rules.vat_rate))
        sums = {"spot": spot, **dict(zip(rules.names, each)), "vat": vat}
        if self._quantum is not None:
            sums["rounding"] = EXACT.subtract(sum_of(self.paid_all(prices, locals_)), add(add(spot, total), vat))
        return sums


def sum_of(values: object) -> Decimal:
    total = ZERO
    for value in values:  # type: ignore[attr-defined]
        total = EXACT.add(total, value)
    return total
