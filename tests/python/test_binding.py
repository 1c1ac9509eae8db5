"""Binding of positional and keyword arguments to the seven parameters, and its messages."""

import os
import random
import sys

import pytest

from kestrava import get_cheapest_periods

PARAMETERS = (
    "prices",
    "low_price_threshold",
    "min_selections",
    "min_consecutive_periods",
    "max_gap_between_periods",
    "max_gap_from_start",
    "aggressive",
)
POSITIONAL = (["4", "1", "1", "9", "9", "2"], "1", 1, 1, 5, 0, True)
FIRST_FOUR = POSITIONAL[:4]
FULL = "get_cheapest_periods()"


def lenient(text):
    """How a text with lone surrogates is shown: each ill-formed byte run as U+FFFD."""
    return text.encode("utf-8", "surrogatepass").decode("utf-8", "replace")


BINDING_FAILURES = [
    # Missing required positional arguments, listed in parameter order.
    ((), {}, f"{FULL} missing 4 required positional arguments: 'prices', 'low_price_threshold', "
     "'min_selections', and 'min_consecutive_periods'"),
    (POSITIONAL[:3], {}, f"{FULL} missing 1 required positional argument: 'min_consecutive_periods'"),
    (POSITIONAL[:2], {}, f"{FULL} missing 2 required positional arguments: 'min_selections' and "
     "'min_consecutive_periods'"),
    (POSITIONAL[:1], {}, f"{FULL} missing 3 required positional arguments: 'low_price_threshold', "
     "'min_selections', and 'min_consecutive_periods'"),
    (POSITIONAL[:1], {"min_selections": 1}, f"{FULL} missing 2 required positional arguments: "
     "'low_price_threshold' and 'min_consecutive_periods'"),
    ((), {"min_consecutive_periods": 1, "prices": []}, f"{FULL} missing 2 required positional arguments: "
     "'low_price_threshold' and 'min_selections'"),
    # Optional arguments alone do not stand in for required ones.
    ((), {"aggressive": True, "max_gap_from_start": 0}, f"{FULL} missing 4 required positional arguments: "
     "'prices', 'low_price_threshold', 'min_selections', and 'min_consecutive_periods'"),
    # Too many positional arguments, tested before any keyword.
    (POSITIONAL + (0,), {}, f"{FULL} takes from 4 to 7 positional arguments but 8 were given"),
    (POSITIONAL + (0, 0, 0), {}, f"{FULL} takes from 4 to 7 positional arguments but 10 were given"),
    (POSITIONAL + (0,), {"foo": 1}, f"{FULL} takes from 4 to 7 positional arguments but 8 were given"),
    (POSITIONAL + (0,), {"prices": []}, f"{FULL} takes from 4 to 7 positional arguments but 8 were given"),
    # A parameter given twice.
    (FIRST_FOUR, {"prices": []}, f"{FULL} got multiple values for argument 'prices'"),
    (POSITIONAL, {"aggressive": False}, f"{FULL} got multiple values for argument 'aggressive'"),
    (FIRST_FOUR[:2], {"low_price_threshold": "1"}, f"{FULL} got multiple values for argument "
     "'low_price_threshold'"),
    # Unknown keywords: exact, case-sensitive names; examined before the missing test.
    ((), {"foo": 1}, f"{FULL} got an unexpected keyword argument 'foo'"),
    (FIRST_FOUR, {"Prices": []}, f"{FULL} got an unexpected keyword argument 'Prices'"),
    (FIRST_FOUR, {"aggressive ": True}, f"{FULL} got an unexpected keyword argument 'aggressive '"),
    (FIRST_FOUR, {"min_selection": 1}, f"{FULL} got an unexpected keyword argument 'min_selection'"),
    (FIRST_FOUR, {"self": None}, f"{FULL} got an unexpected keyword argument 'self'"),
    (FIRST_FOUR, {"prïces": []}, f"{FULL} got an unexpected keyword argument 'prïces'"),
    # The first bad keyword in call order is reported.
    (FIRST_FOUR, {"foo": 1, "prices": []}, f"{FULL} got an unexpected keyword argument 'foo'"),
    (FIRST_FOUR, {"prices": [], "foo": 1}, f"{FULL} got multiple values for argument 'prices'"),
    ((), {"prices": [], "bar": 1, "foo": 2}, f"{FULL} got an unexpected keyword argument 'bar'"),
    # A name that cannot be encoded matches nothing and is shown leniently.
    (FIRST_FOUR, {"\udc80": 1}, f"{FULL} got an unexpected keyword argument '{lenient(chr(0xDC80))}'"),
    ((), {"pri\ud800ces": 1}, f"{FULL} got an unexpected keyword argument '{lenient('pri' + chr(0xD800) + 'ces')}'"),
]


@pytest.mark.parametrize(("args", "kwargs", "message"), BINDING_FAILURES)
def test_binding_failure_message(args, kwargs, message):
    with pytest.raises(TypeError) as excinfo:
        get_cheapest_periods(*args, **kwargs)
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == message
    assert excinfo.value.args == (message,)


