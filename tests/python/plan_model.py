"""The model of the answer in plain Python, written from the rules alone and sharing no
code with the planner, and seeded generators of requests for checking both functions
against it: ``kestrava_plan.cheapest_periods`` everywhere, and
``kestrava.get_cheapest_periods`` where its 96-bit decimals are exact. It has two
halves that answer alike; a new timing rule goes into ``is_valid`` (the literal half)
and into the shape transitions (the programme).

``brute_force`` is the definition read literally: sizes from ``min_selections`` up,
selections of a size in lexicographic order, then block masks in increasing order,
averages as exact fractions. It is for n <= 14.

``slow_dp`` gives the same answers for n up to a few hundred. Why it matches:

* Prices are exact integers at a common scale (the least common multiple of their
  denominators), so every sum and comparison is exact.
* A selection is read period by period. The state between period i-1 and i is the
  number selected so far, the shape (no period selected yet; in a run of length l,
  capped at min_run; or in a gap of length d) and, for the merges, what the cheap
  block ending at i-1 does (none; left out; taken; taken but still waiting for a
  selected neighbour). Lead, gap, trailing-gap and run rules are checked on the
  transitions that close a lead, gap or run, so the accepted paths of exactly k
  selections are the valid selections of size k. A gap holds only unselected
  periods, so once d plus the unselected periods still to come is at most max_gap,
  no gap can break the rule any more and d is no longer counted.
* A merge run without a selected period is a single cheap block: two blocks are
  always parted by a selected or a dear period. A run holding a selected run is long
  enough or ends the day, because the selection is valid. So a set of blocks is
  admissible exactly when each block alone is: it touches a selected period, ends
  at n-1, or is at least min_run long. Blocks are therefore chosen one at a time;
  a block that is short, starts with no selected period before it and does not end
  the day is taken only while the period after it gets selected.
* Aggressive: for a trial average p/q the programme minimises the sum of
  q*price - p over a merge, which is below 0 exactly when some merge averages below
  p/q. Dinkelbach's iteration moves p/q to the average of a minimiser until the
  minimum is 0: p/q is then the lowest average, and the merges of sum 0 reach it.
  With backward values known, a forward walk keeps every optimal state that agrees
  with the selection so far and selects period i whenever some optimal completion
  does: that is the lexicographically first selection among the optimal ones (equal
  sizes, so the first differing index decides). For that selection the smallest
  mask takes exactly the admissible blocks of negative sum: any other optimal mask
  adds blocks of sum 0, which only raise the mask.
* Conservative: the same programme with the prices as weights and no blocks gives
  the cheapest valid selection, lexicographically first. Admissibility is per block,
  so taking every admissible block is the only merge with the most cheap periods;
  the later tie rules (total, mask) never come into play.

``plan_answer`` adds the timing rules of ``kestrava_plan.plan`` to both halves (with
none given it runs the code above): blocked periods are never selected, are not
cheap, and count as gap; a carried run of r periods is the shape at period 0 (a run
of length r, so a cheap block starting there touches it); off_for o narrows the lead
to min(max_lead, max_gap - o). Without a valid selection it names the cause.

And the rules of a quota per day, a strict end and the dearest periods:

* most_expensive is by definition the plan of the negated prices and threshold, so
  both halves simply plan those.
* A strict end (allow_short_last_run=False) drops the exemption of a run or a cheap
  block that ends at the last period. In the programme an accepting state may no longer
  be a run shorter than min_run, nor a block still waiting for a selected neighbour.
* A quota counts only the base selection, per day. The programme's state carries the
  count of the day so far, capped at the day's quota (more never helps), checked and
  reset where a day starts and checked after the last period: memory grows with the
  quota, not with the number of days. Days come from ``local_days``: a day begins at
  the first instant of its local date whose clock shows day_start or later.
"""

from __future__ import annotations

import decimal
import functools
import math
import random
from dataclasses import dataclass, replace
from datetime import date, datetime, time, timedelta, timezone
from fractions import Fraction
from collections import Counter
from itertools import combinations
from typing import Sequence
from zoneinfo import ZoneInfo

MAX_PRICES = 3000


@dataclass(frozen=True)
class Request:
    prices: list
    low_price_threshold: object
    min_selections: int
    min_consecutive_periods: int
    max_gap_between_periods: int = 0
    max_gap_from_start: int = 0
    aggressive: bool = True
    # kestrava takes it and rounds nothing: at most 28 prices, decimal texts of at most 4
    # places and magnitudes below 10**6 (where averages of up to 28 prices rounded to 28
    # significant places still order and tie exactly).
    kestrava_exact: bool = False

    def arguments(self) -> tuple:
        return (self.prices, self.low_price_threshold, self.min_selections, self.min_consecutive_periods,
                self.max_gap_between_periods, self.max_gap_from_start, self.aggressive)


@dataclass(frozen=True)
class Problem:
    """A validated request: prices as integers at one scale, and the rules."""
    costs: tuple[int, ...]
    cheap: tuple[bool, ...]
    min_selections: int
    min_run: int
    max_gap: int
    max_lead: int
    allowed: tuple[bool, ...] | None = None  # None: every period may be selected
    running: int = 0  # running_for: the load was on for this many periods before period 0
    off: int = 0  # off_for
    strict_end: bool = False  # not allow_short_last_run: the last run is no longer exempt
    day_of: tuple[int, ...] | None = None  # each period's day, 0 for the first; None: no quota
    quotas: tuple[int, ...] = ()  # per day, the periods the base selection must hold in it

    @property
    def n(self) -> int:
        return len(self.costs)

    def can_select(self, i: int) -> bool:
        return self.allowed is None or self.allowed[i]

    @property
    def lead_limit(self) -> int:
        """The latest first selected period when no run is carried; below 0 when none."""
        return min(self.max_lead, self.max_gap - self.off)


