"""Every parameter fed every wrong kind of value: other types, None, bools where counts
go, negative and huge integers, objects whose __index__, __str__ or __bool__ misbehave,
lone surrogates, texts of a million characters, list subclasses with hostile protocols,
and a prices list emptied, grown or rewritten by a later argument's __index__ (which
runs before the prices are read). Each gets its exact error or its exact answer, and the
interpreter stays usable after each."""

import gc
import operator
import sys

import pytest

from kestrava import get_cheapest_periods

BASE = {
    "prices": ["5", "1", "9", "1", "8", "1"],
    "low_price_threshold": "2",
    "min_selections": 2,
    "min_consecutive_periods": 1,
    "max_gap_between_periods": 3,
    "max_gap_from_start": 3,
    "aggressive": True,
}
COUNTS = ("min_selections", "min_consecutive_periods", "max_gap_between_periods", "max_gap_from_start")
MILLION = 10**6


# ---- The interpreter's own messages, taken from the interpreter ------------------------

def index_message(value):
    with pytest.raises(TypeError) as excinfo:
        operator.index(value)
    return str(excinfo.value)


def unsigned_message(value):
    """The interpreter's OverflowError text for a count outside 0 .. 2**64 - 1."""
    try:
        import _testlimitedcapi as capi  # 3.13 and later
    except ImportError:
        capi = pytest.importorskip("_testcapi")
    with pytest.raises(OverflowError) as excinfo:
        capi.pylong_asunsignedlonglong(value)
    return str(excinfo.value)


def encode_message(text):
    with pytest.raises(UnicodeEncodeError) as excinfo:
        text.encode("utf-8")
    return str(excinfo.value)


# ---- Hostile objects ---------------------------------------------------------------

class RaisingStr:
    def __str__(self):
        raise RuntimeError("no str")

    def __repr__(self):
        return "RaisingStr()"


class TextWithRaisingStr(str):
    def __str__(self):
        raise RuntimeError("no str")


class IntWithRaisingIndex(int):
    def __index__(self):
        raise RuntimeError("__index__ of an int subclass is never called")


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class Truthy:
    def __bool__(self):
        return True


def numpy_like_flag(truth):
    return type("bool_", (), {"__module__": "numpy", "__bool__": truth})()


def raising(exception):
    def method(*args):
        raise exception

    return method


def hostile_list(contents, **methods):
    """A list subclass whose Python-level protocol methods are replaced by `methods`."""
    return type("HostileList", (list,), methods)(contents)


class Mutating:
    """An __index__ or __bool__ that changes the prices list, then answers `value`."""

    def __init__(self, prices, change, value):
        self.prices, self.change, self.value = prices, change, value

    def __index__(self):
        self.change(self.prices)
        return self.value

    def __bool__(self):
        self.change(self.prices)
        return self.value


def mutating_flag(prices, change, value):
    """A numpy-named boolean whose truth changes the prices list."""
    mutating = Mutating(prices, change, value)
    return type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: bool(mutating)})()


# ---- Expectations ------------------------------------------------------------------

class Raises:
    """The exception class and its exact str; `message` may be a callable made lazily."""

    def __init__(self, cls, message):
        self.cls, self.message = cls, message

    def check(self, overrides):
        message = self.message() if callable(self.message) else self.message
        with pytest.raises(BaseException) as excinfo:
            call(overrides)
        assert type(excinfo.value) is self.cls, excinfo.value
        assert str(excinfo.value) == message


class SameAs:
    """The same outcome (result, or exception class and text) as the call with `equivalent`."""

    def __init__(self, **equivalent):
        self.equivalent = equivalent

    def check(self, overrides):
        expected = outcome(self.equivalent)
        assert outcome(overrides) == expected


def call(overrides):
    overrides = overrides() if callable(overrides) else overrides
    return get_cheapest_periods(**{**BASE, **overrides})


def outcome(overrides):
    try:
        return call(overrides)
    except Exception as failure:  # noqa: BLE001 - the failure is the outcome
        return type(failure), str(failure)


