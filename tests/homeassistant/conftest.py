"""A real Home Assistant core in-process (pytest-homeassistant-custom-component), with
this tree's custom_components/ loadable and the clocks of the prices' zone."""

from pathlib import Path

import pytest

INTEGRATIONS = str(Path(__file__).resolve().parents[2] / "custom_components")


@pytest.fixture(autouse=True)
async def berlin_hass(hass, enable_custom_integrations):
    # The harness imports its own custom_components package; this tree's integrations
    # join its path, where Home Assistant's loader looks.
    import custom_components
    if INTEGRATIONS not in custom_components.__path__:
        custom_components.__path__.append(INTEGRATIONS)
    await hass.config.async_set_time_zone("Europe/Berlin")
    return hass