# ---------------------------------------------------------------------------
# Request checking and exact prices, shared by both models


def exact_value(value: object) -> Fraction:
    """A price or threshold as an exact fraction; a float stands for the decimal its
    repr shows."""
    if isinstance(value, bool):
        raise TypeError("a price cannot be a bool")
    if isinstance(value, int):
        return Fraction(value)
    if isinstance(value, float):
        if not math.isfinite(value):
            raise ValueError("a price must be finite")
        return Fraction(decimal.Decimal(repr(value)))
    if isinstance(value, decimal.Decimal):
        if not value.is_finite():
            raise ValueError("a price must be finite")
        return Fraction(value)
    if isinstance(value, str):
        return _decimal_text(value)
    raise TypeError(f"a price cannot be a {type(value).__name__}")


def _decimal_text(text: str) -> Fraction:
    """Optional sign, digits with at most one point, '_' only after the first digit."""
    body = text[1:] if text[:1] in ("+", "-") else text
    digits = [position for position, char in enumerate(body) if char.isascii() and char.isdigit()]
    well_formed = (
        digits
        and set(body) <= set("0123456789._")
        and body.count(".") <= 1
        and "_" not in body[: digits[0]]
    )
    if not well_formed:
        raise ValueError(f"not a decimal text: {text!r}")
    value = Fraction(decimal.Decimal(body.replace("_", "")))
    return -value if text.startswith("-") else value


def check_request(prices: Sequence, threshold, min_sel: int, min_run: int, max_gap: int,
                  max_lead: int) -> Problem:
    n = len(prices)
    failures = [
        (n == 0, "prices cannot be empty"),
        (n > MAX_PRICES, f"prices cannot contain more than {MAX_PRICES} items"),
        (min_sel == 0, "min_selections must be greater than 0"),
        (min_sel > n, "min_selections cannot be greater than total number of items"),
        (min_run == 0, "min_consecutive_periods must be greater than 0"),
        (min_run > min_sel, "min_consecutive_periods cannot be greater than min_selections"),
        (max_lead > max_gap, "max_gap_from_start must be less than or equal to max_gap_between_periods"),
    ]
    for failed, message in failures:
        if failed:
            raise ValueError(message)
    return exact_problem([exact_value(price) for price in prices], exact_value(threshold),
                         min_sel, min_run, max_gap, max_lead)


def exact_problem(values: Sequence[Fraction], limit: Fraction, min_sel: int, min_run: int, max_gap: int,
                  max_lead: int, allowed: Sequence[bool] | None = None, running: int = 0, off: int = 0) -> Problem:
    scale = math.lcm(*(value.denominator for value in values))
    mask = None if allowed is None else tuple(bool(flag) for flag in allowed)
    cheap = tuple(value <= limit and (mask is None or mask[i]) for i, value in enumerate(values))
    return Problem(tuple(int(value * scale) for value in values), cheap, min_sel, min_run, max_gap, max_lead,
                   mask, running, off)


def every_period_answer(problem: Problem) -> list[int] | None:
    """The shortcuts hold only where selecting every period meets the rules."""
    if (problem.allowed is not None and not all(problem.allowed)) or problem.off > problem.max_gap:
        return None
    if problem.min_selections == problem.n or all(problem.cheap):
        return list(range(problem.n))
    return None


# ---------------------------------------------------------------------------
# The literal model


def runs_of(indices: Sequence[int]) -> list[list[int]]:
    runs: list[list[int]] = []
    for index in indices:
        if runs and runs[-1][-1] + 1 == index:
            runs[-1].append(index)
        else:
            runs.append([index])
    return runs


def runs_are_long_enough(indices: Sequence[int], problem: Problem) -> bool:
    """A run starting at period 0 continues the carried one."""
    return all(len(run) + (problem.running if run[0] == 0 else 0) >= problem.min_run or ends_exempt(run, problem)
               for run in runs_of(indices))


def ends_exempt(run: Sequence[int], problem: Problem) -> bool:
    """Whether a run may be short because it ends at the last period."""
    return run[-1] == problem.n - 1 and not problem.strict_end


def meets_quotas(indices: Sequence[int], problem: Problem) -> bool:
    if problem.day_of is None:
        return True
    held = Counter(problem.day_of[i] for i in indices)
    return all(held[day] >= quota for day, quota in enumerate(problem.quotas))


def start_is_valid(first: int, problem: Problem) -> bool:
    if problem.running:  # the load is on: no lead, and a pause after the carried run ends it
        return first == 0 or (problem.running >= problem.min_run and first <= problem.max_gap)
    return first <= problem.max_lead and problem.off + first <= problem.max_gap


def is_valid(indices: Sequence[int], problem: Problem) -> bool:
    gaps = [later - earlier - 1 for earlier, later in zip(indices, indices[1:])]
    gaps.append(problem.n - 1 - indices[-1])
    return (all(problem.can_select(i) for i in indices) and start_is_valid(indices[0], problem)
            and max(gaps) <= problem.max_gap and runs_are_long_enough(indices, problem)
            and meets_quotas(indices, problem))


def cheap_blocks(main: Sequence[int], problem: Problem) -> list[list[int]]:
    chosen = set(main)
    return runs_of([i for i in range(problem.n) if problem.cheap[i] and i not in chosen])


def merges(main: tuple[int, ...], problem: Problem):
    """(mask, merged indices) for every mask in increasing order, the empty one first."""
    blocks = cheap_blocks(main, problem)
    for mask in range(2 ** len(blocks)):
        added = [i for j, block in enumerate(blocks) if mask >> j & 1 for i in block]
        yield mask, sorted(main + tuple(added))


