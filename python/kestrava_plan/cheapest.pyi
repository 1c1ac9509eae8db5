# Types of cheapest.py's functions, whose own signatures carry plain names only. prices
# may be any iterable (numpy arrays and pandas Series are not Sequences to a type
# checker); the counts are anything with __index__ but a bool.
from collections.abc import Iterable, Sequence
from decimal import Decimal
from typing import SupportsIndex

def cheapest_periods(
    prices: Iterable[str | int | Decimal | float],
    low_price_threshold: str | int | Decimal | float,
    min_selections: SupportsIndex,
    min_consecutive_periods: SupportsIndex,
    max_gap_between_periods: SupportsIndex = 0,
    max_gap_from_start: SupportsIndex = 0,
    aggressive: bool = True,
) -> list[int]: ...

def _plan(
    prices: Iterable[str | int | Decimal | float],
    low_price_threshold: str | int | Decimal | float,
    min_selections: SupportsIndex,
    min_consecutive_periods: SupportsIndex,
    max_gap_between_periods: SupportsIndex,
    max_gap_from_start: SupportsIndex,
    aggressive: bool,
    allowed: Sequence[bool] | None,
    running_for: SupportsIndex,
    off_for: SupportsIndex,
    most_expensive: bool,
    strict_end: bool,
    day_of: list[int] | None,
    day_quota: list[int] | None,
    day_names: list[str] | None,
    /,
) -> tuple[list[int], int]: ...
