"""Eight Python threads calling at once, with valid and invalid requests mixed and the
interpreter lock handed over as often as it can be, get exactly the outcomes of serial
calls; every internal failure is reported once, by the thread that met it; and a thread
with the smallest stack Python allows gets the same answers."""

import json
import os
import random
import re
import subprocess
import sys
import threading
import time

import pytest

from kestrava import get_cheapest_periods

THREADS = 8
PASSES = 100  # each thread runs the whole request list this many times, in its own order
LARGEST_DECIMAL_TEXT = str(2**96 - 1)
# Each report is one write of its own; it may follow a part of a traceback line that
# another thread's buffered standard error let out, so it is not looked for at a line start.
REPORT = re.compile(r"kestrava: internal failure in thread (\d+) at \S+: ([^\n]*)\n")


class YieldingIndex:
    """__index__ gives the interpreter lock away (sleep) while the call is inside the module."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        time.sleep(0)
        return self.value


class ReentrantIndex:
    """__index__ makes a whole call of its own before answering."""

    def __index__(self):
        inner = get_cheapest_periods(["3", "1", "2"], "0", 1, 1, 2, 2)
        return len(inner) + 1


class RaisingIndex:
    def __init__(self, make):
        self.make = make

    def __index__(self):
        time.sleep(0)
        raise self.make()


def numpy_like_flag(truth):
    return type("bool_", (), {"__module__": "numpy", "__bool__": truth})()


def requests(panic_exception_type):
    prices = ["5", "1", "9", "1", "8", "1", "7", "2"]
    return [
        ((prices, "2", 2, 1, 3, 3), {}),
        ((prices, "2", 2, 1, 3, 3, False), {}),
        ((prices, "2", YieldingIndex(3), YieldingIndex(2), 4, 2), {}),
        ((prices, "2", ReentrantIndex(), 1, 4, 4), {"aggressive": False}),
        ((prices, "0"), {"min_selections": 3, "min_consecutive_periods": 3, "max_gap_between_periods": 2}),
        ((prices, "9", 1, 1), {}),
        ((prices, "2", 8, 1), {}),
        ((prices, "2", 2, 1, 3, 3, numpy_like_flag(lambda self: False)), {}),
        (([], "1", 1, 1), {}),
        ((prices * 4, "1", 1, 1), {}),
        ((prices, "2", 0, 1), {}),
        ((prices, "2", 2, 3), {}),
        ((prices, "2", 2, 1, 1, 2), {}),
        ((["1", "x"], "1", 1, 1), {}),
        ((["1", 2.5], "1", 1, 1), {}),
        ((["1", "2\udc80"], "1", 1, 1), {}),
        ((("1", "2"), "1", 1, 1), {}),
        ((prices, "2", -1, 1), {}),
        ((prices, "2", YieldingIndex(-1), 1), {}),
        ((prices, "2", RaisingIndex(lambda: TypeError("no integer")), 1), {}),
        ((prices, "2", RaisingIndex(lambda: KeyError("key")), 1), {}),
        ((prices, "2", 1, 1, 0, 0, 1), {}),
        ((prices,), {"foo": 1}),
        ((prices, "2", 1, 1), {"prices": prices}),
        (([LARGEST_DECIMAL_TEXT] * 2, "0", 1, 1, 1, 1), {}),
        (([LARGEST_DECIMAL_TEXT] * 2, "0", 1, 1, 1, 1, False), {}),
        ((prices, "2", RaisingIndex(lambda: panic_exception_type("from a thread")), 1), {}),
    ]


def outcome(args, kwargs):
    try:
        return "result", get_cheapest_periods(*args, **kwargs)
    except BaseException as failure:  # noqa: BLE001 - the failure is the outcome
        return type(failure), str(failure)


@pytest.fixture
def frequent_switches():
    """Hand the interpreter lock between threads as often as the interpreter allows."""
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


def run_threads(work):
    """Runs work(number) on THREADS threads started together; returns what each gave."""
    start = threading.Barrier(THREADS)
    gathered = [None] * THREADS
    escaped = []

    def body(number):
        start.wait()
        try:
            gathered[number] = work(number)
        except BaseException as failure:  # noqa: BLE001 - reported by the test
            escaped.append(failure)

    threads = [threading.Thread(target=body, args=(number,)) for number in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=300)
    assert not any(thread.is_alive() for thread in threads)
    assert escaped == []
    return gathered


def test_concurrent_calls_give_the_serial_outcomes(panic_exception_type, frequent_switches, capfd):
    table = requests(panic_exception_type)
    serial = [outcome(args, kwargs) for args, kwargs in table]
    kinds = {kind for kind, _ in serial}
    # The mix holds results, selection errors, conversion errors and internal failures.
    assert {"result", ValueError, TypeError, OverflowError, panic_exception_type} <= kinds
    capfd.readouterr()

    def work(number):
        order = list(range(len(table))) * PASSES
        random.Random(number).shuffle(order)
        return threading.get_native_id(), [(i, outcome(*table[i])) for i in order]

    gathered = run_threads(work)

    wrong = [(i, got, serial[i]) for _, seen in gathered for i, got in seen if got != serial[i]]
    assert wrong == []
    assert sum(len(seen) for _, seen in gathered) == THREADS * PASSES * len(table)

    # One report per internal failure, written by the thread that met it.
    reports = REPORT.findall(capfd.readouterr().err)
    panics_per_thread = {
        native_id: sum(1 for i, _ in seen if serial[i][0] is panic_exception_type) for native_id, seen in gathered
    }
    reported_per_thread = {native_id: 0 for native_id in panics_per_thread}
    for thread_id, _ in reports:
        reported_per_thread[int(thread_id)] += 1
    assert reported_per_thread == panics_per_thread


def test_a_list_changed_by_another_thread_is_read_whole(frequent_switches):
    # Calls see the list either before or after each change, never a mix or a torn read.
    before = ["5", "1", "9", "1", "8", "1"]
    after = ["2", "2", "7", "0.5", "3", 4.5, "1"]
    shared = list(before)
    possible = {repr(outcome((list(before), "2", 2, 1, 3, 3), {})),
                repr(outcome((list(after), "2", 2, 1, 3, 3), {}))}
    assert len(possible) == 2
    stop = threading.Event()

    def changer():
        while not stop.is_set():
            shared[:] = after
            shared[:] = before

    thread = threading.Thread(target=changer)
    thread.start()
    try:
        def work(number):
            return [repr(outcome((shared, "2", YieldingIndex(2), 1, 3, 3), {})) for _ in range(300)]

        gathered = run_threads(work)
    finally:
        stop.set()
        thread.join()
    seen = {each for outcomes in gathered for each in outcomes}
    assert seen <= possible


# A hard request: 28 prices in alternating cheap and dear runs, at least 12 periods,
# loose gaps. The search's working tables must not live on the caller's stack.
HARD_PRICES = [str(price) for price in
               [1, 1, 9, 8, 9, 2, 1, 7, 9, 9, 3, 1, 1, 8, 2, 9, 8, 1, 2, 1, 9, 7, 1, 8, 9, 2, 1, 1]]
HARD_REQUESTS = [(HARD_PRICES, "2", 12, 2, 6, 4, aggressive) for aggressive in (True, False)]
# Sums that round take the other planner, whose walks recurse once per period.
THIRD, TWO_THIRDS = "0.3333333333333333333333333333", "0.6666666666666666666666666667"
HARD_REQUESTS += [(prices, THIRD, *rules, aggressive)
                  for prices, rules in (([THIRD, TWO_THIRDS] * 14, (27, 1, 27, 27)), ([TWO_THIRDS, THIRD] * 14, (1, 1, 27, 27)))
                  for aggressive in (True, False)]
# Fourteen runs of one period: the deepest walk.
HARD_REQUESTS += [([TWO_THIRDS, THIRD] * 14, THIRD, 14, 1, 27, 27, aggressive) for aggressive in (True, False)]
# The address sanitizer's frames are up to several times larger than a release build's,
# and its allocator unwinds the stack on every allocation: there the bound is scaled.
STACK_KIB = 128 if "libasan" in os.environ.get("LD_PRELOAD", "") else 32

SMALL_STACK_SCRIPT = """
import json, sys, threading
import kestrava

requests = json.loads(sys.argv[1])
threading.stack_size(int(sys.argv[2]) * 1024)
answers = []
thread = threading.Thread(target=lambda: answers.extend(kestrava.get_cheapest_periods(*r) for r in requests))
thread.start()
thread.join()
print(json.dumps(answers))
"""


def test_a_thread_with_a_32_kib_stack_gets_the_main_threads_answers():
    # In a subprocess, so that a stack overflow is a failure of this test, not the end of the run.
    expected = [get_cheapest_periods(*request) for request in HARD_REQUESTS]
    run = subprocess.run([sys.executable, "-c", SMALL_STACK_SCRIPT, json.dumps(HARD_REQUESTS), str(STACK_KIB)],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, f"exit status {run.returncode}: {run.stderr[-2000:]}"
    assert json.loads(run.stdout) == expected
