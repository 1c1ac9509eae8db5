"""The requests worked out by hand in tests/data/worked_requests.txt (its header gives
the format), through both functions and both halves of the model, for both strategies.
kestrava rounds as its 96-bit decimals do; kestrava_plan and the model are exact, and
the rows where that changes the answer say so."""

from __future__ import annotations

import pathlib

import pytest

import kestrava
import plan_model
from kestrava_plan import cheapest_periods

WORKED_REQUESTS = pathlib.Path(__file__).resolve().parents[1] / "data" / "worked_requests.txt"

# (name, function, whether it rounds as kestrava does)
ENGINES = [
    ("kestrava", kestrava.get_cheapest_periods, True),
    ("kestrava_plan", cheapest_periods, False),
    ("brute_force", plan_model.brute_force, False),
    ("slow_dp", plan_model.slow_dp, False),
]


def worked_requests() -> list:
    """Each row once per engine and strategy."""
    params = []
    for line in WORKED_REQUESTS.read_text(encoding="utf-8").splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        what, prices, threshold, rules, *answers = line.split(" | ")
        counts = [int(count) for count in rules.split()]
        assert len(counts) == 4 and len(answers) in (2, 4), line
        for name, function, rounds in ENGINES:
            if name == "brute_force" and len(prices.split()) > 14:
                continue
            exact = answers if rounds or len(answers) == 2 else answers[2:]
            for aggressive, answer in zip((True, False), exact):
                expected = [int(index) for index in answer.split()]
                strategy = "aggressive" if aggressive else "conservative"
                params.append(pytest.param(function, (prices.split(), threshold, *counts, aggressive), expected,
                                           id=f"{what}-{name}-{strategy}"))
    return params


@pytest.mark.parametrize("function, arguments, expected", worked_requests())
def test_every_engine_answers_the_worked_requests(function, arguments: tuple, expected: list[int]) -> None:
    answer = function(*arguments)
    assert answer == expected
    assert all(type(index) is int for index in answer)
