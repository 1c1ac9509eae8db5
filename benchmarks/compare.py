"""Times two builds of kestrava side by side: bench_python.py runs under each
interpreter in turn, round after round (the order alternating), so that both meet
the same machine state. Prints, per suite and strategy, each build's median over the
rounds with the range of the round medians, and the ratio of new to base with the
range of the per-round ratios, then the same for the 99th percentile.

With --instructions it also counts, under valgrind's callgrind, the instructions per
call of each build on the same requests, called in turn (a repeated request would
find what a previous call left behind): a count that does not depend on what else the
machine is doing. The count is the difference between a run of CALLS calls and a run of
none, over CALLS.

    compare.py --base PYTHON --new PYTHON [--rounds N] [--instructions] [-- BENCH_PYTHON_ARGS...]
"""

from __future__ import annotations

import argparse
import json
import math
import platform
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

BENCH = Path(__file__).resolve().parent / "bench_python.py"
COUNTED_CALLS = 2000

# Run by each build's interpreter under callgrind: CALLS calls over up to 200 requests of
# the suite, in turn.
CALLER = """
import random, sys
sys.path.insert(0, {bench_folder!r})
import bench_python as bench
suite, strategy, calls = sys.argv[1], sys.argv[2], int(sys.argv[3])
requests = bench.realistic_requests(bench.DEFAULT_DATA, 2, 2024) if suite == "realistic" else bench.hard_requests(40, 2024)
requests = random.Random(1).sample(requests, min(len(requests), 200))
import kestrava
arguments = [request.arguments(strategy == "aggressive") for request in requests]
for number in range(calls):
    kestrava.get_cheapest_periods(*arguments[number % len(arguments)])
"""


def one_run(python: str, bench_arguments: list[str]) -> dict[str, list[int]]:
    output = subprocess.run([python, str(BENCH), "--json", "--quiet", *bench_arguments], check=True,
                            capture_output=True, text=True).stdout
    return {key: value["times_ns"] for key, value in json.loads(output).items()}


def percentile(times: list[int], fraction: float) -> float:
    ordered = sorted(times)
    return ordered[max(1, math.ceil(fraction * len(ordered))) - 1] / 1000


def spread(values: list[float], digits: int) -> str:
    return f"{statistics.median(values):.{digits}f} ({min(values):.{digits}f}-{max(values):.{digits}f})"


def report(rounds: list[dict[str, dict[str, list[int]]]], fraction: float, title: str) -> None:
    print(f"\n{title}: median over rounds (range of the rounds), in µs")
    header = ("suite strategy", "requests", "base", "new", "new / base")
    rows = [header]
    for key in rounds[0]["base"]:
        base = [percentile(r["base"][key], fraction) for r in rounds]
        new = [percentile(r["new"][key], fraction) for r in rounds]
        ratios = [b and n / b for b, n in zip(base, new)]
        rows.append((key, str(len(rounds[0]["base"][key])), spread(base, 2), spread(new, 2), spread(ratios, 3)))
    widths = [max(len(row[i]) for row in rows) for i in range(len(header))]
    for row in rows:
        print("  ".join(cell.ljust(w) if i == 0 else cell.rjust(w) for i, (cell, w) in enumerate(zip(row, widths))))


def instructions(python: str, suite: str, strategy: str, calls: int) -> int:
    caller = CALLER.format(bench_folder=str(BENCH.parent))
    output = subprocess.run(["valgrind", "--tool=callgrind", "--trace-children=yes", "--callgrind-out-file=/dev/null",
                             python, "-c", caller,
                             suite, strategy, str(calls)], check=True, capture_output=True, text=True).stderr
    return int(next(line for line in output.splitlines() if "refs:" in line).split()[-1].replace(",", ""))


def report_instructions(base: str, new: str) -> None:
    print(f"\nInstructions per call (callgrind, {COUNTED_CALLS} calls over the suite's requests in turn)")
    rows = [("suite strategy", "base", "new", "new / base")]
    for suite in ("realistic", "hard", "converted"):
        for strategy in ("aggressive", "conservative"):
            counts = [(instructions(python, suite, strategy, COUNTED_CALLS) - instructions(python, suite, strategy, 0))
                      // COUNTED_CALLS for python in (base, new)]
            rows.append((f"{suite} {strategy}", f"{counts[0]:,}", f"{counts[1]:,}", f"{counts[1] / counts[0]:.3f}"))
    widths = [max(len(row[i]) for row in rows) for i in range(4)]
    for row in rows:
        print("  ".join(cell.ljust(w) if i == 0 else cell.rjust(w) for i, (cell, w) in enumerate(zip(row, widths))))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--base", required=True, help="interpreter whose kestrava is the base build")
    parser.add_argument("--new", required=True, help="interpreter whose kestrava is the new build")
    parser.add_argument("--rounds", type=int, default=5, help="rounds of both builds (default 5)")
    parser.add_argument("--instructions", action="store_true", help="also count instructions per call (valgrind)")
    parser.add_argument("bench_arguments", nargs="*", help="passed on to bench_python.py (after --)")
    options = parser.parse_args()
    print(f"Python {platform.python_version()} on {platform.machine()}; {options.rounds} interleaved rounds; "
          f"bench_python.py {' '.join(options.bench_arguments)}")
    rounds = []
    for number in range(options.rounds):
        order = ("base", "new") if number % 2 == 0 else ("new", "base")
        results = {}
        for side in order:
            results[side] = one_run(getattr(options, side), options.bench_arguments)
            print(f"  round {number + 1}: {side} done", file=sys.stderr, flush=True)
        rounds.append(results)
    report(rounds, 0.5, "Median per call")
    report(rounds, 0.99, "99th percentile per call")
    if options.instructions:
        if shutil.which("valgrind") is None:
            sys.exit("--instructions needs valgrind")
        report_instructions(options.base, options.new)


if __name__ == "__main__":
    main()