def wrapped(parameter, message):
    return lambda: f"argument '{parameter}': {message() if callable(message) else message}"


def not_a_list(kind):
    return Raises(TypeError, f"argument 'prices': '{kind}' object cannot be converted to 'PyList'")


def not_a_text(kind, parameter=None):
    message = f"'{kind}' object cannot be converted to 'PyString'"
    return Raises(TypeError, wrapped(parameter, message) if parameter else message)


def with_price(value, at=3):
    prices = list(BASE["prices"])
    prices[at] = value
    return prices


def mutated_by(parameter, change, value):
    """Overrides whose `parameter` changes a fresh copy of the prices during conversion."""
    def make():
        prices = list(BASE["prices"])
        if parameter == "aggressive":
            return {"prices": prices, parameter: mutating_flag(prices, change, value)}
        return {"prices": prices, parameter: Mutating(prices, change, value)}

    return make


def grow_to(count):
    return lambda prices: prices.extend(str(i % 7) for i in range(count - len(prices)))


def count_rows(parameter):
    """Every wrong kind of count value for one count parameter."""
    rows = [
        (None, Raises(TypeError, wrapped(parameter, lambda: index_message(None)))),
        (2.0, Raises(TypeError, wrapped(parameter, lambda: index_message(2.0)))),
        ("3", Raises(TypeError, wrapped(parameter, lambda: index_message("3")))),
        ([], Raises(TypeError, wrapped(parameter, lambda: index_message([])))),
        (RaisingStr(), Raises(TypeError, wrapped(parameter, "'RaisingStr' object cannot be interpreted as an integer"))),
        (True, SameAs(**{parameter: 1})),
        (False, SameAs(**{parameter: 0})),
        (IntWithRaisingIndex(1), SameAs(**{parameter: 1})),
        (-1, Raises(OverflowError, lambda: unsigned_message(-1))),
        (-(2**63), Raises(OverflowError, lambda: unsigned_message(-(2**63)))),
        (2**64, Raises(OverflowError, lambda: unsigned_message(2**64))),
        (10**30, Raises(OverflowError, lambda: unsigned_message(10**30))),
        (2**64 - 1, SameAs(**{parameter: Index(2**64 - 1)})),
        (Index(-5), Raises(OverflowError, lambda: unsigned_message(-5))),
        (Index(2**70), Raises(OverflowError, lambda: unsigned_message(2**70))),
        (Index("3"), Raises(TypeError, wrapped(parameter, "__index__ returned non-int (type str)"))),
        (Index(ValueError("bad value")), Raises(ValueError, "bad value")),
        (Index(ZeroDivisionError("zero")), Raises(ZeroDivisionError, "zero")),
        (Index(TypeError("no count")), Raises(TypeError, wrapped(parameter, "no count"))),
    ]
    return [(f"{parameter}={value!r}", {parameter: value}, expected) for value, expected in rows]


