"""Paid prices at the points where a tariff is easiest to get wrong: local time across
clock changes, holidays, tables at another resolution, zone order, the sign rules of
VAT and the rounding's ties. Each expected price is worked out by hand from the rules."""

from __future__ import annotations

from datetime import datetime, timedelta, timezone
from decimal import Decimal
from typing import Any
from zoneinfo import ZoneInfo

import pytest

from kestrava_plan import Tariff

BERLIN = {"time_zone": "Europe/Berlin"}
HOUR_TWO = ["0", "0", "2"] + ["0"] * 21


def naive(day: str, *clock: str) -> list[datetime]:
    return [datetime.fromisoformat(f"{day}T{time}") for time in clock]


CASES: dict[str, tuple[dict[str, Any], list[str], list[datetime], list[str]]] = {
    "the repeated hour takes its values both times, in order": (
        {**BERLIN, "component": [{"name": "fee", "table": HOUR_TWO}]}, ["0"] * 6,
        naive("2025-10-26", "01:30", "02:00", "02:30", "02:00", "02:30", "03:00"), ["0", "2", "2", "2", "2", "0"]),
    "an aware repeated hour is two instants, not one wall time": (
        {"time_zone": "UTC", "component": [{"name": "fee", "table": ["0", "2", "4"] + ["0"] * 21}]}, ["0"] * 3,
        [datetime(2025, 10, 26, 2, 30, fold=fold, tzinfo=ZoneInfo("Europe/Berlin")) for fold in (0, 1, 0)],
        ["0", "2", "0"]),
    "aware times are read in the tariff's zone": (
        {**BERLIN, "component": [{"name": "fee", "table": HOUR_TWO}]}, ["0"] * 3,
        [datetime(2025, 10, 26, 0, 30, tzinfo=timezone.utc) + timedelta(hours=hour) for hour in range(3)],
        ["2", "2", "0"]),
    "a holiday is no weekday": (
        {**BERLIN, "holidays": ["2025-12-25"], "component": [{"name": "fee", "zone": [{"amount": "1", "days": ["thu"]},
                                                                                     {"amount": "5",
                                                                                      "days": ["holiday"]}]}]},
        ["0", "0"], naive("2025-12-18", "12:00") + naive("2025-12-25", "12:00"), ["1", "5"]),
    "the first zone that holds wins, else the default": (
        {**BERLIN, "component": [{"name": "fee", "default": "9", "zone": [
            {"amount": "1", "hours": ["22:00-06:00"]}, {"amount": "2", "hours": ["05:00-07:00"], "quarters": [1]}]}]},
        ["0"] * 4, naive("2025-01-06", "23:00", "05:00", "06:00", "07:00"), ["1", "1", "2", "9"]),
    "an hourly period takes a 96-value table's first quarter": (
        {**BERLIN, "component": [{"name": "fee", "table": [str(quarter) for quarter in range(96)]}]}, ["0"] * 2,
        naive("2025-06-02", "00:00", "13:00"), ["0", "52"]),
    "a version adds nothing outside its dates": (
        {**BERLIN, "component": [{"name": "fee", "amount": "1", "from": "2025-06-02", "until": "2025-06-03"},
                                 {"name": "fee", "amount": "3", "from": "2025-06-03"}]}, ["0"] * 3,
        naive("2025-06-01", "23:45") + naive("2025-06-02", "23:45") + naive("2025-06-03", "00:00"), ["0", "1", "3"]),
    "MWh into kWh, negative spot as zero": (
        {**BERLIN, "spot_unit": "EUR/MWh", "unit": "EUR/kWh", "spot": {"factor": "2", "negative": "zero"},
         "vat": {"rate": "0.5"}}, ["-40", "12.5"], naive("2025-06-02", "00:00", "01:00"), ["0", "0.0375"]),
    "a negative VAT base is taxed, or not when on_negative is false": (
        {**BERLIN, "component": [{"name": "fee", "amount": "1"}, {"name": "credit", "amount": "-3"}],
         "vat": {"rate": "0.1", "applies_to": ["spot", "credit"]}}, ["1", "4"],
        naive("2025-06-02", "00:00", "01:00"), ["-1.2", "2.1"]),
    "on_negative false": (
        {**BERLIN, "component": [{"name": "fee", "amount": "1"}, {"name": "credit", "amount": "-3"}],
         "vat": {"rate": "0.1", "applies_to": ["spot", "credit"], "on_negative": False}}, ["1", "4"],
        naive("2025-06-02", "00:00", "01:00"), ["-1", "2.1"]),
    "half-even ties": (
        {**BERLIN, "rounding": {"places": 2, "mode": "half-even"}}, ["0.125", "-0.125", "0.135"],
        naive("2025-06-02", "00:00", "01:00", "02:00"), ["0.12", "-0.12", "0.14"]),
    "half-up ties go away from zero": (
        {**BERLIN, "rounding": {"places": 2, "mode": "half-up"}}, ["0.125", "-0.125", "0.1249999"],
        naive("2025-06-02", "00:00", "01:00", "02:00"), ["0.13", "-0.13", "0.12"]),
}


@pytest.mark.parametrize(("tariff", "prices", "times", "paid"), CASES.values(), ids=CASES.keys())
def test_paid_prices_follow_the_rules(tariff: dict[str, Any], prices: list[str], times: list[datetime],
                                      paid: list[str]) -> None:
    composed = Tariff.from_dict(tariff)
    assert composed.paid_prices(prices, times) == [Decimal(price) for price in paid]
    parts = composed.parts(prices, times)
    assert [sum(column[i] for column in parts.values()) for i in range(len(prices))] == [Decimal(p) for p in paid]


@pytest.mark.parametrize("clock", [("01:00", "02:00", "02:00", "03:00"),
                                   ("02:30", "02:45", "02:00", "02:15", "02:30", "02:45", "03:00")])
def test_the_repeated_hour_is_two_instants_in_order(clock: tuple[str, ...]) -> None:
    times = Tariff.from_dict(BERLIN).local_times(naive("2025-10-26", *clock))
    steps = {later.astimezone(timezone.utc) - earlier.astimezone(timezone.utc) for earlier, later in
             zip(times, times[1:])}
    assert len(steps) == 1
    assert [time.utcoffset() for time in times].count(timedelta(hours=2)) == 2


def test_a_time_the_clocks_skip_is_refused() -> None:
    with pytest.raises(ValueError) as refused:
        Tariff.from_dict(BERLIN).paid_prices(["1", "1"], naive("2025-03-30", "01:45", "02:00"))
    assert str(refused.value) == "times[1]: 2025-03-30T02:00:00 does not exist in Europe/Berlin (the clocks skip it)"


def test_a_list_of_texts_read_at_once_reads_as_one_by_one() -> None:
    """Random texts over the characters of decimal texts and a few others, a line break
    among them: the one-pass reading of a list gives the Decimals, or the refusal, of
    reading each text alone."""
    import random

    from kestrava_plan.tariffs.spot_prices import spot_value, spot_values
    rng = random.Random(40)
    for _ in range(3000):
        texts = ["".join(rng.choice("0123456789.+-\n_e ") for _ in range(rng.randint(0, 5)))
                 for _ in range(rng.randint(1, 4))]
        try:
            expected: object = [str(spot_value(text, index)) for index, text in enumerate(texts)]
        except (TypeError, ValueError) as refused:
            expected = str(refused)
        try:
            found: object = [str(value) for value in spot_values(texts)]
        except (TypeError, ValueError) as refused:
            found = str(refused)
        assert found == expected, texts
