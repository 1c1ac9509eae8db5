"""Malformed tariffs, each refused with the path of the key to mend, word for word."""

from __future__ import annotations

import copy
import sys
from datetime import datetime
from pathlib import Path
from typing import Any

import pytest

from kestrava_plan import Tariff

TARIFF = """
time_zone = "Europe/Berlin"
spot_unit = "EUR/MWh"
unit = "EUR/kWh"
holidays = ["2025-12-25"]

[[component]]
name = "energy tax"
amount = "0.1228"

[[component]]
name = "grid fee"
default = "0.0800"
  [[component.zone]]
  amount = "0.1500"
  hours = ["07:00-09:00", "17:00-20:00"]
  months = [1, 2, 3]
  [[component.zone]]
  amount = "0.0300"
  hours = ["22:00-06:00"]
  days = ["holiday", "sat", "sun"]

[[component]]
name = "network table"
table = ["0.1029", "0.1029", "0.1029", "0.1", "0.1", "0.1", "0.1", "0.1", "0.1", "0.1", "0.1", "0.1",
         "0.1", "0.1", "0.1", "0.1", "0.1", "0.2", "0.2", "0.2", "0.1", "0.1", "0.1", "0.1"]
from = 2025-01-01
until = "2025-04-01"

[vat]
rate = "0.19"
applies_to = ["spot", "energy tax", "grid fee"]
"""
READ = __import__("tomllib").loads(TARIFF)


def changed(path: tuple[Any, ...], value: Any) -> dict[str, Any]:
    """The tariff with the value at `path` set (... deletes it)."""
    mapping = copy.deepcopy(READ)
    *head, last = path
    node: Any = mapping
    for key in head:
        node = node[key]
    if value is ...:
        del node[last]
    elif isinstance(node, list) and last == len(node):
        node.append(value)
    else:
        node[last] = value
    return mapping


LATER_VERSION = dict(READ["component"][2], **{"from": "2025-03-01", "until": "2025-06-01"})
REFUSED = {
    "a number for a text": (("component", 0, "amount"), 0.1228,
                            'component[0].amount: 0.1228 is a number; write it as a decimal text: "0.1228"'),
    "an unknown key": (("component", 1, "zone", 0, "hour"), ["07:00-09:00"],
                       "component[1].zone[0].hour: unknown key; the keys here are amount, table, hours, months, "
                       "quarters, days"),
    "two of amount, zone, table": (("component", 0, "table"), ["1"] * 24,
                                   "component[0]: gives amount and table; give exactly one of amount, zone, table"),
    "none of amount, zone, table": (("component", 0, "amount"), ...,
                                    "component[0]: gives none of them; give exactly one of amount, zone, table"),
    "a zone with no condition": (("component", 1, "zone", 1), {"amount": "1"},
                                 "component[1].zone[1]: has no condition: give hours, months, quarters or days (or "
                                 "use the component's default)"),
    "months with quarters": (("component", 1, "zone", 0, "quarters"), [1],
                             "component[1].zone[0].quarters: a zone gives months or quarters, never both"),
    "an empty list": (("component", 1, "zone", 1, "days"), [],
                      "component[1].zone[1].days: is an empty list; leave the key out instead"),
    "a table of 23": (("component", 2, "table"), ["1"] * 23,
                      "component[2].table: holds 23 values; a table holds 24 (by local hour) or 96 (by local "
                      "quarter-hour)"),
    "a zone's table of 95": (("component", 1, "zone", 0), {"table": ["1"] * 95, "days": ["sat"]},
                             "component[1].zone[0].table: holds 95 values; a table holds 24 (by local hour) or 96 (by "
                             "local quarter-hour)"),
    "an hour range that ends where it starts": (
        ("component", 1, "zone", 1, "hours"), ["06:00-09:00", "22:00-22:00"],
        "component[1].zone[1].hours[1]: '22:00-22:00' starts where it ends; for the whole day leave hours out"),
    "from not before until": (("component", 2, "until"), "2025-01-01",
                              "component[2].until: 2025-01-01 is not after from (2025-01-01)"),
    "overlapping versions": (("component", 3), LATER_VERSION,
                             "component[3]: this version of 'network table' is in force on dates that component[2] "
                             "also covers; versions of one component need disjoint from/until"),
    "an unknown part in applies_to": (("vat", "applies_to"), ["spot", "grid fees"],
                                      "vat.applies_to[1]: 'grid fees' is no part of this tariff; the parts are "
                                      "'spot', 'energy tax', 'grid fee', 'network table'"),
    "a component named vat": (("component", 0, "name"), "vat",
                              "component[0].name: 'vat' names a part of every tariff; choose another name"),
    "a component named spot": (("component", 1, "name"), "spot",
                               "component[1].name: 'spot' names a part of every tariff; choose another name"),
    "an unknown time zone": (("time_zone",), "Europe/Munich",
                             "time_zone: 'Europe/Munich' is not a time zone of the time zone database (such as "
                             "\"Europe/Berlin\")"),
    "an unknown calendar": (("holiday_calendar",), "DE-XX",
                            "holiday_calendar: 'DE-XX' is not a country or country-subdivision code that the "
                            "holidays package knows (such as \"DE\" or \"DE-BY\")"),
    "an exponent": (("component", 1, "zone", 0, "amount"), "1.5e-1",
                    "component[1].zone[0].amount: '1.5e-1' is not a decimal text (an optional sign, digits, "
                    "optionally a point and digits)"),
    "a unit no one converts": (("unit",), "ct/kWh",
                               "unit: cannot convert 'EUR/MWh' into 'ct/kWh': only a currency per MWh into the same "
                               "currency per kWh, or back, is converted"),
    "a holiday that is no date": (("holidays", 0), "2025-12-32",
                                  "holidays[0]: '2025-12-32' is not a date (YYYY-MM-DD)"),
    "a validity with a time": (("component", 2, "from"), datetime(2025, 1, 1, 6),
                               "component[2].from: must be a date, not a date with a time "
                               "(datetime.datetime(2025, 1, 1, 6, 0))"),
}


@pytest.mark.parametrize(("path", "value", "message"), REFUSED.values(), ids=REFUSED.keys())
def test_a_malformed_tariff_is_refused_at_its_key(path: tuple[Any, ...], value: Any, message: str) -> None:
    with pytest.raises(ValueError) as refused:
        Tariff.from_dict(changed(path, value))
    assert str(refused.value) == message


def test_a_calendar_without_its_package_says_what_to_install(monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setitem(sys.modules, "holidays", None)
    with pytest.raises(ValueError) as refused:
        Tariff.from_dict(changed(("holiday_calendar",), "DE-BY"))
    assert str(refused.value) == ("holiday_calendar: the calendar 'DE-BY' needs the holidays package: pip install "
                                  "'kestrava[holidays]' (or pip install holidays)")


@pytest.mark.parametrize("kind", ["path", "str naming a file", "text"])
def test_from_toml_reads_a_path_a_file_name_or_text(kind: str, tmp_path: Path) -> None:
    file = tmp_path / "tariff.toml"
    file.write_text(TARIFF, encoding="utf-8")
    source = {"path": file, "str naming a file": str(file), "text": TARIFF}[kind]
    assert repr(Tariff.from_toml(source)) == repr(Tariff.from_dict(READ))


def test_a_file_name_that_names_no_file_is_not_read_as_toml(tmp_path: Path) -> None:
    missing = str(tmp_path / "tariff.toml")
    with pytest.raises(ValueError) as refused:
        Tariff.from_toml(missing)
    assert str(refused.value) == f"source: {missing!r} names no file (and is no TOML text)"
