"""Nothing is kept across calls: over more than 10^5 calls through every path of a call
(results, shortcuts, each kind of binding, conversion and validation failure, internal
failures and resumed panics), the live objects, the reference counts of the arguments,
the interpreter's memory blocks and the native heap stay flat."""

import ctypes
import ctypes.util
import gc
import itertools
import sys

import pytest

from kestrava import get_cheapest_periods

LARGEST_DECIMAL_TEXT = str(2**96 - 1)
ROUNDS = 2600  # times each path runs; with the paths below, more than 10^5 calls

# Growth allowed over all the rounds. A leak of one object, one reference or one small
# block per call on any single path grows by at least ROUNDS, far above these.
LIVE_OBJECT_SLACK = 50
MEMORY_BLOCK_SLACK = 200
NATIVE_HEAP_SLACK_BYTES = 32 * 1024  # one 16-byte leak per call gives 2600 chunks of 32


def fresh(text):
    """A str object of its own (not interned, not immortal), so its count can move."""
    assert len(text) >= 2, "one-character strs are shared immortal objects"
    made = ("_" + text)[1:]
    assert sys.getrefcount(made) < 100
    return made


class Index:
    """An integer-like count: __index__ returns a fixed value."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class RaisingIndex:
    """__index__ raises a new exception each time, so no traceback piles up on one instance."""

    def __init__(self, make):
        self.make = make

    def __index__(self):
        raise self.make()


class CustomError(Exception):
    pass


class Unprintable:
    def __str__(self):
        raise RuntimeError("cannot show")


class PriceList(list):
    pass


class PriceText(str):
    pass


def numpy_like_flag(truth):
    cls = type("bool_", (), {"__module__": "numpy", "__bool__": truth})
    return cls()


def raise_custom_error(self):
    raise CustomError(fresh("no truth"))


class MallocInfo(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
                     "fordblks", "keepcost")
    ]


def native_heap_in_use():
    """Bytes in use on the C library's heap (the module's own allocations land there), or
    None where glibc's mallinfo2 is not to be had or another allocator stands in."""
    libc = ctypes.CDLL(ctypes.util.find_library("c"))
    mallinfo2 = getattr(libc, "mallinfo2", None)
    if mallinfo2 is None:
        return None
    mallinfo2.restype = MallocInfo
    in_use = mallinfo2().uordblks
    return in_use or None


