"""The MILP peer of the benchmark (benchmarks/milp_peer.py) finds a valid selection of
the smallest valid size costing what the dynamic programme's cheapest one costs.

    KESTRAVA_MILP_REQUESTS=2000 python -m pytest -q test_milp_peer.py   # a longer run
"""

from __future__ import annotations

import os
import random
import sys
from fractions import Fraction
from pathlib import Path

import pytest

import plan_model

pytest.importorskip("highspy", reason="highspy (HiGHS) is not installed: pip install -r requirements-dev.txt")
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "benchmarks"))
import milp_peer  # noqa: E402  (found through the path set just above)


def test_milp_peer_matches_the_cheapest_main_selection() -> None:
    count = int(os.environ.get("KESTRAVA_MILP_REQUESTS", "60"))
    for seed in range(1, count + 1):
        request = plan_model.random_request(random.Random(seed), 1, 60, texts_only=True)
        rules = request.arguments()[2:6]
        problem = plan_model.check_request(request.prices, "0", *rules)
        expected = plan_model.cheapest_main_selection(problem)
        cost, indices, _ = milp_peer.solve_stage_one(request.prices, *rules)
        expected_cost = sum((plan_model.exact_value(request.prices[i]) for i in expected), Fraction(0))
        assert (cost, len(indices)) == (expected_cost, len(expected)), f"seed {seed}: {request}\n  MILP chose {indices}"
        assert plan_model.is_valid(indices, problem), f"seed {seed}: {request}\n  MILP chose {indices}"
