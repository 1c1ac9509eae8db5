"""What the tests share: fake price sensors with the attributes of the shipped sensor
shapes, a load added through the config flow, and the clock moved to a period start."""

from __future__ import annotations

import json
from datetime import datetime, timedelta
from pathlib import Path
from typing import Any

from homeassistant.core import HomeAssistant
from pytest_homeassistant_custom_component.common import async_fire_time_changed

import kestrava_plan

PROVIDER_JSON = Path(__file__).resolve().parents[2] / "data" / "provider-json"
PRICE_SENSOR = "sensor.prices"
LOAD = "binary_sensor.boiler"
RULES = {"low_price_threshold": "-1", "min_total": {"hours": 4}, "min_run": {"hours": 2},
         "max_gap": {"hours": 20}, "first_start_within": {"hours": 20}, "strategy": "lowest_average",
         "window": "", "deadline": ""}


def shipped(name: str) -> dict[str, Any]:
    return json.loads((PROVIDER_JSON / name).read_text())


def raw_today() -> dict[str, Any]:
    return shipped("ha-raw-today-DE-LU-2024-07-07.json")


def with_raw_tomorrow() -> dict[str, Any]:
    """raw_today's sensor after tomorrow's prices arrived: the next real day's prices,
    from the two-day file, as raw_tomorrow records."""
    attributes = raw_today()
    tomorrow = shipped("ha-prices-today-tomorrow-DE-LU-2024-07-07.json")["prices_tomorrow"]
    attributes["raw_tomorrow"] = [
        {"start": datetime.fromisoformat(item["time"]).isoformat(),
         "end": (datetime.fromisoformat(item["time"]) + timedelta(hours=1)).isoformat(), "value": item["price"]}
        for item in tomorrow]
    attributes["tomorrow_valid"] = True
    return attributes


def records_of(attributes: dict[str, Any], *keys: str) -> kestrava_plan.PriceRecords:
    return kestrava_plan.prices_from_records(*(attributes[key] for key in keys))


def expected_plan(records: kestrava_plan.PriceRecords, rules: dict[str, Any], first: int = 0,
                  **state: Any) -> kestrava_plan.Plan:
    """plan on the same prices from period `first`, the rules read independently."""
    hours = {key: timedelta(**rules[key]) for key in ("min_total", "min_run", "max_gap", "first_start_within")}
    return kestrava_plan.plan(records.prices[first:], rules["low_price_threshold"], hours["min_total"],
                              hours["min_run"], hours["max_gap"], hours["first_start_within"],
                              rules["strategy"] == "lowest_average", times=records.times[first:], **state)


async def add_load(hass: HomeAssistant, rules: dict[str, Any]) -> dict[str, Any]:
    """The load added through the config flow: the last step's result."""
    result = await hass.config_entries.flow.async_init("kestrava", context={"source": "user"})
    result = await hass.config_entries.flow.async_configure(
        result["flow_id"], {"name": "Boiler", "price_entity": PRICE_SENSOR})
    result = await hass.config_entries.flow.async_configure(result["flow_id"], rules)
    await hass.async_block_till_done()
    return result


async def move_to(hass: HomeAssistant, freezer: Any, moment: datetime) -> None:
    freezer.move_to(moment)
    async_fire_time_changed(hass, moment)
    await hass.async_block_till_done()


def load_on(hass: HomeAssistant) -> bool:
    return hass.states.get(LOAD).state == "on"
