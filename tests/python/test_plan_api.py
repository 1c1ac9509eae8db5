"""kestrava_plan.cheapest_periods as Python code meets it: the price types and
containers people have, each standing for its exact decimal value, and every message
word for word."""

from __future__ import annotations

import collections.abc
import datetime
import decimal
import functools
import inspect
import itertools
import random
import struct
from decimal import Decimal

import numpy as np
import pandas as pd
import pytest

import plan_model
from kestrava_plan import _planner, cheapest_periods

WIDE = decimal.Context(prec=2000)


def all_cheap(prices, threshold) -> bool:
    """Whether every price is at or below the threshold: the planner then answers
    every period without any arithmetic, for values of any size."""
    try:
        return cheapest_periods(prices, threshold, 1, 1, 1, 1) == [0, 1]
    except ValueError as refusal:  # a price too wide to plan with: not all cheap
        assert "significant digits" in str(refusal)
        return False


def neighbours(text: str) -> tuple[str, str]:
    """The decimals just below and just above `text`, one digit further out."""
    value = Decimal(text)
    step = Decimal(1).scaleb(min(value.as_tuple().exponent, 0) - 1)
    return format(WIDE.subtract(value, step), "f"), format(WIDE.add(value, step), "f")


def assert_stands_for(price, text: str) -> None:
    """The planner takes `price` (as a price and as the threshold) to be exactly `text`."""
    below, above = neighbours(text)
    assert all_cheap([price, text], text) and all_cheap([text, text], price)
    assert not all_cheap([price, below], below), f"{price!r} is taken below {text}"
    assert not all_cheap([above, above], price), f"{price!r} is taken above {text}"


# (a value as people have it, the decimal it must stand for)
EXACT_VALUES = [
    ("63.88", "63.88"),
    ("-0.5", "-0.5"),
    ("+1_000.000_1", "1000.0001"),
    (".5", "0.5"),
    (np.str_("7.25"), "7.25"),
    (12, "12"),
    (-(10**60) - 1, str(-(10**60) - 1)),
    (np.int64(-7), "-7"),
    (np.uint64(2**64 - 1), str(2**64 - 1)),
    (Decimal("1.10"), "1.1"),
    (Decimal("1E+5"), "100000"),
    (Decimal("-2.5E-12"), "-0.0000000000025"),
    (Decimal("-0"), "0"),
    (Decimal("0E-40"), "0"),
    (0.1, "0.1"),
    (0.30000000000000004, "0.30000000000000004"),
    (-0.0, "0"),
    (1e16, "10000000000000000"),
    (-1.5e-7, "-0.00000015"),
    (5e-324, "0." + "0" * 323 + "5"),
    (1.7976931348623157e308, "17976931348623157" + "0" * 292),
    (np.float64(2.675), "2.675"),
]


@pytest.mark.parametrize(("price", "text"), EXACT_VALUES, ids=[repr(price)[:40] for price, _ in EXACT_VALUES])
def test_each_type_stands_for_its_exact_decimal(price, text) -> None:
    assert_stands_for(price, text)


def test_a_float_stands_for_its_shortest_repr() -> None:
    # Random bit patterns: every exponent, subnormals included; the repr's exponent form
    # must be written out with the point in the right place.
    rng = random.Random(20261208)
    for _ in range(300):
        value = struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]
        if value != value or value in (float("inf"), float("-inf")):
            continue
        assert_stands_for(value, format(Decimal(repr(value)), "f"))


def random_request(rng: random.Random) -> tuple[list[str], str, tuple[int, int, int, int]]:
    n = rng.randint(2, 60)
    prices = [f"{rng.randint(-300, 3000) / 100:.2f}" for _ in range(n)]
    threshold = sorted(prices)[rng.randint(0, n - 1)]
    min_selections = rng.randint(1, n)
    min_run = rng.randint(1, min(min_selections, 4))
    gap = rng.randint(min_run, n)
    return prices, threshold, (min_selections, min_run, gap, rng.randint(0, gap))


def containers(texts: list[str]) -> dict[str, object]:
    floats = [float(text) for text in texts]
    return {
        "tuple": tuple(texts),
        "generator": (text for text in texts),
        "Decimals": [Decimal(text) for text in texts],
        "floats": floats,
        "numpy float64 array": np.array(floats),
        "numpy str array": np.array(texts),
        "pandas Series of floats, shuffled labels": pd.Series(floats, index=random.Random(1).sample(
            range(len(texts)), len(texts))),
        "pandas Series of texts": pd.Series(texts, dtype=object),
        "pandas Series of Decimals": pd.Series([Decimal(text) for text in texts]),
    }


