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
"""

from __future__ import annotations

import decimal
import math
import random
from dataclasses import dataclass
from fractions import Fraction
from itertools import combinations
from typing import Sequence

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
    return all(len(run) + (problem.running if run[0] == 0 else 0) >= problem.min_run or run[-1] == problem.n - 1
               for run in runs_of(indices))


def start_is_valid(first: int, problem: Problem) -> bool:
    if problem.running:  # the load is on: no lead, and a pause after the carried run ends it
        return first == 0 or (problem.running >= problem.min_run and first <= problem.max_gap)
    return first <= problem.max_lead and problem.off + first <= problem.max_gap


def is_valid(indices: Sequence[int], problem: Problem) -> bool:
    gaps = [later - earlier - 1 for earlier, later in zip(indices, indices[1:])]
    gaps.append(problem.n - 1 - indices[-1])
    return (all(problem.can_select(i) for i in indices) and start_is_valid(indices[0], problem)
            and max(gaps) <= problem.max_gap and runs_are_long_enough(indices, problem))


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


def smallest_size(problem: Problem) -> int | None:
    """k, or None when no size is valid: the sets of reachable counts per shape, as bit
    sets, pushed through the periods."""
    layer = {start_shape(problem): 1}
    for i in range(problem.n):
        following: dict[tuple[int, int], int] = {}
        for (kind, length), counts in layer.items():
            for shape, shifted in ((shape_after_selecting(i, kind, length, problem), counts << 1),
                                   (shape_after_skipping(i, kind, length, problem), counts)):
                if shape is not None:
                    following[shape] = following.get(shape, 0) | shifted
        layer = following
    reachable = 0
    for (kind, _), counts in layer.items():
        if kind != LEAD:
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
        self.START = (0, *start_shape(problem), NO_BLOCK)
        self.n = problem.n
        # The last index of the run of cheap periods through i.
        self.cheap_run_end = [0] * self.n
        for i in reversed(range(self.n)):
            following = i + 1 < self.n and problem.cheap[i + 1]
            self.cheap_run_end[i] = self.cheap_run_end[i + 1] if following else i
        self.edges = self._edges()

    def moves(self, i: int, state: tuple) -> list[tuple[bool, bool, tuple]]:
        """(selects i, adds the weight of i, next state) for each way through period i."""
        count, kind, length, block = state
        result = []
        if count < self.size:
            shape = shape_after_selecting(i, kind, length, self.problem)
            if shape is not None:
                result.append((True, True, (count + 1, *shape, NO_BLOCK)))
        if count + self.n - i - 1 >= self.size:
            shape = shape_after_skipping(i, kind, length, self.problem)
            if shape is not None:
                # A gap holds only unselected periods: once the ones left cannot carry it
                # past max_gap, its length no longer matters (nor that of any later gap).
                unselected_left = self.n - i - 1 - (self.size - count)
                if shape[0] == GAP and shape[1] + unselected_left <= self.problem.max_gap:
                    shape = (GAP, 0)
                for next_block, pays in self._block_moves(i, kind, block):
                    result.append((False, pays, (count, *shape, next_block)))
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
        # One that waits to the end of the day is fine too: no dear period ever ends it.
        end = self.cheap_run_end[i]
        fine_alone = kind == RUN or end - i + 1 >= problem.min_run
        return [(LEFT_OUT, False), (TAKEN if fine_alone else WAITING, True)]

    def _accepts(self, state: tuple) -> bool:
        count, kind, _, _ = state
        return count == self.size and kind != LEAD

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
    return (block[0] - 1 in main or touches_carried_run or block[-1] + 1 in main or block[-1] == problem.n - 1
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
    blocked; 4 off_for leaving no allowed start in time; 5 anything else."""
    cause: int
    first: int | None = None
    last: int | None = None


def plan_answer(prices: Sequence, threshold: Fraction | decimal.Decimal, min_selections: int, min_run: int,
                max_gap: int, max_lead: int, aggressive: bool, *, allowed: Sequence[bool] | None = None,
                running_for: int = 0, off_for: int = 0, method: str = "auto") -> PlanAnswer | NoPlan:
    """The answer to valid arguments; method "brute" (n <= 14), "dp", or "auto": the
    literal model while it is quick (n <= 8), else the programme."""
    problem = exact_problem([Fraction(price) for price in prices], Fraction(threshold), min_selections, min_run,
                            max_gap, max_lead, allowed, running_for, off_for)
    brute = method == "brute" or (method == "auto" and problem.n <= 8)
    answer = brute_answer(problem, aggressive) if brute else dp_answer(problem, aggressive)
    if answer is None:
        return no_plan(problem)
    assert no_plan(problem).cause == 5, "a named cause of no plan left a valid selection"
    return PlanAnswer(tuple(answer[0]), answer[1])


def blocked_stretches(problem: Problem) -> list[list[int]]:
    return runs_of([i for i in range(problem.n) if not problem.can_select(i)])


def no_plan(problem: Problem) -> NoPlan:
    """The first cause that applies. Causes 1 to 4 each rule out every selection on
    their own, as plan_answer asserts on every request it answers. Blocked stretches at
    the ends count for cause 1 too: a lead, a pause after a carried run and a trailing
    gap are each at most max_gap; off_for is time off, not a blocked stretch."""
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
