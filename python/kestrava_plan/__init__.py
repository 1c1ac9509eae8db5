"""kestrava_plan: the cheapest periods of a series of prices of any length, and the
`kestrava-plan` command.

`cheapest_periods` follows the rules and strategies of `kestrava.get_cheapest_periods`
without its limit of 28 prices, and takes any sequence of prices: decimal texts, ints,
finite Decimals or floats (a float means its repr).
"""

from ._planner import cheapest_periods
from .command import main

__all__ = ["cheapest_periods", "main"]
