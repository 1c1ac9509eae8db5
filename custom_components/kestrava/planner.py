"""`LoadPlanner`: one planned load in Home Assistant. It follows the price sensor,
re-plans in the executor when the prices or the options change and at each period
boundary, and decides at each boundary whether the load runs: as the plan says, except
that a load that is on stays on until its run reaches the minimum run."""

from __future__ import annotations

import asyncio
import logging
from collections.abc import Callable, Mapping
from datetime import datetime, timedelta
from typing import Any

from homeassistant.const import STATE_UNAVAILABLE, STATE_UNKNOWN
from homeassistant.core import CALLBACK_TYPE, Event, EventStateChangedData, HomeAssistant, callback
from homeassistant.helpers.event import async_track_point_in_utc_time, async_track_state_change_event
from homeassistant.util import dt as dt_util

from .load_rules import LoadRules, rules_of
from .price_attributes import SensorPrices, read_sensor_prices
from .replanning import LoadState, PlannedRuns, carried_state, continued_plan, fresh_plan, index_at, period_of

_LOGGER = logging.getLogger(__name__)
# The periods the load ran are kept this long: enough for a job and for today.
_KEPT_RAN = timedelta(days=3)


def _read_prices(attributes: Mapping[str, Any]) -> SensorPrices | None:
    try:
        return read_sensor_prices(attributes)
    except ValueError:
        return None


class LoadPlanner:
    """The plan and the state of one load; its entities listen for changes."""

    def __init__(self, hass: HomeAssistant, name: str, price_entity: str, options: Mapping[str, Any]) -> None:
        self.hass, self.name, self.price_entity = hass, name, price_entity
        self.rules: LoadRules = rules_of(options)
        self.state = LoadState(False, dt_util.utcnow())
        self.prices: SensorPrices | None = None
        self.planned: PlannedRuns | None = None
        self.plan_error: str | None = None
        self.prices_unavailable = False
        self._listeners: list[Callable[[], None]] = []
        self._unsubscribe: list[CALLBACK_TYPE] = []
        self._tick: CALLBACK_TYPE | None = None
        # New prices and a boundary may come together: one plans after the other, each
        # from the state the other left.
        self._planning = asyncio.Lock()

    def restore(self, on: bool, since: datetime) -> None:
        """The load's state as its binary sensor last held it, before a restart."""
        self.state = LoadState(on, since)

    def add_listener(self, listener: Callable[[], None]) -> None:
        self._listeners.append(listener)

    async def async_start(self) -> None:
        self._unsubscribe.append(async_track_state_change_event(
            self.hass, [self.price_entity], self._price_sensor_changed))
        async with self._planning:
            await self._prices_changed()

    @callback
    def async_stop(self) -> None:
        for unsubscribe in self._unsubscribe:
            unsubscribe()
        if self._tick is not None:
            self._tick()
        self._unsubscribe, self._tick = [], None

    async def _price_sensor_changed(self, event: Event[EventStateChangedData]) -> None:
        async with self._planning:
            await self._prices_changed()

    async def _prices_changed(self) -> None:
        sensor = self.hass.states.get(self.price_entity)
        readable = sensor is not None and sensor.state not in (STATE_UNAVAILABLE, STATE_UNKNOWN)
        prices = await self.hass.async_add_executor_job(_read_prices, sensor.attributes) if readable else None
        if prices is None:
            self._lost_prices()
            return
        if self.prices_unavailable:
            _LOGGER.info("%s: the price sensor %s is back", self.name, self.price_entity)
        self.prices_unavailable = False
        if prices != self.prices:
            self.prices = prices
            await self._plan_fresh()
        self._notify()

    def _lost_prices(self) -> None:
        if not self.prices_unavailable:
            _LOGGER.warning("%s: the price sensor %s gives no prices; keeping the last plan", self.name,
                            self.price_entity)
        self.prices_unavailable = True
        self._notify()

    async def _plan_fresh(self) -> None:
        if self.prices is None:
            return
        now = dt_util.utcnow()
        planned = await self._in_executor(fresh_plan, self.prices, self.rules, self.state, now,
                                          dt_util.get_default_time_zone())
        if planned is not None:
            self.planned = planned
        self._schedule_tick(now)
        self._decide_if_on_boundary(now)

    async def _in_executor(self, function: Callable[..., PlannedRuns | None], *args: Any) -> PlannedRuns | None:
        try:
            planned = await self.hass.async_add_executor_job(function, *args)
        except ValueError as error:
            self.plan_error = str(error)
            return None
        self.plan_error = None
        return planned

    def _decide_if_on_boundary(self, now: datetime) -> None:
        if self.planned is None:
            return
        times = self.planned.job.prices.times
        index = index_at(times, now)
        # Past the last price the load runs no period: the end of the last is a boundary too.
        start = times[index] if index < len(times) else times[-1] + self.planned.job.period
        if start <= now:
            self._decide(index, start)

    @callback
    def _schedule_tick(self, now: datetime) -> None:
        if self._tick is not None:
            self._tick()
            self._tick = None
        times = self.prices.times if self.prices is not None else ()
        boundaries = [*times, times[-1] + period_of(times)] if times else []
        upcoming = next((start for start in boundaries if start > now), None)
        if upcoming is not None:
            self._tick = async_track_point_in_utc_time(self.hass, self._boundary, upcoming)

    async def _boundary(self, now: datetime) -> None:
        self._tick = None
        async with self._planning:
            await self._replan_at_boundary(now)

    async def _replan_at_boundary(self, now: datetime) -> None:
        planned = self.planned
        if planned is not None and index_at(planned.job.prices.times, now) < planned.job.stop:
            continued = await self._in_executor(continued_plan, planned.job, self.rules, self.state, now,
                                                 dt_util.get_default_time_zone())
            self.planned = continued or planned
            self._schedule_tick(now)
            self._decide_if_on_boundary(now)
        else:
            await self._plan_fresh()
        self._notify()

    def _decide(self, index: int, start: datetime) -> None:
        """Whether the load runs the period starting at `start`."""
        assert self.planned is not None
        on = bool(self.planned.runs_at(index))
        if self.state.on and not on:
            running_for, _ = carried_state(self.state, start, self.planned.job.period)
            on = running_for < self.rules.min_run // self.planned.job.period
        # A period decided again (a fresh plan at its start) is counted once.
        ran = tuple(moment for moment in self.state.ran if start - moment < _KEPT_RAN and moment != start)
        ran += (start,) if on else ()
        since = self.state.since if on == self.state.on else start
        self.state = LoadState(on, since, ran)

    @callback
    def _notify(self) -> None:
        for listener in self._listeners:
            listener()
