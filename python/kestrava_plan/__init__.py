"""kestrava_plan: the cheapest periods of a series of prices of any length, and the
`kestrava-plan` command.

`cheapest_periods` follows the rules and strategies of `kestrava.get_cheapest_periods`
without its limit of 28 prices, and takes any sequence of prices: decimal texts, ints,
finite Decimals or floats (a float means its repr). `plan` adds blocked periods, the
load's state before the first period, times and durations, and answers a `Plan`;
`prices_from_records` reads the price lists of price services; `plan_table` plans
every row of an Arrow table or stream at once. A `Tariff` turns spot prices into the
prices the user pays, for `plan`, `plan_table` and the command to plan on.

This package is the library; the command lives in `kestrava_plan.command`, which
imports the library and never the other way.
"""

from typing import TYPE_CHECKING

from .cheapest import cheapest_periods
from .plan_result import Plan
from .planning import plan
from .provider_records import PriceRecords, prices_from_records
from .tables import column, plan_table
from .tariffs import Tariff

if TYPE_CHECKING:
    from .command import main

__all__ = ["Plan", "PriceRecords", "Tariff", "cheapest_periods", "column", "main", "plan", "plan_table", "prices_from_records"]


def __getattr__(name: str) -> object:
    # The command's `main`, loaded when first asked for: the library never needs the
    # command, so importing it does not load the command's readers.
    if name == "main":
        from .command import main
        return main
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
