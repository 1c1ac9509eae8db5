"""Times kestrava.get_cheapest_periods from Python and prints, per suite and
strategy, the median, 99th percentile and largest time per call.

Suites:
  realistic  every day of the real day-ahead prices of 2024 (24 hourly prices a day,
             the bundled data/day-ahead-2024, or --data) with a
             few typical rule sets per day drawn from a small grid
  hard       26 to 28 prices in alternating cheap and dear runs, 10 to 14 selections,
             loose gaps
  converted  the realistic days converted three ways, rules from the same grid:
             divided by an exchange rate (1.0856) and with VAT divided out (1.19),
             both as the extension's decimal type divides, and as the full binary
             value of the nearest float (20 to 28 decimals and more: sums round)

Each call runs in a worker process. A call holds the interpreter lock and cannot
be interrupted, so a call that outlasts the time budget is ended by killing its
worker, counted as "over budget", and the next request goes to a fresh worker.

Prices are handled as the texts they are; only the converted suite's third way turns
a price into a float, on purpose, as a caller's float would.
"""

from __future__ import annotations

import argparse
import csv
import json
import math
import os
import platform
import random
import select
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parent.parent
DEFAULT_DATA = REPOSITORY / "data" / "day-ahead-2024"

STRATEGIES = {"aggressive": True, "conservative": False}
SUITES = ("realistic", "hard", "converted")

# The grid of typical rules for a real day: run 3 to 8 hours, in blocks of 1 to 3,
# never more than 4 to 12 hours off, and a first start within that gap.
REALISTIC_MIN_SELECTIONS = range(3, 9)
REALISTIC_MIN_CONSECUTIVE = range(1, 4)
REALISTIC_MAX_GAPS = range(4, 13)
REALISTIC_THRESHOLD_PERCENTILES = (10, 15, 20, 25)

# A call shorter than this is repeated and its median kept, to steady the figure.
REPEAT_BELOW_NS = 1_000_000
# Time allowed, beyond the budget, for the pipe and a worker's start.
GRACE_SECONDS = 1.0


@dataclass(frozen=True)
class Request:
    prices: list[str]
    low_price_threshold: str
    min_selections: int
    min_consecutive_periods: int
    max_gap_between_periods: int
    max_gap_from_start: int

    def arguments(self, aggressive: bool) -> list:
        return [
            self.prices,
            self.low_price_threshold,
            self.min_selections,
            self.min_consecutive_periods,
            self.max_gap_between_periods,
            self.max_gap_from_start,
            aggressive,
        ]


def read_days(data: Path) -> list[tuple[str, list[str]]]:
    """(zone and date, the day's 24 price texts) for every whole day of every CSV."""
    days: list[tuple[str, list[str]]] = []
    files = sorted(path for path in data.glob("*.csv") if not path.stem.endswith("-sample"))  # samples repeat days
    if not files:
        raise SystemExit(f"no CSV files in {data} (use --data to point elsewhere)")
    for path in files:
        by_date: dict[str, list[str]] = {}
        with path.open(newline="") as stream:
            for row in csv.DictReader(stream):
                by_date.setdefault(row["Datetime"][:10], []).append(row["Price (EUR/MWh)"])
        for date, prices in sorted(by_date.items()):
            if len(prices) == 24:
                days.append((f"{path.stem} {date}", prices))
    return days