def test_containers_and_types_give_the_answer_of_the_texts() -> None:
    rng = random.Random(7)
    for _ in range(60):
        texts, threshold, rules = random_request(rng)
        for aggressive in (True, False):
            expected = cheapest_periods(texts, threshold, *rules, aggressive)
            for name, prices in containers(texts).items():
                assert cheapest_periods(prices, threshold, *rules, aggressive) == expected, (name, texts, rules)
            # Whole units: the same plan as the texts scaled by 100.
            cents = [round(Decimal(text) * 100) for text in texts]
            scaled_threshold = int(Decimal(threshold) * 100)
            for prices in (cents, np.array(cents, dtype=np.int64), pd.Series(cents, dtype="int32")):
                assert cheapest_periods(prices, scaled_threshold, *rules, aggressive) == expected


def test_counts_take_anything_with_index_and_any_size() -> None:
    class Count:
        def __index__(self) -> int:
            return 2

    prices = ["5", "1", "9", "1", "8", "1"]
    expected = cheapest_periods(prices, "0", 2, 2, 4, 4)
    assert cheapest_periods(prices, "0", Count(), np.int8(2), np.uint64(4), 4) == expected
    # Gap limits far above the number of prices mean no limit.
    assert cheapest_periods(prices, "0", 2, 1, 2**100, 2**70) == cheapest_periods(prices, "0", 2, 1, 6, 6)
    assert cheapest_periods(prices, "0", 2, 1, 6, 6, np.bool_(False)) == cheapest_periods(prices, "0", 2, 1, 6, 6,
                                                                                         False)


def test_signature_and_keywords_are_pythons() -> None:
    assert str(inspect.signature(cheapest_periods)) == (
        "(prices, low_price_threshold, min_selections, min_consecutive_periods, max_gap_between_periods=0, "
        "max_gap_from_start=0, aggressive=True)")
    prices = ["5", "1", "9", "1", "8", "1"]
    positional = cheapest_periods(prices, "0", 2, 1, 3, 2, False)
    assert cheapest_periods(aggressive=False, max_gap_from_start=2, max_gap_between_periods=3,
                            min_consecutive_periods=1, min_selections=2, low_price_threshold="0",
                            prices=prices) == positional
    assert "exact" in (cheapest_periods.__doc__ or "")


P = ["5", "1", "9", "1", "8", "1"]
LONG = "1" * 141
TINY = "0." + "0" * 139 + "1"


class RaisingIterable:
    def __iter__(self):
        raise LookupError("no prices today")


class RefusingTruth:
    def __bool__(self):
        raise LookupError("no truth")


class UnsureDecimal(Decimal):
    def is_finite(self):
        return RefusingTruth()


class Unshowable:
    def __repr__(self):
        raise LookupError("no repr")