MATRIX = [
    # prices: other types
    ("prices=tuple", {"prices": tuple(BASE["prices"])}, not_a_list("tuple")),
    ("prices=None", {"prices": None}, not_a_list("NoneType")),
    ("prices=str", {"prices": "519181"}, not_a_list("str")),
    ("prices=bytes", {"prices": b"5"}, not_a_list("bytes")),
    ("prices=dict", {"prices": dict.fromkeys(BASE["prices"])}, not_a_list("dict")),
    ("prices=set", {"prices": set(BASE["prices"])}, not_a_list("set")),
    ("prices=int", {"prices": 6}, not_a_list("int")),
    ("prices=bool", {"prices": True}, not_a_list("bool")),
    ("prices=generator", lambda: {"prices": (text for text in BASE["prices"])}, not_a_list("generator")),
    ("prices=range", {"prices": range(6)}, not_a_list("range")),
    ("prices=unprintable", {"prices": RaisingStr()}, not_a_list("RaisingStr")),
    # prices: hostile list subclasses are read from their storage only
    ("prices __len__ raises", lambda: {"prices": hostile_list(BASE["prices"], __len__=raising(RuntimeError("len")))},
     SameAs()),
    ("prices __len__ says 0", lambda: {"prices": hostile_list(BASE["prices"], __len__=lambda self: 0)}, SameAs()),
    ("prices __len__ says huge", lambda: {"prices": hostile_list(BASE["prices"], __len__=lambda self: sys.maxsize)},
     SameAs()),
    ("prices __iter__ raises", lambda: {"prices": hostile_list(BASE["prices"], __iter__=raising(RuntimeError("it")))},
     SameAs()),
    ("prices __getitem__ raises",
     lambda: {"prices": hostile_list(BASE["prices"], __getitem__=raising(RuntimeError("get")))}, SameAs()),
    ("empty hostile prices", lambda: {"prices": hostile_list([], __len__=lambda self: 6)},
     Raises(ValueError, "prices cannot be empty")),
    # prices: elements of the wrong kind, each raised without a prefix
    ("price float", {"prices": with_price(1.5)}, not_a_text("float")),
    ("price int", {"prices": with_price(1)}, not_a_text("int")),
    ("price bool", {"prices": with_price(True)}, not_a_text("bool")),
    ("price None", {"prices": with_price(None)}, not_a_text("NoneType")),
    ("price bytes", {"prices": with_price(b"1")}, not_a_text("bytes")),
    ("price unprintable", {"prices": with_price(RaisingStr())}, not_a_text("RaisingStr")),
    ("price list", {"prices": with_price(["1"])}, not_a_text("list")),
    ("price str subclass with raising __str__", {"prices": with_price(TextWithRaisingStr("1"))}, SameAs()),
    ("price lone surrogate", {"prices": with_price("1\udc80")},
     Raises(UnicodeEncodeError, lambda: encode_message("1\udc80"))),
    ("price lone high surrogate", {"prices": with_price("\ud800")},
     Raises(UnicodeEncodeError, lambda: encode_message("\ud800"))),
    ("price million digits", {"prices": with_price("1" * MILLION)}, Raises(ValueError, "Invalid decimal")),
    ("price million leading zeros", {"prices": with_price("0" * MILLION + "1")}, SameAs()),
    ("price million underscores", {"prices": with_price("1" + "_" * MILLION)}, SameAs()),
    ("price million fractional zeros", {"prices": with_price("1." + "0" * MILLION)}, SameAs()),
    ("price million spaces", {"prices": with_price(" " * MILLION)}, Raises(ValueError, "Invalid decimal")),
    ("price million non-ASCII", {"prices": with_price("\u00e9" * MILLION)}, Raises(ValueError, "Invalid decimal")),
    ("price NUL inside", {"prices": with_price("1\x002")}, Raises(ValueError, "Invalid decimal")),
    ("million prices", {"prices": ["1"] * MILLION}, Raises(ValueError, "prices cannot contain more than 28 items")),
    # low_price_threshold
    ("threshold float", {"low_price_threshold": 2.0}, not_a_text("float", "low_price_threshold")),
    ("threshold int", {"low_price_threshold": 2}, not_a_text("int", "low_price_threshold")),
    ("threshold bool", {"low_price_threshold": False}, not_a_text("bool", "low_price_threshold")),
    ("threshold None", {"low_price_threshold": None}, not_a_text("NoneType", "low_price_threshold")),
    ("threshold bytes", {"low_price_threshold": b"2"}, not_a_text("bytes", "low_price_threshold")),
    ("threshold list", {"low_price_threshold": ["2"]}, not_a_text("list", "low_price_threshold")),
    ("threshold unprintable", {"low_price_threshold": RaisingStr()}, not_a_text("RaisingStr", "low_price_threshold")),
    ("threshold str subclass with raising __str__", {"low_price_threshold": TextWithRaisingStr("2")}, SameAs()),
    ("threshold lone surrogate", {"low_price_threshold": "2\udfff"},
     Raises(UnicodeEncodeError, lambda: encode_message("2\udfff"))),
    ("threshold million nines", {"low_price_threshold": "9" * MILLION}, Raises(ValueError, "Invalid decimal")),
    ("threshold million zeros", {"low_price_threshold": "0" * MILLION + "2"}, SameAs()),
    ("threshold million fraction", {"low_price_threshold": "2." + "0" * MILLION}, SameAs()),
    ("threshold million spaces", {"low_price_threshold": " " * MILLION}, Raises(ValueError, "Invalid decimal")),
    # the four counts
    *(row for parameter in COUNTS for row in count_rows(parameter)),
    # aggressive
    ("aggressive=1", {"aggressive": 1}, Raises(TypeError, "argument 'aggressive': 'int' object cannot be converted to 'PyBool'")),
    ("aggressive=0", {"aggressive": 0}, Raises(TypeError, "argument 'aggressive': 'int' object cannot be converted to 'PyBool'")),
    ("aggressive=None", {"aggressive": None},
     Raises(TypeError, "argument 'aggressive': 'NoneType' object cannot be converted to 'PyBool'")),
    ("aggressive='True'", {"aggressive": "True"},
     Raises(TypeError, "argument 'aggressive': 'str' object cannot be converted to 'PyBool'")),
    ("aggressive=1.0", {"aggressive": 1.0},
     Raises(TypeError, "argument 'aggressive': 'float' object cannot be converted to 'PyBool'")),
    ("aggressive=truthy", {"aggressive": Truthy()},
     Raises(TypeError, "argument 'aggressive': 'Truthy' object cannot be converted to 'PyBool'")),
    ("aggressive=unprintable", {"aggressive": RaisingStr()},
     Raises(TypeError, "argument 'aggressive': 'RaisingStr' object cannot be converted to 'PyBool'")),
    ("aggressive numpy-like raising", {"aggressive": numpy_like_flag(raising(KeyError("truth")))},
     Raises(KeyError, "'truth'")),
    # a later argument's __index__ or truth changes the prices before they are read
    ("emptied by min_selections", mutated_by("min_selections", list.clear, 2),
     Raises(ValueError, "prices cannot be empty")),
    ("emptied by the flag", mutated_by("aggressive", list.clear, True), Raises(ValueError, "prices cannot be empty")),
    ("grown past 28 by max_gap_from_start", mutated_by("max_gap_from_start", grow_to(29), 3),
     Raises(ValueError, "prices cannot contain more than 28 items")),
    ("grown to 28 by min_selections", mutated_by("min_selections", grow_to(28), 28),
     SameAs(prices=[*BASE["prices"], *(str(i % 7) for i in range(6, 28))], min_selections=28)),
    ("float appended by max_gap_between_periods", mutated_by("max_gap_between_periods", lambda p: p.append(1.5), 3),
     not_a_text("float")),
    ("rewritten by min_selections", mutated_by("min_selections", lambda p: p.__setitem__(slice(None), ["7", "0"]), 1),
     SameAs(prices=["7", "0"], min_selections=1)),
    ("unparsable written by the flag", mutated_by("aggressive", lambda p: p.__setitem__(0, "x"), True),
     Raises(ValueError, "Invalid decimal")),
]


@pytest.mark.parametrize(("overrides", "expected"), [row[1:] for row in MATRIX], ids=[row[0] for row in MATRIX])
def test_bad_input(overrides, expected):
    conservative = {**BASE, "aggressive": False}
    baselines = [get_cheapest_periods(**BASE), get_cheapest_periods(**conservative)]
    expected.check(overrides)
    # The interpreter and the module carry on as before.
    gc.collect()
    assert [get_cheapest_periods(**BASE), get_cheapest_periods(**conservative)] == baselines


def test_the_matrix_covers_every_parameter():
    named = {name for _, overrides, _ in MATRIX if isinstance(overrides, dict) for name in overrides}
    assert named == set(BASE)
