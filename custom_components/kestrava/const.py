"""The integration's names: its domain, the keys of a load's options and their defaults."""

from datetime import timedelta

DOMAIN = "kestrava"

CONF_PRICE_ENTITY = "price_entity"
CONF_THRESHOLD = "low_price_threshold"
CONF_MIN_TOTAL = "min_total"
CONF_MIN_RUN = "min_run"
CONF_MAX_GAP = "max_gap"
CONF_FIRST_START = "first_start_within"
CONF_STRATEGY = "strategy"
CONF_WINDOW = "window"
CONF_DEADLINE = "deadline"
CONF_MIN_PER_DAY = "min_per_day"
CONF_NO_SHORT_LAST_RUN = "no_short_last_run"

STRATEGY_LOWEST_AVERAGE = "lowest_average"  # aggressive=True
STRATEGY_CHEAPEST_PLAN = "cheapest_plan"  # aggressive=False

DEFAULTS = {
    CONF_THRESHOLD: "0",
    CONF_MIN_TOTAL: {"hours": 3, "minutes": 0, "seconds": 0},
    CONF_MIN_RUN: {"hours": 1, "minutes": 0, "seconds": 0},
    CONF_MAX_GAP: {"hours": 12, "minutes": 0, "seconds": 0},
    CONF_FIRST_START: {"hours": 12, "minutes": 0, "seconds": 0},
    CONF_STRATEGY: STRATEGY_LOWEST_AVERAGE,
    CONF_WINDOW: "",
    CONF_DEADLINE: "",
    CONF_MIN_PER_DAY: {"hours": 0, "minutes": 0, "seconds": 0},
    CONF_NO_SHORT_LAST_RUN: False,
}

# How late after a period's start a re-plan still plans that period: the time helpers
# fire on the second, a real clock a little after.
BOUNDARY_SLACK = timedelta(seconds=2)
