"""A tariff's mapping (as `tomllib` reads the file) checked key by key and turned into
`Rules`. Every refusal names the key's path (see `keys`).
"""

from __future__ import annotations

import importlib
import re
import zoneinfo
from collections.abc import Callable, Mapping
from datetime import date
from decimal import ROUND_HALF_EVEN, ROUND_HALF_UP, Decimal
from typing import Any

from . import keys
from .exact import EXACT
from .keys import Path
from .rules import HOLIDAY, WEEKDAYS, Component, Rounding, Rules, Zone

TOP = ("time_zone", "spot_unit", "unit", "holidays", "holiday_calendar", "spot", "component", "vat", "rounding")
COMPONENT = ("name", "amount", "zone", "table", "default", "from", "until")
ZONE = ("amount", "table", "hours", "months", "quarters", "days")
RESERVED = ("spot", "vat", "rounding")
MODES = {"half-even": ROUND_HALF_EVEN, "half-up": ROUND_HALF_UP}
UNIT = re.compile(r"([^/\s]+)/(MWh|kWh)")
HOURS = re.compile(r"([0-9]{2}):([0-9]{2})-([0-9]{2}):([0-9]{2})")
DAY_SECONDS = 24 * 3600


def time_zone(value: object, at: Path) -> str:
    name = keys.text(value, at)
    try:
        zoneinfo.ZoneInfo(name)
    except (zoneinfo.ZoneInfoNotFoundError, ValueError):
        raise at.refuse(f"{name!r} is not a time zone of the time zone database (such as \"Europe/Berlin\")") from None
    return name


def unit_factor(spot_unit: str | None, unit: str | None) -> Decimal:
    """What a spot price in `spot_unit` is multiplied by to be in `unit`."""
    if spot_unit is None or unit is None or spot_unit == unit:
        return Decimal(1)
    spot, paid = UNIT.fullmatch(spot_unit), UNIT.fullmatch(unit)
    if spot is None or paid is None or spot[1] != paid[1]:
        raise Path("unit").refuse(f"cannot convert {spot_unit!r} into {unit!r}: only a currency per MWh into the "
                                  "same currency per kWh, or back, is converted")
    return Decimal("0.001") if spot[2] == "MWh" else Decimal(1000)


def holiday_calendar(value: object, at: Path) -> Callable[[date], bool]:
    """The `holidays` package's calendar for a country or country-subdivision code."""
    code = keys.text(value, at)
    try:
        package: Any = importlib.import_module("holidays")
    except ImportError:
        raise at.refuse(f"the calendar {code!r} needs the holidays package: pip install 'kestrava[holidays]' "
                        "(or pip install holidays)") from None
    country, _, subdivision = code.partition("-")
    try:
        calendar = package.country_holidays(country, subdiv=subdivision or None)
    except NotImplementedError:
        raise at.refuse(f"{code!r} is not a country or country-subdivision code that the holidays package "
                        "knows (such as \"DE\" or \"DE-BY\")") from None
    contains: Callable[[date], bool] = calendar.__contains__
    return contains


def hour_range(value: object, at: Path) -> list[tuple[int, int]]:
    """A range of local time of day as [start, end) pairs in seconds; one that crosses
    midnight is two."""
    written = keys.text(value, at)
    match = HOURS.fullmatch(written)
    if match is None:
        raise at.refuse(f"{written!r} is not an hour range HH:MM-HH:MM")
    start_hour, start_minute, end_hour, end_minute = (int(part) for part in match.groups())
    if start_hour > 23 or start_minute > 59 or end_minute > 59 or end_hour > 24 or (end_hour == 24 and end_minute):
        raise at.refuse(f"{written!r} is not an hour range: times of day run from 00:00 to 24:00 (an end only)")
    start, end = start_hour * 3600 + start_minute * 60, end_hour * 3600 + end_minute * 60
    if start == end:
        raise at.refuse(f"{written!r} starts where it ends; for the whole day leave hours out")
    return [(start, end)] if start < end else [(start, DAY_SECONDS), (0, end)]


def table_values(value: object, at: Path) -> tuple[Decimal, ...]:
    values = tuple(keys.decimal(item, where) for item, where in keys.items(value, at))
    if len(values) not in (24, 96):
        raise at.refuse(f"holds {len(values)} values; a table holds 24 (by local hour) or 96 (by local quarter-hour)")
    return values


def amount_or_table(given: Mapping[str, Any], at: Path, choices: tuple[str, ...]) -> str:
    """Which of `choices` the table gives: exactly one of them."""
    present = [name for name in choices if name in given]
    if len(present) != 1:
        raise at.refuse(f"gives {' and '.join(present) if present else 'none of them'}; give exactly one of "
                        f"{', '.join(choices)}")
    return present[0]


def zone(value: object, at: Path) -> Zone:
    given = keys.table(value, at, ZONE)
    chosen = amount_or_table(given, at, ("amount", "table"))
    if not {"hours", "months", "quarters", "days"} & given.keys():
        raise at.refuse("has no condition: give hours, months, quarters or days (or use the component's default)")
    if "months" in given and "quarters" in given:
        raise at.key("quarters").refuse("a zone gives months or quarters, never both")
    hours = None
    if "hours" in given:
        hours = tuple(part for item, where in keys.items(given["hours"], at.key("hours"))
                      for part in hour_range(item, where))
    months = None
    if "months" in given:
        months = frozenset(keys.integer(item, where, 1, 12) for item, where in keys.items(given["months"],
                                                                                           at.key("months")))
    if "quarters" in given:
        quarters = [keys.integer(item, where, 1, 4) for item, where in keys.items(given["quarters"],
                                                                                 at.key("quarters"))]
        months = frozenset(month for quarter in quarters for month in range(3 * quarter - 2, 3 * quarter + 1))
    days = None
    if "days" in given:
        days = frozenset(keys.choice(item, where, (*WEEKDAYS, HOLIDAY)) for item, where in
                         keys.items(given["days"], at.key("days")))
    amount = keys.decimal(given["amount"], at.key("amount")) if chosen == "amount" else None
    table = table_values(given["table"], at.key("table")) if chosen == "table" else None
    return Zone(amount, table, hours, months, days)


