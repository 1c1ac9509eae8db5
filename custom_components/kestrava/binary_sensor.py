"""The load's binary sensor: on during the periods it runs. Its last change is the
load's carried state; a restart restores it from the attribute `changed_at`."""

from __future__ import annotations

from typing import Any

from homeassistant.components.binary_sensor import BinarySensorEntity
from homeassistant.core import HomeAssistant
from homeassistant.helpers.entity_platform import AddEntitiesCallback
from homeassistant.helpers.restore_state import RestoreEntity
from homeassistant.util import dt as dt_util

from . import KestravaConfigEntry
from .entity import LoadEntity


async def async_setup_entry(hass: HomeAssistant, entry: KestravaConfigEntry,
                            add_entities: AddEntitiesCallback) -> None:
    add_entities([LoadRunning(entry)])


class LoadRunning(LoadEntity, BinarySensorEntity, RestoreEntity):
    _attr_name = None

    def __init__(self, entry: KestravaConfigEntry) -> None:
        super().__init__(entry, "running")

    async def async_added_to_hass(self) -> None:
        last = await self.async_get_last_state()
        if last is not None and last.state in ("on", "off"):
            since = dt_util.parse_datetime(str(last.attributes.get("changed_at", ""))) or last.last_changed
            self.planner.restore(last.state == "on", since)
        await super().async_added_to_hass()
        await self.planner.async_start()

    @property
    def is_on(self) -> bool:
        return self.planner.state.on

    @property
    def extra_state_attributes(self) -> dict[str, Any]:
        planner, planned = self.planner, self.planner.planned
        zone = dt_util.get_default_time_zone()
        now = dt_util.utcnow()
        next_start = planned.next_start(now) if planned is not None else None
        return {
            "runs": [f"{start.astimezone(zone).isoformat()}/{end.astimezone(zone).isoformat()}"
                     for start, end in planned.runs] if planned is not None else [],
            "cost": float(planned.cost) if planned is not None else None,
            "average": planned.average if planned is not None else None,
            "next_start": next_start.astimezone(zone).isoformat() if next_start is not None else None,
            "changed_at": planner.state.since.isoformat(),
            "prices_unavailable": planner.prices_unavailable,
            "plan_error": planner.plan_error,
        }