def brute_force(prices, threshold, min_sel, min_run, max_gap=0, max_lead=0, aggressive=True) -> list[int]:
    answer = brute_answer(check_request(prices, threshold, min_sel, min_run, max_gap, max_lead), aggressive)
    assert answer is not None, "selecting every period is always valid"
    return answer[0]


def brute_answer(problem: Problem, aggressive: bool) -> tuple[list[int], int] | None:
    """(periods, base size), or None when no selection is valid."""
    n = problem.n
    valid: list[tuple[int, ...]] = []
    for size in range(problem.min_selections, n + 1):
        valid = [main for main in combinations(range(n), size) if is_valid(main, problem)]
        if valid:
            break
    if not valid:
        return None
    everything = every_period_answer(problem)
    if everything is not None:
        return everything, len(valid[0])

    def total(indices: Sequence[int]) -> int:
        return sum(problem.costs[i] for i in indices)

    if aggressive:
        best: tuple[Fraction, list[int]] | None = None
        for main in valid:
            for _, merged in merges(main, problem):
                average = Fraction(total(merged), len(merged))
                if runs_are_long_enough(merged, problem) and (best is None or average < best[0]):
                    best = (average, merged)
        assert best is not None
        return best[1], len(valid[0])
    main_star = min(valid, key=total)  # min keeps the first of equals: lexicographic order
    candidates = [((-sum(problem.cheap[i] for i in merged), total(merged), mask), merged)
                  for mask, merged in merges(main_star, problem) if runs_are_long_enough(merged, problem)]
    return min(candidates)[1], len(main_star)


# ---------------------------------------------------------------------------
# The dynamic programme

LEAD, RUN, GAP = 0, 1, 2                  # shape: nothing selected yet / in a run / in a gap
NO_BLOCK, LEFT_OUT, TAKEN, WAITING = 0, 1, 2, 3  # the cheap block the previous period ends


def start_shape(problem: Problem) -> tuple[int, int]:
    """A carried run is a run at period 0; its length counts only up to min_run."""
    return (RUN, min(problem.running, problem.min_run)) if problem.running else (LEAD, 0)


def shape_after_selecting(i: int, kind: int, length: int, problem: Problem) -> tuple[int, int] | None:
    if not problem.can_select(i) or (kind == LEAD and i > problem.lead_limit):
        return None
    if kind == RUN:
        return RUN, min(length + 1, problem.min_run)
    return RUN, 1


def shape_after_skipping(i: int, kind: int, length: int, problem: Problem) -> tuple[int, int] | None:
    """A gap of length 0 is one that can no longer grow past max_gap."""
    if kind == LEAD:
        return (LEAD, 0) if i + 1 <= problem.lead_limit else None
    if kind == RUN:
        return (GAP, 1) if length >= problem.min_run and problem.max_gap >= 1 else None
    if length == 0:
        return GAP, 0
    return (GAP, length + 1) if length + 1 <= problem.max_gap else None


def day_count_at(i: int, done: int, problem: Problem) -> int | None:
    """What period i's day holds before i: 0 where a day starts, provided the day before
    met its quota (None if not)."""
    if problem.day_of is None or i == 0 or problem.day_of[i] == problem.day_of[i - 1]:
        return done
    return 0 if done >= problem.quotas[problem.day_of[i - 1]] else None


def day_count_after(i: int, done: int, selects: bool, problem: Problem) -> int:
    """Capped at the day's quota: beyond it the count no longer matters."""
    if problem.day_of is None:
        return 0
    return min(done + selects, problem.quotas[problem.day_of[i]])


def ends_accepted(kind: int, length: int, done: int, problem: Problem) -> bool:
    """Whether a selection may end in this shape after the last period."""
    if kind == LEAD or (problem.strict_end and kind == RUN and length < problem.min_run):
        return False
    return problem.day_of is None or done >= problem.quotas[problem.day_of[-1]]


def smallest_size(problem: Problem) -> int | None:
    """k, or None when no size is valid: the sets of reachable counts per shape and day
    count, as bit sets, pushed through the periods."""
    layer = {(*start_shape(problem), 0): 1}
    for i in range(problem.n):
        following: dict[tuple[int, int, int], int] = {}
        for (kind, length, done), counts in layer.items():
            done = day_count_at(i, done, problem)
            if done is None:
                continue
            for selects, shape, shifted in ((True, shape_after_selecting(i, kind, length, problem), counts << 1),
                                            (False, shape_after_skipping(i, kind, length, problem), counts)):
                if shape is not None:
                    key = (*shape, day_count_after(i, done, selects, problem))
                    following[key] = following.get(key, 0) | shifted
        layer = following
    reachable = 0
    for (kind, length, done), counts in layer.items():
        if ends_accepted(kind, length, done, problem):
            reachable |= counts
    reachable >>= problem.min_selections
    if not reachable:
        return None
    return problem.min_selections + (reachable & -reachable).bit_length() - 1


