"""The exact value of a price object as the planner reads it, the decimal syntax of its
texts, and exact sums of them.

The planner turns each price into a decimal text (a text as it is, an integer as its
digits, a float as its shortest repr, a Decimal written out with format "f"); these
functions read the same text back as a Decimal, so that a plan's cost is the sum of
the very numbers that were planned with. They run after the planner has accepted the
prices, so they do not check them again.
"""

from __future__ import annotations

import decimal
import operator
import re
from collections.abc import Iterable
from decimal import Decimal
from typing import SupportsIndex

# Decimal arithmetic in which a sum is never rounded: a rounding would raise.
_EXACT = decimal.Context(prec=decimal.MAX_PREC, Emax=decimal.MAX_EMAX, Emin=decimal.MIN_EMIN,
                         traps=[decimal.Inexact, decimal.Rounded, decimal.Overflow, decimal.InvalidOperation])

Price = str | int | Decimal | float | SupportsIndex

# The planner's syntax: an optional sign, then digits with at most one point, and `_`
# as a digit separator anywhere after the first digit. ASCII digits only: `\d` would
# also take other scripts' digits, which the planner refuses.
DECIMAL_TEXT = re.compile(r"[+-]?(?:[0-9][0-9_]*(?:\.[0-9_]*)?|\.[0-9][0-9_]*)")
# The fraction's digits follow a point that is not optional, so that a long run of
# digits without an exponent fails in linear time, not quadratic.
EXPONENT_TEXT = re.compile(r"[+-]?(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)[eE][+-]?[0-9]+")


def price_value(price: Price) -> Decimal:
    """The Decimal a price accepted by the planner stands for, written out plainly."""
    if isinstance(price, str):
        # The planner's syntax allows `_` after the first digit anywhere, Decimal's only
        # between digits; dropping it changes no value.
        return Decimal(price.replace("_", ""))
    if isinstance(price, float):
        # float.__repr__, not repr(): a subclass (numpy float64) may show itself otherwise.
        return Decimal(format(Decimal(float.__repr__(price)), "f"))
    if isinstance(price, int):
        return Decimal(int.__repr__(price))
    if isinstance(price, Decimal):
        return Decimal(format(price, "f"))
    return Decimal(operator.index(price))


def exact_sum(values: Iterable[Decimal]) -> Decimal:
    """The sum, whatever its number of digits; never rounded."""
    total = Decimal(0)
    for value in values:
        total = _EXACT.add(total, value)
    return total
