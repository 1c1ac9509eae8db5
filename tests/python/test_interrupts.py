"""A long get_cheapest_periods call ends when a signal handler raises (Ctrl-C gives
KeyboardInterrupt), and running out of memory while raising an exception leaves a
MemoryError instead of ending the process."""

from __future__ import annotations

import signal
import subprocess
import sys
import textwrap

import pytest

import kestrava
from signalled_child import run_interrupted

# 2**96 - 21 and then 0.3 and -0.3 in turn, none cheap, with (12, 1, 27, 27): a main
# combination's partial sums come within the rounding slack of 2**96, yet none
# overflows once rounded, so no planner bounds the sums and 30 million main
# combinations are left to the exhaustive search, seconds of work.
LONG_REQUEST = (
    [str(2**96 - 21)] + ["0.3" if i % 2 else "-0.3" for i in range(1, 28)],
    "-1", 12, 1, 27, 27,
)
TIMEOUT = 60

# Calls the long request `rounds` times; the parent sends SIGINT after each "calling"
# line. The first rounds run under a handler raising Stopped, the last under Python's
# own Ctrl-C handler (restored: a background job inherits SIGINT ignored). After each
# Stopped the references the call held on its arguments must be gone, and a short
# call must still answer.
CHILD = textwrap.dedent("""
    import signal, sys
    import kestrava

    class Stopped(Exception):
        pass

    def stop(signum, frame):
        raise Stopped("stopped by the handler")

    prices, threshold, *rules = {request!r}
    aggressive = sys.argv[1] == "aggressive"
    counts = (sys.getrefcount(prices), sys.getrefcount(threshold))
    for handler in [stop] * {handler_rounds} + [signal.default_int_handler]:
        signal.signal(signal.SIGINT, handler)
        try:
            print("calling", flush=True)
            kestrava.get_cheapest_periods(prices, threshold, *rules, aggressive=aggressive)
            print("the call returned", flush=True)
        except Stopped as stopped:
            print("stopped:", stopped, flush=True)
        assert (sys.getrefcount(prices), sys.getrefcount(threshold)) == counts
        print("after:", kestrava.get_cheapest_periods(["3", "1", "2"], "0", 1, 1, 2, 2), flush=True)
""")
HANDLER_ROUNDS = 2


@pytest.mark.parametrize("strategy", ["aggressive", "conservative"])
def test_signal_handlers_end_a_long_call_with_their_exception(strategy: str) -> None:
    script = CHILD.format(request=LONG_REQUEST, handler_rounds=HANDLER_ROUNDS)
    lines, returncode, stderr = run_interrupted(["-c", script, strategy], TIMEOUT)
    expected = ["calling\n", "stopped: stopped by the handler\n", "after: [1]\n"] * HANDLER_ROUNDS + ["calling\n"]
    assert lines == expected, stderr[-2000:]
    assert returncode == -signal.SIGINT, stderr[-2000:]
    assert stderr.rstrip().endswith("KeyboardInterrupt"), stderr[-2000:]


# Runs one request with the interpreter's allocations numbered `start` up to `stop`
# failing (0: no end), then, with allocation back to normal, a short request.
MEMORY_CHILD = textwrap.dedent("""
    import sys, _testcapi, kestrava

    def outcome(seen):
        return f"{type(seen).__name__}: {seen}" if isinstance(seen, BaseException) else repr(seen)

    start, stop, arguments = int(sys.argv[1]), int(sys.argv[2]), eval(sys.argv[3])
    # Nothing between the hook and the call allocates, so what fails is the call's.
    _testcapi.set_nomemory(start, stop)
    try:
        seen = kestrava.get_cheapest_periods(*arguments)
    except BaseException as failure:
        seen = failure
    finally:
        _testcapi.remove_mem_hooks()
    print(outcome(seen))
    try:
        print(outcome(kestrava.get_cheapest_periods(["3", "1", "2"], "0", 1, 1, 2, 2)))
    except BaseException as failure:
        print(outcome(failure))
""")
LARGEST = str(2**96 - 1)
MEMORY_REQUESTS = [
    pytest.param(([LARGEST, "1", "2"], "0", 1, 1, 2, 2), id="overflow raises PanicException"),
    pytest.param((["3", "1", "2"], "0", 0, 1, 2, 2), id="a broken rule raises ValueError"),
    pytest.param((["3", "1", "2"], "0", "1", 1, 2, 2), id="a bad argument raises TypeError"),
    pytest.param((["3", "1", "2"], "0", 1, 1, 2, 2), id="an answer"),
]
# The reproducer (1, 2) and its neighbours: a single failing allocation early, late or
# past the end of the call, and every allocation from some point on.
# Documented: out of memory while building the answer list.
BUILDING_FAILED = "PanicException: Python API call failed"
NOMEMORY_WINDOWS = [(1, 2), (0, 1), (2, 3), (3, 4), (5, 6), (10, 11), (20, 21), (0, 0), (1, 0), (2, 0), (10, 0),
                    (21, 0), (22, 0), (1000, 0)]