@pytest.fixture
def paths(panic_exception_type):
    """The paths as (name, call, expected outcome), and the objects whose reference
    counts must stay flat.

    An expected outcome is `list` (some selection), a list (that very result), an
    exception class (the interpreter's own message), or an exception's class and str.
    """
    prices = [fresh(text) for text in ("4.0", "1.0", "1.0", "9.0", "9.0", "2.0")]
    threshold = fresh("1.0")
    cheap_threshold = fresh("99")
    subclass_prices = PriceList(PriceText(text) for text in ("4.0", "1.0", "1.0", "9.0", "9.0", "2.0"))
    with_float = [prices[0], 1.5, prices[1]]
    with_surrogate = [prices[0], fresh("1\udc80")]
    with_bad_text = [prices[0], fresh("1e3")]
    twenty_nine = [fresh(f"{10 + i}") for i in range(29)]
    overflowing = [fresh(LARGEST_DECIMAL_TEXT), fresh(LARGEST_DECIMAL_TEXT)]
    tuple_prices = (prices[0], prices[1])
    surrogate_threshold = fresh("0\udc80")
    bad_threshold = fresh("1,5")
    unknown_keyword = fresh("foo_bar")
    surrogate_keyword = fresh("x\udc80")
    three = Index(3)
    false_flag = numpy_like_flag(lambda self: False)
    raising_flag = numpy_like_flag(raise_custom_error)
    # The raised exceptions share their texts, so an exception the call keeps alive
    # shows in the texts' reference counts.
    no_integer = fresh("no integer")
    custom = fresh("custom")
    from_python = fresh("from python")
    type_error_index = RaisingIndex(lambda: TypeError(no_integer))
    custom_error_index = RaisingIndex(lambda: CustomError(custom))
    unprintable_index = RaisingIndex(lambda: TypeError(Unprintable()))
    panic_index = RaisingIndex(lambda: panic_exception_type(from_python))
    gaps = (5, 0)

    def caused():
        failure = TypeError(no_integer)
        failure.__cause__ = KeyError(fresh("why"))
        return failure

    caused_index = RaisingIndex(caused)
    f = get_cheapest_periods
    args = (prices, threshold)

    table = [
        ("aggressive search", lambda: f(*args, 2, 1, *gaps), list),
        ("conservative search", lambda: f(*args, 2, 1, *gaps, False), list),
        ("every index: min_selections = n", lambda: f(*args, 6, 1), [0, 1, 2, 3, 4, 5]),
        ("every index: all cheap", lambda: f(prices, cheap_threshold, 1, 1), [0, 1, 2, 3, 4, 5]),
        ("by keyword", lambda: f(prices=prices, low_price_threshold=threshold, min_selections=2,
                                 min_consecutive_periods=1, max_gap_between_periods=5), list),
        ("subclasses", lambda: f(subclass_prices, threshold, 2, 1, *gaps), list),
        ("integer-like count", lambda: f(*args, three, 1, *gaps), list),
        ("numpy-like flag", lambda: f(*args, 2, 1, *gaps, false_flag), list),
        ("empty", lambda: f([], threshold, 1, 1), (ValueError, "prices cannot be empty")),
        ("29 prices", lambda: f(twenty_nine, threshold, 1, 1),
         (ValueError, "prices cannot contain more than 28 items")),
        ("min_selections 0", lambda: f(*args, 0, 1), (ValueError, "min_selections must be greater than 0")),
        ("min_selections > n", lambda: f(*args, 7, 1),
         (ValueError, "min_selections cannot be greater than total number of items")),
        ("min_consecutive 0", lambda: f(*args, 2, 0), (ValueError, "min_consecutive_periods must be greater than 0")),
        ("min_consecutive > min_selections", lambda: f(*args, 2, 3),
         (ValueError, "min_consecutive_periods cannot be greater than min_selections")),
        ("start gap > gap", lambda: f(*args, 2, 1, 1, 2),
         (ValueError, "max_gap_from_start must be less than or equal to max_gap_between_periods")),
        ("unparsable price", lambda: f(with_bad_text, threshold, 1, 1), (ValueError, "Invalid decimal")),
        ("unparsable threshold", lambda: f(prices, bad_threshold, 1, 1), (ValueError, "Invalid decimal")),
        ("price no text", lambda: f(with_float, threshold, 1, 1),
         (TypeError, "'float' object cannot be converted to 'PyString'")),
        ("price lone surrogate", lambda: f(with_surrogate, threshold, 1, 1), UnicodeEncodeError),
        ("missing arguments", lambda: f(prices),
         (TypeError, "get_cheapest_periods() missing 3 required positional arguments: "
                     "'low_price_threshold', 'min_selections', and 'min_consecutive_periods'")),
        ("too many arguments", lambda: f(*args, 1, 1, 0, 0, True, 1),
         (TypeError, "get_cheapest_periods() takes from 4 to 7 positional arguments but 8 were given")),
        ("unexpected keyword", lambda: f(*args, 1, 1, **{unknown_keyword: 1}),
         (TypeError, "get_cheapest_periods() got an unexpected keyword argument 'foo_bar'")),
        ("surrogate keyword", lambda: f(*args, 1, 1, **{surrogate_keyword: 1}),
         (TypeError, "get_cheapest_periods() got an unexpected keyword argument 'x\ufffd\ufffd\ufffd'")),
        ("doubled argument", lambda: f(*args, 1, 1, prices=prices),
         (TypeError, "get_cheapest_periods() got multiple values for argument 'prices'")),
        ("prices tuple", lambda: f(tuple_prices, threshold, 1, 1),
         (TypeError, "argument 'prices': 'tuple' object cannot be converted to 'PyList'")),
        ("threshold float", lambda: f(prices, 0.5, 1, 1),
         (TypeError, "argument 'low_price_threshold': 'float' object cannot be converted to 'PyString'")),
        ("threshold lone surrogate", lambda: f(prices, surrogate_threshold, 1, 1), UnicodeEncodeError),
        ("count None", lambda: f(*args, None, 1), TypeError),
        ("count negative", lambda: f(*args, -1, 1), OverflowError),
        ("count too large", lambda: f(*args, 1, 2**64), OverflowError),
        ("flag int", lambda: f(*args, 1, 1, 0, 0, 1),
         (TypeError, "argument 'aggressive': 'int' object cannot be converted to 'PyBool'")),
        ("flag truth raises", lambda: f(*args, 1, 1, 0, 0, raising_flag), (CustomError, "no truth")),
        ("__index__ TypeError", lambda: f(*args, type_error_index, 1),
         (TypeError, "argument 'min_selections': no integer")),
        ("__index__ TypeError with cause", lambda: f(*args, 1, 1, caused_index),
         (TypeError, "argument 'max_gap_between_periods': no integer")),
        ("__index__ other error", lambda: f(*args, 1, custom_error_index), (CustomError, "custom")),
        ("__index__ unprintable TypeError", lambda: f(*args, unprintable_index, 1),
         (TypeError, "argument 'min_selections': <unprintable TypeError object>")),
        ("overflow, aggressive", lambda: f(overflowing, "0", 1, 1, 1, 1),
         (panic_exception_type, "Addition overflowed")),
        ("overflow, conservative", lambda: f(overflowing, "0", 1, 1, 1, 1, False),
         (panic_exception_type, "Addition overflowed")),
        ("resumed panic", lambda: f(*args, panic_index, 1), (panic_exception_type, "from python")),
    ]
    tracked = [
        prices, *prices, threshold, cheap_threshold, subclass_prices, *subclass_prices, with_float, *with_float,
        with_surrogate, *with_surrogate, with_bad_text, *with_bad_text, twenty_nine, *twenty_nine, overflowing,
        *overflowing, tuple_prices, surrogate_threshold, bad_threshold, unknown_keyword, surrogate_keyword,
        three, false_flag, type(false_flag), raising_flag, type(raising_flag), type_error_index, caused_index,
        custom_error_index, unprintable_index, panic_index, CustomError, Unprintable, panic_exception_type,
        no_integer, custom, from_python,
    ]
    return table, tracked


