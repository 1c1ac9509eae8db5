"""The fleet benchmark: plans per second of `kestrava_plan.plan_table` on an Arrow table
of real requests, against the loop a user writes today, on one thread and on every core.

Rows: every day of the DE-LU and NL 2024 files (n = 24) and every 96-period window
(hourly 4-day windows and the quarter-hour days, n = 96), each with the rules of a heat
pump, an EV charger and a boiler (benchmarks/bench_plan.py), both strategies: the rules
and the strategy are columns of the table. In one run it prints, per n:

- plan_table on 1 thread, and on every core, with the speed-up;
- the same rows planned by as many separate processes as there are cores, each with
  plan_table on 1 thread over its share, all started together on every pass: what the
  machine itself gives that many cores' worth of this work; threads should reach at
  least 90% of it;
- the loop over `cheapest_periods`, `to_pylist` included, and the planner alone per row
  in C++ (build/bench/benchmarks/kestrava_rows_bench: the text entry that plan_table's
  rows take, parsing and the memory from row to row included, with no Python, a fresh
  process each round), both timed in the same rounds as plan_table on 1 thread. The
  loop's rate over the planner's alone is the most any table entry on one core can reach
  over the loop, so that the gap to the limit shows;
- the HiGHS flow model (benchmarks/milp_peer.py) per plan, on a sample, as the peer.

Then the memory of a stream: the growth of the peak resident set while plan_table
reads a stream of 20 and of 200 batches, which stays that of one batch.

With --instructions it prints instead what a 24-period row costs in instructions under
valgrind's callgrind, which the machine's load does not move: in the loop, in plan_table
on 1 thread with both strategies in turn, and with one strategy alone. Callgrind counts
only inside two passes over the rows, after a first pass that imports and allocates
what it keeps (its collection is switched by a small library built from valgrind's
callgrind.h), so that nothing else the process does moves the figure.

Each figure is the best of --repeat passes, every figure of a row timed in the same
rounds (the machine is shared). The threads' share of the processes' rate is given
twice: from the two bests, and as the median over the rounds of the ratio within a
round, which a lucky pass of either moves less. Run it with
`benchmarks/run.sh fleet`.
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import time
from collections.abc import Callable, Iterator
from pathlib import Path

import pyarrow as pa

import bench_plan
import callgrind_count
from kestrava_plan import cheapest_periods, column, plan_table

HERE = Path(__file__).resolve().parent
ROWS_BENCH = HERE.parent / "build" / "bench" / "benchmarks" / "kestrava_rows_bench"
RULES = ("threshold", "min_selections", "min_consecutive_periods", "max_gap_between_periods", "max_gap_from_start",
         "aggressive")
BATCH_ROWS = 1024


def rows(n: int) -> list[tuple]:
    """(prices, threshold, the four counts, aggressive) of every request of size n."""
    return [(*request, aggressive) for request in bench_plan.requests(n) for aggressive in (True, False)]


def table_of(requests: list[tuple]) -> pa.Table:
    columns = list(zip(*requests))
    data = {"id": list(range(len(requests))), "prices": pa.array(columns[0], pa.list_(pa.string()))}
    data |= {name: list(values) for name, values in zip(RULES, columns[1:])}
    return pa.table(data).combine_chunks()


def batched(table: pa.Table) -> pa.Table:
    return pa.Table.from_batches(table.to_batches(max_chunksize=BATCH_ROWS))


def plan_all(table: pa.Table, threads: int | None) -> pa.Table:
    return plan_table(table, low_price_threshold=column("threshold"), min_selections=column("min_selections"),
                      min_consecutive_periods=column("min_consecutive_periods"),
                      max_gap_between_periods=column("max_gap_between_periods"),
                      max_gap_from_start=column("max_gap_from_start"), aggressive=column("aggressive"),
                      threads=threads)


def python_loop(table: pa.Table) -> int:
    """What a user writes today: the columns as Python lists, one call per row."""
    planned = 0
    for prices, *rules in zip(*(table.column(name).to_pylist() for name in ("prices", *RULES))):
        planned += len(cheapest_periods(prices, *rules))
    return planned


def timed(work) -> Callable[[], float]:
    """`work` as a pass that gives its own seconds."""
    def run() -> float:
        started = time.perf_counter()
        work()
        return time.perf_counter() - started
    return run


def round_seconds(passes: list[Callable[[], float]], repeat: int) -> list[list[float]]:
    """Each pass's seconds in every round, the passes taking turns within a round, so
    that a change in the machine's load between rounds weighs on all of them alike."""
    seconds: list[list[float]] = [[] for _ in passes]
    for _ in range(repeat):
        for times, run in zip(seconds, passes):
            times.append(run())
    return seconds


