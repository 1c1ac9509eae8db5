"""Re-planning while the day goes on: tomorrow's prices arriving at 13:00 while the load
runs, a price sensor that goes unavailable, and a restart that restores the load's state.
Each expected run is plan's own answer on the same prices and carried state."""

import logging
from datetime import timedelta

import pytest
from homeassistant.core import State
from pytest_homeassistant_custom_component.common import mock_restore_cache

from load_harness import (LOAD, PRICE_SENSOR, RULES, add_load, expected_plan, load_on, move_to, raw_today,
                          records_of, with_raw_tomorrow)

MINIMUM_RUN_3H = {**RULES, "min_run": {"hours": 3}}


async def _walk(hass, freezer, times):
    seen = [load_on(hass)]
    for start in times[1:]:
        await move_to(hass, freezer, start)
        seen.append(load_on(hass))
    return seen


async def test_tomorrow_at_13_keeps_the_minimum_run_then_follows_the_new_plan(hass, freezer):
    today = records_of(raw_today(), "raw_today")
    assert expected_plan(today, MINIMUM_RUN_3H).runs == [(12, 16)]  # so the load runs at 13:00
    freezer.move_to(today.times[0])
    hass.states.async_set(PRICE_SENSOR, "0.1", raw_today())
    await add_load(hass, MINIMUM_RUN_3H)
    for hour in (12, 13):
        await move_to(hass, freezer, today.times[hour])
    hass.states.async_set(PRICE_SENSOR, "0.1", with_raw_tomorrow())
    await hass.async_block_till_done()
    both = records_of(with_raw_tomorrow(), "raw_today", "raw_tomorrow")
    expected = expected_plan(both, MINIMUM_RUN_3H, first=13, running_for=1)
    assert expected.mask != expected_plan(today, MINIMUM_RUN_3H).mask[13:] + [False] * 24  # the plan changes
    seen = await _walk(hass, freezer, both.times[13:])
    assert seen[:2] == [True, True]  # on since 12:00: on until 15:00 at least
    assert seen == expected.mask


async def test_unavailable_prices_keep_the_last_plan_and_log_once(hass, freezer, caplog):
    today = records_of(raw_today(), "raw_today")
    freezer.move_to(today.times[0])
    hass.states.async_set(PRICE_SENSOR, "0.1", raw_today())
    await add_load(hass, RULES)
    downs = {5: "unavailable", 8: "unknown", 11: "unavailable"}  # a sensor that flaps
    seen = [load_on(hass)]
    for hour, start in enumerate(today.times[1:], start=1):
        if hour in downs:
            hass.states.async_set(PRICE_SENSOR, downs[hour], {"hour": hour})
        if hour == 19:
            assert hass.states.get(LOAD).attributes["prices_unavailable"] is True
            hass.states.async_set(PRICE_SENSOR, "0.1", raw_today())
        await move_to(hass, freezer, start)
        seen.append(load_on(hass))
    assert seen == expected_plan(today, RULES).mask
    assert hass.states.get(LOAD).attributes["prices_unavailable"] is False
    warnings = [record for record in caplog.records
                if record.name.startswith("custom_components.kestrava") and record.levelno >= logging.WARNING]
    assert len(warnings) == 1


# Rules under which each restored state gives its own plan from 09:00, and none the
# plan of a load without a past.
SHORT_GAPS = {**RULES, "min_total": {"hours": 3}, "min_run": {"hours": 3}, "max_gap": {"hours": 6},
              "first_start_within": {"hours": 6}}


@pytest.mark.parametrize(("restored", "since_hour", "state"), [
    ("on", 7, {"running_for": 2}),
    ("on", 8, {"running_for": 1}),
    ("off", 6, {"off_for": 3}),
])
async def test_restart_restores_the_carried_state(hass, freezer, restored, since_hour, state):
    today = records_of(raw_today(), "raw_today")
    mock_restore_cache(hass, [State(LOAD, restored, {"changed_at": today.times[since_hour].isoformat()})])
    freezer.move_to(today.times[9])
    hass.states.async_set(PRICE_SENSOR, "0.1", raw_today())
    await add_load(hass, SHORT_GAPS)
    seen = await _walk(hass, freezer, today.times[9:])
    assert seen != expected_plan(today, SHORT_GAPS, first=9).mask
    assert seen == expected_plan(today, SHORT_GAPS, first=9, **state).mask


async def test_changed_options_replan_from_the_loads_state(hass, freezer):
    today = records_of(raw_today(), "raw_today")
    freezer.move_to(today.times[0])
    hass.states.async_set(PRICE_SENSOR, "0.1", raw_today())
    entry = (await add_load(hass, MINIMUM_RUN_3H))["result"]
    for hour in (12, 13):
        await move_to(hass, freezer, today.times[hour])
    longer = {**MINIMUM_RUN_3H, "min_total": {"hours": 7}, "strategy": "cheapest_plan"}
    flow = await hass.config_entries.options.async_init(entry.entry_id)
    await hass.config_entries.options.async_configure(flow["flow_id"], longer)
    await hass.async_block_till_done()
    expected = expected_plan(today, longer, first=13, running_for=1)
    assert expected.mask != expected_plan(today, MINIMUM_RUN_3H, first=13, running_for=1).mask
    assert await _walk(hass, freezer, today.times[13:]) == expected.mask


async def test_the_load_stops_when_the_prices_end(hass, freezer):
    attributes = raw_today()
    values = [record["value"] for record in attributes["raw_today"]]
    for hour, record in enumerate(attributes["raw_today"]):
        record["value"] = values[(hour - 8) % 24]  # the cheapest hours, 12:00 to 16:00, moved to the end
    today = records_of(attributes, "raw_today")
    assert expected_plan(today, RULES).runs[-1][1] == 24
    freezer.move_to(today.times[0])
    hass.states.async_set(PRICE_SENSOR, "0.1", attributes)
    await add_load(hass, RULES)
    assert await _walk(hass, freezer, [*today.times, today.times[-1] + timedelta(hours=1)]) == \
        [*expected_plan(today, RULES).mask, False]