def in_process_outcome(arguments: tuple) -> str:
    try:
        return repr(kestrava.get_cheapest_periods(*arguments))
    except BaseException as failure:  # noqa: BLE001 - the outcome is what is compared
        return f"{type(failure).__name__}: {failure}"


@pytest.mark.parametrize("arguments", MEMORY_REQUESTS)
def test_running_out_of_memory_while_raising_leaves_a_memory_error(arguments: tuple) -> None:
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "set_nomemory"):
        pytest.skip("this interpreter's _testcapi has no set_nomemory")
    expected = in_process_outcome(arguments)
    outcomes = set()
    for start, stop in NOMEMORY_WINDOWS:
        child = subprocess.run([sys.executable, "-c", MEMORY_CHILD, str(start), str(stop), repr(arguments)],
                               capture_output=True, text=True, timeout=TIMEOUT)
        # Never a signal (SIGABRT was the failure): the child ends normally.
        assert child.returncode == 0, (start, stop, child.returncode, child.stderr[-2000:])
        seen, after = child.stdout.splitlines()
        assert seen in (expected, "MemoryError: ", BUILDING_FAILED), (start, stop, child.stderr[-2000:])
        assert after == "[1]", (start, stop)
        outcomes.add(seen)
    # The windows reach both a failing allocation inside the call and none at all.
    assert {expected, "MemoryError: "} <= outcomes


# Runs the long request and then a short one from C (deque.extend over starmap), so that
# no Python code runs between them: a handler polled inside the long call sees no answer
# yet, while unpolled it runs, if at all, only after both. In a child of os.fork, the
# thread that forked is the one that runs the handlers.
POLLED_CHILD = textwrap.dedent("""
    import collections, itertools, os, signal, threading, warnings
    import kestrava

    answers = collections.deque()

    def stop(signum, frame):
        raise RuntimeError(f"handled after {{len(answers)}} answers")

    def run():
        signal.signal(signal.SIGALRM, stop)
        signal.setitimer(signal.ITIMER_REAL, 0.3)
        try:
            answers.extend(itertools.starmap(kestrava.get_cheapest_periods, {requests!r}))
        except RuntimeError as handled:
            print(handled, flush=True)

    def fork_and_run():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads running
        child = os.fork()
        if child == 0:
            run()
            os._exit(0)
        os.waitpid(child, 0)

    if {forked_from_thread!r}:
        thread = threading.Thread(target=fork_and_run)
        thread.start()
        thread.join()
    else:
        run()
""")


@pytest.mark.parametrize("forked_from_thread", [False, True], ids=["main thread", "child forked from a thread"])
def test_handlers_are_polled_on_the_thread_that_runs_them(forked_from_thread: bool) -> None:
    requests = [LONG_REQUEST, (["3", "1", "2"], "0", 1, 1, 2, 2)]
    script = POLLED_CHILD.format(requests=requests, forked_from_thread=forked_from_thread)
    child = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=TIMEOUT)
    assert child.stdout == "handled after 0 answers\n", child.stderr[-2000:]
