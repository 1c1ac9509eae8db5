"""Both functions against the model in plan_model.py on seeded random requests:
``kestrava_plan.cheapest_periods`` against the literal model up to 14 periods and the
dynamic programme from 15 to 200 (ties, price styles and argument types from
``random_request``; rules at their edges from ``long_request``), and
``kestrava.get_cheapest_periods`` on the requests of up to 28 periods where its
decimals round nothing. ``kestrava_plan.plan`` answers every one of these as
``cheapest_periods`` does, and with blocked periods and carried states it is held against
the model's ``plan_answer`` (periods, base size, or the first cause of no plan). The
rounding itself is checked against the exhaustive search in tests/cpp/rounding_fuzz_test.cpp.

A short tier runs by default. A longer run, and one request again from the seed and
test name a failure prints:
    KESTRAVA_PLAN_DIFF_REQUESTS=40000 python -m pytest -q test_plan_differential.py
    KESTRAVA_PLAN_DIFF_SEED=<seed> KESTRAVA_PLAN_DIFF_REQUESTS=1 python -m pytest -q test_plan_differential.py -k <test>
"""

from __future__ import annotations

import os
import random
from typing import Callable

import kestrava
import pytest
import plan_model
from kestrava_plan import cheapest_periods, plan

REQUESTS = int(os.environ.get("KESTRAVA_PLAN_DIFF_REQUESTS", "1500"))
FIRST_SEED = int(os.environ.get("KESTRAVA_PLAN_DIFF_SEED", "4096"))


def plain_plan(*arguments) -> list[int]:
    """plan with no timing rule of its own: the same answer as cheapest_periods."""
    return plan(*arguments).periods


def compare(test_name: str, share: int, draw: Callable[[random.Random], plan_model.Request], reference) -> None:
    """REQUESTS // share requests (at least one) from consecutive seeds."""
    for seed in range(FIRST_SEED, FIRST_SEED + max(1, REQUESTS // share)):
        request = draw(random.Random(seed))
        expected = reference(*request.arguments())
        functions = [cheapest_periods, plain_plan] + ([kestrava.get_cheapest_periods] if request.kestrava_exact else [])
        for function in functions:
            actual = function(*request.arguments())
            assert actual == expected, (
                f"seed {seed}: {request}\n  {function.__module__}: {actual}\n  {reference.__name__}: {expected}\n"
                f"  again: KESTRAVA_PLAN_DIFF_SEED={seed} KESTRAVA_PLAN_DIFF_REQUESTS=1 "
                f"python -m pytest -q test_plan_differential.py -k {test_name}"
            )


def test_matches_the_literal_model_up_to_14_periods() -> None:
    compare("literal_model", 1,
            lambda rng: plan_model.random_request(rng, 1, 14, texts_only=rng.random() < 0.3), plan_model.brute_force)


def test_matches_the_dynamic_programme_from_15_to_28_periods() -> None:
    compare("15_to_28", 3,
            lambda rng: plan_model.random_request(rng, 15, 28, texts_only=rng.random() < 0.5), plan_model.slow_dp)


def test_matches_the_dynamic_programme_from_30_to_150_periods() -> None:
    # Some 150 ms a request in the programme: a small share keeps the tier short.
    compare("30_to_150", 24, lambda rng: plan_model.random_request(rng, 30, 150), plan_model.slow_dp)


def test_matches_the_dynamic_programme_at_rule_edges_up_to_200_periods() -> None:
    compare("rule_edges", 10, plan_model.long_request, plan_model.slow_dp)


# What a refusal of `plan` says, by the model's cause of no plan.
NO_PLAN_CAUSES = {1: r"blocked, .* more than max_gap_between_periods", 2: r"only \d+ of the \d+ periods are allowed",
                  3: r"the carried run of running_for", 4: r"off_for \(\d+\)", 5: r"no selection of the allowed periods"}


def compare_timing_rules(test_name: str, share: int, smallest: int, largest: int) -> None:
    """plan with masks and carried states against the model: the periods, the base size, or
    the first cause of no plan (with its stretch for a blocked one)."""
    for seed in range(FIRST_SEED, FIRST_SEED + max(1, REQUESTS // share)):
        rng = random.Random(seed)
        request = plan_model.random_plan_request(rng, rng.randint(smallest, largest))
        expected = plan_model.plan_answer(*request.arguments(), **request.options())
        again = (f"seed {seed}: {request}\n  again: KESTRAVA_PLAN_DIFF_SEED={seed} KESTRAVA_PLAN_DIFF_REQUESTS=1 "
                 f"python -m pytest -q test_plan_differential.py -k {test_name}")
        if isinstance(expected, plan_model.NoPlan):
            with pytest.raises(ValueError, match=NO_PLAN_CAUSES[expected.cause]) as refusal:
                plan(*request.arguments(), **request.options())
            stretch = f"period {expected.first} " if expected.first == expected.last else \
                f"periods {expected.first} to {expected.last} "
            assert expected.cause != 1 or stretch in str(refusal.value), again
            continue
        answer = plan(*request.arguments(), **request.options())
        assert (answer.periods, answer.cheap_added) == (
            list(expected.periods), len(expected.periods) - expected.base_size), again


def test_timing_rules_match_the_model_up_to_14_periods() -> None:
    compare_timing_rules("timing_rules_up_to_14", 1, 1, 14)


def test_timing_rules_match_the_dynamic_programme_from_15_to_60_periods() -> None:
    compare_timing_rules("timing_rules_15_to_60", 10, 15, 60)


# The most prices, planned with a search, against the answer worked out by hand.
def test_accepts_3000_prices() -> None:
    prices = ["5"] * 2999 + ["1"]
    assert cheapest_periods(prices, "0", 1, 1, 2999, 2999) == [2999]