class Programme:
    """The cheapest valid selection of exactly ``size`` periods under per-period
    weights, with (``with_blocks``) each cheap block taken or left out as well. The
    paths through the periods are built once; ``solve`` prices them for one set of
    weights."""

    def __init__(self, problem: Problem, size: int, with_blocks: bool):
        self.problem, self.size, self.with_blocks = problem, size, with_blocks
        self.START = (0, *start_shape(problem), NO_BLOCK, 0)
        self.n = problem.n
        # The last index of the run of cheap periods through i.
        self.cheap_run_end = [0] * self.n
        for i in reversed(range(self.n)):
            following = i + 1 < self.n and problem.cheap[i + 1]
            self.cheap_run_end[i] = self.cheap_run_end[i + 1] if following else i
        self.edges = self._edges()

    def moves(self, i: int, state: tuple) -> list[tuple[bool, bool, tuple]]:
        """(selects i, adds the weight of i, next state) for each way through period i."""
        count, kind, length, block, done = state
        result: list[tuple[bool, bool, tuple]] = []
        done = day_count_at(i, done, self.problem)
        if done is None:
            return result
        if count < self.size:
            shape = shape_after_selecting(i, kind, length, self.problem)
            if shape is not None:
                after = (count + 1, *shape, NO_BLOCK, day_count_after(i, done, True, self.problem))
                result.append((True, True, after))
        if count + self.n - i - 1 >= self.size:
            shape = shape_after_skipping(i, kind, length, self.problem)
            if shape is not None:
                # A gap holds only unselected periods: once the ones left cannot carry it
                # past max_gap, its length no longer matters (nor that of any later gap).
                unselected_left = self.n - i - 1 - (self.size - count)
                if shape[0] == GAP and shape[1] + unselected_left <= self.problem.max_gap:
                    shape = (GAP, 0)
                done = day_count_after(i, done, False, self.problem)
                for next_block, pays in self._block_moves(i, kind, block):
                    result.append((False, pays, (count, *shape, next_block, done)))
        return result

    def _block_moves(self, i: int, kind: int, block: int) -> list[tuple[int, bool]]:
        problem = self.problem
        if not self.with_blocks:
            return [(NO_BLOCK, False)]
        if not problem.cheap[i]:
            # A waiting block that a dear period ends was short and touched nothing selected.
            return [] if block == WAITING else [(NO_BLOCK, False)]
        if block == LEFT_OUT:
            return [(LEFT_OUT, False)]
        if block in (TAKEN, WAITING):
            return [(block, True)]
        # A new block starts at i: after a selected period (or the carried run), or at the
        # start of its cheap run.
        # One that waits to the last period is fine too, no dear period ever ending it,
        # unless the end is strict (see _accepts).
        end = self.cheap_run_end[i]
        fine_alone = kind == RUN or end - i + 1 >= problem.min_run
        return [(LEFT_OUT, False), (TAKEN if fine_alone else WAITING, True)]

    def _accepts(self, state: tuple) -> bool:
        """A waiting block reaches the last period short and touching nothing selected."""
        count, kind, length, block, done = state
        return (count == self.size and ends_accepted(kind, length, done, self.problem)
                and not (block == WAITING and self.problem.strict_end))

    def _edges(self) -> list[dict]:
        """edges[i][state]: the moves through period i from a state that is reachable
        and can still end accepted."""
        edges: list[dict] = []
        layer = {self.START}
        for i in range(self.n):
            edges.append({state: self.moves(i, state) for state in layer})
            layer = {after for moves in edges[i].values() for _, _, after in moves}
        self.accepted = alive = {state for state in layer if self._accepts(state)}
        for i in reversed(range(self.n)):
            row = {}
            for state, moves in edges[i].items():
                kept = [move for move in moves if move[2] in alive]
                if kept:
                    row[state] = kept
            edges[i], alive = row, set(row)
        return edges

    def _values(self, weights: Sequence[int]) -> list[dict]:
        """values[i][state]: the least weight periods i.. can add from that state."""
        values: list[dict] = [{}] * (self.n + 1)
        values[self.n] = {state: 0 for state in self.accepted}
        for i in reversed(range(self.n)):
            later = values[i + 1]
            values[i] = {state: min(later[after] + (weights[i] if pays else 0) for _, pays, after in moves)
                         for state, moves in self.edges[i].items()}
        return values

    def solve(self, weights: Sequence[int]) -> tuple[int, list[int]]:
        """The least weight, and the lexicographically first selection on an optimal path."""
        values = self._values(weights)
        target = values[0][self.START]
        live = {self.START: 0}  # state -> weight so far; each lies on an optimal path
        chosen = []
        for i in range(self.n):
            later = values[i + 1]
            for selecting in (True, False):
                following = {}
                for state, so_far in live.items():
                    for selects, pays, after in self.edges[i][state]:
                        weight = so_far + (weights[i] if pays else 0)
                        if selects == selecting and weight + later[after] == target:
                            following[after] = weight
                if following:
                    break
            if selecting:
                chosen.append(i)
            live = following
        return target, chosen


def block_fits_alone(block: list[int], main: set[int], problem: Problem) -> bool:
    touches_carried_run = block[0] == 0 and problem.running > 0
    return (block[0] - 1 in main or touches_carried_run or block[-1] + 1 in main or ends_exempt(block, problem)
            or len(block) >= problem.min_run)


def lowest_average(problem: Problem, size: int) -> list[int]:
    programme = Programme(problem, size, with_blocks=True)
    trial = Fraction(min(problem.costs))  # any start will do: the first step lands on a real average
    while True:
        weights = [trial.denominator * cost - trial.numerator for cost in problem.costs]
        optimum, main = programme.solve(weights)
        chosen = set(main)
        merged = set(main)
        for block in cheap_blocks(main, problem):
            if block_fits_alone(block, chosen, problem) and sum(weights[i] for i in block) < 0:
                merged.update(block)
        assert sum(weights[i] for i in merged) == optimum
        if optimum == 0:
            return sorted(merged)
        trial = Fraction(sum(problem.costs[i] for i in merged), len(merged))


def cheapest_main_selection(problem: Problem, size: int | None = None) -> list[int]:
    """The conservative strategy's first stage, before any cheap block joins."""
    size = smallest_size(problem) if size is None else size
    assert size is not None, "no selection is valid"
    return Programme(problem, size, with_blocks=False).solve(problem.costs)[1]


def slow_dp(prices, threshold, min_sel, min_run, max_gap=0, max_lead=0, aggressive=True) -> list[int]:
    answer = dp_answer(check_request(prices, threshold, min_sel, min_run, max_gap, max_lead), aggressive)
    assert answer is not None, "selecting every period is always valid"
    return answer[0]


