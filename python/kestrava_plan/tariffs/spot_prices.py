"""Spot prices as `plan` takes them, checked and read as exact Decimals."""

from __future__ import annotations

import decimal
import math
import operator
from collections.abc import Iterable
from decimal import Decimal
from typing import Any

from ..period_times import is_pandas
from ..price_values import DECIMAL_TEXT, price_value
from .exact import EXACT


def spot_value(price: Any, index: int) -> Decimal:
    if isinstance(price, bool):
        raise TypeError(f"prices[{index}]: a bool is no price")
    if isinstance(price, str):
        if DECIMAL_TEXT.fullmatch(price) is None:
            raise ValueError(f"prices[{index}]: {price!r} is not a decimal text")
    elif isinstance(price, float):
        if not math.isfinite(price):
            raise ValueError(f"prices[{index}]: {price!r} is not a finite price")
    elif isinstance(price, Decimal):
        if not price.is_finite():
            raise ValueError(f"prices[{index}]: {price!r} is not a finite price")
    elif not isinstance(price, int):
        try:
            operator.index(price)
        except TypeError:
            raise TypeError(f"prices[{index}]: a {type(price).__name__} is no price (decimal texts, ints, finite "
                            "Decimals and floats are)") from None
    return price_value(price)


# The characters of decimal texts without `_`, and the line break between them.
PLAIN_TEXT_CHARACTERS = b"0123456789.+-\n"


def plain_texts_read(prices: Any) -> list[Decimal] | None:
    """The prices when they are a list or tuple of decimal texts without `_`, read at
    once, else None. In these characters (a text holding a line break has one break
    too many), EXACT reads exactly the planner's syntax and refuses anything else."""
    if type(prices) is not list and type(prices) is not tuple:
        return None
    try:
        lines = "\n".join(prices).encode("ascii")
    except (TypeError, UnicodeEncodeError):
        return None
    if lines.translate(None, PLAIN_TEXT_CHARACTERS) or lines.count(b"\n") != len(prices) - 1:
        return None
    try:
        return list(map(EXACT.create_decimal, prices))
    except decimal.InvalidOperation:
        return None


def spot_values(prices: Iterable[Any]) -> list[Decimal]:
    if is_pandas(prices, "Series"):
        prices = prices.to_list()  # type: ignore[attr-defined]
    if isinstance(prices, (str, bytes)) or not isinstance(prices, Iterable):
        raise TypeError(f"prices must be a sequence of prices, not {type(prices).__name__}")
    read = plain_texts_read(prices)
    if read is not None:
        return read
    # A plain str that is a decimal text is by far the common price: read it without
    # spot_value's checks of every other kind (it gives the same Decimal).
    matches, found = DECIMAL_TEXT.fullmatch, []
    for index, price in enumerate(prices):
        if type(price) is str and matches(price):
            found.append(Decimal(price.replace("_", "")) if "_" in price else Decimal(price))
        else:
            found.append(spot_value(price, index))
    return found
