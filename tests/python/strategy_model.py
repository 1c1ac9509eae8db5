"""A small model of ``kestrava.get_cheapest_periods`` in plain Python, written
straight from the rules of the selection, for cross-checking the extension on
random requests.

It is deliberately naive: itertools gives the combinations (in lexicographic
order of positions), lists and sets hold selections, prices and sums are
decimals rounded only where the extension's 96-bit coefficient forces it, and
averages are exact fractions rounded the way the extension's decimal division
rounds them. It is meant for short price lists (ten or so) only.
"""

from __future__ import annotations

import decimal
from dataclasses import dataclass
from fractions import Fraction
from itertools import combinations
from typing import Sequence

# The largest coefficient of the extension's decimal type: 2^96 - 1.
LARGEST_COEFFICIENT = 2**96 - 1
MAX_SCALE = 28
MAX_PRICES = 28

# Wide enough that sums of a few short texts are always exact; rounding is asked for
# explicitly where the extension's 96-bit coefficient forces it.
EXACT = decimal.Context(prec=200, traps=[decimal.Inexact, decimal.InvalidOperation])
ROUNDING = decimal.Context(prec=200, traps=[decimal.InvalidOperation])


class ModelError(Exception):
    """A request the model rejects, with the extension's ValueError message."""


@dataclass(frozen=True)
class Rules:
    min_selections: int
    min_consecutive_periods: int
    max_gap_between_periods: int
    max_gap_from_start: int


def rounded_average(cost: decimal.Decimal, count: int) -> Fraction:
    """cost / count as the extension's division gives it: the quotient at the
    largest scale of at most 28 whose coefficient fits in 96 bits, the last digit
    rounded half to even on the exact remainder."""
    exact = Fraction(cost) / count
    magnitude = abs(exact)
    for scale in range(MAX_SCALE, -1, -1):
        scaled = magnitude * 10**scale
        whole, remainder = divmod(scaled.numerator, scaled.denominator)
        twice = 2 * remainder
        if twice > scaled.denominator or (twice == scaled.denominator and whole % 2 == 1):
            whole += 1
        if whole <= LARGEST_COEFFICIENT:
            value = Fraction(whole, 10**scale)
            return -value if exact < 0 else value
    raise OverflowError("Division overflowed")


def fitted(value: decimal.Decimal, rounding: str) -> decimal.Decimal:
    """The value as the extension's decimal holds it: at its own scale (at most 28),
    or rounded to the largest smaller scale at which the coefficient fits in 96 bits.
    OverflowError when it does not fit even as a whole number."""
    exponent = value.as_tuple().exponent
    assert isinstance(exponent, int)
    for scale in range(min(max(-exponent, 0), MAX_SCALE), -1, -1):
        rounded = value.quantize(decimal.Decimal(1).scaleb(-scale), rounding=rounding, context=ROUNDING)
        if abs(rounded.scaleb(scale)) <= LARGEST_COEFFICIENT:
            return rounded
    raise OverflowError("Addition overflowed")


def parse(text: str) -> decimal.Decimal:
    """A plain decimal text; digits that do not fit are rounded half up."""
    try:
        return fitted(decimal.Decimal(text), decimal.ROUND_HALF_UP)
    except (decimal.InvalidOperation, OverflowError):
        raise ModelError("Invalid decimal") from None


def rounded_sum(values: Sequence[decimal.Decimal]) -> decimal.Decimal:
    """The sum from zero in the given order, each partial sum rounded half to even
    when its coefficient outgrows 96 bits."""
    total = decimal.Decimal(0)
    for value in values:
        total = fitted(EXACT.add(total, value), decimal.ROUND_HALF_EVEN)
    return total


def blocks_of(indices: Sequence[int]) -> list[list[int]]:
    """Maximal runs of adjacent indices, in order."""
    blocks: list[list[int]] = []
    for index in indices:
        if blocks and blocks[-1][-1] + 1 == index:
            blocks[-1].append(index)
        else:
            blocks.append([index])
    return blocks


def block_rule_holds(indices: Sequence[int], rules: Rules, n: int) -> bool:
    blocks = blocks_of(indices)
    if not blocks:
        return False
    for position, block in enumerate(blocks):
        is_last = position == len(blocks) - 1
        if is_last and block[-1] == n - 1:
            continue
        if len(block) < rules.min_consecutive_periods:
            return False
    return True


