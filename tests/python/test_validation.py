"""Price conversion, request validation and the shortcuts, as seen from Python."""

import pytest

from kestrava import get_cheapest_periods

SIX = ["4", "1", "1", "9", "9", "2"]


def prices_with(count, **replaced):
    """`count` valid price texts, with the given positions replaced (keys like "at3")."""
    prices = [str(10 + i) for i in range(count)]
    for key, value in replaced.items():
        prices[int(key.removeprefix("at"))] = value
    return prices


VALIDATION_FAILURES = [
    # (prices, threshold, min_selections, min_consecutive, max_gap, max_gap_from_start, message)
    ([], "1", 1, 1, 0, 0, "prices cannot be empty"),
    (prices_with(29), "1", 1, 1, 0, 0, "prices cannot contain more than 28 items"),
    (prices_with(40), "1", 0, 0, 0, 1, "prices cannot contain more than 28 items"),
    (SIX, "1", 0, 1, 0, 0, "min_selections must be greater than 0"),
    (SIX, "1", 0, 0, 0, 0, "min_selections must be greater than 0"),
    (SIX, "1", 7, 1, 0, 0, "min_selections cannot be greater than total number of items"),
    (SIX, "1", 7, 0, 0, 1, "min_selections cannot be greater than total number of items"),
    (SIX, "1", 2, 0, 0, 0, "min_consecutive_periods must be greater than 0"),
    (SIX, "1", 2, 3, 0, 0, "min_consecutive_periods cannot be greater than min_selections"),
    (SIX, "1", 2, 3, 0, 1, "min_consecutive_periods cannot be greater than min_selections"),
    (SIX, "1", 2, 2, 0, 1, "max_gap_from_start must be less than or equal to max_gap_between_periods"),
    (SIX, "1", 2, 1, 3, 2**64 - 1, "max_gap_from_start must be less than or equal to max_gap_between_periods"),
    # Parse failures come before every validation rule.
    ([], "abc", 1, 1, 0, 0, "Invalid decimal"),
    (prices_with(29, at7="1.2.3"), "1", 1, 1, 0, 0, "Invalid decimal"),
    (SIX, "", 0, 0, 0, 1, "Invalid decimal"),
    (prices_with(3, at1=" 1"), "1", 1, 1, 0, 0, "Invalid decimal"),
    (prices_with(3, at2="1 "), "1", 1, 1, 0, 0, "Invalid decimal"),
    (prices_with(3, at0="1e3"), "1", 1, 1, 0, 0, "Invalid decimal"),
    (prices_with(3), "1,5", 1, 1, 0, 0, "Invalid decimal"),
]


@pytest.mark.parametrize(
    ("prices", "threshold", "selections", "consecutive", "gap", "start_gap", "message"), VALIDATION_FAILURES
)
def test_validation_message(prices, threshold, selections, consecutive, gap, start_gap, message):
    with pytest.raises(ValueError) as excinfo:
        get_cheapest_periods(prices, threshold, selections, consecutive, gap, start_gap)
    assert type(excinfo.value) is ValueError
    assert excinfo.value.args == (message,)


@pytest.mark.parametrize(
    ("element", "exception_type", "message"),
    [
        (1.5, TypeError, "'float' object cannot be converted to 'PyString'"),
        (7, TypeError, "'int' object cannot be converted to 'PyString'"),
        (None, TypeError, "'NoneType' object cannot be converted to 'PyString'"),
        (b"1", TypeError, "'bytes' object cannot be converted to 'PyString'"),
        ("1\udc80", UnicodeEncodeError, None),
    ],
    ids=repr,
)
def test_price_that_is_no_text_raises_its_own_error_without_prefix(element, exception_type, message):
    if message is None:
        with pytest.raises(exception_type) as expected:
            element.encode("utf-8")
        message = str(expected.value)
    # The bad element comes before an unparsable one and beyond the 28-item limit.
    prices = prices_with(30, at25="nope")
    prices[3] = element
    with pytest.raises(exception_type) as excinfo:
        get_cheapest_periods(prices, "1", 0, 0, 0, 1)
    assert type(excinfo.value) is exception_type
    assert str(excinfo.value) == message


def test_unparsable_price_before_a_non_text_one_wins():
    with pytest.raises(ValueError) as excinfo:
        get_cheapest_periods(prices_with(6, at2="x", at5=1.5), "1", 1, 1, 0, 0)
    assert str(excinfo.value) == "Invalid decimal"
    with pytest.raises(TypeError) as excinfo:
        get_cheapest_periods(prices_with(6, at2=1.5, at5="x"), "1", 1, 1, 0, 0)
    assert str(excinfo.value) == "'float' object cannot be converted to 'PyString'"


@pytest.mark.parametrize(
    ("prices", "threshold", "rules"),
    [
        (prices_with(28), "1", (1, 1, 27, 27)),
        (SIX, "1", (2, 2, 3, 3)),  # min_consecutive_periods equal to min_selections
        (SIX, "1", (6, 1)),  # the default gaps 0 and 0 pass
    ],
)
def test_boundaries_that_pass_validation(prices, threshold, rules):
    result = get_cheapest_periods(prices, threshold, *rules)
    assert result == sorted(set(result))
    assert all(type(index) is int and 0 <= index < len(prices) for index in result)


@pytest.mark.parametrize(
    ("prices", "threshold", "rules"),
    [
        (["9", "8", "7"], "1", (3, 1)),  # min_selections = n, nothing cheap
        (["9", "8", "7", "6"], "0", (4, 2, 0, 0)),
        (["1", "1.0", "1.00", "0.5"], "1.00", (1, 1, 0, 0)),  # every price cheap, equal counts
        (["-3", "-2.5"], "-2.5", (1, 1, 0, 0)),
        (["5"], "0", (1, 1, 0, 0)),
        (["5"], "9", (1, 1)),
        (prices_with(28), "100", (1, 1)),
    ],
)
def test_shortcuts_return_every_index(prices, threshold, rules):
    assert get_cheapest_periods(prices, threshold, *rules) == list(range(len(prices)))
    assert get_cheapest_periods(prices, threshold, *rules, aggressive=False) == list(range(len(prices)))


def test_result_is_a_new_list_of_plain_ints():
    # Only the run 2..4 passes: it starts within the leading gap and reaches the end.
    first = get_cheapest_periods(["9", "9", "1", "1", "1"], "0", 3, 3, 2, 2)
    second = get_cheapest_periods(["9", "9", "1", "1", "1"], "0", 3, 3, 2, 2)
    assert first == [2, 3, 4]
    assert type(first) is list
    assert all(type(index) is int for index in first)
    assert first is not second
