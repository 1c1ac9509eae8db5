"""cheapest_periods and plan's entry keep nothing across calls: over thousands of calls through every
path (answers from each kind of input, each refusal, exceptions raised by the caller's
objects, a plan ended by a signal handler), the live objects, the reference counts of
the arguments, the interpreter's memory blocks and the native heap stay flat."""

from __future__ import annotations

import gc
import itertools
import operator
import signal
import sys
from decimal import Decimal

import numpy as np
import pytest
from test_leaks import fresh, native_heap_in_use, outcome_of, run_rounds
from test_plan_threads import long_request

from kestrava_plan import _planner, cheapest_periods, column, plan_table

try:
    import pyarrow
except ImportError:
    pyarrow = None

ROUNDS = 2000
INTERRUPTED_ROUNDS = 150  # each waits for the first stop check, some 10 ms in

LIVE_OBJECT_SLACK = 50
MEMORY_BLOCK_SLACK = 200
NATIVE_HEAP_SLACK_BYTES = 32 * 1024


class Count:
    def __init__(self, value: int) -> None:
        self.value = value

    def __index__(self) -> int:
        return self.value


class RaisingCount:
    def __init__(self, text: str) -> None:
        self.text = text

    def __index__(self) -> int:
        raise LookupError(self.text)


class RaisingIterable:
    def __init__(self, text: str) -> None:
        self.text = text

    def __iter__(self):
        yield fresh("1.5")
        raise LookupError(self.text)


class Stop(Exception):
    pass


def paths():
    """(name, call, expected outcome: list or (exception type, message start)), and the
    objects whose reference counts must stay flat."""
    texts = [fresh(text) for text in ("4.0", "1.0", "1.0", "9.0", "9.0", "2.0")]
    threshold = fresh("1.0")
    floats = [4.5, 1.25, 1e-7, 9.0, 9.5, 2.0]
    decimals = [Decimal(text) for text in ("4.0", "1E+1", "-2.5E-3", "9", "9.0", "2")]
    array = np.array(floats)
    texts_tuple = tuple(texts)
    huge_count = 2**80
    count = Count(2)
    bad_text = fresh("81,85")
    nan_list = [texts[0], float("nan")]
    bool_list = [texts[0], True]
    none_list = [texts[0], None]
    long_decimal = [Decimal("1E+20000")]
    too_long = [fresh("1" * 141), texts[1]]
    raising_count = RaisingCount(fresh("no count"))
    raising_iterable = RaisingIterable(fresh("no prices"))
    allowed = [True, True, False, True, True, True]
    numpy_allowed = np.array(allowed)
    mostly_blocked = [True] + [False] * 5
    bad_allowed = [True, 1, True, True, True, True]
    f = cheapest_periods
    p = _planner._plan
    table = [
        ("plan, blocked, running", lambda: p(texts, threshold, 2, 1, 3, 3, True, allowed, 1, 0, False, False), tuple),
        ("plan, numpy mask, off", lambda: p(texts, threshold, 2, 1, 3, 3, False, numpy_allowed, 0, 1, True, False), tuple),
        ("plan, no plan", lambda: p(texts, threshold, 1, 1, 1, 1, True, mostly_blocked, 0, 0, False, True),
         (ValueError, "no plan meets the rules")),
        ("plan, allowed item", lambda: p(texts, threshold, 1, 1, 1, 1, True, bad_allowed, 0, 0, False, False),
         (TypeError, "allowed[1]")),
        ("plan, both carried", lambda: p(texts, threshold, 1, 1, 1, 1, True, None, count, count, False, False),
         (ValueError, "running_for (2) and off_for (2)")),
        ("texts, aggressive", lambda: f(texts, threshold, 2, 1, 3, 3), list),
        ("texts, conservative", lambda: f(texts, threshold, 2, 1, 3, 3, False), list),
        ("every period", lambda: f(texts, threshold, 6, 1), list),
        ("floats", lambda: f(floats, 2.0, 2, 1, 3, 3), list),
        ("Decimals", lambda: f(decimals, Decimal("2"), 2, 1, 3, 3), list),
        ("numpy array", lambda: f(array, threshold, count, 1, huge_count, 3), list),
        ("tuple, keywords", lambda: f(prices=texts_tuple, low_price_threshold=threshold, min_selections=2,
                                      min_consecutive_periods=1, max_gap_between_periods=3), list),
        ("prices a str", lambda: f(threshold, threshold, 1, 1), (TypeError, "prices must be")),
        ("empty", lambda: f([], threshold, 1, 1), (ValueError, "prices cannot be empty")),
        ("not a decimal", lambda: f([bad_text], threshold, 1, 1), (ValueError, "prices[0]: '81,85'")),
        ("nan", lambda: f(nan_list, threshold, 1, 1), (ValueError, "prices[1]: nan")),
        ("bool", lambda: f(bool_list, threshold, 1, 1), (TypeError, "prices[1]: True")),
        ("None", lambda: f(none_list, threshold, 1, 1), (TypeError, "prices[1]: None")),
        ("Decimal too long", lambda: f(long_decimal, threshold, 1, 1), (ValueError, "prices[0]: Decimal")),
        ("too many digits", lambda: f(too_long, threshold, 1, 1, 1, 1), (ValueError, "prices[0]: '111")),
        ("threshold", lambda: f(texts, bad_text, 1, 1), (ValueError, "low_price_threshold")),
        ("count type", lambda: f(texts, threshold, threshold, 1), (TypeError, "min_selections must")),
        ("count negative", lambda: f(texts, threshold, -huge_count, 1), (ValueError, "min_selections cannot")),
        ("rule", lambda: f(texts, threshold, huge_count, 1), (ValueError, "min_selections (")),
        ("flag", lambda: f(texts, threshold, 1, 1, 0, 0, count), (TypeError, "aggressive must")),
        ("__index__ raises", lambda: f(texts, threshold, raising_count, 1), (LookupError, "no count")),
        ("iteration raises", lambda: f(raising_iterable, threshold, 1, 1), (LookupError, "no prices")),
        ("binding", lambda: f(texts, threshold, 1), (TypeError, "cheapest_periods() missing")),
    ]
    if pyarrow is not None:
        data = pyarrow.table({"id": [1, 2, 3], "prices": [["4.0", "1.0"], [], ["x"]], "k": [1, 2, 1]})
        counts = lambda **rules: [row["count"] or 0 for row in plan_table(data, threads=2, **rules).to_pylist()]
        table += [
            ("plan_table, rows", lambda: counts(low_price_threshold="1", min_selections=column("k"),
                                                min_consecutive_periods=1, max_gap_between_periods=1), list),
            ("plan_table, column", lambda: plan_table(data, prices="k", low_price_threshold="1", min_selections=1,
                                                      min_consecutive_periods=1), (TypeError, "prices: column")),
        ]
    tracked = [allowed, numpy_allowed, mostly_blocked, bad_allowed, texts, *texts, threshold, floats, *floats, decimals, *decimals, array, texts_tuple, huge_count, count,
               bad_text, nan_list, bool_list, none_list, long_decimal, too_long, *too_long, raising_count,
               raising_iterable, raising_count.text, raising_iterable.text]
    return table, tracked


