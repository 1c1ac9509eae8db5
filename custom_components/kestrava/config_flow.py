"""Adding a planned load (its name and price sensor, then its rules) and changing its
rules later. The rules are checked by planning the sensor's prices as they are now, so
that plan's own message is the one the form shows, beside the field it names."""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any

import voluptuous as vol
from homeassistant.config_entries import ConfigEntry, ConfigFlow, ConfigFlowResult, OptionsFlow
from homeassistant.const import CONF_NAME
from homeassistant.core import HomeAssistant, callback
from homeassistant.helpers import selector
from homeassistant.util import dt as dt_util

from .const import (CONF_DEADLINE, CONF_FIRST_START, CONF_MAX_GAP, CONF_MIN_PER_DAY, CONF_MIN_RUN, CONF_MIN_TOTAL,
                    CONF_NO_SHORT_LAST_RUN, CONF_PRICE_ENTITY, CONF_STRATEGY, CONF_THRESHOLD, CONF_WINDOW, DEFAULTS,
                    DOMAIN, STRATEGY_CHEAPEST_PLAN,
                    STRATEGY_LOWEST_AVERAGE)
from .load_rules import RuleError, rules_of
from .price_attributes import SensorPrices, periods_on, read_sensor_prices
from .replanning import LoadState, fresh_plan

# The field of the form that each of plan's arguments comes from.
FIELD_OF_ARGUMENT = {
    "low_price_threshold": CONF_THRESHOLD, "min_selections": CONF_MIN_TOTAL,
    "min_consecutive_periods": CONF_MIN_RUN, "max_gap_between_periods": CONF_MAX_GAP,
    "max_gap_from_start": CONF_FIRST_START, "allowed": CONF_WINDOW, "min_per_day": CONF_MIN_PER_DAY,
}


def _rules_schema(values: Mapping[str, Any]) -> vol.Schema:
    value = {**DEFAULTS, **values}
    duration = selector.DurationSelector(selector.DurationSelectorConfig(allow_negative=False))
    fields: dict[Any, Any] = {
        vol.Required(CONF_THRESHOLD, default=str(value[CONF_THRESHOLD])): selector.TextSelector(),
        vol.Required(CONF_MIN_TOTAL, default=value[CONF_MIN_TOTAL]): duration,
        vol.Required(CONF_MIN_RUN, default=value[CONF_MIN_RUN]): duration,
        vol.Required(CONF_MAX_GAP, default=value[CONF_MAX_GAP]): duration,
        vol.Required(CONF_FIRST_START, default=value[CONF_FIRST_START]): duration,
        vol.Required(CONF_STRATEGY, default=value[CONF_STRATEGY]): selector.SelectSelector(
            selector.SelectSelectorConfig(options=[STRATEGY_LOWEST_AVERAGE, STRATEGY_CHEAPEST_PLAN],
                                          translation_key=CONF_STRATEGY)),
        vol.Optional(CONF_WINDOW, default=value[CONF_WINDOW]): selector.TextSelector(),
        vol.Optional(CONF_DEADLINE, default=value[CONF_DEADLINE]): selector.TextSelector(),
        vol.Required(CONF_MIN_PER_DAY, default=value[CONF_MIN_PER_DAY]): duration,
        vol.Required(CONF_NO_SHORT_LAST_RUN, default=value[CONF_NO_SHORT_LAST_RUN]): selector.BooleanSelector(),
    }
    return vol.Schema(fields)


def _field_named(message: str) -> str:
    named = [(message.find(argument), field) for argument, field in FIELD_OF_ARGUMENT.items() if argument in message]
    return min(named)[1] if named else "base"


def _check_rules(prices: SensorPrices, options: Mapping[str, Any]) -> tuple[str, str] | None:
    """(the field, the message) of the first rule refused, planning the prices as they
    are for a load that is off; None when they plan."""
    now = dt_util.utcnow()
    try:
        fresh_plan(prices, rules_of(options), LoadState(False, now), now, dt_util.get_default_time_zone())
    except RuleError as error:
        return error.field, str(error)
    except ValueError as error:
        return _field_named(str(error)), str(error)
    return None


