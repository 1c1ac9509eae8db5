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


class Composer:
    """Composes paid prices under one tariff, keeping the amounts of every wall-clock
    time met so far (a tariff's amounts never change, so the cache never goes stale)."""

    def __init__(self, rules: Rules) -> None:
        self.rules = rules
        self.spot_taxed = "spot" in rules.taxed
        self._taxed_flags = tuple(name in rules.taxed for name in rules.names)
        self._amounts: dict[datetime, Amounts] = {}
        self._quantum = Decimal(1).scaleb(-rules.rounding.places) if rules.rounding else None

    def amounts(self, local: datetime) -> Amounts:
        wall = local.replace(tzinfo=None, fold=0)
        found = self._amounts.get(wall)
        if found is None:
            each = self.rules.amounts_at(wall)
            total = sum_of(each)
            taxed = sum_of(amount for amount, flag in zip(each, self._taxed_flags) if flag)
            found = self._amounts[wall] = Amounts(each, total, taxed)
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
        amounts = self.amounts(local)
        spot = self.spot(price)
        return self.rounded(EXACT.add(EXACT.add(spot, amounts.total), self.vat(spot, amounts)))

    def parts(self, prices: Sequence[Decimal], locals_: Sequence[datetime]) -> dict[str, list[Decimal]]:
        """Each part's amount per period: spot, the components, vat, and rounding (the
        paid price less the others) when the tariff rounds."""
        names = ("spot", *self.rules.names, "vat", *(("rounding",) if self._quantum is not None else ()))
        columns: dict[str, list[Decimal]] = {name: [] for name in names}
        for price, local in zip(prices, locals_):
            amounts = self.amounts(local)
            spot = self.spot(price)
            vat = self.vat(spot, amounts)
            row = (spot, *amounts.each, vat)
            for name, value in zip(names, row):
                columns[name].append(value)
            if self._quantum is not None:
                exact = EXACT.add(EXACT.add(spot, amounts.total), vat)
                columns["rounding"].append(EXACT.subtract(self.rounded(exact), exact))
        return columns


def sum_of(values: object) -> Decimal:
    total = ZERO
    for value in values:  # type: ignore[attr-defined]
        total = EXACT.add(total, value)
    return total
