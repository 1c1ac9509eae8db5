"""The two strategies through the extension: the requests worked out by hand in
tests/data/worked_requests.txt, and a seeded differential check against the
plain-Python model in strategy_model.py.

The differential check runs a short tier by default. A longer run:
    KESTRAVA_DIFF_REQUESTS=100000 python -m pytest -q test_strategies.py
and one request again, from the seed that a failure prints:
    KESTRAVA_DIFF_SEED=<seed> KESTRAVA_DIFF_REQUESTS=1 python -m pytest -q test_strategies.py
"""

from __future__ import annotations

import decimal
import os
import pathlib
import random
from dataclasses import dataclass

import pytest

import kestrava
import strategy_model


@dataclass(frozen=True)
class Request:
    prices: list[str]
    low_price_threshold: str
    min_selections: int
    min_consecutive_periods: int
    max_gap_between_periods: int
    max_gap_from_start: int
    aggressive: bool

    def arguments(self) -> tuple:
        return (
            self.prices,
            self.low_price_threshold,
            self.min_selections,
            self.min_consecutive_periods,
            self.max_gap_between_periods,
            self.max_gap_from_start,
            self.aggressive,
        )


def answer_of(function, request: Request, error_type: type[Exception]) -> object:
    """The list of indices, or ("error", message) for a rejected request."""
    try:
        return function(*request.arguments())
    except error_type as error:
        return ("error", str(error))


WORKED_REQUESTS = pathlib.Path(__file__).resolve().parents[1] / "data" / "worked_requests.txt"


def worked_requests() -> list:
    """Each row of the shared table of worked requests (its header gives the format),
    once per strategy."""
    params = []
    for line in WORKED_REQUESTS.read_text(encoding="utf-8").splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        what, prices, threshold, rules, aggressive_answer, conservative_answer = line.split(" | ")
        counts = [int(count) for count in rules.split()]
        assert len(counts) == 4, line
        for aggressive, answer in ((True, aggressive_answer), (False, conservative_answer)):
            request = Request(prices.split(), threshold, *counts, aggressive)
            expected = [int(index) for index in answer.split()]
            params.append(pytest.param(request, expected, id=f"{what}-{'aggressive' if aggressive else 'conservative'}"))
    return params


@pytest.mark.parametrize("request_, expected", worked_requests())
def test_extension_answers_the_worked_requests(request_: Request, expected: list[int]) -> None:
    answer = kestrava.get_cheapest_periods(*request_.arguments())
    assert answer == expected
    assert all(type(index) is int for index in answer)


@pytest.mark.parametrize("request_, expected", worked_requests())
def test_model_answers_the_worked_requests(request_: Request, expected: list[int]) -> None:
    assert strategy_model.get_cheapest_periods(*request_.arguments()) == expected


FINE_CHEAP = ["0", "0.1", "0.1666666666666666666666666667", "0.2", "0.25"]
FINE_DEAR = ["0.3333333333333333333333333333", "0.3333333333333333333333333334", "0.5", "0.6666666666666666666666666667"]


def random_request(rng: random.Random) -> Request:
    """Short price lists of small values in runs of cheap and dear periods, so that
    ties, cheap blocks and rules at their limits are common."""
    n = rng.randint(1, 10)
    # Now and then prices with 28 digits after the point, whose averages differ by
    # less than the last digit of a quotient, so the rounding of averages decides
    # ties. Kept below 0.7 so that no sum of ten outgrows 96 bits.
    fine_digits = rng.random() < 0.15
    prices: list[str] = []
    while len(prices) < n:
        run = rng.randint(1, 3)
        if fine_digits:
            values = FINE_CHEAP if rng.random() < 0.5 else FINE_DEAR
        else:
            values = ["0", "1", "2"] if rng.random() < 0.5 else ["3", "4", "5"]
            if rng.random() < 0.15:
                values = values + ["-1", "0.5", "2.50", "1.0", "4.75"]
        prices.extend(rng.choice(values) for _ in range(run))
    prices = prices[:n]
    # Mostly at or below the cheaper half of the prices; now and then anywhere, which
    # makes every price cheap at times.
    if rng.random() < 0.1:
        threshold = rng.choice(prices + ["5"])
    else:
        cheaper_half = sorted(prices, key=decimal.Decimal)[: max(1, n // 2)]
        threshold = rng.choice(cheaper_half + (["0.2"] if fine_digits else ["-1", "0", "1", "2", "2.5"]))
    # Mostly small selections under loose gaps, where the search has real choices;
    # now and then any size, which brings the shortcuts and tight gaps in.
    if rng.random() < 0.2:
        min_selections = rng.randint(1, n)
        max_gap = rng.randint(0, n)
    else:
        min_selections = rng.randint(1, max(1, n // 2))
        max_gap = rng.randint(1, n)
    min_consecutive = rng.randint(1, min(min_selections, 3))
    max_gap_from_start = rng.randint(0, max_gap)
    if rng.random() < 0.05:  # now and then a request that breaks a rule
        choice = rng.randrange(3)
        if choice == 0:
            min_selections = 0
        elif choice == 1:
            min_consecutive = min_selections + 1
        else:
            max_gap_from_start = max_gap + 1
    return Request(prices, threshold, min_selections, min_consecutive, max_gap, max_gap_from_start,
                   rng.random() < 0.5)


def test_extension_matches_the_model_on_random_requests() -> None:
    count = int(os.environ.get("KESTRAVA_DIFF_REQUESTS", "2500"))
    first_seed = int(os.environ.get("KESTRAVA_DIFF_SEED", "20240707"))
    for seed in range(first_seed, first_seed + count):
        request = random_request(random.Random(seed))
        expected = answer_of(strategy_model.get_cheapest_periods, request, strategy_model.ModelError)
        actual = answer_of(kestrava.get_cheapest_periods, request, ValueError)
        assert actual == expected, (
            f"seed {seed}: {request}\n  extension: {actual}\n  model:     {expected}\n"
            f"  again: KESTRAVA_DIFF_SEED={seed} KESTRAVA_DIFF_REQUESTS=1 python -m pytest -q test_strategies.py"
        )