def low_percentile(prices: list[str], percentile: int) -> str:
    """The price text at the given percentile of the day, by exact decimal order."""
    from decimal import Decimal

    ordered = sorted(prices, key=Decimal)
    return ordered[(len(ordered) - 1) * percentile // 100]


def day_request(prices: list[str], rng: random.Random) -> Request:
    """A request over one day's prices with rules drawn from the realistic grid."""
    min_selections = rng.choice(REALISTIC_MIN_SELECTIONS)
    max_gap = rng.choice(REALISTIC_MAX_GAPS)
    return Request(
        prices,
        low_percentile(prices, rng.choice(REALISTIC_THRESHOLD_PERCENTILES)),
        min_selections,
        rng.choice([m for m in REALISTIC_MIN_CONSECUTIVE if m <= min_selections]),
        max_gap,
        rng.randint(0, max_gap),
    )


def realistic_requests(data: Path, rules_per_day: int, seed: int) -> list[Request]:
    rng = random.Random(seed)
    return [day_request(prices, rng) for _, prices in read_days(data) for _ in range(rules_per_day)]


# The decimal type's coefficient limit and its finest scale.
MAX_COEFFICIENT = 2**96 - 1
MAX_SCALE = 28


def divided_text(price: str, divisor: str) -> str:
    """price / divisor as the extension's decimal type divides (the C++ benchmark's
    converted suite uses that division): the quotient at the largest scale up to 28
    whose coefficient fits in 96 bits, rounded half to even once, every scale digit
    written. Python's default context (28 significant digits) would give other texts."""
    from decimal import Decimal

    def parts(text: str) -> tuple[bool, int, int]:
        sign, digits, exponent = Decimal(text).as_tuple()
        coefficient = int("".join(map(str, digits)))
        assert isinstance(exponent, int)
        return bool(sign), coefficient * 10 ** max(exponent, 0), max(-exponent, 0)

    negative_a, a, scale_a = parts(price)
    negative_b, b, scale_b = parts(divisor)
    if a == 0:
        return "0"
    for scale in range(MAX_SCALE, -1, -1):
        quotient, remainder = divmod(a * 10 ** (scale + scale_b), b * 10**scale_a)
        if 2 * remainder > b * 10**scale_a or (2 * remainder == b * 10**scale_a and quotient % 2 == 1):
            quotient += 1
        if quotient <= MAX_COEFFICIENT:
            break
    else:
        raise ValueError(f"{price} / {divisor} does not fit")
    digits = tuple(int(digit) for digit in str(quotient))
    return format(Decimal((int(negative_a != negative_b and quotient != 0), digits, -scale)), "f")


def binary_value_text(price: str) -> str:
    """The full binary value of the float nearest to the price, as exact decimal text."""
    from decimal import Decimal

    return format(Decimal(float(price)), "f")


def converted_requests(data: Path, rules_per_day: int, seed: int) -> list[Request]:
    rng = random.Random(seed)
    requests = []
    for _, prices in read_days(data):
        conversions = (
            [divided_text(price, "1.0856") for price in prices],
            [divided_text(price, "1.19") for price in prices],
            [binary_value_text(price) for price in prices],
        )
        for _ in range(rules_per_day):
            requests.extend(day_request(converted, rng) for converted in conversions)
    return requests


def hard_requests(count: int, seed: int) -> list[Request]:
    """Alternating runs of cheap (0 to 20) and dear (60 to 150) prices, the threshold
    between them, so that every main combination leaves many cheap blocks to try."""
    rng = random.Random(seed)
    requests = []
    for _ in range(count):
        n = rng.randint(26, 28)
        prices: list[str] = []
        cheap = rng.random() < 0.5
        while len(prices) < n:
            low, high = (0, 2000) if cheap else (6000, 15000)
            for cents in (rng.randint(low, high) for _ in range(rng.randint(1, 3))):
                prices.append(f"{cents // 100}.{cents % 100:02d}")
            cheap = not cheap
        prices = prices[:n]
        max_gap = rng.randint(6, 12)
        requests.append(Request(prices, "25", rng.randint(10, 14), rng.randint(1, 3), max_gap, rng.randint(0, max_gap)))
    return requests


# ---------------------------------------------------------------------------
# The worker: one call per line of standard input, one answer per line.


def run_worker() -> None:
    import kestrava

    call = kestrava.get_cheapest_periods
    call(["1", "2", "3"], "1", 1, 1, 2, 2)  # first-call costs stay out of the figures
    for line in sys.stdin:
        arguments, repeat = json.loads(line)
        try:
            start = time.perf_counter_ns()
            call(*arguments)
            elapsed = time.perf_counter_ns() - start
            if elapsed < REPEAT_BELOW_NS and repeat > 1:
                samples = [elapsed]
                for _ in range(repeat - 1):
                    start = time.perf_counter_ns()
                    call(*arguments)
                    samples.append(time.perf_counter_ns() - start)
                elapsed = sorted(samples)[len(samples) // 2]
            answer: dict[str, object] = {"ns": elapsed}
        except Exception as error:  # noqa: BLE001 - reported, never hidden
            answer = {"error": f"{type(error).__name__}: {error}"}
        sys.stdout.write(json.dumps(answer) + "\n")
        sys.stdout.flush()


class Worker:
    """A worker process that can be killed and replaced when a call overruns."""

    def __init__(self) -> None:
        self.process: subprocess.Popen[bytes] | None = None
        self.pending = b""

    def start(self) -> None:
        self.process = subprocess.Popen(
            [sys.executable, str(Path(__file__).resolve()), "--worker"],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            bufsize=0,
        )
        self.pending = b""

    def stop(self) -> None:
        if self.process is not None:
            self.process.kill()
            self.process.wait()
            self.process = None

    def call(self, arguments: list, repeat: int, timeout: float) -> dict | None:
        """The worker's answer, or None when none came within `timeout` seconds (the
        worker is then killed)."""
        if self.process is None:
            self.start()
        assert self.process is not None and self.process.stdin is not None and self.process.stdout is not None
        self.process.stdin.write((json.dumps([arguments, repeat]) + "\n").encode())
        deadline = time.monotonic() + timeout
        descriptor = self.process.stdout.fileno()
        while b"\n" not in self.pending:
            remaining = deadline - time.monotonic()
            ready, _, _ = select.select([descriptor], [], [], max(remaining, 0))
            if not ready:
                self.stop()
                return None
            chunk = os.read(descriptor, 65536)
            if not chunk:
                self.stop()
                return {"error": "the worker ended unexpectedly"}
            self.pending += chunk
        line, _, self.pending = self.pending.partition(b"\n")
        return json.loads(line)


# ---------------------------------------------------------------------------
# Measuring and reporting.


@dataclass
class Outcome:
    suite: str
    strategy: str
    times_ns: list[int] = field(default_factory=list)
    over_budget: int = 0
    errors: list[str] = field(default_factory=list)

    @property
    def requests(self) -> int:
        return len(self.times_ns) + self.over_budget + len(self.errors)


def measure(suite: str, strategy: str, requests: list[Request], budget: float, repeat: int,
            worker: Worker, progress: bool) -> Outcome:
    outcome = Outcome(suite, strategy)
    budget_ns = int(budget * 1e9)
    for number, request in enumerate(requests, 1):
        answer = worker.call(request.arguments(STRATEGIES[strategy]), repeat, budget + GRACE_SECONDS)
        if answer is None or ("ns" in answer and answer["ns"] > budget_ns):
            outcome.over_budget += 1
        elif "ns" in answer:
            outcome.times_ns.append(answer["ns"])
        else:
            outcome.errors.append(answer["error"])
        if progress:
            print(f"\r  {suite} {strategy}: {number}/{len(requests)}", end="", file=sys.stderr, flush=True)
    if progress:
        print(file=sys.stderr)
    return outcome


def rank(outcome: Outcome, fraction: float) -> str:
    """The value at the given rank (nearest-rank) of all finished and unfinished calls,
    an unfinished call ranking above every finished one."""
    total = len(outcome.times_ns) + outcome.over_budget
    if total == 0:
        return "-"
    position = max(1, math.ceil(fraction * total))
    ordered = sorted(outcome.times_ns)
    if position > len(ordered):
        return "over budget"
    return f"{ordered[position - 1] / 1000:.1f}"


def print_table(outcomes: list[Outcome], budget: float) -> None:
    header = ("suite", "strategy", "requests", "median µs", "p90 µs", "p99 µs", "max µs", f"over budget ({budget:g} s)")
    rows = [header]
    for outcome in outcomes:
        rows.append(
            (
                outcome.suite,
                outcome.strategy,
                str(outcome.requests),
                rank(outcome, 0.5),
                rank(outcome, 0.9),
                rank(outcome, 0.99),
                rank(outcome, 1.0),
                str(outcome.over_budget),
            )
        )
    widths = [max(len(row[column]) for row in rows) for column in range(len(header))]
    for row in rows:
        print("  ".join(cell.ljust(width) if column < 2 else cell.rjust(width)
                        for column, (cell, width) in enumerate(zip(row, widths))))
    for outcome in outcomes:
        for error in outcome.errors[:3]:
            print(f"error in {outcome.suite}/{outcome.strategy}: {error}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--data", type=Path, default=DEFAULT_DATA, help="folder of the day-ahead CSV files")
    parser.add_argument("--suite", choices=SUITES, action="append", help="run only this suite (repeatable)")
    parser.add_argument("--strategy", choices=tuple(STRATEGIES), action="append",
                        help="run only this strategy (repeatable)")
    parser.add_argument("--limit", type=int, help="time at most this many requests per suite and strategy, "
                        "a seeded sample of the suite")
    parser.add_argument("--seed", type=int, default=2024, help="seed of the rules, the hard prices and the sample")
    parser.add_argument("--budget", type=float, default=2.0, help="seconds a call may take before it counts as "
                        "over budget and its worker is killed (default 2)")
    parser.add_argument("--converted-limit", type=int, default=200,
                        help="converted suite: requests timed when --limit is not given, a seeded sample "
                        "(default 200)")
    parser.add_argument("--rules-per-day", type=int, default=2, help="rule sets per real day (default 2)")
    parser.add_argument("--hard-requests", type=int, default=40, help="requests in the hard suite (default 40)")
    parser.add_argument("--repeat", type=int, default=5,
                        help="calls per request when one takes under 1 ms; the median is kept (default 5)")
    parser.add_argument("--quiet", action="store_true", help="no progress on standard error")
    parser.add_argument("--json", action="store_true",
                        help="print one JSON object of the times per suite and strategy instead of the table")
    options = parser.parse_args()
    if options.worker:
        run_worker()
        return

    suites = options.suite or list(SUITES)
    strategies = options.strategy or list(STRATEGIES)
    requests = {
        "realistic": lambda: realistic_requests(options.data, options.rules_per_day, options.seed),
        "hard": lambda: hard_requests(options.hard_requests, options.seed),
        "converted": lambda: converted_requests(options.data, options.rules_per_day, options.seed),
    }
    import kestrava

    if not options.json:
        print(f"kestrava from {kestrava.__file__}")
        print(f"Python {platform.python_version()} on {platform.machine()}, {os.cpu_count()} CPUs; "
          f"budget {options.budget:g} s per call; seed {options.seed}; limit {options.limit or 'none'} "
              f"(converted: {options.limit or options.converted_limit})")
    worker = Worker()
    outcomes = []
    try:
        for suite in suites:
            suite_requests = requests[suite]()
            limit = options.limit if options.limit is not None or suite != "converted" else options.converted_limit
            if limit is not None and limit < len(suite_requests):
                suite_requests = random.Random(options.seed).sample(suite_requests, limit)
            for strategy in strategies:
                outcomes.append(measure(suite, strategy, suite_requests, options.budget, options.repeat, worker,
                                        not options.quiet))
    finally:
        worker.stop()
    if options.json:
        print(json.dumps({f"{o.suite} {o.strategy}": {"times_ns": o.times_ns, "over_budget": o.over_budget,
                                                        "errors": o.errors} for o in outcomes}))
    else:
        print_table(outcomes, options.budget)


if __name__ == "__main__":
    main()
