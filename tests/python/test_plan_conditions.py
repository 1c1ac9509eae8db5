"""kestrava_plan._planner._plan, the core of kestrava_plan.plan: worked requests for
each cause of a plan without a selection (the first that applies wins) and each
refusal of its arguments, word for word, in the order of the checks; and the plain
request, which answers as cheapest_periods. The answers under masks and carried
states are held against the literal definition by the C++ differential
(PlanConditionsFuzz) and against the Python model by the plan tests."""

from __future__ import annotations

import numpy as np
import pytest

from kestrava_plan import _planner, cheapest_periods

PRICES = ["31", "12", "10", "27", "41", "45", "42", "38", "21", "8", "9", "35"]
T, F = True, False
NO_PLAN = "no plan meets the rules: "


def plan(prices=PRICES, threshold="10", selections=4, run=2, gap=4, lead=2, aggressive=True,
         allowed=None, running_for=0, off_for=0, most_expensive=False, strict_end=False):
    return _planner._plan(prices, threshold, selections, run, gap, lead, aggressive, allowed, running_for, off_for,
                          most_expensive, strict_end)


# (keyword arguments of plan(), message): each row also breaks the causes after its own.
NO_PLANS = [
    ({"allowed": [T, T, F, F, F, F, F, T, T, T, T, T], "selections": 8},
     NO_PLAN + "periods 2 to 6 are blocked, 5 periods off in a row, more than max_gap_between_periods (4); "
     "allow a period among them or raise max_gap_between_periods"),
    ({"allowed": [T, F] * 6, "gap": 0, "lead": 0},
     NO_PLAN + "period 1 is blocked, 1 period off, more than max_gap_between_periods (0); "
     "allow a period among them or raise max_gap_between_periods"),
    ({"allowed": [F, T, F, T, F, T, F, T, F, T, F, F], "selections": 6, "run": 3, "running_for": 1},
     NO_PLAN + "only 5 of the 12 periods are allowed, fewer than min_selections (6); "
     "allow more periods or lower min_selections"),
    ({"allowed": [F] + [T] * 11, "run": 3, "running_for": 2},
     NO_PLAN + "the carried run of running_for (2) periods is shorter than min_consecutive_periods (3) and must "
     "go on at period 0, which is blocked; allow period 0 or lower min_consecutive_periods"),
    ({"allowed": [F, F] + [T] * 10, "off_for": 3},
     NO_PLAN + "after off_for (3) periods off, the first period must come by period 1 (max_gap_between_periods (4) "
     "- off_for, and max_gap_from_start (2)), but periods 0 to 1 are blocked; allow one of them or raise "
     "max_gap_between_periods"),
    ({"allowed": [F] + [T] * 11, "off_for": 4},
     NO_PLAN + "after off_for (4) periods off, the first period must come by period 0 (max_gap_between_periods (4) "
     "- off_for, and max_gap_from_start (2)), but period 0 is blocked; allow one of them or raise "
     "max_gap_between_periods"),
    ({"off_for": 5},
     NO_PLAN + "off_for (5) is already more than max_gap_between_periods (4); raise max_gap_between_periods or "
     "pass the real time off"),
    # Only a last run of 1 at period 4 would keep the gaps.
    ({"prices": PRICES[:5], "selections": 3, "run": 3, "gap": 1, "lead": 1, "allowed": [T, T, T, F, T],
      "strict_end": True},
     NO_PLAN + "the last run could not be made 3 periods long; allow a short last run or lower "
     "min_consecutive_periods"),
    ({"prices": PRICES[:4], "selections": 2, "gap": 1, "lead": 1, "allowed": [T, F, T, T], "strict_end": True},
     NO_PLAN + "no selection of the allowed periods keeps every rule; loosen a rule or allow more periods"),
]


@pytest.mark.parametrize(("arguments", "message"), NO_PLANS, ids=[m[len(NO_PLAN):50] for _, m in NO_PLANS])
def test_a_plan_without_selection_names_its_first_cause(arguments, message) -> None:
    with pytest.raises(ValueError) as refusal:
        plan(**arguments)
    assert str(refusal.value) == message