def matches(outcome, expected) -> bool:
    if expected is list:
        return type(outcome) is list and all(type(index) is int for index in outcome)
    if expected is tuple:  # plan's (periods, base size)
        return type(outcome) is tuple and matches(outcome[0], list) and type(outcome[1]) is int
    kind, start = expected
    return isinstance(outcome, tuple) and outcome[0] is kind and outcome[1].startswith(start)


def measure():
    gc.collect()
    return len(gc.get_objects()), sys.getallocatedblocks(), native_heap_in_use()


def assert_flat(before, after, references_before, references_after, tracked) -> None:
    changed = [(repr(each)[:60], old, new)
               for each, old, new in zip(tracked, references_before, references_after) if old != new]
    assert changed == []
    assert after[0] - before[0] <= LIVE_OBJECT_SLACK
    if before[1]:  # zero blocks: objects come from malloc, which the heap measure sees
        assert after[1] - before[1] <= MEMORY_BLOCK_SLACK
    if before[2] is not None and after[2] is not None:
        assert after[2] - before[2] <= NATIVE_HEAP_SLACK_BYTES


def test_every_path_leaves_nothing_behind() -> None:
    table, tracked = paths()
    mismatched = [(name, outcome_of(call)) for name, call, expected in table if not matches(outcome_of(call),
                                                                                             expected)]
    assert mismatched == []
    calls = [call for _, call, _ in table]
    run_rounds(calls, 3)
    references_before = [sys.getrefcount(each) for each in tracked]
    before = measure()
    run_rounds(calls, ROUNDS)
    after = measure()
    assert_flat(before, after, references_before, [sys.getrefcount(each) for each in tracked], tracked)


@pytest.fixture
def alarm():
    """A SIGALRM handler that raises Stop only inside the planner's stop check, where the
    frame running is the function's own; an alarm that comes in anywhere else while
    armed is set again. Disarmed, a late alarm does nothing."""
    armed = {"now": False}

    def stop(signum, frame):
        if not armed["now"]:
            return
        if frame is not None and frame.f_code.co_name == "cheapest_periods":
            armed["now"] = False
            raise Stop(signum)
        signal.setitimer(signal.ITIMER_REAL, 0.001)

    previous = signal.signal(signal.SIGALRM, stop)
    yield armed
    armed["now"] = False
    signal.setitimer(signal.ITIMER_REAL, 0)
    signal.signal(signal.SIGALRM, previous)


def test_a_plan_ended_by_a_signal_handler_leaves_nothing_behind(alarm) -> None:
    prices, *rules = long_request(2)
    prices = [fresh(text) for text in prices]
    tracked = [prices, *prices[:50]]

    def interrupted() -> bool:
        alarm["now"] = True
        signal.setitimer(signal.ITIMER_REAL, 0.001)
        try:
            cheapest_periods(prices, *rules)
        except Stop:
            return True
        finally:
            alarm["now"] = False
            signal.setitimer(signal.ITIMER_REAL, 0)
        return False

    # A slow run (valgrind) may see the first alarms only after a call; one of a few
    # calls must still be ended by one.
    assert any(interrupted() for _ in range(10))
    references_before = [sys.getrefcount(each) for each in tracked]
    before = measure()
    # Under valgrind a signal may come in only after a call has ended; two thirds of the
    # rounds still put a leak of one object a call far above the slack.
    assert sum(interrupted() for _ in range(INTERRUPTED_ROUNDS)) >= INTERRUPTED_ROUNDS * 2 // 3 > LIVE_OBJECT_SLACK
    after = measure()
    assert_flat(before, after, references_before, [sys.getrefcount(each) for each in tracked], tracked)


def test_a_signal_handler_ends_the_reading_of_a_long_iterable(alarm) -> None:
    # Summing a range is C code all through: no Python code runs between the items, so
    # only the reading's own runs of the handlers let the alarm in. Reading 3001 items
    # takes some 250 ms; the alarm comes 1 ms in.
    source = itertools.repeat(range(2000), 20000)
    alarm["now"] = True
    signal.setitimer(signal.ITIMER_REAL, 0.001)
    with pytest.raises(Stop):
        cheapest_periods(map(sum, source), "0", 1, 1)
    assert 0 < 20000 - operator.length_hint(source) < 3001
