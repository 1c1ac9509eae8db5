"""Conversion of bound arguments: list, text, unsigned and flag rules, their prefixes,
causes, the order across parameters and the defaults."""

import array
import collections
import datetime
import decimal
import fractions
import operator
import sys

import pytest

from kestrava import get_cheapest_periods

# Prices where the two strategies choose differently: conservative takes the most cheap
# periods, aggressive the lowest average.
STRATEGY_SENSITIVE = (["5", "1", "9", "1", "8", "1"], "2", 1, 1, 5, 5)


def index_message(value):
    """The interpreter's own text for an object that is no integer."""
    with pytest.raises(TypeError) as excinfo:
        operator.index(value)
    return str(excinfo.value)


def call_with(valid_arguments, **overrides):
    return get_cheapest_periods(**{**valid_arguments, **overrides})


class Outer:
    class Inner:
        pass


class SurrogateNamed:
    pass


SurrogateNamed.__qualname__ = "Bad\udc80Name"


PREFIXED_TYPE_ERRORS = [
    ("prices", (1,), "'tuple' object cannot be converted to 'PyList'"),
    ("prices", range(2), "'range' object cannot be converted to 'PyList'"),
    ("prices", "12", "'str' object cannot be converted to 'PyList'"),
    ("prices", None, "'NoneType' object cannot be converted to 'PyList'"),
    ("prices", Outer.Inner(), "'Outer.Inner' object cannot be converted to 'PyList'"),
    ("prices", SurrogateNamed(), "'<failed to extract type name>' object cannot be converted to 'PyList'"),
    ("low_price_threshold", 0.5, "'float' object cannot be converted to 'PyString'"),
    ("low_price_threshold", b"0", "'bytes' object cannot be converted to 'PyString'"),
    ("low_price_threshold", 0, "'int' object cannot be converted to 'PyString'"),
    ("low_price_threshold", None, "'NoneType' object cannot be converted to 'PyString'"),
    ("min_selections", 2.0, index_message(2.0)),
    ("min_selections", "3", index_message("3")),
    ("min_consecutive_periods", None, index_message(None)),
    ("max_gap_between_periods", None, index_message(None)),
    ("max_gap_from_start", [], index_message([])),
    ("aggressive", 1, "'int' object cannot be converted to 'PyBool'"),
    ("aggressive", 0, "'int' object cannot be converted to 'PyBool'"),
    ("aggressive", None, "'NoneType' object cannot be converted to 'PyBool'"),
    ("aggressive", "yes", "'str' object cannot be converted to 'PyBool'"),
    ("aggressive", 1.0, "'float' object cannot be converted to 'PyBool'"),
]


@pytest.mark.parametrize(("parameter", "value", "message"), PREFIXED_TYPE_ERRORS)
def test_type_error_gets_argument_prefix(valid_arguments, parameter, value, message):
    with pytest.raises(TypeError) as excinfo:
        call_with(valid_arguments, **{parameter: value})
    failure = excinfo.value
    assert type(failure) is TypeError
    assert str(failure) == f"argument '{parameter}': {message}"
    assert failure.args == (str(failure),)
    assert failure.__cause__ is None
    assert failure.__suppress_context__ is True


def local_class():
    class Local:
        pass

    return Local()


def numpy_value(kind):
    numpy = pytest.importorskip("numpy")
    return getattr(numpy, kind)(1)


# A type is named by its qualified name, whatever made it: the interpreter, a C extension
# (whose full name carries its module) or a class statement.
TYPE_NAMES_BY_ORIGIN = [
    ("prices", lambda: {}, "dict"),
    ("low_price_threshold", lambda: bytearray(b"1"), "bytearray"),
    ("aggressive", lambda: 1j, "complex"),
    ("prices", lambda: decimal.Decimal("1"), "Decimal"),
    ("low_price_threshold", lambda: decimal.Decimal("1"), "Decimal"),
    ("aggressive", lambda: datetime.date(2024, 1, 1), "date"),
    ("prices", lambda: collections.OrderedDict(), "OrderedDict"),
    ("low_price_threshold", lambda: array.array("b"), "array"),
    ("low_price_threshold", lambda: numpy_value("float64"), "float64"),
    ("aggressive", lambda: numpy_value("int64"), "int64"),
    ("prices", lambda: fractions.Fraction(1), "Fraction"),
    ("low_price_threshold", local_class, "local_class.<locals>.Local"),
    ("aggressive", lambda: Outer.Inner(), "Outer.Inner"),
]


