"""A tariff once read: its parts, each amount as a Decimal, and the amount each component
adds at a local time. Nothing here checks: `reading` builds these only from checked
values.
"""

from __future__ import annotations

from collections.abc import Callable
from dataclasses import dataclass
from datetime import date, datetime
from decimal import Decimal

WEEKDAYS = ("mon", "tue", "wed", "thu", "fri", "sat", "sun")
HOLIDAY = "holiday"
ZERO = Decimal(0)


def table_value(table: tuple[Decimal, ...], local: datetime) -> Decimal:
    """The value for a local time's hour (24 values) or quarter-hour (96): a period that
    starts within a quarter-hour takes that quarter's value."""
    if len(table) == 24:
        return table[local.hour]
    return table[local.hour * 4 + local.minute // 15]


@dataclass(frozen=True)
class Zone:
    """One zone of a component: an amount (or a table) where every condition holds.
    A condition left out (None) holds everywhere."""

    amount: Decimal | None
    table: tuple[Decimal, ...] | None
    hours: tuple[tuple[int, int], ...] | None  # [start, end) in seconds of the day; start < end
    months: frozenset[int] | None  # quarters are given as their months
    days: frozenset[str] | None  # weekday names and "holiday"

    def holds(self, local: datetime, day: str) -> bool:
        if self.months is not None and local.month not in self.months:
            return False
        if self.days is not None and day not in self.days:
            return False
        if self.hours is None:
            return True
        second = local.hour * 3600 + local.minute * 60 + local.second
        return any(start <= second < end for start, end in self.hours)

    def value(self, local: datetime) -> Decimal:
        return self.amount if self.table is None else table_value(self.table, local)  # type: ignore[return-value]


@dataclass(frozen=True)
class Component:
    """One version of a component: what it adds from `start` (inclusive) until `end`
    (exclusive), local dates, None for no bound."""

    name: str
    amount: Decimal | None
    table: tuple[Decimal, ...] | None
    zones: tuple[Zone, ...] | None
    default: Decimal
    start: date | None
    end: date | None

    def in_force(self, day: date) -> bool:
        return (self.start is None or self.start <= day) and (self.end is None or day < self.end)

    def amount_at(self, local: datetime, day: str) -> Decimal:
        """What it adds at `local`, a day of kind `day`, while it is in force."""
        if self.amount is not None:
            return self.amount
        if self.table is not None:
            return table_value(self.table, local)
        assert self.zones is not None
        return next((zone.value(local) for zone in self.zones if zone.holds(local, day)), self.default)


@dataclass(frozen=True)
class Rounding:
    places: int
    mode: str  # decimal's ROUND_HALF_EVEN or ROUND_HALF_UP (ties away from zero)


@dataclass(frozen=True)
class Rules:
    """A tariff as read. `names` are the components' part names in the file's order,
    each once however many versions it has."""

    time_zone: str
    spot_unit: str | None
    unit: str | None
    spot_factor: Decimal  # factor x the conversion of spot_unit into unit
    negative_zero: bool
    components: tuple[Component, ...]
    names: tuple[str, ...]
    vat_rate: Decimal
    taxed: frozenset[str]  # the parts VAT applies to, "spot" among them
    on_negative: bool
    rounding: Rounding | None
    is_holiday: Callable[[date], bool]

    def amounts_at(self, local: datetime) -> tuple[Decimal, ...]:
        """Each named part's amount at the local (wall-clock) time `local`, in `names`' order."""
        day = HOLIDAY if self.is_holiday(local.date()) else WEEKDAYS[local.weekday()]
        amounts = dict.fromkeys(self.names, ZERO)
        for component in self.components:
            if component.in_force(local.date()):
                amounts[component.name] = component.amount_at(local, day)
        return tuple(amounts.values())
