# Type information for the kestrava extension module, shipped as a stub-only
# package in the same wheel so that type checkers find it next to the binary.

__all__ = ["get_cheapest_periods"]

def get_cheapest_periods(
    prices: list[str],
    low_price_threshold: str,
    min_selections: int,
    min_consecutive_periods: int,
    max_gap_between_periods: int = 0,
    max_gap_from_start: int = 0,
    aggressive: bool = True,
) -> list[int]:
    """Find the cheapest periods in a sequence of prices.

    `prices` holds one decimal text per period (at most 28), `low_price_threshold`
    the decimal text at or below which a period counts as cheap. The counts are
    non-negative integers: at least `min_selections` periods, every run of
    adjacent periods at least `min_consecutive_periods` long, no gap (nor the tail
    after the last run) longer than `max_gap_between_periods`, and the first
    period no later than `max_gap_from_start`. `aggressive=True` picks the lowest
    average price; `aggressive=False` the cheapest base plan plus the most cheap
    periods.

    Returns the chosen period indices in ascending order. Raises `ValueError`
    for a request that breaks a rule ("Invalid decimal", "prices cannot be
    empty", ...) and `TypeError` for arguments of the wrong type.
    """
