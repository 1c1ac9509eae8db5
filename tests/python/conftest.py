"""Shared fixtures for the tests of kestrava's Python face."""

import pytest

import kestrava

# The largest decimal value (2**96 - 1): two of them cannot be summed.
LARGEST_DECIMAL_TEXT = str(2**96 - 1)


@pytest.fixture(scope="session")
def panic_exception_type():
    """The class through which internal failures reach Python.

    It is not an attribute of the module, so it is taken from the exception of a
    request whose price sum overflows.
    """
    try:
        kestrava.get_cheapest_periods([LARGEST_DECIMAL_TEXT] * 2, "0", 1, 1, 1, 1)
    except BaseException as failure:  # noqa: BLE001 - the class is what we are after
        return type(failure)
    pytest.fail("a request whose sum overflows returned normally")


@pytest.fixture
def valid_arguments():
    """A request that binds, converts and validates; tests replace one argument at a time."""
    return {
        "prices": ["5", "1", "9", "1", "8", "1"],
        "low_price_threshold": "2",
        "min_selections": 1,
        "min_consecutive_periods": 1,
        "max_gap_between_periods": 5,
        "max_gap_from_start": 5,
        "aggressive": True,
    }