# (arguments, exception type, message)
REFUSALS = [
    (("123", "2", 1, 1), TypeError,
     "prices must be a sequence of prices (a list, tuple, numpy array or pandas Series), not str"),
    ((b"12", "2", 1, 1), TypeError,
     "prices must be a sequence of prices (a list, tuple, numpy array or pandas Series), not bytes"),
    (({"a": "1"}, "2", 1, 1), TypeError,
     "prices must be a sequence of prices (a list, tuple, numpy array or pandas Series), not dict"),
    ((5, "2", 1, 1), TypeError,
     "prices must be a sequence of prices (a list, tuple, numpy array or pandas Series), not int"),
    # No order of periods: a set's follows the hash seed, a memoryview's items are bytes.
    *[((container, "2", 1, 1), TypeError,
       f"prices must be a sequence of prices (a list, tuple, numpy array or pandas Series), not {name}")
      for container, name in [({"1", "2"}, "set"), (frozenset({"1"}), "frozenset"), (memoryview(b"12"), "memoryview"),
                              ({"a": "1"}.keys(), "dict_keys"), ({"a": "1"}.values(), "dict_values"),
                              ({"a": "1"}.items(), "dict_items"), (collections.abc.KeysView({"a": 1}), "KeysView")]],
    (([], "2", 1, 1), ValueError, "prices cannot be empty"),
    ((["1"] * 3500, "2", 1, 1), ValueError, "prices cannot contain more than 3000 items (got 3500)"),
    ((np.ones(3500), "2", 1, 1), ValueError, "prices cannot contain more than 3000 items (got 3500)"),
    ((itertools.repeat("1"), "2", 1, 1), ValueError, "prices cannot contain more than 3000 items (got more than 3000)"),
    ((iter(["1"] * 3001), "2", 1, 1), ValueError, "prices cannot contain more than 3000 items (got more than 3000)"),
    ((["1"] * 17 + ["81,85"], "2", 1, 1), ValueError, "prices[17]: '81,85' is not a decimal number"),
    ((["1", "1e3"], "2", 1, 1), ValueError, "prices[1]: '1e3' is not a decimal number"),
    ((["1", " 2"], "2", 1, 1), ValueError, "prices[1]: ' 2' is not a decimal number"),
    ((["1", "1\udc80"], "2", 1, 1), ValueError, "prices[1]: '1\\udc80' is not a decimal number"),
    ((["1", "2", "3", float("nan")], "2", 1, 1), ValueError, "prices[3]: nan is not a finite number"),
    ((np.array([1.0, -np.inf]), "2", 1, 1), ValueError, "prices[1]: -inf is not a finite number"),
    (([Decimal("sNaN")], "2", 1, 1), ValueError, "prices[0]: Decimal('sNaN') is not a finite number"),
    (([Decimal("-Infinity")], "2", 1, 1), ValueError, "prices[0]: Decimal('-Infinity') is not a finite number"),
    ((["1", "2", "3", "4", "5", True], "2", 1, 1), TypeError, "prices[5]: True is a bool, not a price"),
    ((np.array([True, False]), "2", 1, 1), TypeError, "prices[0]: np.True_ is a bool, not a price"),
    ((np.array([0.5], dtype=np.float32), "2", 1, 1), TypeError,
     "prices[0]: np.float32(0.5) is a numpy.float32, not a price; convert it with .astype(float) or to text"),
    (([None], "2", 1, 1), TypeError,
     "prices[0]: None is a NoneType, not a price (a decimal text, int, Decimal or float)"),
    (([Unshowable()], "2", 1, 1), TypeError,
     "prices[0]: <Unshowable object> is a Unshowable, not a price (a decimal text, int, Decimal or float)"),
    ((np.array([[1, 2]]), "2", 1, 1), TypeError,
     "prices[0]: array([1, 2]) is a numpy.ndarray, not a price (a decimal text, int, Decimal or float)"),
    (([Decimal("1E+10001")], "2", 1, 1), ValueError,
     "prices[0]: Decimal('1E+10001') has more than 10000 digits when written out"),
    (([LONG, "1"], "2", 1, 1, 1, 1), ValueError,
     f"prices[0]: '{LONG[:56]}... has more than 140 significant digits"),
    ((["1", TINY], "0", 1, 1, 1, 1), ValueError,
     f"prices[1]: '{TINY[:56]}... has so many decimals that some price needs more than 140 significant digits"),
    ((P, "1e3", 1, 1), ValueError, "low_price_threshold: '1e3' is not a decimal number"),
    ((P, True, 1, 1), TypeError, "low_price_threshold: True is a bool, not a price"),
    ((P, float("nan"), 1, 1), ValueError, "low_price_threshold: nan is not a finite number"),
    ((P, None, 1, 1), TypeError,
     "low_price_threshold: None is a NoneType, not a price (a decimal text, int, Decimal or float)"),
    ((P, "2", "3", 1), TypeError, "min_selections must be an int, not str"),
    ((P, "2", 1, 1.0), TypeError, "min_consecutive_periods must be an int, not float"),
    ((P, "2", 1, 1, True), TypeError, "max_gap_between_periods must be an int, not bool"),
    ((P, "2", 1, 1, 1, -1), ValueError, "max_gap_from_start cannot be negative (got -1)"),
    ((P, "2", -(2**70), 1), ValueError, "min_selections cannot be negative (got -1180591620717411303424)"),
    ((P, "2", 1, 1, 0, 0, 1), TypeError, "aggressive must be a bool, not int"),
    ((P, "2", 1, 1, 0, 0, None), TypeError, "aggressive must be a bool, not NoneType"),
    ((P, "2", 0, 1), ValueError, "min_selections must be greater than 0"),
    ((P, "2", 7, 1), ValueError, "min_selections (7) cannot be greater than the number of prices (6)"),
    ((P, "2", 2**70, 1), ValueError,
     "min_selections (1180591620717411303424) cannot be greater than the number of prices (6)"),
    ((P, "2", 1, 0), ValueError, "min_consecutive_periods must be greater than 0"),
    ((P, "2", 3, 5), ValueError, "min_consecutive_periods (5) cannot be greater than min_selections (3)"),
    ((P, "2", 1, 1, 1, 2), ValueError, "max_gap_from_start (2) cannot be greater than max_gap_between_periods (1)"),
    ((P, "2", 1, 1, 2**64 - 1, 2**70), ValueError,
     "max_gap_from_start (1180591620717411303424) cannot be greater than max_gap_between_periods (18446744073709551615)"),
    # The first failure is reported: types before texts, texts before the rules.
    ((["x"], True, 0, 0), TypeError, "low_price_threshold: True is a bool, not a price"),
    ((["x"], "2", 0, 0), ValueError, "prices[0]: 'x' is not a decimal number"),
    ((P, "2", 1), TypeError, "cheapest_periods() missing 1 required positional argument: 'min_consecutive_periods'"),
    ((P, "2", 1, 1, 0, 0, True, 0), TypeError,
     "cheapest_periods() takes from 4 to 7 positional arguments but 8 were given"),
    ((RaisingIterable(), "2", 1, 1), LookupError, "no prices today"),
    (([UnsureDecimal("1.5")], "2", 1, 1), LookupError, "no truth"),
]