def worker(n: int, part: int, parts: int) -> None:
    """A process's share of the rows, planned on 1 thread once per "go" on standard
    input. Each pass reports when it started and ended on time.monotonic, one clock
    for every process."""
    every_row = rows(n)
    share = slice(part * len(every_row) // parts, (part + 1) * len(every_row) // parts)
    # A contiguous share keeps a request's two strategies together, as the threads'
    # takes of a few rows do.
    table = batched(table_of(every_row[share]))
    plan_all(table, 1)  # warm: the planner's workspace and the first batch
    print(json.dumps({"rows": table.num_rows}), flush=True)
    for _ in sys.stdin:
        started = time.monotonic()
        plan_all(table, 1)
        print(json.dumps({"started": started, "ended": time.monotonic()}), flush=True)


class ProcessTeam:
    """`parts` processes, each holding a share of the rows, that plan their shares at
    the same time on every pass."""

    def __init__(self, n: int, parts: int) -> None:
        command = [sys.executable, __file__, "--worker", str(n), "--parts", str(parts)]
        self.workers = [subprocess.Popen([*command, "--part", str(part)], stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, text=True) for part in range(parts)]
        self.rows = sum(json.loads(process.stdout.readline())["rows"] for process in self.workers)

    def pass_seconds(self) -> float:
        """From the first share's start to the last share's end."""
        for process in self.workers:
            process.stdin.write("go\n")
            process.stdin.flush()
        spans = [json.loads(process.stdout.readline()) for process in self.workers]
        return max(span["ended"] for span in spans) - min(span["started"] for span in spans)

    def close(self) -> None:
        for process in self.workers:
            process.stdin.close()
            process.wait()


def planner_alone(requests: list[tuple]) -> Callable[[], float] | None:
    """A pass of the C++ text entry alone over the requests, giving its seconds (the
    best of two rounds in a fresh process), or None without the build."""
    if not ROWS_BENCH.exists():
        return None
    lines = "".join("\t".join([str(int(aggressive)), threshold, *map(str, counts), *prices]) + "\n"
                    for prices, threshold, *counts, aggressive in requests)

    def run() -> float:
        output = subprocess.run([str(ROWS_BENCH), "--rounds", "2"], input=lines, capture_output=True, text=True,
                                check=True).stdout
        return float(output.split()[0]) * len(requests) / 1e9
    return run


def highs_per_plan(n: int, sample: int, budget: float) -> float:
    """Median seconds of the HiGHS flow model per plan, over `sample` windows."""
    times = []
    for index in bench_plan.milp_sample(n, sample):
        try:
            times.append(bench_plan.in_worker("milp", n, index, budget=budget)["theirs"] / 1e9)
        except subprocess.TimeoutExpired:
            times.append(budget)
    return statistics.median(times)


def fleet_row(n: int, repeat: int, budget: float) -> list[str]:
    requests = rows(n)
    table = batched(table_of(requests))
    plan_all(table, 1)
    cores = os.cpu_count() or 1
    team = ProcessTeam(n, cores)
    try:
        # Every figure is timed in the same rounds: the ratios are the goals.
        passes = [timed(lambda: plan_all(table, 1)), timed(lambda: python_loop(table)),
                  timed(lambda: plan_all(table, None)), team.pass_seconds]
        alone_pass = planner_alone(requests)
        rounds = round_seconds(passes + ([alone_pass] if alone_pass else []), repeat)
    finally:
        team.close()
    one, loop, every = (table.num_rows / min(times) for times in rounds[:3])
    processes = team.rows / min(rounds[3])
    # The threads against the processes of the same round, the median over the rounds:
    # steadier than the ratio of two bests on a shared machine.
    paired = statistics.median((table.num_rows / threads) / (team.rows / processes)
                               for threads, processes in zip(rounds[2], rounds[3]))
    alone = min(rounds[4]) / len(requests) * 1e9 if alone_pass else None
    highs = highs_per_plan(n, 3, budget)
    return [str(n), f"{table.num_rows:,}", f"{one:,.0f}", f"{1e6 / one:.1f}",
            "-" if alone is None else f"{alone / 1e3:.1f}", f"{loop:,.0f}", f"{one / loop:.1f}x",
            "-" if alone is None else f"{1e9 / alone / loop:.1f}x",
            f"{every:,.0f}", f"{every / one:.2f}", f"{processes / one:.2f}", f"{every / processes:.0%}",
            f"{paired:.0%}",
            f"{1 / highs:,.1f}"]


def stream(batches: int, n: int) -> Iterator[pa.RecordBatch]:
    base = table_of(rows(n))
    for number in range(batches):
        yield base.slice((number * BATCH_ROWS) % (base.num_rows - BATCH_ROWS), BATCH_ROWS).to_batches()[0]


def stream_growth_mib(batches: int) -> float:
    """Peak resident set growth while a stream of `batches` batches is planned and read."""
    schema = table_of(rows(24)[:1]).schema
    reader = pa.RecordBatchReader.from_batches(schema, stream(batches, 24))
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    for _ in plan_all(reader, None):
        pass
    return (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) / 1024


INSTRUCTION_KINDS = {
    "Python loop, both strategies": ("loop", None),
    "plan_table, both strategies in turn": ("table", None),
    "plan_table, lowest average alone": ("table", True),
    "plan_table, cheapest main alone": ("table", False),
}


def counted_passes(kind: str, passes: int) -> None:
    """Run under callgrind with collection off: plans the n = 24 rows of `kind` once,
    then `passes` times with collection on."""
    how, aggressive = INSTRUCTION_KINDS[kind]
    requests = [request for request in rows(24) if aggressive is None or request[-1] == aggressive]
    table = batched(table_of(requests))
    plan = (lambda: python_loop(table)) if how == "loop" else (lambda: plan_all(table, 1))
    plan()

    def passes_made() -> int:
        for _ in range(passes):
            plan()
        return table.num_rows * passes

    callgrind_count.count_calls(passes_made)


def print_instructions() -> None:
    with callgrind_count.switch_library() as switch:
        print("| 24-period rows | instructions per row |")
        print("|---|---|")
        for kind in INSTRUCTION_KINDS:
            per_row = callgrind_count.instructions_per_call([__file__, "--count", kind, "--passes", "2"], switch)
            print(f"| {kind} | {per_row:,.0f} |", flush=True)


def print_fleet(repeat: int, budget: float) -> None:
    cores = os.cpu_count() or 1
    print(f"| n | rows | plan_table, 1 thread (rows/s) | µs per row | planner alone (µs per row) | "
          f"Python loop (rows/s) | 1 thread / loop | planner alone / loop | plan_table, {cores} threads (rows/s) | "
          f"thread speed-up | {cores} processes' speed-up | threads / processes | the same, paired by round | "
          f"HiGHS (plans/s) |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for n in (24, 96):
        print("| " + " | ".join(fleet_row(n, repeat, budget)) + " |", flush=True)


def print_memory() -> None:
    for batches in (20, 200):
        growth = run_isolated(["--memory", str(batches)])
        print(f"stream of {batches} batches of {BATCH_ROWS} rows (n = 24): peak RSS growth {growth:.1f} MiB")


def run_isolated(arguments: list[str]) -> float:
    """A figure from a fresh process, so that each starts from the same peak."""
    output = subprocess.run([sys.executable, __file__, *arguments], capture_output=True, text=True, check=True)
    return float(output.stdout.splitlines()[-1])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeat", type=int, default=20, help="passes per figure, the best kept (default 20)")
    parser.add_argument("--milp-budget", type=float, default=60.0, help="seconds HiGHS may take per plan")
    parser.add_argument("--instructions", action="store_true", help="count instructions per row (valgrind)")
    parser.add_argument("--count", choices=INSTRUCTION_KINDS, help=argparse.SUPPRESS)
    parser.add_argument("--passes", type=int, default=1, help=argparse.SUPPRESS)
    parser.add_argument("--worker", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--part", type=int, default=0, help=argparse.SUPPRESS)
    parser.add_argument("--parts", type=int, default=1, help=argparse.SUPPRESS)
    parser.add_argument("--memory", type=int, help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.worker is not None:
        worker(options.worker, options.part, options.parts)
        return
    if options.memory is not None:
        print(stream_growth_mib(options.memory))
        return
    if options.count is not None:
        counted_passes(options.count, options.passes)
        return
    if options.instructions:
        print_instructions()
        return
    print(bench_plan.machine())
    print_fleet(options.repeat, options.milp_budget)
    print_memory()


if __name__ == "__main__":
    main()
