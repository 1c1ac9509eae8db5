"""cheapest_periods plans without the interpreter lock: other threads run meanwhile,
threads planning at once get the serial answers, a signal handler (Ctrl-C) ends a
long plan with its exception, and the process exits cleanly under daemon threads
that are planning."""

from __future__ import annotations

import os
import random
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

from kestrava_plan import cheapest_periods


def long_request(seed: int) -> tuple[list[str], str, int, int, int, int]:
    """3000 prices and loose rules: tens of milliseconds of planning. Runs of 3 keep the
    scattered periods of the lowest prices from being the plan at once."""
    rng = random.Random(seed)
    prices = [f"{rng.randint(-500, 5000) / 100:.2f}" for _ in range(3000)]
    return prices, "0", 1000, 3, 20, 20


def test_another_thread_counts_on_while_a_plan_runs() -> None:
    # The planner runs signal handlers at its stop checks, inside the call: a handler
    # that sees the other thread's counter move between two of its runs in one call has
    # seen that thread run while the call was planning.
    request = long_request(1)
    counter = 0
    stop = threading.Event()
    seen_inside: list[list[int]] = []

    def spin() -> None:
        nonlocal counter
        while not stop.is_set():
            counter += 1
            if counter % 2000 == 0:
                os.kill(os.getpid(), signal.SIGUSR1)

    def note(signum, frame) -> None:
        if frame is not None and frame.f_code.co_name == "cheapest_periods":
            seen_inside[-1].append(counter)

    previous = signal.signal(signal.SIGUSR1, note)
    spinner = threading.Thread(target=spin)
    spinner.start()
    try:
        for _ in range(20):
            seen_inside.append([])
            cheapest_periods(*request)
            if len(set(seen_inside[-1])) >= 2:
                break
    finally:
        stop.set()
        spinner.join()
        signal.signal(signal.SIGUSR1, previous)
    counts = seen_inside[-1]
    assert len(counts) >= 2 and counts[-1] > counts[0], seen_inside


