"""`Tariff`: what turns each period's spot price into the price the user pays (grid
fees, taxes, VAT, a rounding), read from a TOML file or a mapping of the same keys.
A tariff is data: no expression is ever evaluated, and every amount is an exact decimal.
"""

from __future__ import annotations

import tomllib
from collections.abc import Iterable, Mapping
from datetime import datetime
from decimal import Decimal
from pathlib import Path
from typing import Any, NamedTuple, cast
from zoneinfo import ZoneInfo

from .composing import Amounts, Composer, sum_of
from .local_time import MOST_KEPT, local_times
from .reading import rules
from .spot_prices import spot_values


class Priced(NamedTuple):
    """A request's periods under a tariff, as `Tariff.planned` gives them to `plan`."""

    values: list[Decimal]
    amounts: list[Amounts]
    paid: list[Decimal]
    locals_: list[datetime] | None  # None: every time was aware and met before


class Tariff:
    """A tariff: `Tariff.from_toml(source)` or `Tariff.from_dict(mapping)`.

    paid_prices(prices, times): the paid price of each period, a Decimal in `unit`.
    parts(prices, times): the same prices split into parts: "spot" (the spot price in
        `unit` after factor and negative), each component by name, "vat", and, when
        the tariff rounds, "rounding" (the paid price less the other parts).

    prices are in `spot_unit`, as `plan` takes them (decimal texts, ints, Decimals,
    floats). times are the start of each period: datetimes (aware ones are converted
    into `time_zone`; naive ones are read as wall-clock times there) or a pandas
    DatetimeIndex. A period takes the amounts in force at its local start.
    """

    __slots__ = ("_composer", "_zone", "_locals", "_instants")

    def __init__(self, mapping: Mapping[str, Any]) -> None:
        """Prefer from_dict or from_toml; ValueError naming the key that is wrong."""
        self._composer = Composer(rules(mapping))
        self._zone = ZoneInfo(self._composer.rules.time_zone)
        self._locals: dict[datetime, datetime] = {}
        # The amounts of each aware time met so far, kept by the time as given: a time
        # equal to one finds them at once (a naive time equals no aware one).
        self._instants: dict[datetime, Amounts] = {}

    @classmethod
    def from_dict(cls, mapping: Mapping[str, Any]) -> Tariff:
        """The tariff of a mapping with the keys of the TOML file (for a configuration
        kept in YAML or JSON)."""
        return cls(mapping)

    @classmethod
    def from_toml(cls, source: str | Path) -> Tariff:
        """The tariff of a TOML file: a pathlib.Path, or a str naming an existing file,
        is read as a file; any other str is the TOML text itself."""
        if isinstance(source, Path) or (isinstance(source, str) and _names_file(source)):
            with open(source, "rb") as file:
                return cls(tomllib.load(file))
        if not isinstance(source, str):
            raise TypeError(f"source must be a pathlib.Path or a str, not {type(source).__name__}")
        try:
            mapping = tomllib.loads(source)
        except tomllib.TOMLDecodeError as error:
            if "\n" not in source and source.strip().endswith(".toml"):
                raise ValueError(f"source: {source!r} names no file (and is no TOML text)") from None
            raise ValueError(f"source is not TOML: {error}") from None
        return cls(mapping)

    @property
    def composer(self) -> Composer:
        """The composition itself, for plan_table's vectorised pass."""
        return self._composer

    @property
    def time_zone(self) -> str:
        return self._composer.rules.time_zone

    @property
    def unit(self) -> str | None:
        return self._composer.rules.unit

    @property
    def spot_unit(self) -> str | None:
        return self._composer.rules.spot_unit

    @property
    def part_names(self) -> tuple[str, ...]:
        """The keys of parts(), in order."""
        rounding = ("rounding",) if self._composer.rules.rounding is not None else ()
        return ("spot", *self._composer.rules.names, "vat", *rounding)

    def local_times(self, times: Any) -> list[Any]:
        """The times as aware datetimes of `time_zone`, naive ones read as wall-clock times."""
        return local_times(times, self._zone, self._locals)

    def paid_prices(self, prices: Iterable[Any], times: Any) -> list[Decimal]:
        values, locals_ = self._periods(prices, times)
        return self._composer.paid_all(values, locals_)

    def parts(self, prices: Iterable[Any], times: Any) -> dict[str, list[Decimal]]:
        values, locals_ = self._periods(prices, times)
        return self._composer.parts(values, locals_)

    def priced(self, prices: Iterable[Any], times: Any) -> tuple[list[Decimal], list[Any], list[Decimal]]:
        """(the spot prices, the local times, the paid prices), for `plan`."""
        values, locals_ = self._periods(prices, times)
        return values, locals_, self._composer.paid_all(values, locals_)

    def part_sums(self, values: list[Decimal], locals_: list[Any], periods: Iterable[int]) -> dict[str, Decimal]:
        """Each part summed over `periods`, exactly: together they are those periods' paid cost."""
        chosen = [values[i] for i in periods]
        found = self._composer.amounts_of([locals_[i] for i in periods])
        return self._composer.part_sums(chosen, found, sum_of(self._composer.paid_of(chosen, found)))

    def planned(self, prices: Iterable[Any], times: Any) -> Priced:
        """What `plan` needs: the spot prices, each period's amounts, the paid prices,
        and the local times unless every time is an aware one met before (then the
        times themselves serve). Errors as paid_prices raises them."""
        values = spot_values(prices)
        found = self._known_amounts(times)
        if found is not None and len(found) == len(values):
            return Priced(values, found, self._composer.paid_of(values, found), None)
        locals_ = self._local_times_of(values, times)
        found = self._composer.amounts_of(locals_)
        self._keep_instants(times, found)
        return Priced(values, found, self._composer.paid_of(values, found), locals_)

    def _known_amounts(self, times: Any) -> list[Amounts] | None:
        """Each time's amounts when every one is an aware time met before, else None."""
        if type(times) is not list and type(times) is not tuple:
            return None
        try:
            found = list(map(self._instants.get, times))
        except Exception:  # an item that cannot be hashed: the full reading says what is wrong
            return None
        return cast(list[Amounts], found) if all(found) else None

    def _keep_instants(self, times: Any, found: list[Amounts]) -> None:
        """Keeps the amounts of each aware time that names one instant whatever its fold.
        Times of one tzinfo compare by their wall clock, fold aside: a time the clocks
        repeat or skip would equal another instant's twin."""
        if type(times) is not list and type(times) is not tuple:
            return
        if len(self._instants) + len(found) > MOST_KEPT:
            self._instants.clear()
        for time, amounts in zip(times, found):
            if type(time) is datetime and time.utcoffset() is not None and \
                    time.replace(fold=1 - time.fold).utcoffset() == time.utcoffset():
                self._instants[time] = amounts

    def _periods(self, prices: Iterable[Any], times: Any) -> tuple[list[Decimal], list[Any]]:
        values = spot_values(prices)
        return values, self._local_times_of(values, times)

    def _local_times_of(self, values: list[Decimal], times: Any) -> list[Any]:
        locals_ = self.local_times(times)
        if len(values) != len(locals_):
            raise ValueError(f"times holds {len(locals_)} times for {len(values)} prices")
        return locals_

    def __repr__(self) -> str:
        return f"Tariff(time_zone={self.time_zone!r}, unit={self.unit!r}, parts={list(self.part_names)!r})"


def _names_file(source: str) -> bool:
    try:
        return "\n" not in source and Path(source).is_file()
    except (OSError, ValueError):
        return False
