"""The config flow shows what the price sensor holds, and a rule that plan refuses is
refused in the form, beside its field, with plan's own message; the options flow too."""

from datetime import timedelta

import pytest

import kestrava_plan
from load_harness import PRICE_SENSOR, RULES, add_load, expected_plan, raw_today, records_of, shipped

BAD_OPTIONS = [
    ({"min_run": {"hours": 5}}, "min_run"),  # longer than the minimum total
    ({"min_total": {"hours": 1, "minutes": 30}}, "min_total"),  # not a whole number of hours
    ({"low_price_threshold": "cheap"}, "low_price_threshold"),
    ({"max_gap": {"minutes": 0}, "first_start_within": {"minutes": 0}, "min_total": {"hours": 25}}, "min_total"),
]


def _plans_message(rules):
    with pytest.raises(ValueError) as refused:
        expected_plan(records_of(raw_today(), "raw_today"), rules)
    return str(refused.value)


async def _start(hass, freezer):
    freezer.move_to(records_of(raw_today(), "raw_today").times[0])
    hass.states.async_set(PRICE_SENSOR, "0.1", raw_today())


@pytest.mark.parametrize(("bad", "field"), BAD_OPTIONS)
async def test_config_flow_refuses_with_plans_message(hass, freezer, bad, field):
    await _start(hass, freezer)
    result = await add_load(hass, {**RULES, **bad})
    assert (result["type"], result["step_id"], result["errors"]) == ("form", "rules", {field: "plan_refused"})
    assert result["description_placeholders"]["message"] == _plans_message({**RULES, **bad})


async def test_options_flow_refuses_with_plans_message(hass, freezer):
    await _start(hass, freezer)
    entry = hass.config_entries.async_get_entry((await add_load(hass, RULES))["result"].entry_id)
    result = await hass.config_entries.options.async_init(entry.entry_id)
    bad = {**RULES, "min_run": {"hours": 5}}
    result = await hass.config_entries.options.async_configure(result["flow_id"], bad)
    assert result["errors"] == {"min_run": "plan_refused"}
    assert result["description_placeholders"]["message"] == _plans_message(bad)


@pytest.mark.parametrize(("file", "shape", "today", "tomorrow", "unit"), [
    ("ha-raw-today-DE-LU-2024-07-07.json", "raw_today", "24", "0", "EUR/kWh"),
    ("ha-prices-today-tomorrow-DE-LU-2024-07-07.json", "prices", "24", "24", "EUR/kWh"),
])
async def test_config_flow_shows_what_the_sensor_holds(hass, freezer, file, shape, today, tomorrow, unit):
    freezer.move_to(records_of(raw_today(), "raw_today").times[0])
    hass.states.async_set(PRICE_SENSOR, "0.1", shipped(file))
    result = await hass.config_entries.flow.async_init("kestrava", context={"source": "user"})
    result = await hass.config_entries.flow.async_configure(
        result["flow_id"], {"name": "Boiler", "price_entity": PRICE_SENSOR})
    found = result["description_placeholders"]
    assert (found["shape"], found["today"], found["tomorrow"], found["unit"]) == (shape, today, tomorrow, unit)