@pytest.mark.parametrize(("parameter", "make_value", "type_name"), TYPE_NAMES_BY_ORIGIN)
def test_type_named_by_its_qualified_name(valid_arguments, parameter, make_value, type_name):
    target = {"prices": "PyList", "low_price_threshold": "PyString", "aggressive": "PyBool"}[parameter]
    with pytest.raises(TypeError) as excinfo:
        call_with(valid_arguments, **{parameter: make_value()})
    assert str(excinfo.value) == f"argument '{parameter}': '{type_name}' object cannot be converted to '{target}'"


@pytest.mark.parametrize(
    ("parameter", "value", "exception_type"),
    [
        ("min_selections", -1, OverflowError),
        ("min_consecutive_periods", 2**64, OverflowError),
        ("max_gap_between_periods", -(2**70), OverflowError),
        ("max_gap_from_start", 2**100, OverflowError),
        ("low_price_threshold", "0\udc80", UnicodeEncodeError),
    ],
)
def test_other_interpreter_errors_pass_without_prefix(valid_arguments, parameter, value, exception_type):
    with pytest.raises(exception_type) as excinfo:
        call_with(valid_arguments, **{parameter: value})
    assert type(excinfo.value) is exception_type
    assert "argument" not in str(excinfo.value)


def test_unencodable_threshold_raises_the_interpreters_own_error(valid_arguments):
    text = "1\udcff"
    with pytest.raises(UnicodeEncodeError) as expected:
        text.encode("utf-8")
    with pytest.raises(UnicodeEncodeError) as excinfo:
        call_with(valid_arguments, low_price_threshold=text)
    assert str(excinfo.value) == str(expected.value)


class Index:
    """An integer-like object: __index__ returns `result` or raises it."""

    def __init__(self, result):
        self.result = result
        self.calls = 0

    def __repr__(self):
        return f"Index({self.result!r})"

    def __index__(self):
        self.calls += 1
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result


class TypeErrorSubclass(TypeError):
    pass


@pytest.mark.parametrize(
    "raised",
    [ValueError("not now"), TypeErrorSubclass("sub"), KeyError("k"), OverflowError("big")],
    ids=repr,
)
def test_index_errors_other_than_type_error_pass_unchanged(valid_arguments, raised):
    with pytest.raises(BaseException) as excinfo:
        call_with(valid_arguments, min_selections=Index(raised))
    assert excinfo.value is raised


def test_index_type_error_is_prefixed_and_keeps_its_cause(valid_arguments):
    cause = KeyError("why")
    raised = TypeError("no integer here")
    raised.__cause__ = cause
    with pytest.raises(TypeError) as excinfo:
        call_with(valid_arguments, max_gap_from_start=Index(raised))
    failure = excinfo.value
    assert failure is not raised
    assert str(failure) == "argument 'max_gap_from_start': no integer here"
    assert failure.__cause__ is cause
    assert failure.__suppress_context__ is True


def test_wrapped_text_with_lone_surrogate_is_shown_leniently(valid_arguments):
    with pytest.raises(TypeError) as excinfo:
        call_with(valid_arguments, min_selections=Index(TypeError("bad \udc80 value")))
    assert str(excinfo.value) == "argument 'min_selections': bad \ufffd\ufffd\ufffd value"


class Unprintable:
    def __str__(self):
        raise RuntimeError("cannot show")