def dp_answer(problem: Problem, aggressive: bool) -> tuple[list[int], int] | None:
    """(periods, base size), or None when no selection is valid."""
    size = smallest_size(problem)
    if size is None:
        return None
    everything = every_period_answer(problem)
    if everything is not None:
        return everything, size
    if aggressive:
        return lowest_average(problem, size), size
    main = cheapest_main_selection(problem, size)
    chosen = set(main)
    merged = set(main)
    for block in cheap_blocks(main, problem):
        if block_fits_alone(block, chosen, problem):
            merged.update(block)
    return sorted(merged), size


# ---------------------------------------------------------------------------
# The answer of kestrava_plan.plan


@dataclass(frozen=True)
class PlanAnswer:
    periods: tuple[int, ...]
    base_size: int


@dataclass(frozen=True)
class NoPlan:
    """cause: 1 a blocked stretch longer than max_gap (its first and last period);
    2 fewer allowed periods than min_selections; 3 a carried run too short with period 0
    blocked; 4 off_for leaving no allowed start in time; 6 a day with fewer allowed
    periods than its quota (the day's label, what it holds, its quota); 7 a plan only
    with a short last run; 5 anything else. They are checked in that order, 6 and 7
    before 5."""
    cause: int
    first: int | None = None
    last: int | None = None
    day: object = None
    held: int | None = None
    quota: int | None = None


def plan_answer(prices: Sequence, threshold: Fraction | decimal.Decimal, min_selections: int, min_run: int,
                max_gap: int, max_lead: int, aggressive: bool, *, allowed: Sequence[bool] | None = None,
                running_for: int = 0, off_for: int = 0, most_expensive: bool = False,
                allow_short_last_run: bool = True, days: Sequence[object] | None = None, min_per_day: int = 0,
                done_today: int = 0, method: str = "auto") -> PlanAnswer | NoPlan:
    """The answer to valid arguments; method "brute" (n <= 14), "dp", or "auto": the
    literal model while it is quick (n <= 8), else the programme. ``days`` labels each
    period with its day (see ``local_days``); it is needed when min_per_day > 0."""
    values, limit = [Fraction(price) for price in prices], Fraction(threshold)
    if most_expensive:  # by definition the plan of the negated prices and threshold
        values, limit = [-value for value in values], -limit
    problem = replace(exact_problem(values, limit, min_selections, min_run, max_gap, max_lead, allowed,
                                    running_for, off_for),
                      strict_end=not allow_short_last_run, **day_quotas(days, min_per_day, done_today))
    answer = solve(problem, aggressive, method)
    if answer is None:
        cause = no_plan(problem, method)
        return replace(cause, day=list(dict.fromkeys(days))[cause.day]) if cause.cause == 6 else cause
    assert named_cause(problem) is None, "a named cause of no plan left a valid selection"
    return PlanAnswer(tuple(answer[0]), answer[1])


def solve(problem: Problem, aggressive: bool, method: str) -> tuple[list[int], int] | None:
    brute = method == "brute" or (method == "auto" and problem.n <= 8)
    return brute_answer(problem, aggressive) if brute else dp_answer(problem, aggressive)


def day_quotas(days: Sequence[object] | None, min_per_day: int, done_today: int) -> dict:
    """Problem.day_of and Problem.quotas: days numbered in time order, the first day's
    quota lowered by what it has done (not below 0)."""
    if not min_per_day:
        return {}
    assert days is not None, "a quota needs the day of each period"
    number = {day: k for k, day in enumerate(dict.fromkeys(days))}
    quotas = [min_per_day] * len(number)
    quotas[0] = max(0, min_per_day - done_today)
    return {"day_of": tuple(number[day] for day in days), "quotas": tuple(quotas)}


def blocked_stretches(problem: Problem) -> list[list[int]]:
    return runs_of([i for i in range(problem.n) if not problem.can_select(i)])


def named_cause(problem: Problem) -> NoPlan | None:
    """The first of causes 1 to 4 and 6, which each rule out every selection on their
    own, as plan_answer asserts on every request it answers. Blocked stretches at the
    ends count for cause 1 too: a lead, a pause after a carried run and a trailing gap
    are each at most max_gap; off_for is time off, not a blocked stretch."""
    too_long = [stretch for stretch in blocked_stretches(problem) if len(stretch) > problem.max_gap]
    if too_long:
        return NoPlan(1, too_long[0][0], too_long[0][-1])
    if sum(map(problem.can_select, range(problem.n))) < problem.min_selections:
        return NoPlan(2)
    if 0 < problem.running < problem.min_run and not problem.can_select(0):
        return NoPlan(3)
    # Only a given off_for is named: with none, a late start is cause 5 like any other rule.
    if problem.off > 0 and not any(map(problem.can_select, range(min(problem.lead_limit + 1, problem.n)))):
        return NoPlan(4)
    for day, quota in enumerate(problem.quotas):
        held = sum(problem.can_select(i) for i in range(problem.n) if problem.day_of[i] == day)
        if held < quota:
            return NoPlan(6, day=day, held=held, quota=quota)
    return None


def no_plan(problem: Problem, method: str) -> NoPlan:
    """The first cause that applies, for a problem without a valid selection."""
    cause = named_cause(problem)
    if cause is not None:
        return cause
    if problem.strict_end and solve(replace(problem, strict_end=False), True, method) is not None:
        return NoPlan(7)
    return NoPlan(5)


# ---------------------------------------------------------------------------
# Random requests aimed at the corners


