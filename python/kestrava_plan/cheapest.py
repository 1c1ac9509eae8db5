"""`cheapest_periods` and `_plan`: the planner's signatures, names and defaults. Each
passes its arguments by position to an entry of the compiled `_planner`, which reads
and checks their values, in its own order, and plans without the interpreter lock.
Their types are in cheapest.pyi, so that the signatures read as plain names."""

from . import _planner


def cheapest_periods(prices, low_price_threshold, min_selections, min_consecutive_periods,
                     max_gap_between_periods=0, max_gap_from_start=0, aggressive=True):
    """Choose the cheapest periods of a price series under timing rules.

    prices holds one price per period, 1 to 3000 of them, in any sequence or
    iterable: a list, tuple, numpy array or pandas Series (not a str, bytes,
    mapping, set, mapping view or memoryview, whose items are no periods in
    order). Each price, and low_price_threshold, is a decimal text ("63.88",
    "-0.5", "1_000"; no exponent, no spaces), an int (numpy integers too), a
    finite decimal.Decimal, or a float (numpy float64 too), which means the
    decimal its shortest repr shows: 0.1 is one tenth. bool, NaN, infinities and
    other types (numpy float32: convert with .astype(float)) are refused.

    A period priced at or below low_price_threshold is cheap. A valid plan has at
    least min_selections periods, in runs of at least min_consecutive_periods (a
    run that ends at the last period may be shorter), is never more than
    max_gap_between_periods periods off (after the last run too) and starts at
    most max_gap_from_start periods in. With both gap limits 0, the only valid
    plan is every period. The smallest size with a valid plan is used, and whole
    runs of cheap periods are added where the rules still hold.

    aggressive=True: the lowest average price over the plans and their cheap
    runs. aggressive=False: the cheapest plan, then every cheap run that fits.
    Sums and averages are exact rationals. Ties go to the plan whose periods come
    first, then to the fewest late cheap runs (the smallest mask, run j = 2**j).

    Limits: 3000 prices; a price may have at most 140 significant digits at the
    largest number of decimals among the prices. The interpreter lock is released
    while planning, and Ctrl-C ends a long plan with KeyboardInterrupt.

    Returns the chosen indices in ascending order. Raises TypeError for an argument
    of the wrong type and ValueError for a value that breaks a rule; the message
    names the argument, the price's index and the values.
    """
    return _planner._cheapest_periods(prices, low_price_threshold, min_selections, min_consecutive_periods,
                                      max_gap_between_periods, max_gap_from_start, aggressive)


def _plan(prices, low_price_threshold, min_selections, min_consecutive_periods, max_gap_between_periods,
          max_gap_from_start, aggressive, allowed, running_for, off_for, most_expensive, strict_end, day_of,
          day_quota, day_names, /):
    """The plan of cheapest_periods under more timing rules, for kestrava_plan.plan.

    All positional: prices, low_price_threshold and the four counts and aggressive as
    for cheapest_periods; allowed (None, or one bool per price: a period marked False is
    never chosen and counts as time off), running_for (the load was on for that many
    periods before period 0) and off_for (it was off for that many); most_expensive (the
    plan of the negated prices and threshold) and strict_end (no run, the last one
    included, shorter than min_consecutive_periods), bools; a quota per local day:
    day_of (each period's day, from 0, each the day before or one more), day_quota (each
    day's fewest main periods) and day_names (each day's local date, for the messages),
    or all three None. Returns
    (periods, base_size): the chosen indices ascending, and the size of the base plan,
    so that len(periods) - base_size cheap periods were added. A request that no
    selection meets raises ValueError naming the first cause.
    """
    return _planner._plan(prices, low_price_threshold, min_selections, min_consecutive_periods,
                          max_gap_between_periods, max_gap_from_start, aggressive, allowed, running_for, off_for,
                          most_expensive, strict_end, day_of, day_quota, day_names)
