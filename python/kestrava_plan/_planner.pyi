# The compiled planner's signature, for type checkers. prices may be any iterable
# (numpy arrays and pandas Series are not Sequences to a type checker); the counts are
# anything with __index__ but a bool.
from collections.abc import Callable, Iterable, Iterator, Sequence
from decimal import Decimal
from typing import Protocol, SupportsIndex, type_check_only

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
    /,
) -> tuple[list[int], int]: ...

@type_check_only
class _Batches(Protocol):
    """The batches plan_table plans, one per input batch, as the consumer asks for them."""

    def schema(self) -> object: ...
    def batches(self, import_batch: Callable[[object, object], object]) -> Iterator[object]: ...
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...

# stream: an 'arrow_array_stream' capsule; times: the column of lists of timestamps or
# None; rule_columns, rule_scalars and rule_durations hold, in the order of plan's rules
# (threshold, the four counts, aggressive, allowed, running_for, off_for), a column name
# or None, the value used where the name is None, and for a count given as a timedelta
# its (days, microseconds within the day), which then stands in for the value.
def _plan_table(
    stream: object,
    id: str | None,
    prices: str,
    times: str | None,
    rule_columns: tuple[str | None, ...],
    rule_scalars: tuple[object, ...],
    rule_durations: tuple[tuple[int, int] | None, ...],
    threads: int,
    /,
) -> _Batches: ...
