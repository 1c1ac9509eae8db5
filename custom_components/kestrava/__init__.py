"""kestrava: a flexible load planned on the prices of a price sensor. A changed
option reloads the entry, which re-plans with the load's restored state."""

from __future__ import annotations

from homeassistant.config_entries import ConfigEntry
from homeassistant.const import CONF_NAME, Platform
from homeassistant.core import HomeAssistant

from .const import CONF_PRICE_ENTITY
from .planner import LoadPlanner

PLATFORMS = [Platform.BINARY_SENSOR, Platform.SENSOR]

type KestravaConfigEntry = ConfigEntry[LoadPlanner]


async def async_setup_entry(hass: HomeAssistant, entry: KestravaConfigEntry) -> bool:
    entry.runtime_data = LoadPlanner(hass, entry.data[CONF_NAME], entry.data[CONF_PRICE_ENTITY],
                                     {**entry.data, **entry.options})
    entry.async_on_unload(entry.add_update_listener(_options_changed))
    await hass.config_entries.async_forward_entry_setups(entry, PLATFORMS)
    return True


async def async_unload_entry(hass: HomeAssistant, entry: KestravaConfigEntry) -> bool:
    entry.runtime_data.async_stop()
    return await hass.config_entries.async_unload_platforms(entry, PLATFORMS)


async def _options_changed(hass: HomeAssistant, entry: KestravaConfigEntry) -> None:
    await hass.config_entries.async_reload(entry.entry_id)
