"""The price a user pays for each period under a tariff, read plainly from the tariff's keys
(the mapping that tomllib gives) as exact fractions. It shares no code with kestrava_plan's
tariffs: the tests hold their paid prices and parts against it.

A period is read at its start, in the tariff's local time. Steps: the spot price
(negative = "zero" first, then the factor, then the unit), every component's amount,
VAT on the named parts, then rounding.
"""

from __future__ import annotations

from datetime import date, datetime
from fractions import Fraction
from functools import cache
from zoneinfo import ZoneInfo

WEEKDAYS = ("mon", "tue", "wed", "thu", "fri", "sat", "sun")
WATT_HOURS = {"kWh": 1000, "MWh": 1000 * 1000}  # watt-hours in one unit of energy
HALF = Fraction(1, 2)
exact = cache(Fraction)  # a decimal text's value; the texts repeat from period to period


def as_date(value: date | str) -> date:
    return value if isinstance(value, date) else date.fromisoformat(value)


def minute_of(text: str) -> int:
    hours, minutes = text.split(":")
    return int(hours) * 60 + int(minutes)


def in_hours(ranges: list[str], minute: int) -> bool:
    for text in ranges:
        start, end = (minute_of(part) for part in text.split("-"))
        if (start <= minute < end) if start < end else (minute >= start or minute < end):
            return True
    return False


def rounded(value: Fraction, places: int, mode: str) -> Fraction:
    """Half-even rounds ties to the even digit, half-up away from zero; both are symmetric in the sign."""
    whole, rest = divmod(abs(value) * 10**places, 1)
    if rest > HALF or (rest == HALF and (mode == "half-up" or whole % 2 == 1)):
        whole += 1
    return (1 if value >= 0 else -1) * Fraction(whole, 10**places)


class TariffModel:
    def __init__(self, tariff: dict) -> None:
        self.tariff = tariff
        self.zone = ZoneInfo(tariff["time_zone"])
        self.holidays = {as_date(day) for day in tariff.get("holidays", [])}
        self.calendar = None
        if "holiday_calendar" in tariff:
            import holidays

            country, _, subdivision = tariff["holiday_calendar"].partition("-")
            self.calendar = holidays.country_holidays(country, subdiv=subdivision or None)

    def unit_factor(self) -> Fraction:
        spot_unit = self.tariff.get("spot_unit", self.tariff.get("unit"))
        unit = self.tariff.get("unit", spot_unit)
        if spot_unit == unit:
            return Fraction(1)
        (spot_currency, spot_energy), (currency, energy) = spot_unit.split("/"), unit.split("/")
        assert spot_currency == currency, (spot_unit, unit)
        return Fraction(WATT_HOURS[energy], WATT_HOURS[spot_energy])

    def spot(self, text: str) -> Fraction:
        spot = self.tariff.get("spot", {})
        price = exact(text)
        if spot.get("negative", "keep") == "zero" and price < 0:
            price = Fraction(0)
        return price * exact(spot.get("factor", "1")) * self.unit_factor()

    def is_holiday(self, day: date) -> bool:
        return day in self.holidays or (self.calendar is not None and day in self.calendar)

    def zone_holds(self, zone: dict, local: datetime) -> bool:
        day = "holiday" if self.is_holiday(local.date()) else WEEKDAYS[local.weekday()]
        return (("hours" not in zone or in_hours(zone["hours"], local.hour * 60 + local.minute))
                and ("months" not in zone or local.month in zone["months"])
                and ("quarters" not in zone or (local.month + 2) // 3 in zone["quarters"])
                and ("days" not in zone or day in zone["days"]))

    def amount(self, source: dict, local: datetime) -> Fraction:
        """A component's or a zone's amount, or its table's value for the local hour or quarter-hour."""
        if "amount" in source:
            return exact(source["amount"])
        table = source["table"]
        return exact(table[local.hour] if len(table) == 24 else table[local.hour * 4 + local.minute // 15])

    def component(self, component: dict, local: datetime) -> Fraction:
        day = local.date()
        if ("from" in component and day < as_date(component["from"])) or (
                "until" in component and day >= as_date(component["until"])):
            return Fraction(0)
        if "zone" not in component:
            return self.amount(component, local)
        for zone in component["zone"]:
            if self.zone_holds(zone, local):
                return self.amount(zone, local)
        return exact(component.get("default", "0"))

    def parts(self, spot_text: str, start: datetime) -> dict[str, Fraction]:
        """'spot', each component's name (its versions summed), 'vat', and 'rounding' when the tariff rounds."""
        local = start.astimezone(self.zone)
        parts = {"spot": self.spot(spot_text)}
        for component in self.tariff.get("component", []):
            parts[component["name"]] = parts.get(component["name"], Fraction(0)) + self.component(component, local)
        vat = self.tariff.get("vat", {})
        base = sum((value for name, value in parts.items() if name in vat.get("applies_to", parts)), Fraction(0))
        taxed = base >= 0 or vat.get("on_negative", True)
        parts["vat"] = base * exact(vat.get("rate", "0")) if taxed else Fraction(0)
        if "rounding" in self.tariff:
            unrounded = sum(parts.values(), Fraction(0))
            rule = self.tariff["rounding"]
            parts["rounding"] = rounded(unrounded, rule["places"], rule["mode"]) - unrounded
        return parts

    def paid(self, spot_text: str, start: datetime) -> Fraction:
        return sum(self.parts(spot_text, start).values(), Fraction(0))