def test_threads_planning_at_once_get_the_serial_answers() -> None:
    requests = [(long_request(seed), aggressive) for seed in range(3) for aggressive in (True, False)]
    serial = [cheapest_periods(*request, aggressive) for request, aggressive in requests]
    results: dict[int, list[list[int]]] = {}

    def work(number: int) -> None:
        order = list(range(len(requests)))
        random.Random(number).shuffle(order)
        results[number] = [None] * len(requests)  # type: ignore[list-item]
        for i in order:
            request, aggressive = requests[i]
            results[number][i] = cheapest_periods(*request, aggressive)

    threads = [threading.Thread(target=work, args=(number,)) for number in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert all(results[number] == serial for number in range(4))


# Plans a long request again and again, SIGINT after SIGINT, until one ends a call
# inside the planner; then makes one more call, to show the module still works, and lets
# the KeyboardInterrupt end the process. The compiled entry is called from C (starmap,
# list.extend): a call that finishes leaves its answer in `done` before any Python code
# runs, and a signal handled in Python code shows the generator's frame or nothing started.
CHILD = textwrap.dedent("""
    import random, signal, traceback
    from itertools import starmap
    from kestrava_plan import _planner, cheapest_periods
    # Python's own Ctrl-C handler even when started from a background job, which
    # inherits SIGINT ignored.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    rng = random.Random(1)
    prices = [f"{rng.randint(-500, 5000) / 100:.2f}" for _ in range(3000)]

    def plan_once(started):
        started.append(True)
        yield prices, "0", 1000, 3, 20, 20, True

    while True:
        started, done = [], []
        try:
            print("planning", flush=True)
            done.extend(starmap(_planner._cheapest_periods, plan_once(started)))
        except KeyboardInterrupt as interrupt:
            if done or not started or traceback.extract_tb(interrupt.__traceback__)[-1].name == "plan_once":
                continue
            print("after:", cheapest_periods(["3", "1", "2"], "0", 1, 1, 2, 2), flush=True)
            raise
""")
MOST_SIGNALS = 50


def test_sigint_ends_a_long_plan_with_keyboard_interrupt() -> None:
    child = subprocess.Popen([sys.executable, "-c", CHILD], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True)
    lines: list[str] = []
    try:
        assert child.stdout is not None
        for line in child.stdout:
            lines.append(line)
            if line.startswith("after:") or len(lines) > MOST_SIGNALS:
                break
            # Sent straight away, the signal would mostly meet the child still in Python
            # code; a few milliseconds in, it meets the call (tens of milliseconds long).
            time.sleep(0.005)
            child.send_signal(signal.SIGINT)
        if not lines[-1].startswith("after:"):
            child.kill()
        _, stderr = child.communicate(timeout=60)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert lines[-1] == "after: [1]\n", (len(lines), stderr[-2000:])
    assert child.returncode == -signal.SIGINT
    assert stderr.rstrip().endswith("KeyboardInterrupt"), stderr


# Daemon threads plan in a loop while the main thread returns, so the interpreter
# finalises under them. CPython 3.12 and 3.13 end a thread that asks for the lock back
# then with pthread_exit, a forced unwind; the modules must let it go without an abort.
# A count whose __index__ sleeps, a flag named as numpy's bool whose __module__ and
# __bool__ sleep, and (for kestrava_plan) Decimal prices whose methods answer with
# sleeping objects give the lock away inside the conversions as well.
# plan_table plans its rows on threads of its own, and its exported stream is pulled
# from C through ctypes, without the lock, as a consumer without pyarrow does.
# The main thread, which finalises, plans once more from a finalizer: it must not wait.
EXIT_CHILD = textwrap.dedent("""
    import decimal, random, sys, threading, time, types
    import kestrava
    from kestrava_plan import _planner, cheapest_periods

    class SleepingCount:
        def __init__(self, value):
            self.value = value

        def __index__(self):
            time.sleep(0.0002)
            return self.value

    class SleepingModule(type):
        @property
        def __module__(cls):
            time.sleep(0.0002)
            return "numpy"

    class SleepingTruth:
        def __bool__(self):
            time.sleep(0.0002)
            return True

    class SleepingParts(tuple):
        def __getitem__(self, index):
            time.sleep(0.0002)
            return tuple.__getitem__(self, index)

    class SleepingDecimal(decimal.Decimal):
        def is_finite(self):
            return SleepingTruth()

        def as_tuple(self):
            return SleepingParts(decimal.Decimal.as_tuple(self))

    module, arguments = sys.argv[1], sys.argv[2]
    sleeping = arguments == "sleeping"
    entry = kestrava.get_cheapest_periods if module == "kestrava" else cheapest_periods
    if module == "plan":  # every flag of the mask read as well, and a carried run
        def entry(prices, threshold, count, run, gap, lead, flag):
            return _planner._plan(prices, threshold, count, run, gap, lead, flag, [flag] * len(prices), 1, 0, flag, flag)
    if module in ("table", "stream"):  # rows on two threads; batches pulled from Python or from C
        import pyarrow as pa
        sys.path.insert(0, sys.argv[3])
        import c_stream
        # Exported before the threads start: pyarrow aborts by itself when a daemon thread
        # exports a table while the interpreter exits (its reader's dealloc lets the lock
        # go in a frame that cannot unwind).
        streams = {}

        def export(prices, copies):
            table = pa.table({"id": range(4), "prices": [list(map(str, prices))] * 4})
            streams[len(prices)] = [table.__arrow_c_stream__() for _ in range(copies)]

        def entry(prices, threshold, count, run, gap, lead, flag, stream=None):
            try:
                stream = stream or streams[len(prices)].pop()
            except IndexError:  # every one planned already
                return time.sleep(0.001)
            rules = len(_planner.RULES)
            planned = _planner._plan_table(stream, "id", "prices", None, None, (None,) * rules,
                                           (threshold, count, run, gap, lead, flag, None, 0, 0, False, flag, 0, 0),
                                           (None,) * rules, 2)
            if module == "table":
                return list(planned.batches(pa.RecordBatch._import_from_c_capsule))
            return c_stream.batch_lengths(planned)  # the planner's own exporter, as a consumer in C pulls
    final = {}
    flag = SleepingModule("bool_", (), {"__bool__": SleepingTruth.__bool__})() if sleeping else True
    rng = random.Random(1)

    def plan(prices, count):
        while True:
            entry(prices, "0", count, 1, 20, 20, flag)

    for n in [24] * 3 if module == "kestrava" else [24, 96, 3000]:
        prices = [f"{rng.randint(-500, 5000) / 100:.2f}" for _ in range(n)]
        if sleeping and module != "kestrava":
            prices[:8] = map(SleepingDecimal, prices[:8])
        count = SleepingCount(n // 3) if sleeping else n // 3
        if module in ("table", "stream"):
            export(prices, 400)
            final = {"stream": streams[n].pop()}
        for _ in range(2):
            threading.Thread(target=plan, args=(prices, count), daemon=True).start()

    class PlansWhenFinalised:
        def __del__(self, entry=entry, prices=prices, count=count):
            entry(prices, "0", count, 1, 20, 20, flag, **final)

    # In a module of its own: __main__'s globals outlive finalising, held by the threads.
    sys.modules["finalised_last"] = types.ModuleType("finalised_last")
    sys.modules["finalised_last"].plans = PlansWhenFinalised()
    time.sleep(0.05)
""")


@pytest.mark.parametrize("arguments", ["plain", "sleeping"])
@pytest.mark.parametrize("module", ["kestrava_plan", "kestrava", "plan", "table", "stream"])
def test_exit_with_daemon_threads_mid_plan_is_clean(module: str, arguments: str) -> None:
    if module in ("table", "stream"):
        pytest.importorskip("pyarrow")
    for _ in range(4):
        child = subprocess.run([sys.executable, "-c", EXIT_CHILD, module, arguments, os.path.dirname(__file__)],
                               capture_output=True, text=True, timeout=60)
        assert (child.returncode, child.stderr) == (0, "")