def outcome_of(call):
    try:
        return call()
    except BaseException as failure:  # noqa: BLE001 - the failure is the outcome
        return type(failure), str(failure)


def matches(outcome, expected):
    if expected is list:
        return type(outcome) is list and all(type(index) is int for index in outcome)
    if isinstance(expected, type):  # the interpreter's own message, any text
        return isinstance(outcome, tuple) and outcome[0] is expected
    return outcome == expected


def run_rounds(calls, rounds):
    for _ in range(rounds):
        for call in calls:
            try:
                call()
            except BaseException:  # noqa: BLE001,S110 - each outcome was checked before the rounds
                pass


def test_every_path_leaves_nothing_behind(paths, monkeypatch, capfd):
    table, tracked = paths
    unraisable = itertools.count()
    monkeypatch.setattr(sys, "unraisablehook", lambda report: next(unraisable))

    # One round first: each path takes the branch it names, and every lazily made
    # object (caches, the exception class, UTF-8 forms) exists before counting.
    mismatched = [(name, outcome_of(call), expected) for name, call, expected in table
                  if not matches(outcome_of(call), expected)]
    assert mismatched == []
    assert len(table) * ROUNDS > 10**5
    calls = [call for _, call, _ in table]
    run_rounds(calls, 3)

    gc.collect()
    references_before = [sys.getrefcount(each) for each in tracked]
    live_before = len(gc.get_objects())
    blocks_before = sys.getallocatedblocks()
    heap_before = native_heap_in_use()
    reported_before = next(unraisable)

    run_rounds(calls, ROUNDS)

    gc.collect()
    heap_after = native_heap_in_use()
    blocks_after = sys.getallocatedblocks()
    live_after = len(gc.get_objects())
    references_after = [sys.getrefcount(each) for each in tracked]
    capfd.readouterr()  # the reports of the internal failures, thousands of them

    # The unprintable path reported once per round: the rounds did run every call.
    assert next(unraisable) - reported_before - 1 == ROUNDS
    changed = [(repr(each)[:60], before, after)
               for each, before, after in zip(tracked, references_before, references_after) if before != after]
    assert changed == []
    assert live_after - live_before <= LIVE_OBJECT_SLACK
    # Zero blocks means objects come from malloc (PYTHONMALLOC=malloc); the heap
    # measure below sees them instead.
    if blocks_before:
        assert blocks_after - blocks_before <= MEMORY_BLOCK_SLACK
    if heap_before is not None and heap_after is not None:
        assert heap_after - heap_before <= NATIVE_HEAP_SLACK_BYTES


def test_results_are_new_objects_that_die_with_their_last_reference():
    prices = [fresh(text) for text in ("4.0", "1.0", "1.0", "9.0", "9.0", "2.0")]
    first = get_cheapest_periods(prices, "1", 2, 1, 5, 0)
    assert sys.getrefcount(first) == 2  # the name, and getrefcount's own argument
    assert gc.get_referrers(first) == []
    second = get_cheapest_periods(prices, "1", 2, 1, 5, 0)
    assert first == second and first is not second
