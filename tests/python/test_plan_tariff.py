"""`plan` with a tariff is `plan` on the paid prices, and its cost_parts add up to its
cost: seeded random tariffs over random days, clock changes among them."""

from __future__ import annotations

import random
from datetime import datetime, timedelta, timezone
from typing import Any
from zoneinfo import ZoneInfo

import pytest

from kestrava_plan import Tariff, plan

BERLIN = ZoneInfo("Europe/Berlin")
# Days around both clock changes of 2025 and one plain day, at both resolutions.
STARTS = [datetime(2025, 3, 29, 12), datetime(2025, 10, 25, 20), datetime(2025, 6, 1)]


def amount(rng: random.Random) -> str:
    return f"{rng.randint(-300, 3000) / 10 ** rng.randint(0, 4)}"


def random_component(rng: random.Random, index: int) -> dict[str, Any]:
    kind = rng.choice(["amount", "table", "zone"])
    component: dict[str, Any] = {"name": f"c{index}"}
    if kind == "amount":
        component["amount"] = amount(rng)
    elif kind == "table":
        component["table"] = [amount(rng) for _ in range(rng.choice([24, 96]))]
    else:
        start, end = rng.sample(range(24), 2)
        component["zone"] = [{"amount": amount(rng), "hours": [f"{start:02}:00-{end:02}:00"],
                              "days": rng.sample(["mon", "tue", "sat", "sun", "holiday"], 3)}]
        component["default"] = amount(rng)
    return component


def random_tariff(rng: random.Random) -> dict[str, Any]:
    components = [random_component(rng, index) for index in range(rng.randint(0, 3))]
    names = ["spot", *(component["name"] for component in components)]
    tariff: dict[str, Any] = {
        "time_zone": "Europe/Berlin", "spot_unit": "EUR/MWh", "unit": rng.choice(["EUR/MWh", "EUR/kWh"]),
        "holidays": ["2025-06-01"],
        "spot": {"factor": rng.choice(["1", "1.5", "0.97"]), "negative": rng.choice(["keep", "zero"])},
        "vat": {"rate": rng.choice(["0", "0.19", "0.21"]), "applies_to": rng.sample(names, rng.randint(0, len(names))),
                "on_negative": rng.random() < 0.5}}
    if components:
        tariff["component"] = components
    if rng.random() < 0.5:
        tariff["rounding"] = {"places": rng.randint(0, 5), "mode": rng.choice(["half-even", "half-up"])}
    return tariff


@pytest.mark.parametrize("seed", range(40))
def test_plan_with_a_tariff_plans_on_the_paid_prices(seed: int) -> None:
    rng = random.Random(seed)
    tariff = Tariff.from_dict(random_tariff(rng))
    step = timedelta(minutes=rng.choice([15, 60]))
    first = rng.choice(STARTS).replace(tzinfo=BERLIN).astimezone(timezone.utc)
    count = rng.randint(8, 60)
    times = [(first + step * n).astimezone(BERLIN) for n in range(count)]
    prices = [f"{rng.randint(-5000, 30000) / 100}" for _ in range(count)]
    paid = tariff.paid_prices(prices, times)
    threshold = sorted(paid)[rng.randrange(count)]
    gap, run = rng.randint(2, 8), rng.randint(1, 3)
    rules = (rng.randint(run, 6), run, gap, rng.randint(0, gap), rng.random() < 0.5)
    expected = plan(paid, threshold, *rules, times=times)
    planned = plan(prices, threshold, *rules, times=times, tariff=tariff)
    assert (planned.periods, planned.cost, planned.average) == (expected.periods, expected.cost, expected.average)
    assert planned.cost_parts is not None and list(planned.cost_parts) == list(tariff.parts(prices, times))
    assert sum(planned.cost_parts.values()) == planned.cost, f"seed {seed}"
    assert expected.cost_parts is None


def test_a_tariff_without_times_is_refused() -> None:
    tariff = Tariff.from_dict({"time_zone": "Europe/Berlin"})
    with pytest.raises(TypeError) as refused:
        plan(["1", "2"], "1", 1, 1, 1, 1, tariff=tariff)
    assert str(refused.value) == ("tariff: the amounts of a tariff depend on the local time: pass times, or prices "
                                  "as a pandas Series with a DatetimeIndex")


# Berlin prices 07:00 to 09:00 higher; New York's repeated 01:00 is 06:00 and 07:00 there.
MORNING_FEE = {"time_zone": "Europe/Berlin", "component": [
    {"name": "grid fee", "default": "0.08", "zone": [{"amount": "0.15", "hours": ["07:00-09:00"]}]}],
    "vat": {"rate": "0.19"}}


@pytest.mark.parametrize("given_zone", ["America/New_York", "Europe/Berlin", "UTC"])
def test_a_reused_tariff_plans_as_a_fresh_one_across_a_repeated_hour(given_zone: str) -> None:
    """A Tariff keeps each aware time's amounts for its next call. Times of one tzinfo
    compare by their wall clock, so a time that zone repeats equals its twin, which the
    tariff's zone may price otherwise."""
    starts = [(datetime(2025, 11, 2, 3, tzinfo=timezone.utc) + timedelta(hours=hour)).astimezone(ZoneInfo(given_zone))
              for hour in range(6)]
    prices = ["50", "60", "70", "80", "90", "100"]
    reused = Tariff.from_dict(MORNING_FEE)
    plans = [repr(plan(prices, "1", len(prices), 1, times=starts, tariff=tariff))
             for tariff in (reused, reused, Tariff.from_dict(MORNING_FEE))]
    assert plans[0] == plans[1] == plans[2]
