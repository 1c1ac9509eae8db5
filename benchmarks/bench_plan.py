"""Times kestrava_plan.cheapest_periods from Python, per call, on real prices and the
rules of real loads, and prints Markdown tables.

Windows of real prices (data/ in the repository):
  n = 24     every whole day of DE-LU and NL 2024 (hourly)
  n = 96     the quarter-hour days (DE-LU 2025-10-01, NL 2025-12-16 to 18) and hourly
             4-day windows starting every 4 days
  n = 168    hourly weeks, starting every week
  n = 672    hourly 4-week windows, starting every week
  n = 2016   hourly 12-week windows, starting every 4 weeks
  n = 3000   3000 consecutive hours, starting every 4 weeks
Rules, in hours per day and scaled by the periods per hour (4 for quarter-hours):
  heat pump  6 h a day, runs of 2 h, never more than 4 h off, first run within 4 h
  EV         5 h a day, runs of 1 h, never more than 20 h off, first run within 20 h
  boiler     3 h a day, runs of 1 h, never more than 8 h off, first run within 8 h
The threshold is the window's 10th-percentile price. Every request runs with both
strategies, `--repeat` times each; a request's time is the best of its calls (median, p99
and max are over requests), and the slowest single call is shown beside them.

Memory: each row runs in a worker process of its own, which reads its peak resident
set size (getrusage's ru_maxrss) before its first call and after its last; the growth
is the most memory the calls ever added (the planner's workspace, which C++ allocates
and tracemalloc cannot see, and the Python objects of the call).

Also: the total throughput of one thread against two threads planning 4-week hourly
windows, and the MILP peer (benchmarks/milp_peer.py, HiGHS) against the conservative
first stage of cheapest_periods at n = 96 and 672 (threshold below every price, so the
answer is the first stage alone), with the ratio and a check that the costs agree. Each
HiGHS solve runs in a process of its own, stopped after `--milp-budget` seconds.

With --conditions it times instead, on the same windows and loads at n = 96 and 672,
_planner._plan plain (no condition) against _plan with 25% of the periods blocked in
two stretches (each an eighth of the window, starting a quarter and three quarters in)
and running_for=2. So that the blocked stretches leave a plan, both sides plan with
max_gap_between_periods raised to at least the stretch's length.

With --instructions it counts instead, under valgrind's callgrind
(benchmarks/callgrind_count.py), the instructions per call of cheapest_periods at
n = 96 and 3000: every request of the row, both strategies, after a first pass that
imports and allocates what it keeps. --python PATH counts under another interpreter
(another build), so that two builds are compared in one run.

    python benchmarks/bench_plan.py [--repeat N] [--skip-milp] [--conditions]
    python benchmarks/bench_plan.py --instructions [--python PATH ...]
"""

from __future__ import annotations

import argparse
import csv
import json
import os
import platform
import resource
import statistics
import subprocess
import sys
import threading
import time
from decimal import Decimal
from fractions import Fraction
from pathlib import Path

import callgrind_count

REPOSITORY = Path(__file__).resolve().parent.parent
HOURLY = [REPOSITORY / "data" / "day-ahead-2024" / f"{zone}-2024.csv" for zone in ("DE-LU", "NL")]
QUARTER_HOURLY = [REPOSITORY / "data" / "day-ahead-15min" / f"{zone}-15min.csv" for zone in ("DE-LU", "NL")]

# (name, hours a day, run hours, gap hours, lead hours)
LOADS = [("heat pump", 6, 2, 4, 4), ("EV", 5, 1, 20, 20), ("boiler", 3, 1, 8, 8)]
# n -> (window length in hours, step between window starts in hours)
HOURLY_WINDOWS = {24: 24, 96: 96, 168: 168, 672: 168, 2016: 672, 3000: 672}
SIZES = tuple(HOURLY_WINDOWS)


def read_prices(path: Path) -> list[str]:
    with path.open(newline="") as handle:
        return [row[1] for row in csv.reader(handle)][1:]


def windows(n: int) -> list[tuple[list[str], int]]:
    """(prices, periods per hour) of every window of n periods."""
    found = []
    for path in HOURLY:
        prices = read_prices(path)
        step = HOURLY_WINDOWS[n]
        found += [(prices[start:start + n], 1) for start in range(0, len(prices) - n + 1, step)]
    if n == 96:
        for path in QUARTER_HOURLY:
            prices = read_prices(path)
            found += [(prices[start:start + 96], 4) for start in range(0, len(prices) - 95, 96)]
    return found