def component(value: object, at: Path) -> Component:
    given = keys.table(value, at, COMPONENT)
    if "name" not in given:
        raise at.refuse("has no name")
    name = keys.text(given["name"], at.key("name"))
    if name in RESERVED:
        raise at.key("name").refuse(f"{name!r} names a part of every tariff; choose another name")
    chosen = amount_or_table(given, at, ("amount", "zone", "table"))
    if "default" in given and chosen != "zone":
        raise at.key("default").refuse("a default is for a component with zones")
    start = keys.local_date(given["from"], at.key("from")) if "from" in given else None
    end = keys.local_date(given["until"], at.key("until")) if "until" in given else None
    if start is not None and end is not None and not start < end:
        raise at.key("until").refuse(f"{end} is not after from ({start})")
    return Component(
        name,
        keys.decimal(given["amount"], at.key("amount")) if chosen == "amount" else None,
        table_values(given["table"], at.key("table")) if chosen == "table" else None,
        tuple(zone(item, where) for item, where in keys.items(given["zone"], at.key("zone")))
        if chosen == "zone" else None,
        keys.decimal(given.get("default", "0"), at.key("default")),
        start, end)


def overlap_check(components: list[Component]) -> None:
    """Versions of one component hold on disjoint dates; an overlap is named at the later one."""
    for later, version in enumerate(components):
        for earlier in range(later):
            other = components[earlier]
            if other.name == version.name and (
                    (version.start is None or other.end is None or version.start < other.end)
                    and (other.start is None or version.end is None or other.start < version.end)):
                raise Path("component").item(later).refuse(
                    f"this version of {version.name!r} is in force on dates that component[{earlier}] also covers; "
                    "versions of one component need disjoint from/until")


def vat(value: object, names: tuple[str, ...]) -> tuple[Decimal, frozenset[str], bool]:
    at = Path("vat")
    given = keys.table(value, at, ("rate", "applies_to", "on_negative"))
    if given and "rate" not in given:
        raise at.refuse("has no rate")
    rate = keys.decimal(given.get("rate", "0"), at.key("rate"))
    taxed = {"spot", *names}
    if "applies_to" in given:
        listed = given["applies_to"]
        if not isinstance(listed, (list, tuple)):
            raise at.key("applies_to").refuse(f"must be a list of part names, not {keys.kind_of(listed)}")
        taxed = set()
        for index, item in enumerate(listed):
            where = at.key("applies_to").item(index)
            part = keys.text(item, where)
            if part not in ("spot", *names):
                raise where.refuse(f"{part!r} is no part of this tariff; the parts are "
                                   f"{', '.join(repr(name) for name in ('spot', *names))}")
            if part in taxed:
                raise where.refuse(f"{part!r} is named twice")
            taxed.add(part)
    return rate, frozenset(taxed), keys.flag(given.get("on_negative", True), at.key("on_negative"))


def rounding(value: object) -> Rounding:
    at = Path("rounding")
    given = keys.table(value, at, ("places", "mode"))
    for name in ("places", "mode"):
        if name not in given:
            raise at.refuse(f"has no {name}")
    mode = keys.choice(given["mode"], at.key("mode"), tuple(MODES))
    return Rounding(keys.integer(given["places"], at.key("places"), 0, 28), MODES[mode])


def holiday_test(given: Mapping[str, Any]) -> Callable[[date], bool]:
    listed = frozenset(keys.local_date(item, where) for item, where in keys.items(given["holidays"],
                                                                                   Path("holidays"))) \
        if "holidays" in given else frozenset()
    if "holiday_calendar" not in given:
        return listed.__contains__
    calendar = holiday_calendar(given["holiday_calendar"], Path("holiday_calendar"))
    return lambda day: day in listed or calendar(day)


def rules(mapping: object) -> Rules:
    """The Rules of a tariff's mapping; ValueError naming the first key that is wrong."""
    given = keys.table(mapping, Path(), TOP)
    if "time_zone" not in given:
        raise ValueError("time_zone: missing; every tariff names the time zone of its local times")
    zone_name = time_zone(given["time_zone"], Path("time_zone"))
    units = {name: keys.text(given[name], Path(name)) if name in given else None for name in ("spot_unit", "unit")}
    spot_unit, unit = units["spot_unit"] or units["unit"], units["unit"] or units["spot_unit"]
    conversion = unit_factor(spot_unit, unit)
    spot = keys.table(given.get("spot", {}), Path("spot"), ("factor", "negative"))
    factor = keys.decimal(spot.get("factor", "1"), Path("spot.factor"))
    negative = keys.choice(spot.get("negative", "keep"), Path("spot.negative"), ("keep", "zero"))
    components = [component(item, where) for item, where in keys.items(given["component"], Path("component"))] \
        if "component" in given else []
    overlap_check(components)
    names = tuple(dict.fromkeys(version.name for version in components))
    rate, taxed, on_negative = vat(given.get("vat", {}), names)
    return Rules(zone_name, spot_unit, unit, EXACT.multiply(factor, conversion), negative == "zero", tuple(components), names, rate,
                 taxed, on_negative, rounding(given["rounding"]) if "rounding" in given else None,
                 holiday_test(given))