def test_unprintable_wrapped_error_is_reported_as_unraisable(valid_arguments, monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    raised = TypeError(Unprintable())
    with pytest.raises(TypeError) as excinfo:
        call_with(valid_arguments, min_selections=Index(raised))
    assert str(excinfo.value) == "argument 'min_selections': <unprintable TypeError object>"
    assert len(reported) == 1
    assert reported[0].object is raised
    assert type(reported[0].exc_value) is RuntimeError


def outcome(*args):
    """The result of a call, or the class and text of its exception."""
    try:
        return get_cheapest_periods(*args)
    except Exception as failure:  # noqa: BLE001 - the failure is the outcome
        return type(failure), str(failure)


COUNT_PRICES = ["4", "1", "1", "9", "9", "2"]


def test_count_values_give_distinct_outcomes():
    # Guards the next test: reading one of these counts as another would show.
    outcomes = [outcome(COUNT_PRICES, "1", count, 1, 5, 5) for count in (0, 1, 3, 2**64 - 1)]
    assert len({repr(each) for each in outcomes}) == len(outcomes)


@pytest.mark.parametrize(
    ("value", "same_as"),
    [(Index(3), 3), (True, 1), (False, 0), (Index(0), 0), (Index(2**64 - 1), 2**64 - 1)],
    ids=repr,
)
def test_integer_like_counts_are_read_as_their_value(value, same_as):
    assert outcome(COUNT_PRICES, "1", value, 1, 5, 5) == outcome(COUNT_PRICES, "1", same_as, 1, 5, 5)


def test_largest_unsigned_count_is_accepted_and_left_to_validation(valid_arguments):
    with pytest.raises(ValueError) as excinfo:
        call_with(valid_arguments, min_selections=2**64 - 1)
    assert str(excinfo.value) == "min_selections cannot be greater than total number of items"


@pytest.mark.parametrize(
    ("overrides", "reported"),
    [
        ({"prices": (1,), "aggressive": 1}, "prices"),
        ({"low_price_threshold": 1, "min_selections": -1}, "low_price_threshold"),
        ({"min_selections": None, "min_consecutive_periods": None}, "min_selections"),
        ({"min_consecutive_periods": 1.5, "max_gap_between_periods": -1}, "min_consecutive_periods"),
        ({"max_gap_from_start": "x", "aggressive": None}, "max_gap_from_start"),
        ({"prices": None, "low_price_threshold": None, "min_selections": None}, "prices"),
    ],
)
def test_first_failing_parameter_in_order_is_reported(valid_arguments, overrides, reported):
    with pytest.raises(TypeError) as excinfo:
        call_with(valid_arguments, **overrides)
    assert str(excinfo.value).startswith(f"argument '{reported}': ")


def test_later_arguments_are_not_converted_after_a_failure(valid_arguments):
    later = Index(1)
    with pytest.raises(OverflowError):
        call_with(valid_arguments, min_selections=-1, max_gap_between_periods=later, max_gap_from_start=later)
    assert later.calls == 0


def test_counts_are_converted_in_parameter_order(valid_arguments):
    order = []

    class Recorded:
        def __init__(self, name):
            self.name = name

        def __index__(self):
            order.append(self.name)
            return 5

    names = ("max_gap_from_start", "min_consecutive_periods", "max_gap_between_periods", "min_selections")
    call_with(valid_arguments, **{name: Recorded(name) for name in names})
    assert order == ["min_selections", "min_consecutive_periods", "max_gap_between_periods", "max_gap_from_start"]


@pytest.mark.parametrize(
    ("request_args", "omitted_from"),
    [
        ((["4", "1", "1", "9", "9", "2"], "1", 1, 1), 4),
        ((["3", "9", "1"], "0", 1, 1), 4),
        (STRATEGY_SENSITIVE[:4] + (0,), 5),
        (STRATEGY_SENSITIVE, 6),
    ],
)
def test_omitted_arguments_take_their_defaults(request_args, omitted_from):
    defaults = (0, 0, True)
    explicit = request_args[:omitted_from] + defaults[omitted_from - 4:]
    assert get_cheapest_periods(*request_args[:omitted_from]) == get_cheapest_periods(*explicit)


def test_explicit_none_is_not_a_default(valid_arguments):
    with pytest.raises(TypeError) as excinfo:
        call_with(valid_arguments, aggressive=None)
    assert str(excinfo.value) == "argument 'aggressive': 'NoneType' object cannot be converted to 'PyBool'"


def test_strategies_differ_on_the_sensitive_request():
    # Guards the flag tests below: they could not tell true from false otherwise.
    assert get_cheapest_periods(*STRATEGY_SENSITIVE, True) != get_cheapest_periods(*STRATEGY_SENSITIVE, False)


def numpy_like(name, module="numpy", truth=None):
    """A class that carries numpy's boolean names; `truth` is its __bool__ (or none)."""
    namespace = {"__module__": module}
    if truth is not None:
        namespace["__bool__"] = truth
    return type(name, (), namespace)


def raise_value_error(self):
    raise ValueError("no truth")


@pytest.mark.parametrize(
    ("cls", "flag"),
    [
        (numpy_like("bool_", truth=lambda self: False), False),
        (numpy_like("bool_", truth=lambda self: True), True),
        (numpy_like("bool", truth=lambda self: False), False),
        (numpy_like("bool", truth=lambda self: True), True),
    ],
)
def test_numpy_named_booleans_use_their_truth(cls, flag):
    assert get_cheapest_periods(*STRATEGY_SENSITIVE, cls()) == get_cheapest_periods(*STRATEGY_SENSITIVE, flag)


@pytest.mark.parametrize(
    ("cls", "message"),
    [
        (numpy_like("bool_"), "object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion"),
        (numpy_like("bool_", truth=lambda self: 2), "__bool__ should return bool, returned int"),
        (numpy_like("boolean", truth=lambda self: True), "'boolean' object cannot be converted to 'PyBool'"),
        (numpy_like("bool_", module="numpy.core", truth=lambda self: True),
         "'bool_' object cannot be converted to 'PyBool'"),
        (numpy_like("bool_", module="Numpy", truth=lambda self: True),
         "'bool_' object cannot be converted to 'PyBool'"),
        (numpy_like("bool_", module=None, truth=lambda self: True),
         "'bool_' object cannot be converted to 'PyBool'"),
        (numpy_like("bool_", module="nump\udc80", truth=lambda self: True),
         "'bool_' object cannot be converted to 'PyBool'"),
    ],
)
def test_numpy_boolean_recognition_failures(cls, message):
    with pytest.raises(TypeError) as excinfo:
        get_cheapest_periods(*STRATEGY_SENSITIVE, cls())
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == f"argument 'aggressive': {message}"


def test_numpy_boolean_truth_error_passes_unchanged():
    with pytest.raises(ValueError) as excinfo:
        get_cheapest_periods(*STRATEGY_SENSITIVE, numpy_like("bool_", truth=raise_value_error)())
    assert str(excinfo.value) == "no truth"


def test_module_name_that_cannot_be_read_counts_as_not_numpy():
    class Meta(type):
        @property
        def __module__(cls):
            raise RuntimeError("unreadable")

    flag = Meta("bool_", (), {"__bool__": lambda self: True})
    with pytest.raises(TypeError) as excinfo:
        get_cheapest_periods(*STRATEGY_SENSITIVE, flag())
    assert str(excinfo.value) == "argument 'aggressive': 'bool_' object cannot be converted to 'PyBool'"


@pytest.mark.parametrize("flag", [False, True])
def test_real_numpy_booleans(flag):
    numpy = pytest.importorskip("numpy")
    assert get_cheapest_periods(*STRATEGY_SENSITIVE, numpy.bool_(flag)) == get_cheapest_periods(
        *STRATEGY_SENSITIVE, flag
    )


class NoisyList(list):
    """A list whose Python-level protocol must never be used by the module."""

    def __len__(self):
        raise AssertionError("__len__ called")

    def __getitem__(self, index):
        raise AssertionError("__getitem__ called")

    def __iter__(self):
        raise AssertionError("__iter__ called")


class NoisyStr(str):
    def __str__(self):
        raise AssertionError("__str__ called")


@pytest.mark.parametrize(
    ("prices", "threshold"),
    [
        (NoisyList(["5", "1", "9", "1", "8", "1"]), "2"),
        (["5", "1", "9", "1", "8", "1"], NoisyStr("2")),
        ([NoisyStr(text) for text in ["5", "1", "9", "1", "8", "1"]], "2"),
    ],
)
def test_subclasses_are_read_by_their_stored_contents(prices, threshold):
    plain = get_cheapest_periods(["5", "1", "9", "1", "8", "1"], "2", 1, 1, 5, 5)
    assert get_cheapest_periods(prices, threshold, 1, 1, 5, 5) == plain
