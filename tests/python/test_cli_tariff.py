"""kestrava-plan --tariff: the command plans on the paid prices as the library does, and
its JSON gives the same exact cost and parts; what it refuses, word for word."""

from __future__ import annotations

import csv
import json
from datetime import datetime
from pathlib import Path

import pytest

from kestrava_plan import Tariff, plan
from kestrava_plan.command import main

ROOT = Path(__file__).resolve().parents[2]
TARIFF = """
time_zone = "Europe/Berlin"
spot_unit = "EUR/MWh"
unit = "EUR/kWh"
holidays = ["2024-01-01"]
[[component]]
name = "energy tax"
amount = "0.1228"
[[component]]
name = "grid fee"
default = "0.08"
  [[component.zone]]
  amount = "0.15"
  hours = ["17:00-20:00"]
  days = ["mon", "tue", "wed", "thu", "fri"]
  [[component.zone]]
  amount = "0.03"
  hours = ["22:00-06:00"]
[vat]
rate = "0.19"
on_negative = false
[rounding]
places = 4
mode = "half-up"
"""
SOURCES = {"hourly, naive local times": (ROOT / "data" / "day-ahead-2024" / "DE-LU-2024.csv", "0:48"),
           "quarter-hours in UTC": (ROOT / "data" / "day-ahead-15min" / "DE-LU-15min.csv", "0:96")}
RULES = ["--min-selections", "6", "--min-consecutive-periods", "2", "--max-gap-between-periods", "12",
         "--max-gap-from-start", "12"]


@pytest.fixture(scope="module")
def tariff_file(tmp_path_factory: pytest.TempPathFactory) -> Path:
    path = tmp_path_factory.mktemp("tariff") / "tariff.toml"
    path.write_text(TARIFF, encoding="utf-8")
    return path


def rows(source: Path, span: str) -> tuple[list[str], list[datetime]]:
    start, stop = (int(part) for part in span.split(":"))
    with source.open(encoding="utf-8") as file:
        read = list(csv.reader(file))[1:][start:stop]
    return [price for _, price in read], [datetime.fromisoformat(time) for time, _ in read]


def command_json(capsys: pytest.CaptureFixture[str], *args: str) -> dict[str, object]:
    assert main(list(args)) == 0, capsys.readouterr().err
    document: dict[str, object] = json.loads(capsys.readouterr().out)
    return document


@pytest.mark.parametrize("source", SOURCES, ids=SOURCES.keys())
@pytest.mark.parametrize("rank", [0, 10, 30])
@pytest.mark.parametrize("aggressive", ["--aggressive", "--no-aggressive"])
def test_the_command_plans_on_the_paid_prices_as_the_library_does(
        source: str, rank: int, aggressive: str, tariff_file: Path, capsys: pytest.CaptureFixture[str]) -> None:
    path, span = SOURCES[source]
    prices, times = rows(path, span)
    tariff = Tariff.from_toml(tariff_file)
    threshold = format(sorted(tariff.paid_prices(prices, times))[rank], "f")
    expected = plan(prices, threshold, 6, 2, 12, 12, aggressive == "--aggressive", times=times, tariff=tariff)
    document = command_json(capsys, str(path), "--rows", span, "--tariff", str(tariff_file), "--low-price-threshold",
                            threshold, *RULES, aggressive, "--json")
    assert expected.cost_parts is not None
    assert document == {"indices": expected.periods, "cost": format(expected.cost, "f"),
                        "cost_parts": {name: format(value, "f") for name, value in expected.cost_parts.items()}}


REFUSED = {
    "no times": (["--column", "1", "--no-header"], "2,5\n3,1\n", "--tariff needs the input's times, for a tariff's "
                 "amounts depend on the local time: the input has no time column (name one with --time-column)"),
    "a time the clocks skip": ([], "time,price\n2025-03-30T01:00,5\n2025-03-30T02:00,1\n",
                               "row 3: 2025-03-30T02:00:00 does not exist in Europe/Berlin (the clocks skip it)"),
    "show prices without a tariff": (["--show-prices"], "", "--show-prices shows the parts of the paid prices: add "
                                     "--tariff FILE"),
}


@pytest.mark.parametrize(("extra", "text", "message"), REFUSED.values(), ids=REFUSED.keys())
def test_what_the_command_refuses(extra: list[str], text: str, message: str, tariff_file: Path, tmp_path: Path,
                                  capsys: pytest.CaptureFixture[str]) -> None:
    source = tmp_path / "prices.csv"
    source.write_text(text, encoding="utf-8")
    tariff = [] if "--show-prices" in extra else ["--tariff", str(tariff_file)]
    assert main([str(source), *tariff, *extra, "--low-price-threshold", "1", *RULES]) == 2
    assert capsys.readouterr().err == f"kestrava-plan: error: {message}\n"


def test_a_malformed_tariff_file_is_named_with_its_key(tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
    tariff = tmp_path / "bad.toml"
    tariff.write_text(TARIFF.replace('amount = "0.03"', "amount = 0.03"), encoding="utf-8")
    assert main(["-", "--tariff", str(tariff), "--low-price-threshold", "1", *RULES]) == 2
    assert capsys.readouterr().err == (f"kestrava-plan: error: --tariff: {tariff}: component[1].zone[1].amount: 0.03 "
                                       "is a number; write it as a decimal text: \"0.03\"\n")


def test_per_day_plans_each_day_on_its_paid_prices(tariff_file: Path, capsys: pytest.CaptureFixture[str]) -> None:
    path, span = SOURCES["hourly, naive local times"]
    prices, times = rows(path, span)
    tariff = Tariff.from_toml(tariff_file)
    assert main([str(path), "--rows", span, "--tariff", str(tariff_file), "--low-price-threshold", "0.3", *RULES,
                 "--per-day", "--json"]) == 0
    days = json.loads(capsys.readouterr().out)
    for day, first in zip(days, (0, 24)):
        expected = plan(prices[first:first + 24], "0.3", 6, 2, 12, 12, times=times[first:first + 24], tariff=tariff)
        assert expected.cost_parts is not None
        assert (day["periods"], day["cost"], day["cost_parts"]) == (
            expected.periods, format(expected.cost, "f"),
            {name: format(value, "f") for name, value in expected.cost_parts.items()})
