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
strategies, each call `--repeat` times; median, p99 and max are over all calls.

Memory: each row runs in a worker process of its own, which reads its peak resident
set size (getrusage's ru_maxrss) before its first call and after its last; the growth
is the most memory the calls ever added (the planner's workspace, which C++ allocates
and tracemalloc cannot see, and the Python objects of the call).

Also: the total throughput of one thread against two threads planning 4-week hourly
windows, and the MILP peer (benchmarks/milp_peer.py, HiGHS) against the conservative
first stage of cheapest_periods at n = 96 and 672 (threshold below every price, so the
answer is the first stage alone), with the ratio and a check that the costs agree.

    python benchmarks/bench_plan.py [--repeat N] [--skip-milp]
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


def peak_kib() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss  # KiB on Linux


def time_row(n: int, repeat: int) -> dict:
    """Worker: the times of every call of row n, in nanoseconds, and the memory growth."""
    from kestrava_plan import cheapest_periods

    made = requests(n)
    cheapest_periods(*made[0])  # loads and warms the module
    before = peak_kib()
    times: dict[str, list[int]] = {"aggressive": [], "conservative": []}
    for request in made:
        for strategy, aggressive in (("aggressive", True), ("conservative", False)):
            for _ in range(repeat):
                started = time.perf_counter_ns()
                cheapest_periods(*request, aggressive)
                times[strategy].append(time.perf_counter_ns() - started)
    return {"requests": len(made), "times": times, "peak_before": before, "peak_after": peak_kib()}


def throughput(thread_count: int) -> float:
    """Worker: calls per second over all 4-week windows, shared out among the threads."""
    from kestrava_plan import cheapest_periods

    calls = [(request, aggressive) for request in requests(672) for aggressive in (True, False)]
    shares = [calls[i::thread_count] for i in range(thread_count)]

    def work(share) -> None:
        for request, aggressive in share:
            cheapest_periods(*request, aggressive)

    threads = [threading.Thread(target=work, args=(share,)) for share in shares]
    started = time.perf_counter()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return len(calls) / (time.perf_counter() - started)


def milp_row(n: int, sample: int) -> dict:
    """Worker: HiGHS against the first stage of cheapest_periods on a sample of windows."""
    sys.path.insert(0, str(REPOSITORY / "benchmarks"))
    import milp_peer

    from kestrava_plan import cheapest_periods

    made = requests(n)
    chosen = made[:: max(1, len(made) // sample)][:sample]
    ours, theirs, agree = [], [], 0
    for prices, _, *rules in chosen:
        below_all = str(min(Decimal(price) for price in prices) - 1)
        started = time.perf_counter_ns()
        indices = cheapest_periods(prices, below_all, *rules, False)
        ours.append(time.perf_counter_ns() - started)
        cost, _, seconds = milp_peer.solve_stage_one(prices, *rules)
        theirs.append(round(seconds * 1e9))
        agree += sum((Fraction(prices[i]) for i in indices), Fraction(0)) == cost
    return {"requests": len(chosen), "ours": ours, "theirs": theirs, "agree": agree}


def in_worker(kind: str, *arguments: int) -> dict | float:
    command = [sys.executable, __file__, "--worker", kind, *map(str, arguments)]
    output = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    # The answer is the last line: HiGHS may print its banner first.
    return json.loads(output.splitlines()[-1])


def microseconds(nanoseconds: float) -> str:
    return f"{nanoseconds / 1000:,.1f}"


def percentile(values: list[int], fraction: float) -> float:
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, round(fraction * (len(ordered) - 1)))]


def print_rows(repeat: int) -> None:
    print("| n | strategy | requests | calls | median | p99 | max | peak RSS growth |")
    print("|---|---|---|---|---|---|---|---|")
    for n in SIZES:
        row = in_worker("row", n, repeat)
        growth = f"{(row['peak_after'] - row['peak_before']) / 1024:.1f} MiB (peak {row['peak_after'] / 1024:.0f} MiB)"
        for strategy, times in row["times"].items():
            print(f"| {n} | {strategy} | {row['requests']} | {len(times)} | {microseconds(statistics.median(times))} | "
                  f"{microseconds(percentile(times, 0.99))} | {microseconds(max(times))} | {growth} |")


def print_threads() -> None:
    one, two = in_worker("threads", 1), in_worker("threads", 2)
    print("| threads | calls per second (672 periods, both strategies) | speed-up |")
    print("|---|---|---|")
    print(f"| 1 | {one:,.0f} | 1.00 |")
    print(f"| 2 | {two:,.0f} | {two / one:.2f} |")


def print_milp() -> None:
    print("| n | requests | cheapest_periods median | HiGHS median (solver only) | ratio | costs equal |")
    print("|---|---|---|---|---|---|")
    for n, sample in ((96, 30), (672, 10)):
        row = in_worker("milp", n, sample)
        ours, theirs = statistics.median(row["ours"]), statistics.median(row["theirs"])
        print(f"| {n} | {row['requests']} | {microseconds(ours)} | {microseconds(theirs)} | {theirs / ours:,.0f}x | "
              f"{row['agree']}/{row['requests']} |")


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
    parser.add_argument("--worker", nargs="+", help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.worker:
        kind, *numbers = arguments.worker
        work = {"row": time_row, "threads": throughput, "milp": milp_row}[kind]
        print(json.dumps(work(*map(int, numbers))))
        return
    print(f"kestrava_plan.cheapest_periods from Python; {machine()}. Times per call in microseconds.\n")
    print_rows(arguments.repeat)
    print()
    print_threads()
    if not arguments.skip_milp:
        print()
        print_milp()


if __name__ == "__main__":
    main()