@pytest.mark.parametrize(("arguments", "error", "message"), REFUSALS, ids=[m[:60] for _, _, m in REFUSALS])
def test_refusals_name_the_argument_the_rule_and_the_values(arguments, error, message) -> None:
    with pytest.raises(error) as raised:
        cheapest_periods(*arguments)
    assert type(raised.value) is error
    assert str(raised.value) == message


class Outer:
    class Inner:
        pass


def local_value():
    class Local:
        pass

    return Local()


# Values that no parameter takes, and the name the interpreter's own messages give their
# type: a type made in C carries its module ("complex" for a builtin), a heap type made in C
# too (decimal.Decimal from 3.13 on, functools.partial); a class statement's
# type is its __name__ alone, whatever its __module__ or nesting.
TYPE_NAMES = [
    (lambda: 1j, "complex"),
    (lambda: Decimal("1"), "decimal.Decimal"),
    (lambda: datetime.date(2024, 1, 1), "datetime.date"),
    (lambda: functools.partial(print), "functools.partial"),
    (lambda: np.float64(1), "numpy.float64"),
    (lambda: Outer.Inner(), "Inner"),
    (lambda: type("float32", (), {"__module__": "numpy"})(), "float32"),
    (local_value, "Local"),
]

# (arguments of _planner._plan but the value, message with {} for the type's name)
TYPE_NAMED_IN = [
    (lambda v: (v, "2", 1, 1, 0, 0, True, None, 0, 0, False, False),
     "prices must be a sequence of prices (a list, tuple, numpy array or pandas Series), not {}"),
    (lambda v: (P, "2", v, 1, 0, 0, True, None, 0, 0, False, False), "min_selections must be an int, not {}"),
    (lambda v: (P, "2", 1, 1, 0, 0, v, None, 0, 0, False, False), "aggressive must be a bool, not {}"),
    (lambda v: (P, "2", 1, 1, 0, 0, True, v, 0, 0, False, False),
     "allowed must be None or a sequence of bools (one per price), not {}"),
    (lambda v: (P, "2", 1, 1, 0, 0, True, [True, v], 0, 0, False, False), "allowed[1] must be a bool, not {}"),
    (lambda v: (P, "2", 1, 1, 0, 0, True, None, v, 0, False, False), "running_for must be an int, not {}"),
    (lambda v: (P, "2", 1, 1, 0, 0, True, None, 0, 0, v, False), "most_expensive must be a bool, not {}"),
    (lambda v: (P, "2", 1, 1, 0, 0, True, None, 0, 0, False, v), "allow_short_last_run must be a bool, not {}"),
]


