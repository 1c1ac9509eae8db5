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
from typing import Any
from zoneinfo import ZoneInfo

from .composing import Composer
from .local_time import local_times
from .reading import rules
from .spot_prices import spot_values


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

    __slots__ = ("_composer", "_zone", "_locals")

    def __init__(self, mapping: Mapping[str, Any]) -> None:
        """Prefer from_dict or from_toml; ValueError naming the key that is wrong."""
        self._composer = Composer(rules(mapping))
        self._zone = ZoneInfo(self._composer.rules.time_zone)
        self._locals: dict[datetime, datetime] = {}

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
        chosen = list(periods)
        return self._composer.part_sums([values[i] for i in chosen], [locals_[i] for i in chosen])

    def _periods(self, prices: Iterable[Any], times: Any) -> tuple[list[Decimal], list[Any]]:
        values = spot_values(prices)
        locals_ = self.local_times(times)
        if len(values) != len(locals_):
            raise ValueError(f"times holds {len(locals_)} times for {len(values)} prices")
        return values, locals_

    def __repr__(self) -> str:
        return f"Tariff(time_zone={self.time_zone!r}, unit={self.unit!r}, parts={list(self.part_names)!r})"


def _names_file(source: str) -> bool:
    try:
        return "\n" not in source and Path(source).is_file()
    except (OSError, ValueError):
        return False