def requests(n: int) -> list[tuple[list[str], str, int, int, int, int]]:
    made = []
    for prices, per_hour in windows(n):
        threshold = sorted(prices, key=Decimal)[len(prices) // 10]
        days = n / (24 * per_hour)
        for _, hours, run, gap, lead in LOADS:
            min_selections = max(1, round(hours * days * per_hour))
            made.append((prices, threshold, min_selections, min(run * per_hour, min_selections), gap * per_hour,
                         lead * per_hour))
    return made


INSTRUCTION_SIZES = (96, 3000)


def counted_calls(n: int) -> None:
    """Run under callgrind with collection off: every request of the row once, then
    again, counted."""
    from kestrava_plan import cheapest_periods
    calls = [(request, aggressive) for request in requests(n) for aggressive in (True, False)]

    def all_calls() -> int:
        for request, aggressive in calls:
            cheapest_periods(*request, aggressive)
        return len(calls)

    all_calls()
    callgrind_count.count_calls(all_calls)


def print_instructions(pythons: list[str]) -> None:
    print("| n | " + " | ".join(pythons) + " |")
    print("|---|" + "---|" * len(pythons))
    with callgrind_count.switch_library() as switch:
        for n in INSTRUCTION_SIZES:
            counts = [callgrind_count.instructions_per_call([__file__, "--count", str(n)], switch, python)
                      for python in pythons]
            print(f"| {n} | " + " | ".join(f"{count:,.0f}" for count in counts) + " |", flush=True)


def peak_kib() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss  # KiB on Linux


def time_row(n: int, repeat: int) -> dict:
    """Worker: the times of every call of row n, in nanoseconds, and the memory growth."""
    from kestrava_plan import cheapest_periods

    made = requests(n)
    cheapest_periods(*made[0])  # loads and warms the module
    before = peak_kib()
    times: dict[str, list[list[int]]] = {"aggressive": [], "conservative": []}
    for request in made:
        for strategy, aggressive in (("aggressive", True), ("conservative", False)):
            calls = []
            for _ in range(repeat):
                started = time.perf_counter_ns()
                cheapest_periods(*request, aggressive)
                calls.append(time.perf_counter_ns() - started)
            times[strategy].append(calls)
    return {"requests": len(made), "times": times, "peak_before": before, "peak_after": peak_kib()}


CONDITION_SIZES = (96, 672)


def conditions_workload(n: int) -> list[tuple[tuple, list[bool]]]:
    """The requests of row n with the gap raised to the blocked stretches' length, and
    the mask: two stretches of n / 8 blocked periods, at n / 4 and 3 n / 4."""
    stretch = n // 8
    mask = [not (n // 4 <= p < n // 4 + stretch or 3 * n // 4 <= p < 3 * n // 4 + stretch) for p in range(n)]
    made = []
    for prices, threshold, selections, run, gap, lead in requests(n):
        made.append(((prices, threshold, selections, run, max(gap, stretch), lead), mask))
    return made


def time_conditions(n: int, repeat: int) -> dict:
    """Worker: per request and strategy, the best of `repeat` calls of the plain plan and
    of the plan under the conditions, in nanoseconds."""
    from kestrava_plan import _planner

    made = conditions_workload(n)
    times: dict[str, dict[str, list[int]]] = {}
    for strategy, aggressive in (("aggressive", True), ("conservative", False)):
        variants = {"plain": [], "conditions": []}
        for request, mask in made:
            for variant, extra in (("plain", (None, 0, 0, False, False)), ("conditions", (mask, 2, 0, False, False))):
                calls = []
                for _ in range(repeat):
                    started = time.perf_counter_ns()
                    _planner._plan(*request, aggressive, *extra)
                    calls.append(time.perf_counter_ns() - started)
                variants[variant].append(min(calls))
        times[strategy] = variants
    return {"requests": len(made), "times": times}


def print_conditions(repeat: int) -> None:
    print("| n | strategy | requests | plain median | conditions median | ratio | plain p99 | conditions p99 | ratio |")
    print("|---|---|---|---|---|---|---|---|---|")
    for n in CONDITION_SIZES:
        row = in_worker("conditions", n, repeat)
        for strategy, variants in row["times"].items():
            plain, conditioned = variants["plain"], variants["conditions"]
            median_plain, median_conditioned = statistics.median(plain), statistics.median(conditioned)
            p99_plain, p99_conditioned = percentile(plain, 0.99), percentile(conditioned, 0.99)
            print(f"| {n} | {strategy} | {row['requests']} | {microseconds(median_plain)} | "
                  f"{microseconds(median_conditioned)} | {median_conditioned / median_plain:.2f} | "
                  f"{microseconds(p99_plain)} | {microseconds(p99_conditioned)} | {p99_conditioned / p99_plain:.2f} |")


def throughput(thread_count: int, part: int = 0, parts: int = 1) -> dict:
    """Worker: its part of the calls on all 4-week windows, shared out among the threads;
    how many, and when they started and ended (time.monotonic, the same clock in every
    process)."""
    from kestrava_plan import cheapest_periods

    calls = [(request, aggressive) for request in requests(672) for aggressive in (True, False)][part::parts]
    shares = [calls[i::thread_count] for i in range(thread_count)]

    def work(share) -> None:
        for request, aggressive in share:
            cheapest_periods(*request, aggressive)

    threads = [threading.Thread(target=work, args=(share,)) for share in shares]
    started = time.monotonic()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return {"calls": len(calls), "started": started, "ended": time.monotonic()}


def milp_sample(n: int, windows_wanted: int) -> list[int]:
    """The indices of the requests (every load) of `windows_wanted` windows of row n,
    spread over the year."""
    count = len(requests(n)) // len(LOADS)
    return [window * len(LOADS) + load for window in range(0, count, max(1, count // windows_wanted))[:windows_wanted]
            for load in range(len(LOADS))]


def milp_one(n: int, index: int) -> dict:
    """Worker: HiGHS against the first stage of cheapest_periods on one request of row n."""
    sys.path.insert(0, str(REPOSITORY / "benchmarks"))
    import milp_peer

    from kestrava_plan import cheapest_periods

    prices, _, *rules = requests(n)[index]
    below_all = str(min(Decimal(price) for price in prices) - 1)
    started = time.perf_counter_ns()
    indices = cheapest_periods(prices, below_all, *rules, False)
    ours = time.perf_counter_ns() - started
    # Said first, so that a solve stopped at the budget still leaves the planner's time.
    print(json.dumps({"ours": ours}), flush=True)
    cost, _, seconds = milp_peer.solve_stage_one(prices, *rules)
    agree = sum((Fraction(prices[i]) for i in indices), Fraction(0)) == cost
    return {"ours": ours, "theirs": round(seconds * 1e9), "agree": agree}


def in_worker(kind: str, *arguments: int, budget: float | None = None) -> dict | float:
    command = [sys.executable, __file__, "--worker", kind, *map(str, arguments)]
    output = subprocess.run(command, check=True, capture_output=True, text=True, timeout=budget).stdout
    # The answer is the last line: HiGHS may print its banner first.
    return json.loads(output.splitlines()[-1])


def microseconds(nanoseconds: float) -> str:
    return f"{nanoseconds / 1000:,.1f}"


def percentile(values: list[int], fraction: float) -> float:
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, round(fraction * (len(ordered) - 1)))]


def print_rows(repeat: int) -> None:
    """A request's time is the best of its calls: the machine may be shared, and another
    process taking the core for a while says nothing about the planner. The slowest
    single call is shown too."""
    print("| n | strategy | requests | median | p99 | max | slowest call | peak RSS growth |")
    print("|---|---|---|---|---|---|---|---|")
    for n in SIZES:
        row = in_worker("row", n, repeat)
        growth = f"{(row['peak_after'] - row['peak_before']) / 1024:.1f} MiB (peak {row['peak_after'] / 1024:.0f} MiB)"
        for strategy, per_request in row["times"].items():
            best = [min(calls) for calls in per_request]
            slowest = max(max(calls) for calls in per_request)
            print(f"| {n} | {strategy} | {row['requests']} | {microseconds(statistics.median(best))} | "
                  f"{microseconds(percentile(best, 0.99))} | {microseconds(max(best))} | {microseconds(slowest)} | "
                  f"{growth} |")


def calls_per_second(parts: list[dict]) -> float:
    """From the first start to the last end: a part that ends early does not count as
    running on alone."""
    wall = max(part["ended"] for part in parts) - min(part["started"] for part in parts)
    return sum(part["calls"] for part in parts) / wall


def two_processes() -> float:
    """Calls per second of two worker processes that share the calls out: what the machine
    itself gives two cores' worth of this work, with no interpreter lock in common."""
    command = [sys.executable, __file__, "--worker", "threads", "1"]
    workers = [subprocess.Popen([*command, str(part), "2"], stdout=subprocess.PIPE, text=True) for part in (0, 1)]
    return calls_per_second([json.loads(worker.communicate()[0].splitlines()[-1]) for worker in workers])


def print_threads() -> None:
    one = calls_per_second([in_worker("threads", 1)])
    two = calls_per_second([in_worker("threads", 2)])
    processes = two_processes()
    print("| planning in | calls per second (672 periods, both strategies) | speed-up |")
    print("|---|---|---|")
    print(f"| 1 thread | {one:,.0f} | 1.00 |")
    print(f"| 2 threads of one process | {two:,.0f} | {two / one:.2f} |")
    print(f"| 2 processes (the machine's own scaling) | {processes:,.0f} | {processes / one:.2f} |")


def print_milp(budget: float) -> None:
    """A solve stopped at the budget counts as taking the budget: the ratio is then a lower bound."""
    print(f"| n | requests | HiGHS within {budget:.0f} s | cheapest_periods median | HiGHS median (solver only) | "
          "ratio | costs equal |")
    print("|---|---|---|---|---|---|---|")
    for n, windows_wanted in ((96, 10), (672, 2)):
        sample = milp_sample(n, windows_wanted)
        ours, theirs, agree, solved = [], [], 0, 0
        for index in sample:
            try:
                row = in_worker("milp", n, index, budget=budget)
            except subprocess.TimeoutExpired as stopped:
                output = stopped.stdout.decode() if isinstance(stopped.stdout, bytes) else stopped.stdout or ""
                ours.append(json.loads(next(line for line in output.splitlines() if line.startswith('{"ours"')))["ours"])
                theirs.append(budget * 1e9)
                continue
            ours.append(row["ours"])
            theirs.append(row["theirs"])
            agree += row["agree"]
            solved += 1
        bound = "" if solved == len(sample) else ">= "
        ratio = statistics.median(theirs) / statistics.median(ours)
        print(f"| {n} | {len(sample)} | {solved} | {microseconds(statistics.median(ours))} | "
              f"{bound}{microseconds(statistics.median(theirs))} | {bound}{ratio:,.0f}x | {agree}/{solved} |")


def machine() -> str:
    try:
        model = next(line.split(":", 1)[1].strip() for line in Path("/proc/cpuinfo").read_text().splitlines()
                     if line.startswith("model name"))
    except (OSError, StopIteration):
        model = platform.processor() or "unknown CPU"
    load = ", ".join(f"{value:.1f}" for value in os.getloadavg())
    return f"{model}, {os.cpu_count()} CPUs, CPython {platform.python_version()}; load average at the start {load}"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeat", type=int, default=3, help="times each call runs (default 3)")
    parser.add_argument("--skip-milp", action="store_true", help="leave out the HiGHS peer")
    parser.add_argument("--milp-budget", type=float, default=60.0,
                        help="seconds HiGHS may take on one request before it is stopped (default 60)")
    parser.add_argument("--conditions", action="store_true",
                        help="time _plan plain against _plan with a mask and a carried run (n = 96, 672)")
    parser.add_argument("--instructions", action="store_true",
                        help="count instructions per call at n = 96 and 3000 (valgrind)")
    parser.add_argument("--python", action="append", help="with --instructions: an interpreter to count under")
    parser.add_argument("--count", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--worker", nargs="+", help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.count is not None:
        counted_calls(arguments.count)
        return
    if arguments.instructions:
        print(f"cheapest_periods from Python, instructions per call; {machine()}.\n")
        print_instructions(arguments.python or [sys.executable])
        return
    if arguments.worker:
        kind, *numbers = arguments.worker
        work = {"row": time_row, "threads": throughput, "milp": milp_one, "conditions": time_conditions}[kind]
        print(json.dumps(work(*map(int, numbers))))
        return
    if arguments.conditions:
        print(f"kestrava_plan._planner._plan from Python, plain and under conditions; {machine()}. "
              "Times per call in microseconds (best of --repeat).\n")
        print_conditions(arguments.repeat)
        return
    print(f"kestrava_plan.cheapest_periods from Python; {machine()}. Times per call in microseconds.\n")
    print_rows(arguments.repeat)
    print()
    print_threads()
    if not arguments.skip_milp:
        print()
        print_milp(arguments.milp_budget)


if __name__ == "__main__":
    main()