def _found(prices: SensorPrices) -> dict[str, str]:
    """What the form says it found on the sensor."""
    today = dt_util.now().date()
    zone = dt_util.get_default_time_zone()
    return {"shape": prices.shape, "today": str(periods_on(prices, today, zone)),
            "tomorrow": str(periods_on(prices, today.fromordinal(today.toordinal() + 1), zone)),
            "unit": prices.unit, "message": ""}


async def _sensor_prices(hass: HomeAssistant, entity_id: str) -> SensorPrices | str:
    """The prices of the sensor, or why there are none."""
    sensor = hass.states.get(entity_id)
    if sensor is None:
        return f"{entity_id} does not exist"
    try:
        return await hass.async_add_executor_job(read_sensor_prices, dict(sensor.attributes))
    except ValueError as error:
        return f"{entity_id}: {error}"


class RulesForm:
    """The rules step both flows share: shown with what the sensor holds, checked by plan."""

    async def _rules_step(self, hass: HomeAssistant, step_id: str, price_entity: str, values: Mapping[str, Any],
                          user_input: dict[str, Any] | None) -> tuple[dict[str, Any] | None, ConfigFlowResult | None]:
        prices = await _sensor_prices(hass, price_entity)
        errors: dict[str, str] = {}
        placeholders = _found(prices) if isinstance(prices, SensorPrices) else \
            {"shape": "?", "today": "0", "tomorrow": "0", "unit": "?", "message": prices}
        if user_input is not None and isinstance(prices, SensorPrices):
            refused = await hass.async_add_executor_job(_check_rules, prices, user_input)
            if refused is None:
                return user_input, None
            errors[refused[0]] = "plan_refused"
            placeholders["message"] = refused[1]
        elif user_input is not None:
            errors["base"] = "no_prices"
        shown = user_input if user_input is not None else values
        return None, self.async_show_form(step_id=step_id, data_schema=_rules_schema(shown), errors=errors,
                                          description_placeholders=placeholders)


class KestravaConfigFlow(RulesForm, ConfigFlow, domain=DOMAIN):
    VERSION = 1

    def __init__(self) -> None:
        self._load: dict[str, Any] = {}

    async def async_step_user(self, user_input: dict[str, Any] | None = None) -> ConfigFlowResult:
        errors: dict[str, str] = {}
        placeholders = {"message": ""}
        if user_input is not None:
            prices = await _sensor_prices(self.hass, user_input[CONF_PRICE_ENTITY])
            if isinstance(prices, SensorPrices):
                self._load = user_input
                return await self.async_step_rules()
            errors[CONF_PRICE_ENTITY], placeholders["message"] = "no_prices", prices
        schema = vol.Schema({
            vol.Required(CONF_NAME): selector.TextSelector(),
            vol.Required(CONF_PRICE_ENTITY): selector.EntitySelector(selector.EntitySelectorConfig(domain="sensor")),
        })
        return self.async_show_form(step_id="user", data_schema=schema, errors=errors,
                                    description_placeholders=placeholders)

    async def async_step_rules(self, user_input: dict[str, Any] | None = None) -> ConfigFlowResult:
        rules, form = await self._rules_step(self.hass, "rules", self._load[CONF_PRICE_ENTITY], {}, user_input)
        if form is not None:
            return form
        return self.async_create_entry(title=self._load[CONF_NAME], data=self._load, options=rules or {})

    @staticmethod
    @callback
    def async_get_options_flow(config_entry: ConfigEntry) -> OptionsFlow:
        return KestravaOptionsFlow()


class KestravaOptionsFlow(RulesForm, OptionsFlow):
    async def async_step_init(self, user_input: dict[str, Any] | None = None) -> ConfigFlowResult:
        entry = self.config_entry
        rules, form = await self._rules_step(self.hass, "init", entry.data[CONF_PRICE_ENTITY], entry.options,
                                             user_input)
        return form if form is not None else self.async_create_entry(data=rules or {})