# (keyword arguments, error, message), each row breaking the checks after its own too.
REFUSALS = [
    ({"prices": ["1", "x"], "allowed": [T, 1]}, TypeError, "allowed[1] must be a bool, not int"),
    ({"allowed": "TF"}, TypeError, "allowed must be None or a sequence of bools (one per price), not str"),
    ({"running_for": 1.0, "allowed": [T]}, TypeError, "running_for must be an int, not float"),
    ({"off_for": True}, TypeError, "off_for must be an int, not bool"),
    ({"prices": ["1", "x"], "allowed": [T]}, ValueError, "prices[1]: 'x' is not a decimal number"),
    ({"run": 6, "selections": 3, "running_for": 2, "allowed": [T]}, ValueError,
     "min_consecutive_periods (6) cannot be greater than min_selections + running_for (3 + 2)"),
    ({"run": 6, "selections": 3, "running_for": -2}, ValueError,
     "min_consecutive_periods (6) cannot be greater than min_selections (3)"),
    ({"allowed": [T] * 11, "running_for": -1}, ValueError, "allowed must hold one bool per price: got 11 for 12 prices"),
    ({"running_for": -1, "off_for": -1}, ValueError, "running_for cannot be negative (got -1)"),
    ({"running_for": 1, "off_for": -1}, ValueError, "off_for cannot be negative (got -1)"),
    ({"running_for": 2, "off_for": 10**30, "allowed": [F] * 12}, ValueError,
     "running_for (2) and off_for (1000000000000000000000000000000) cannot both be non-zero: "
     "before period 0 the load was either on or off"),
]


@pytest.mark.parametrize(("arguments", "error", "message"), REFUSALS, ids=[m[:50] for _, _, m in REFUSALS])
def test_refusals_come_in_the_order_of_the_checks(arguments, error, message) -> None:
    with pytest.raises(error) as refusal:
        plan(**arguments)
    assert str(refusal.value) == message


# (keyword arguments, periods, base size)
ANSWERS = [
    ({}, [2, 3, 8, 9, 10], 4),
    # Blocked, 3 ends the first run and 9 is no cheap period: 10 alone is no block to add.
    ({"allowed": [T] * 3 + [F] + [T] * 5 + [F] + [T] * 2}, [1, 2, 7, 8], 4),
    # numpy bools, and a carried run at least min_run long: period 0 may rest.
    ({"allowed": np.ones(12, dtype=bool), "running_for": 2, "aggressive": False}, [2, 3, 8, 9, 10], 4),
    # A carried run of 1 below min_run 3 goes on at 0 for two more periods: 0, 1 and a
    # run of 3 by period 6 are the base; the cheap 2 and 9, 10 join its runs.
    ({"run": 3, "running_for": 1}, [0, 1, 2, 6, 7, 8, 9, 10], 5),
    # Sizes with a hole: stretches of exactly min_run allow 4 or 6 periods, never 5.
    ({"prices": ["1"] * 9, "threshold": "0", "selections": 5, "gap": 4, "lead": 0,
      "allowed": [T, T, F, T, T, F, T, T, F]}, [0, 1, 3, 4, 6, 7], 6),
    # Counts far beyond the horizon compare as written: a carried run long enough, or 3
    # periods short; every other run must end the horizon. 0, 1, 2 and 11, with the
    # cheap 9, 10 touching 11, average 17.5.
    ({"run": 10**20, "running_for": 10**20 + 5, "gap": 10**30, "lead": 2}, [0, 1, 2, 9, 10, 11], 4),
    ({"run": 10**20, "running_for": 10**20 - 3, "gap": 10**30, "lead": 0}, [0, 1, 2, 9, 10, 11], 4),
]


@pytest.mark.parametrize(("arguments", "periods", "base_size"), ANSWERS)
def test_worked_plans(arguments, periods, base_size) -> None:
    assert plan(**arguments) == (periods, base_size)


@pytest.mark.parametrize("aggressive", [True, False])
@pytest.mark.parametrize("rules", [(4, 2, 4, 2), (6, 2, 3, 1), (12, 3, 0, 0), (1, 1, 11, 11)])
def test_the_plain_plan_is_cheapest_periods(rules, aggressive) -> None:
    for threshold in ("-1", "10", "30", "45"):
        periods, base_size = plan(PRICES, threshold, *rules, aggressive)
        assert periods == cheapest_periods(PRICES, threshold, *rules, aggressive)
        assert rules[0] <= base_size <= len(periods)
