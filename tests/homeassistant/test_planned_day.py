"""A load added through the config flow on a fake price sensor of each shipped shape,
the clock moved period by period across the prices: the binary sensor is on exactly in
the periods that plan chooses on the same prices, and its attributes tell that plan."""

from datetime import timedelta
from zoneinfo import ZoneInfo

import pytest
from homeassistant.core import State
from pytest_homeassistant_custom_component.common import mock_restore_cache

from load_harness import (LOAD, PRICE_SENSOR, RULES, add_load, expected_plan, load_on, move_to, raw_today, records_of,
                          shipped, with_raw_tomorrow)

SHAPES = [
    (lambda: shipped("ha-raw-today-DE-LU-2024-07-07.json"), ("raw_today",)),
    (lambda: shipped("ha-prices-today-tomorrow-DE-LU-2024-07-07.json"), ("prices",)),  # today's and tomorrow's again
    (lambda: shipped("tibber-get-prices-DE-LU-2024-07-07.json"), ()),  # prices.{home}[]: nested a level down
    (lambda: {**with_raw_tomorrow(), "forecast": [{"temperature": 21.5}]}, ("raw_today", "raw_tomorrow")),
]


def _records(attributes, keys):
    return records_of(attributes, *keys) if keys else records_of(
        {"home": next(iter(attributes["prices"].values()))}, "home")


@pytest.mark.parametrize("strategy", ["lowest_average", "cheapest_plan"])
@pytest.mark.parametrize(("attributes_of", "keys"), SHAPES, ids=["raw_today", "prices", "nested", "raw_tomorrow"])
async def test_binary_sensor_follows_plan_across_the_prices(hass, freezer, attributes_of, keys, strategy):
    attributes = attributes_of()
    records = _records(attributes, keys)
    rules = {**RULES, "low_price_threshold": "0", "strategy": strategy}
    expected = expected_plan(records, rules)
    freezer.move_to(records.times[0])
    hass.states.async_set(PRICE_SENSOR, "0.1", attributes)
    assert (await add_load(hass, rules))["type"] == "create_entry"
    state = hass.states.get(LOAD)
    assert state.attributes["runs"] == [f"{start.isoformat()}/{end.isoformat()}" for start, end in expected.run_times]
    assert state.attributes["cost"] == float(expected.cost)
    seen = [load_on(hass)]
    for start in records.times[1:]:
        await move_to(hass, freezer, start)
        seen.append(load_on(hass))
    assert seen == expected.mask


@pytest.mark.parametrize(("window", "deadline", "allowed_hours", "stop"), [
    ("10:00-14:00", "", range(10, 14), 24),
    ("", "12:00", range(24), 12),
    ("22:00-11:00", "20:00", [*range(11), 22, 23], 20),  # a window across midnight
])
async def test_window_and_deadline_plan_as_allowed_and_cut(hass, freezer, window, deadline, allowed_hours, stop):
    attributes = shipped("ha-raw-today-DE-LU-2024-07-07.json")
    records = records_of(attributes, "raw_today")
    rules = {**RULES, "min_total": {"hours": 3}, "min_run": {"hours": 1}, "window": window, "deadline": deadline}
    cut = type(records)(records.prices[:stop], records.times[:stop])
    expected = expected_plan(cut, rules, allowed=[hour in allowed_hours for hour in range(stop)])
    freezer.move_to(records.times[0])
    hass.states.async_set(PRICE_SENSOR, "0.1", attributes)
    await add_load(hass, rules)
    seen = [load_on(hass)]
    for start in records.times[1:stop]:
        await move_to(hass, freezer, start)
        seen.append(load_on(hass))
    assert seen == expected.mask


@pytest.mark.parametrize("since_hour", [None, 11])  # None: a load without a past; 11: on since 11:00
async def test_quota_per_day_over_two_days(hass, freezer, since_hour):
    attributes = shipped("ha-prices-today-tomorrow-DE-LU-2024-07-07.json")
    records = records_of(attributes, "prices")
    rules = {**RULES, "min_total": {"hours": 6}, "min_per_day": {"hours": 3}}
    first = 0 if since_hour is None else 13
    state = {} if since_hour is None else {"running_for": first - since_hour,
                                           "done_today": timedelta(hours=first - since_hour)}
    if since_hour is not None:
        mock_restore_cache(hass, [State(LOAD, "on", {"changed_at": records.times[since_hour].isoformat()})])
    expected = expected_plan(records, rules, first, min_per_day=timedelta(hours=3),
                             zone=ZoneInfo("Europe/Berlin"), **state)
    assert expected.mask != expected_plan(records, rules, first, **{k: v for k, v in state.items()
                                                                    if k == "running_for"}).mask
    freezer.move_to(records.times[first])
    hass.states.async_set(PRICE_SENSOR, "0.1", attributes)
    await add_load(hass, rules)
    seen = [load_on(hass)]
    for start in records.times[first + 1:]:
        await move_to(hass, freezer, start)
        seen.append(load_on(hass))
    assert seen == expected.mask


@pytest.mark.parametrize("no_short_last_run", [False, True])
async def test_no_short_last_run_from_18(hass, freezer, no_short_last_run):
    records = records_of(raw_today(), "raw_today")
    rules = {**RULES, "min_total": {"hours": 4}, "min_run": {"hours": 3}, "max_gap": {"hours": 8},
             "first_start_within": {"hours": 8}, "no_short_last_run": no_short_last_run}
    expected = expected_plan(records, rules, 18, allow_short_last_run=not no_short_last_run)
    assert expected.mask != expected_plan(records, rules, 18, allow_short_last_run=no_short_last_run).mask
    freezer.move_to(records.times[18])
    hass.states.async_set(PRICE_SENSOR, "0.1", raw_today())
    await add_load(hass, rules)
    seen = [load_on(hass)]
    for start in records.times[19:]:
        await move_to(hass, freezer, start)
        seen.append(load_on(hass))
    assert seen == expected.mask