def is_valid(indices: Sequence[int], rules: Rules, n: int) -> bool:
    if not indices:
        return False
    if indices[0] > min(rules.max_gap_from_start, rules.max_gap_between_periods):
        return False
    if n - 1 - indices[-1] > rules.max_gap_between_periods:
        return False
    if any(b - a - 1 > rules.max_gap_between_periods for a, b in zip(indices, indices[1:])):
        return False
    return block_rule_holds(indices, rules, n)


def merges(main: tuple[int, ...], cheap: Sequence[int]):
    """(block mask, merged indices) for every mask 1 .. 2^g - 1 over the cheap
    blocks that lie outside the main combination."""
    outside = [index for index in cheap if index not in set(main)]
    cheap_blocks = blocks_of(outside)
    for mask in range(1, 2 ** len(cheap_blocks)):
        chosen = [i for j, block in enumerate(cheap_blocks) if mask >> j & 1 for i in block]
        yield mask, sorted(main + tuple(chosen))


def aggressive(prices: Sequence[decimal.Decimal], cheap: Sequence[int], rules: Rules) -> list[int]:
    n = len(prices)
    rounded_sum(prices)
    best: tuple[list[int], Fraction] | None = None
    for size in range(rules.min_selections, n + 1):
        successful = False
        for main in combinations(range(n), size):
            if not is_valid(main, rules, n):
                continue
            best_merge = (list(main), rounded_average(rounded_sum([prices[i] for i in main]), size))
            for _, merge in merges(main, cheap):
                if not block_rule_holds(merge, rules, n):
                    continue
                average = rounded_average(rounded_sum([prices[i] for i in merge]), len(merge))
                if average < best_merge[1]:
                    best_merge = (merge, average)
            reference = Fraction(LARGEST_COEFFICIENT) if best is None else best[1]
            if best_merge[1] < reference:
                best = best_merge
                successful = True
        if successful:
            assert best is not None
            return best[0]
    raise ModelError(f"No valid combination found that satisfies the constraints for {n} items")


def conservative(prices: Sequence[decimal.Decimal], cheap: Sequence[int], rules: Rules) -> list[int]:
    n = len(prices)
    rounded_sum(prices)
    main: tuple[tuple[int, ...], decimal.Decimal] | None = None
    for size in range(rules.min_selections, n + 1):
        for combination in combinations(range(n), size):
            if not is_valid(combination, rules, n):
                continue
            cost = rounded_sum([prices[i] for i in combination])
            if main is None or cost < main[1]:
                main = (combination, cost)
        if main is not None:
            break
    if main is None:
        raise ModelError(f"No valid main combination found that satisfies the constraints for {n} items")

    cheap_set = set(cheap)
    result, result_cost = list(main[0]), main[1]
    result_cheap = len(cheap_set.intersection(result))
    for _, merge in merges(main[0], cheap):
        if not is_valid(merge, rules, n):
            continue
        cost = rounded_sum([prices[i] for i in merge])
        merge_cheap = len(cheap_set.intersection(merge))
        if merge_cheap > result_cheap or (merge_cheap == result_cheap and cost < result_cost):
            result, result_cost, result_cheap = merge, cost, merge_cheap
    return sorted(result)


def get_cheapest_periods(
    prices: Sequence[str],
    low_price_threshold: str,
    min_selections: int,
    min_consecutive_periods: int,
    max_gap_between_periods: int = 0,
    max_gap_from_start: int = 0,
    aggressive_strategy: bool = True,
) -> list[int]:
    """The model's answer for plain decimal texts (no underscores, no signs other
    than a leading minus); raises ModelError with the extension's message."""
    values = [parse(text) for text in prices]
    threshold = parse(low_price_threshold)
    n = len(values)
    rules = Rules(min_selections, min_consecutive_periods, max_gap_between_periods, max_gap_from_start)
    failures = [
        (n == 0, "prices cannot be empty"),
        (n > MAX_PRICES, "prices cannot contain more than 28 items"),
        (min_selections == 0, "min_selections must be greater than 0"),
        (min_selections > n, "min_selections cannot be greater than total number of items"),
        (min_consecutive_periods == 0, "min_consecutive_periods must be greater than 0"),
        (min_consecutive_periods > min_selections, "min_consecutive_periods cannot be greater than min_selections"),
        (
            max_gap_from_start > max_gap_between_periods,
            "max_gap_from_start must be less than or equal to max_gap_between_periods",
        ),
    ]
    for failed, message in failures:
        if failed:
            raise ModelError(message)
    cheap = [i for i, value in enumerate(values) if value <= threshold]
    if min_selections == n or len(cheap) == n:
        return list(range(n))
    strategy = aggressive if aggressive_strategy else conservative
    return strategy(values, cheap, rules)
