"""A mixed-integer programme for the conservative strategy's first stage, solved with
HiGHS (``highspy``): a general-purpose peer to time the planner against.

The first stage is the cheapest valid selection of exactly k periods, k being the
smallest valid size from min_selections up (computed by tests/python/plan_model.py).
With n periods, prices p_i, run length r, gap g and lead gap L:

    x_i in {0, 1}   period i is selected
    s_i in {0, 1}   a run starts at i
    minimise sum p_i x_i   subject to

    sum x_i = k
    s_0 >= x_0;  for i >= 1:  s_i >= x_i - x_(i-1)
        (s_i is 1 wherever a run starts; a 1 elsewhere only adds rows x_j >= s_i,
         so some optimum has s exactly at the starts and no upper rows are needed)
    x_j >= s_i  for j = i+1 .. min(i+r-1, n-1)
        (a run is r long, or short only because it reaches the last period)
    x_a + ... + x_(a+g) >= 1  for every window of g+1 periods inside the day
        (no gap between selected periods, nor the trailing one, is longer than g;
         with g >= n there is no such window and no gap can be that long anyway)
    x_0 + ... + x_L >= 1  when L < n   (the first selected period is at most L in)

The run rows are kept one per period rather than summed into r s_i <= sum x_j:
that makes the linear relaxation tighter. HiGHS works in binary floating point, so
the optimum is exact while the prices, scaled to integers, and their sums stay below
2**53; the returned cost is recomputed exactly from the chosen indices.

    python benchmarks/milp_peer.py --periods 96 --requests 20   # times per request
"""

from __future__ import annotations

import argparse
import random
import statistics
import sys
import time
from fractions import Fraction
from pathlib import Path

import highspy
import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "python"))
import plan_model  # noqa: E402  (the model lives with the tests)


class _Rows:
    """Rows gathered as (lower, upper, {column: coefficient}) and passed to HiGHS at once."""

    def __init__(self) -> None:
        self.rows: list[tuple[float, float, dict[int, float]]] = []

    def add(self, lower: float, upper: float, coefficients: dict[int, float]) -> None:
        self.rows.append((lower, upper, coefficients))

    def pass_to(self, solver: highspy.Highs) -> None:
        starts, indices, values = [], [], []
        for _, _, coefficients in self.rows:
            starts.append(len(indices))
            indices.extend(coefficients)
            values.extend(coefficients.values())
        solver.addRows(len(self.rows), np.array([row[0] for row in self.rows], dtype=np.float64),
                       np.array([row[1] for row in self.rows], dtype=np.float64), len(indices),
                       np.array(starts, dtype=np.int32), np.array(indices, dtype=np.int32),
                       np.array(values, dtype=np.float64))


def stage_one_rows(n: int, size: int, min_run: int, max_gap: int, max_lead: int, infinity: float) -> _Rows:
    """Columns 0..n-1 are x, n..2n-1 are s."""
    rows = _Rows()
    rows.add(size, size, {i: 1.0 for i in range(n)})
    rows.add(0, infinity, {n: 1.0, 0: -1.0})
    for i in range(1, n):
        rows.add(0, infinity, {n + i: 1.0, i: -1.0, i - 1: 1.0})
    for i in range(n):
        for j in range(i + 1, min(i + min_run, n)):
            rows.add(0, infinity, {j: 1.0, n + i: -1.0})
    for start in range(n - max_gap):
        rows.add(1, infinity, {j: 1.0 for j in range(start, start + max_gap + 1)})
    if max_lead < n:
        rows.add(1, infinity, {j: 1.0 for j in range(max_lead + 1)})
    return rows


def solve_stage_one(prices, min_sel: int, min_run: int, max_gap: int, max_lead: int) -> tuple[Fraction, list[int], float]:
    """(exact cost, chosen indices, seconds in the solver) of the cheapest valid
    selection of the smallest valid size."""
    problem = plan_model.check_request(prices, "0", min_sel, min_run, max_gap, max_lead)
    n = problem.n
    size = plan_model.smallest_size(problem)
    solver = highspy.Highs()
    solver.setOptionValue("output_flag", False)
    solver.setOptionValue("mip_rel_gap", 0.0)
    infinity = solver.getInfinity()
    costs = [float(cost) for cost in problem.costs] + [0.0] * n
    solver.addVars(2 * n, np.zeros(2 * n), np.ones(2 * n))
    solver.changeColsCost(2 * n, np.arange(2 * n, dtype=np.int32), np.array(costs, dtype=np.float64))
    solver.changeColsIntegrality(2 * n, np.arange(2 * n, dtype=np.int32),
                                 np.full(2 * n, highspy.HighsVarType.kInteger, dtype=np.uint8))
    stage_one_rows(n, size, min_run, max_gap, max_lead, infinity).pass_to(solver)
    started = time.perf_counter()
    solver.run()
    seconds = time.perf_counter() - started
    status = solver.getModelStatus()
    if status != highspy.HighsModelStatus.kOptimal:
        raise RuntimeError(f"HiGHS did not reach an optimum: {solver.modelStatusToString(status)}")
    values = solver.getSolution().col_value
    indices = [i for i in range(n) if values[i] > 0.5]
    return sum((plan_model.exact_value(prices[i]) for i in indices), Fraction(0)), indices, seconds


def main() -> None:
    parser = argparse.ArgumentParser(description="Times the MILP peer on random requests.")
    parser.add_argument("--periods", type=int, default=96)
    parser.add_argument("--requests", type=int, default=20)
    parser.add_argument("--seed", type=int, default=1)
    arguments = parser.parse_args()
    seconds = []
    for seed in range(arguments.seed, arguments.seed + arguments.requests):
        request = plan_model.random_request(random.Random(seed), arguments.periods, arguments.periods, True)
        seconds.append(solve_stage_one(request.prices, *request.arguments()[2:6])[2])
    print(f"{arguments.requests} requests of {arguments.periods} periods: median {statistics.median(seconds) * 1e3:.2f} ms,"
          f" max {max(seconds) * 1e3:.2f} ms in HiGHS")


if __name__ == "__main__":
    main()
