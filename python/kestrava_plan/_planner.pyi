# The compiled planner's entries, for type checkers.
from collections.abc import Callable, Iterator
from typing import Protocol, type_check_only

# The entries behind cheapest.py's functions, which check their types: the arguments
# by position, as those pass them.
_cheapest_periods: Callable[..., list[int]]
_plan: Callable[..., tuple[list[int], int]]

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
