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

# The rules of plan and plan_table by name, in the order _plan_table takes them.
RULES: tuple[str, ...]

# The entry behind tables._plan_table: stream, id, prices, times, the hidden column of
# each period's local date (or None), then three tuples in
# the order of RULES (each rule's column name or None, its value for every row, a count's
# duration as (days, microseconds) or None), and threads; all by position.
_plan_table: Callable[..., _Batches]