def test_lone_surrogate_is_replaced_per_ill_formed_byte():
    # U+DC80 becomes ED B2 80 under "surrogatepass"; ED cannot start a surrogate, so
    # each of the three bytes is its own ill-formed part.
    with pytest.raises(TypeError) as excinfo:
        get_cheapest_periods(**{"a\udc80b": 1})
    assert str(excinfo.value) == f"{FULL} got an unexpected keyword argument 'a\ufffd\ufffd\ufffdb'"


# Pieces of keyword names: mostly lone surrogates (alone, doubled, in pairs that stay
# two code points) between characters of every UTF-8 length. A longer run:
#   KESTRAVA_NAME_STRINGS=1000000 python -m pytest -q test_binding.py
NAME_PIECES = [
    lambda rng: chr(rng.randint(0x20, 0x7E)),
    lambda rng: chr(rng.randint(0x80, 0x7FF)),
    lambda rng: chr(rng.choice([rng.randint(0x800, 0xD7FF), rng.randint(0xE000, 0xFFFF)])),
    lambda rng: chr(rng.randint(0x10000, 0x10FFFF)),
    lambda rng: chr(rng.randint(0xD800, 0xDBFF)),
    lambda rng: chr(rng.randint(0xDC00, 0xDFFF)),
    lambda rng: chr(rng.randint(0xD800, 0xDBFF)) + chr(rng.randint(0xDC00, 0xDFFF)),
    lambda rng: chr(rng.randint(0xDC00, 0xDFFF)) + chr(rng.randint(0xD800, 0xDBFF)),
]


def test_keyword_names_with_lone_surrogates_are_shown_as_the_replace_decoder_shows_them():
    count = int(os.environ.get("KESTRAVA_NAME_STRINGS", "20000"))
    rng = random.Random(20240421)
    ill_formed = 0
    for _ in range(count):
        name = "".join(rng.choice(NAME_PIECES)(rng) for _ in range(rng.randint(1, 8)))
        ill_formed += any(0xD800 <= ord(c) <= 0xDFFF for c in name)
        with pytest.raises(TypeError) as excinfo:
            get_cheapest_periods(*FIRST_FOUR, **{name: 1})
        assert str(excinfo.value) == f"{FULL} got an unexpected keyword argument '{lenient(name)}'", ascii(name)
    print(f"{count} keyword names, {ill_formed} ill-formed in UTF-8")
    assert ill_formed > count // 2


def test_keyword_name_is_shown_by_its_str():
    class ShownOtherwise(str):
        def __str__(self):
            return "shown"

    with pytest.raises(TypeError) as excinfo:
        get_cheapest_periods(**{ShownOtherwise("foo"): 1})
    assert str(excinfo.value) == f"{FULL} got an unexpected keyword argument 'shown'"


class Unshowable(str):
    def __str__(self):
        raise RuntimeError("cannot show")


class NamedByUnshowable(Unshowable):
    pass


# A type named by an unprintable instance of itself: showing its name must not recurse.
NamedByUnshowable.__name__ = NamedByUnshowable("NamedByUnshowable")


@pytest.mark.parametrize(
    ("name_type", "shown"),
    [(Unshowable, "<unprintable Unshowable object>"), (NamedByUnshowable, "<unprintable object>")],
)
def test_unprintable_keyword_name(monkeypatch, name_type, shown):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    name = name_type("foo")
    with pytest.raises(TypeError) as excinfo:
        get_cheapest_periods(**{name: 1})
    assert str(excinfo.value) == f"{FULL} got an unexpected keyword argument '{shown}'"
    assert [report.object for report in reported] == [name]


class RecordsIndex:
    """An integer-like object that records whether the binding looked at it."""

    def __init__(self):
        self.calls = 0

    def __index__(self):
        self.calls += 1
        return 1


@pytest.mark.parametrize(
    ("extra_args", "extra_kwargs"),
    [
        ((0, 0, 0, 0), {}),  # too many positional arguments
        ((), {"foo": 1}),  # unexpected keyword
        ((), {"prices": []}),  # doubled parameter
    ],
)
def test_binding_failure_converts_nothing(extra_args, extra_kwargs):
    counted = RecordsIndex()
    with pytest.raises(TypeError):
        get_cheapest_periods((1,), "x", counted, counted, *extra_args, **extra_kwargs)
    assert counted.calls == 0


def all_keywords(order):
    return {name: POSITIONAL[PARAMETERS.index(name)] for name in order}


@pytest.mark.parametrize(
    ("args", "kwargs"),
    [
        ((), all_keywords(PARAMETERS)),
        ((), all_keywords(reversed(PARAMETERS))),
        ((), all_keywords(PARAMETERS[3::-1] + PARAMETERS[:3:-1])),
        (FIRST_FOUR, all_keywords(PARAMETERS[4:])),
        (FIRST_FOUR, all_keywords(reversed(PARAMETERS[4:]))),
        (POSITIONAL[:5], all_keywords(PARAMETERS[5:])),
        (POSITIONAL[:2], all_keywords(PARAMETERS[2:])),
    ],
)
def test_any_mix_of_positions_and_keywords_binds_like_positions(args, kwargs):
    assert get_cheapest_periods(*args, **kwargs) == get_cheapest_periods(*POSITIONAL)

