# The compiled planner's signature, for type checkers.
from collections.abc import Sequence
from decimal import Decimal

def cheapest_periods(
    prices: Sequence[str | int | Decimal | float],
    low_price_threshold: str | int | Decimal | float,
    min_selections: int,
    min_consecutive_periods: int,
    max_gap_between_periods: int = 0,
    max_gap_from_start: int = 0,
    aggressive: bool = True,
) -> list[int]: ...
