"""The load's sensors: when its next run starts, and what its plan costs."""

from __future__ import annotations

from datetime import datetime
from decimal import Decimal

from homeassistant.components.sensor import SensorDeviceClass, SensorEntity
from homeassistant.core import HomeAssistant
from homeassistant.helpers.entity_platform import AddEntitiesCallback
from homeassistant.util import dt as dt_util

from . import KestravaConfigEntry
from .entity import LoadEntity


async def async_setup_entry(hass: HomeAssistant, entry: KestravaConfigEntry,
                            add_entities: AddEntitiesCallback) -> None:
    add_entities([NextStart(entry), PlanCost(entry)])


class NextStart(LoadEntity, SensorEntity):
    _attr_device_class = SensorDeviceClass.TIMESTAMP

    def __init__(self, entry: KestravaConfigEntry) -> None:
        super().__init__(entry, "next_start")

    @property
    def native_value(self) -> datetime | None:
        planned = self.planner.planned
        return planned.next_start(dt_util.utcnow()) if planned is not None else None


class PlanCost(LoadEntity, SensorEntity):
    def __init__(self, entry: KestravaConfigEntry) -> None:
        super().__init__(entry, "cost")

    @property
    def native_value(self) -> Decimal | None:
        planned = self.planner.planned
        return planned.cost if planned is not None else None

    @property
    def native_unit_of_measurement(self) -> str | None:
        prices = self.planner.prices
        return prices.unit if prices is not None else None