def _price_values(rng: random.Random, n: int, most_places: int) -> list[Fraction]:
    """Runs of cheap-ish and dear-ish values in one of a few styles."""
    style = rng.choice(["palette", "palette", "runs", "decimals", "wide"])
    if style == "palette":  # few distinct values: ties of prices and of averages
        palette = [Fraction(rng.randint(-3, 6)) for _ in range(rng.randint(2, 4))]
        return [rng.choice(palette) for _ in range(n)]
    if style == "decimals":  # many digits after the point, small magnitudes
        places = rng.randint(min(5, most_places), most_places)
        return [Fraction(rng.randint(-10**places, 3 * 10**places), 10**places) for _ in range(n)]
    values: list[Fraction] = []
    low, high = (0, 5) if style == "runs" else (-1000, 1000)
    places = 0 if style == "runs" else rng.randint(0, 4)
    while len(values) < n:
        cheap_run = rng.random() < 0.5
        run = rng.choice([1, 1, 2, 3, rng.randint(1, 12)])
        for _ in range(run):
            value = rng.randint(low, (low + high) // 2) if cheap_run else rng.randint((low + high) // 2, high)
            values.append(Fraction(value * 10**places + rng.randint(0, 10**places - 1), 10**places))
    return values[:n]


def decimal_text(value: Fraction) -> str:
    """The exact decimal text of a value whose denominator divides a power of ten."""
    places = 0
    while (value * 10**places).denominator != 1:
        places += 1
    digits = str(abs(value.numerator * 10**places // value.denominator)).rjust(places + 1, "0")
    sign = "-" if value < 0 else ""
    return sign + (digits[:-places] + "." + digits[-places:] if places else digits)


def _as_argument(value: Fraction, rng: random.Random) -> object:
    """Mostly a decimal text; now and then an int, a Decimal or a float of the same value."""
    text = decimal_text(value)
    kind = rng.random()
    if kind < 0.06 and value.denominator == 1:
        return value.numerator
    if kind < 0.12:
        return decimal.Decimal(text)
    if kind < 0.18 and exact_value(float(text)) == value:  # the float's repr shows the same decimal
        return float(text)
    if kind < 0.22 and "." in text:
        return text + "0"  # the same value written longer
    return text


def _rules(rng: random.Random, n: int) -> tuple[int, int, int, int]:
    """min_selections, min_consecutive_periods, max gap, max gap from start: each at an
    edge now and then, mostly loose enough to leave many valid selections."""
    edge = rng.random()
    min_sel = (rng.choice([1, max(1, n - 1), n]) if edge < 0.15
               else rng.randint(1, max(1, 2 * n // 3)))
    min_run = rng.choice([1, min_sel]) if rng.random() < 0.3 else rng.randint(1, min(min_sel, 4))
    edge = rng.random()
    if edge < 0.05:
        max_gap = 0
    elif edge < 0.15:
        max_gap = rng.choice([n - 1, n])
    else:
        max_gap = rng.randint(1, n)
    max_lead = rng.choice([0, max_gap]) if rng.random() < 0.3 else rng.randint(0, max_gap)
    return min_sel, min_run, max_gap, max_lead


def random_request(rng: random.Random, smallest: int = 1, largest: int = 150, texts_only: bool = False) -> Request:
    """With ``texts_only``, prices and threshold are decimal texts of at most 4 places
    and magnitudes below 10**6 (see ``Request.kestrava_exact``)."""
    n = rng.randint(smallest, largest)
    values = _price_values(rng, n, 4 if texts_only else 20)
    threshold = _threshold(rng, values)
    if texts_only:
        return Request([decimal_text(value) for value in values], decimal_text(threshold), *_rules(rng, n),
                       rng.random() < 0.5, n <= 28)
    prices = [_as_argument(value, rng) for value in values]
    return Request(prices, _as_argument(threshold, rng), *_rules(rng, n), rng.random() < 0.5)


def _threshold(rng: random.Random, values: list[Fraction]) -> Fraction:
    ordered = sorted(values)
    below_top = [value for value in ordered[: max(1, len(values) // 2)] if value < ordered[-1]]
    threshold_choice = rng.random()
    if threshold_choice < 0.7 and below_top:  # a price itself: periods priced exactly at the threshold
        return rng.choice(below_top)
    if threshold_choice < 0.8:
        return ordered[0] - 1  # nothing cheap
    if threshold_choice < 0.83:
        return ordered[-1]  # everything cheap
    return Fraction(math.floor((ordered[0] + ordered[-1]) * 5000), 10000)


def _long_units(rng: random.Random, n: int, run: int) -> list[int]:
    """Ties, negative prices, and cheap runs about as long as a run must be."""
    style = rng.randrange(5)
    if style == 0:
        return [rng.randint(0, 5) for _ in range(n)]
    if style == 1:
        units: list[int] = []
        dear = rng.random() < 0.5
        while len(units) < n:
            length = rng.randint(1, 4) if dear else rng.randint(1, run + 2)
            units += [5 + rng.randint(0, 10) if dear else rng.randint(-3, 3) for _ in range(length)]
            dear = not dear
        return units[:n]
    if style == 2:
        return [rng.randint(-20, 20) for _ in range(n)]
    if style == 3:
        return [rng.randint(-3, 5)] * n
    return [rng.choice([-2, 0, 1, 7]) for _ in range(n)]


def long_request(rng: random.Random) -> Request:
    """30 to 200 periods (most of them below 81) as decimal texts of up to 3 places,
    with rules at their edges: runs of 1 or up to 8, gaps of 1, just below or at the
    run length, gaps that never bind (n - 1 and far beyond n), no lead or a full one."""
    n = rng.randint(30, 80) if rng.random() < 0.7 else rng.randint(81, 200)
    run = rng.choice([1, 2, 3, rng.randint(1, 8)])
    gap = rng.choice([1, max(1, run - 1), run, rng.randint(1, 25), n - 1, 10**12])
    lead = rng.choice([0, gap, rng.randint(0, min(gap, 30))])
    most = min(n - 1, 60) if rng.random() < 0.8 else n - 1
    units = _long_units(rng, n, run)
    ordered = sorted(units)
    # A price itself, or below every price; never every period cheap (no search then).
    threshold = ordered[0] - 1 if rng.random() < 0.1 else min(rng.choice(ordered), ordered[-1] - 1)
    places = rng.randint(0, 3)
    return Request([decimal_text(Fraction(unit, 10**places)) for unit in units],
                   decimal_text(Fraction(threshold, 10**places)), rng.randint(run, max(run, most)), run, gap, lead,
                   rng.random() < 0.5)


@dataclass(frozen=True)
class PlanRequest:
    """Valid arguments of ``kestrava_plan.plan`` (and of ``plan_answer``), prices exact."""
    prices: list[decimal.Decimal]
    threshold: decimal.Decimal
    min_selections: int
    min_run: int
    max_gap: int
    max_lead: int
    aggressive: bool
    allowed: list[bool] | None
    running_for: int
    off_for: int

    def arguments(self) -> tuple:
        return (self.prices, self.threshold, self.min_selections, self.min_run, self.max_gap, self.max_lead,
                self.aggressive)

    def options(self) -> dict:
        return {"allowed": self.allowed, "running_for": self.running_for, "off_for": self.off_for}


def _mask(rng: random.Random, n: int, max_gap: int) -> list[bool] | None:
    """None, nothing blocked, or scattered blocked periods with up to two stretches of
    max_gap or max_gap + 1 periods (at the start, the end or anywhere)."""
    style = rng.random()
    if style < 0.15:
        return None
    allowed = [style < 0.3 or rng.random() < 0.95 for _ in range(n)]
    for _ in range(rng.choice([0, 0, 1, 1, 2])):
        length = min(n, rng.choice([max_gap, max_gap, max_gap + 1, 1, rng.randint(1, n)]))
        start = rng.choice([0, n - length, rng.randint(0, n - length)])
        allowed[start:start + length] = [False] * length
    return allowed


def _carried(rng: random.Random, n: int, min_run: int, max_gap: int, max_lead: int) -> tuple[int, int]:
    """(running_for, off_for): runs of min_run - 1 and min_run, leads made exactly tight
    or one too tight."""
    kind = rng.random()
    if kind < 0.35:
        return max(1, rng.choice([min_run - 1, min_run - 1, min_run, min_run, 1, rng.randint(1, n)])), 0
    if kind < 0.65:
        return 0, max(1, rng.choice([max_gap - max_lead, max_gap - max_lead + 1, max_gap, max_gap + 1,
                                     rng.randint(1, max_gap + 1)]))
    return 0, 0


def random_plan_request(rng: random.Random, n: int) -> PlanRequest:
    """n periods with masks and carried states at their edges; a fair share has no plan."""
    values = _price_values(rng, n, 6)
    threshold = _threshold(rng, values)
    max_gap = rng.choice([0, 1, 2, 3, rng.randint(1, n), rng.randint(1, n)])
    max_lead = rng.choice([0, max_gap, rng.randint(0, max_gap)])
    min_run = rng.choice([1, 2, 3, rng.randint(1, max(1, n // 2))])
    running, off = _carried(rng, n, min_run, max_gap, max_lead)
    min_run = min(min_run, n + running)
    lowest = max(1, min_run - running)  # min_run <= min_selections + running_for
    min_sel = n if rng.random() < 0.1 else rng.choice([lowest, rng.randint(lowest, n),
                                                       rng.randint(lowest, max(lowest, n // 3))])
    if running and rng.random() < 0.4:  # a cheap block at period 0 touches the carried run
        cheap_start = rng.randint(1, min(n, 3))
        values[:cheap_start] = [min(values)] * cheap_start
    allowed = _mask(rng, n, max_gap)
    if running and allowed and rng.random() < 0.2:  # the carried run cannot go on
        allowed[0] = False
    return PlanRequest([decimal.Decimal(decimal_text(value)) for value in values],
                       decimal.Decimal(decimal_text(threshold)), min_sel, min_run, max_gap, max_lead,
                       rng.random() < 0.5, allowed, running, off)


# ---------------------------------------------------------------------------
# Local days, and random requests with the rules of a quota per day, a strict end and
# the dearest periods


@functools.cache
def day_begins(zone: ZoneInfo, day: date, day_start: time) -> datetime | None:
    """The first instant whose local date is ``day`` and local time at or after
    ``day_start``, found minute by minute (the zones used change offset on whole
    minutes); None when the day has no such instant."""
    earliest = datetime.combine(day, time(0), timezone.utc) - timedelta(hours=15)
    for minute in range(54 * 60):
        instant = earliest + timedelta(minutes=minute)
        local = instant.astimezone(zone)
        if local.date() == day and local.time() >= day_start:
            return instant
    return None


def local_days(times: Sequence[datetime], zone: ZoneInfo, day_start: time = time(0)) -> list[date]:
    """Each period's day: of its local date and the one before, the later that has
    begun by the period's start."""
    days = []
    for start in times:
        on = start.astimezone(zone).date()
        begun = [day for day in (on, on - timedelta(days=1))
                 if (begins := day_begins(zone, day, day_start)) is not None and begins <= start]
        days.append(begun[0])
    return days


ZONES = ("Europe/Berlin", "Europe/Amsterdam")
# Both zones move their clocks on the same days: a day of 92 and one of 100 quarter-hours.
SHORT_DAY, LONG_DAY = date(2026, 3, 29), date(2026, 10, 25)
DATES = (SHORT_DAY, LONG_DAY, date(2026, 6, 15), date(2026, 12, 31))
DAY_STARTS = ("00:00", "06:00", "13:00", "02:30", "02:00", "03:00", "23:45")


@dataclass(frozen=True)
class RuleRequest:
    """A PlanRequest with the new rules: the clock of the days (``zone`` and
    ``day_start`` as the model reads them, and as given to ``plan``), the quota, and
    whether the end is strict and the dearest periods are wanted."""
    base: PlanRequest
    most_expensive: bool
    allow_short_last_run: bool
    times: list[datetime]
    zone: ZoneInfo
    zone_given: object  # None (the times' own ZoneInfo), a name or a ZoneInfo
    day_start: time
    day_start_given: object  # None (00:00), a time or "HH:MM"
    min_per_day: int
    done_today: int
    as_durations: bool  # the quota and done_today given as timedeltas

    def arguments(self) -> tuple:
        return self.base.arguments()

    def options(self) -> dict:
        """The keyword arguments of ``plan``, each new one only when it is not its default."""
        options = {**self.base.options(), "times": self.times}
        if self.most_expensive:
            options["most_expensive"] = True
        if not self.allow_short_last_run:
            options["allow_short_last_run"] = False
        if self.min_per_day:
            # Subtracted in UTC: two datetimes of one zone subtract as wall-clock times.
            scale = (self.times[1].astimezone(timezone.utc) - self.times[0].astimezone(timezone.utc)
                     if self.as_durations else 1)
            options.update(min_per_day=self.min_per_day * scale, done_today=self.done_today * scale)
            given = {"zone": self.zone_given, "day_start": self.day_start_given}
            options.update({name: value for name, value in given.items() if value is not None})
        return options

    def model_options(self) -> dict:
        """The keyword arguments of ``plan_answer``."""
        return {**self.base.options(), "most_expensive": self.most_expensive,
                "allow_short_last_run": self.allow_short_last_run, "min_per_day": self.min_per_day,
                "done_today": self.done_today, "days": local_days(self.times, self.zone, self.day_start)}


def _period_starts(rng: random.Random, n: int, zone: ZoneInfo, whole_day: bool) -> list[datetime]:
    """n evenly spaced starts; quarter-hours from a local midnight when ``whole_day``, else
    periods of 15 minutes to 6 hours from any quarter-hour within a day of a midnight."""
    period = timedelta(minutes=15) if whole_day or n > 14 else rng.choice([timedelta(hours=h) for h in (1, 2, 3, 4, 6)])
    midnight = datetime.combine(rng.choice(DATES), time(0), zone).astimezone(timezone.utc)
    first = midnight if whole_day else midnight + timedelta(minutes=15 * rng.randint(-96, 96))
    return [(first + i * period).astimezone(zone) for i in range(n)]


def _quota(rng: random.Random, request: PlanRequest, days: list[date]) -> tuple[int, int]:
    """(min_per_day, done_today): none, or at and just above what some day can hold,
    what has been done below, at and above it."""
    if rng.random() < 0.3:
        return 0, 0
    allowed = request.allowed or [True] * len(days)
    held = Counter(day for day, free in zip(days, allowed) if free)
    some_day = held[rng.choice(days)]
    quota = max(1, rng.choice([some_day, some_day, some_day + 1, some_day - 1, min(held.values(), default=0),
                               rng.randint(1, 4), rng.randint(1, max(1, some_day // 3))]))
    done = rng.choice([0, 0, quota - 1, quota, quota + 1, rng.randint(0, quota + 2)])
    return quota, max(0, done)


def _given(rng: random.Random, zone: ZoneInfo, times: list[datetime]) -> tuple[list[datetime], object]:
    """The times and the zone argument: the times' own ZoneInfo, or UTC times with the zone
    by name or as a ZoneInfo."""
    style = rng.randrange(3)
    if style == 0:
        return times, None
    utc_times = [start.astimezone(timezone.utc) for start in times]
    return utc_times, zone.key if style == 1 else zone


def _short_tail(rng: random.Random, request: PlanRequest) -> list[bool]:
    """Fewer allowed periods than a run at the end, after a blocked stretch that makes
    skipping them all a trailing gap beyond max_gap."""
    n = len(request.prices)
    allowed = list(request.allowed or [True] * n)
    tail = rng.randint(1, max(1, request.min_run - 1))
    stretch = min(request.max_gap, n - tail)
    allowed[n - tail - stretch:] = [False] * stretch + [True] * tail
    return allowed[:n]


def random_rule_request(rng: random.Random, n: int, whole_day: bool = False) -> RuleRequest:
    """A random_plan_request of n periods with times, a quota at a day's edge half the
    time, a strict end half the time (with a cheap tail now and then) and the dearest
    periods half the time."""
    base = random_plan_request(rng, n)
    if rng.random() < 0.3:  # random masks mostly leave no plan: fewer of them
        base = replace(base, allowed=None)
    strict = rng.random() < 0.5
    if strict and rng.random() < 0.3:
        base = replace(base, allowed=_short_tail(rng, base))
    most_expensive = rng.random() < 0.5
    if rng.random() < 0.3:  # a cheap block that ends at the last period
        tail = rng.randint(1, min(n, 4))
        extreme = max(base.prices) if most_expensive else min(base.prices)
        base = replace(base, prices=base.prices[:-tail] + [extreme] * tail)
    if most_expensive and rng.random() < 0.8:  # a threshold among the dear prices, as _threshold's mirror
        mirrored = -_threshold(rng, [-Fraction(price) for price in base.prices])
        base = replace(base, threshold=decimal.Decimal(decimal_text(mirrored)))
    zone = ZoneInfo(rng.choice(ZONES))
    times, zone_given = _given(rng, zone, _period_starts(rng, n, zone, whole_day))
    day_start_given = rng.choice([None, rng.choice(DAY_STARTS), time(rng.randrange(24), 15 * rng.randrange(4))])
    day_start = time.fromisoformat(day_start_given) if isinstance(day_start_given, str) else day_start_given or time(0)
    quota, done = _quota(rng, base, local_days(times, zone, day_start))
    return RuleRequest(base, most_expensive, not strict, times, zone, zone_given, day_start, day_start_given,
                       quota, done, n > 1 and rng.random() < 0.2)