@pytest.mark.parametrize(("make_value", "type_name"), TYPE_NAMES, ids=[name for _, name in TYPE_NAMES])
@pytest.mark.parametrize(("arguments", "message"), TYPE_NAMED_IN, ids=[m[:20] for _, m in TYPE_NAMED_IN])
def test_a_type_is_named_as_the_interpreter_names_it(make_value, type_name, arguments, message) -> None:
    with pytest.raises(TypeError) as refusal:
        _planner._plan(*arguments(make_value()))
    assert str(refusal.value) == message.format(type_name)


# numpy's bool is known by its type's names, as kestrava knows it: __module__ "numpy" and
# the name "bool_" or "bool". Such a type is a flag, never a count or a price, whatever
# else it defines; a near miss is judged by what it defines.
@pytest.mark.parametrize(("name", "module", "numpy_bool"),
                         [("bool_", "numpy", True), ("bool", "numpy", True), ("bool_", "numpy.core", False),
                          ("boolean", "numpy", False)])
def test_numpy_bool_is_known_by_its_types_names(name: str, module: str, numpy_bool: bool) -> None:
    value = type(name, (), {"__module__": module, "__bool__": lambda self: False, "__index__": lambda self: 1,
                            "__repr__": lambda self: "value"})()
    outcomes: list[object] = []
    for arguments in [(P, "2", 2, 1, 6, 6, value), (P, "2", value, 1), ([value], "2", 1, 1)]:
        try:
            outcomes.append(cheapest_periods(*arguments))
        except TypeError as refusal:
            outcomes.append(str(refusal))
    if numpy_bool:
        assert outcomes == [cheapest_periods(P, "2", 2, 1, 6, 6, False), f"min_selections must be an int, not {name}",
                            "prices[0]: value is a bool, not a price"]
    else:
        assert outcomes == [f"aggressive must be a bool, not {name}", cheapest_periods(P, "2", 1, 1), [0]]


@pytest.mark.parametrize("count", [3000, 3001, 10**7])
def test_an_iterable_is_read_no_further_than_one_item_past_the_limit(count: int) -> None:
    read = 0

    def prices():
        nonlocal read
        for _ in range(count):
            read += 1
            yield "1"

    if count <= 3000:
        assert cheapest_periods(prices(), "2", 1, 1) == list(range(count))
    else:
        with pytest.raises(ValueError, match=r"\(got more than 3000\)$"):
            cheapest_periods(prices(), "2", 1, 1)
    assert read == min(count, 3001)


# Counts on either side of every width a binding could cut them to.
COUNT_EDGES = [0, 1, 5, 6, 7, 2**63 - 1, 2**63, 2**64 - 1, 2**64, 2**70, 2**70 + 1]


def test_the_rules_between_counts_compare_the_values_as_written() -> None:
    def broken_rule(check, counts) -> tuple[str, bool] | None:
        """The parameter the first broken rule names, and whether the rule is "> 0"."""
        try:
            check(P, "2", *counts)
        except ValueError as refusal:
            return str(refusal).split()[0], str(refusal).endswith("greater than 0")
        return None

    for counts in itertools.product(COUNT_EDGES, repeat=4):
        assert broken_rule(cheapest_periods, counts) == broken_rule(plan_model.check_request, counts), counts


# The longest Decimals taken and the shortest refused by the length of their plain text
# (10000 characters, "0." and the point included, the sign not), below 1 and above.
WRITTEN_OUT = [
    (Decimal("1E-9998"), False), (Decimal("-1E-9998"), False), (Decimal("1E-9999"), True),
    (Decimal("0." + "7" * 9998), False), (Decimal("0." + "7" * 9999), True),
    (Decimal("1E+9999"), False), (Decimal("1E+10000"), True),
    (Decimal("9" * 9998 + ".5"), False), (Decimal("9" * 9999 + ".5"), True),
]


@pytest.mark.parametrize(("value", "refused"), WRITTEN_OUT, ids=[f"{v!r:.24}-{r}" for v, r in WRITTEN_OUT])
def test_a_decimal_is_refused_when_its_plain_text_passes_10000_characters(value: Decimal, refused: bool) -> None:
    # One price and min_selections 1: every period, without arithmetic on the value.
    try:
        outcome = str(cheapest_periods([value], "2", 1, 1))
    except ValueError as refusal:
        outcome = str(refusal)
    assert outcome.endswith(" has more than 10000 digits when written out") == refused, outcome[-80:]
    assert refused or outcome == "[0]"
