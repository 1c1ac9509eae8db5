"""The Python layer of kestrava_plan.plan: times and durations, the Plan built from an
answer (exact cost, runs, times, state_at against a model of the rules), plan() itself
against cheapest_periods, and the README's recipes for plan with the output they show."""

from __future__ import annotations

import contextlib
import io
import itertools
import re
import pickle
import random
import subprocess
import sys
from datetime import datetime, timedelta, timezone
from decimal import Decimal
from fractions import Fraction
from pathlib import Path
from zoneinfo import ZoneInfo

import numpy as np
import pandas as pd
import pytest

import kestrava_plan
from kestrava_plan import cheapest_periods, plan
from kestrava_plan.period_times import count_of, timeline
from kestrava_plan.plan_result import make_plan

BERLIN = ZoneInfo("Europe/Berlin")
UTC = timezone.utc


def quarter_hours(day: str, zone: ZoneInfo = BERLIN) -> list[datetime]:
    """Every quarter-hour start of a local day, however many the clocks make it."""
    start = datetime.fromisoformat(day).replace(tzinfo=zone).astimezone(UTC)
    end = (datetime.fromisoformat(day) + timedelta(days=1)).replace(tzinfo=zone).astimezone(UTC)
    return [(start + k * timedelta(minutes=15)).astimezone(zone) for k in range((end - start) // timedelta(minutes=15))]


@pytest.mark.parametrize("day, count", [("2024-03-31", 92), ("2024-10-27", 100), ("2024-07-07", 96)])
def test_days_of_any_length_have_quarter_hour_periods(day, count):
    line = timeline(pd.DatetimeIndex(quarter_hours(day)))
    assert (len(line.starts), line.period) == (count, timedelta(minutes=15))
    assert line.end(count) == datetime.fromisoformat(day).replace(tzinfo=BERLIN) + timedelta(days=1)


HOUR = [datetime(2024, 7, 7, h, tzinfo=UTC) for h in range(3)]
TIMES_REFUSED = [
    ([datetime(2024, 7, 7, 0), datetime(2024, 7, 7, 1)], ValueError, "times[0]: 2024-07-07 00:00:00 has no time "
     "zone; give timezone-aware datetimes (for example with zoneinfo.ZoneInfo, or tz_localize a pandas index)"),
    (["2024-07-07T00:00Z"], TypeError, "times[0]: '2024-07-07T00:00Z' is a str, not a datetime"),
    ("2024", TypeError, "times must be a sequence of datetimes or a pandas DatetimeIndex, not str"),
    (HOUR[:1], ValueError, "times holds 1 time, too few to tell the period length; plan without times"),
    ([HOUR[1], HOUR[0]], ValueError, "times[1] (2024-07-07T00:00:00+00:00) is not after times[0] "
     "(2024-07-07T01:00:00+00:00): times must increase"),
    ([HOUR[0], HOUR[0]], ValueError, "times[1] (2024-07-07T00:00:00+00:00) is not after times[0] "
     "(2024-07-07T00:00:00+00:00): times must increase"),
    ([HOUR[0], HOUR[1], HOUR[1]], ValueError, "times[2] (2024-07-07T01:00:00+00:00) is not after times[1] "
     "(2024-07-07T01:00:00+00:00): times must increase"),
    ([HOUR[0], HOUR[1], HOUR[1] + timedelta(hours=2)], ValueError, "times[2] (2024-07-07T03:00:00+00:00) is "
     "2:00:00 after times[1], unlike the 1:00:00 between times[0] and times[1]: the periods must be evenly "
     "spaced (is a period missing or doubled?)"),
    (pd.date_range("2024-07-07", periods=3, freq="h"), ValueError, "times: the DatetimeIndex has no time zone; "
     "tz_localize it (the periods of a day when the clocks change cannot be told from naive times)"),
]


@pytest.mark.parametrize("times, error, message", TIMES_REFUSED)
def test_times_refused(times, error, message):
    with pytest.raises(error) as caught:
        timeline(times)
    assert str(caught.value) == message


QUARTER = timeline(quarter_hours("2024-10-27"))
DURATIONS = [  # (value, timeline, the count or the message of the error)
    (timedelta(hours=2), QUARTER, 8),
    (timedelta(0), QUARTER, 0),
    (np.int64(3), None, np.int64(3)),
    (timedelta(minutes=40), QUARTER, "min_selections: 0:40:00 is not a whole number of periods of 0:15:00"),
    (timedelta(minutes=-15), QUARTER, "min_selections: -0:15:00 is a negative duration"),
    (timedelta(hours=1), None, "min_selections: a duration (1:00:00) needs times to count periods: pass times, "
     "or prices as a pandas Series with a DatetimeIndex"),
]


@pytest.mark.parametrize("value, line, expected", DURATIONS)
def test_durations_count_whole_periods(value, line, expected):
    if not isinstance(expected, str):
        assert count_of("min_selections", value, line) == expected
        return
    with pytest.raises(TypeError if line is None else ValueError) as caught:
        count_of("min_selections", value, line)
    assert str(caught.value) == expected


def fraction_of(price) -> Fraction:
    """The model's reading of a price: its text, repr or integer value, as a rational."""
    if isinstance(price, (str, float)):
        return Fraction((price if isinstance(price, str) else repr(float(price))).replace("_", ""))
    return Fraction(price) if isinstance(price, Decimal) else Fraction(int(price))


PRICE_STYLES = [lambda r: f"{r.randint(-999, 999)}.{r.randint(0, 99):02d}", lambda r: r.randint(-50, 50),
                lambda r: r.choice([0.1, 1e-05, -2.675, 1e16, 1e22]), lambda r: np.int64(r.randint(-9, 9)),
                lambda r: Decimal(r.randint(-10**40, 10**40)).scaleb(-r.randint(0, 60)),
                lambda r: "1_000." + "0" * 90 + "1", lambda r: np.float64(r.choice([0.3, 12.5]))]


@pytest.mark.parametrize("seed", range(40))
def test_plan_cost_is_exact_and_the_forms_agree(seed):
    r = random.Random(seed)
    n = r.randint(2, 12)
    prices = [r.choice(PRICE_STYLES)(r) for _ in range(n)]
    periods = sorted(r.sample(range(n), r.randint(1, n)))
    line = timeline(quarter_hours("2024-10-27")[8:8 + n])  # across the hour the clocks go back
    base_size = r.randint(0, len(periods))
    made = make_plan(prices, periods, base_size, line)
    total = sum(map(fraction_of, (prices[p] for p in periods)), Fraction(0))
    assert (Fraction(made.cost), made.average) == (total, total / len(periods))
    assert [p for start, stop in made.runs for p in range(start, stop)] == made.periods == periods
    assert made.mask == [p in periods for p in range(n)]
    for (start, stop), (begin, end) in zip(made.runs, made.run_times or []):
        assert (end.astimezone(UTC) - begin.astimezone(UTC)) == (stop - start) * timedelta(minutes=15)
    assert pickle.loads(pickle.dumps(made)) == made and hash(made) == hash(pickle.loads(pickle.dumps(made)))
    assert made.cheap_added == len(periods) - base_size and made != make_plan(prices, periods, base_size, line, 1)
    assert made.to_series().index.equals(pd.DatetimeIndex(line.starts))


def test_plan_is_immutable_and_reads_well():
    made = make_plan(["1.50", "2.50", 9, "4"], [0, 1, 3], 2, None)
    made.mask[0] = False
    with pytest.raises(AttributeError):
        made.cost = Decimal(0)  # type: ignore[misc]
    assert repr(made) == ("Plan(periods=[0, 1, 3], runs=[(0, 2), (3, 4)], cost=Decimal('8.00'), "
                          "average=Fraction(8, 3), cheap_added=1)")
    assert made.to_series().tolist() == [True, True, False, True] and made.run_times is None


def keeps_rules(mask, min_run, max_gap, lead, allowed, running_for, off_for) -> bool:
    """The model: whether the chosen periods keep the timing rules, the count aside."""
    n, chosen = len(mask), [i for i, on in enumerate(mask) if on]
    if not chosen or any(on and not ok for on, ok in zip(mask, allowed)):
        return False
    runs: list[tuple[int, int]] = []
    for i in chosen:
        runs[-1:] = [(runs[-1][0], i + 1)] if runs and runs[-1][1] == i else runs[-1:] + [(i, i + 1)]
    if running_for:
        runs = [(-running_for, runs[0][1])] + runs[1:] if chosen[0] == 0 else [(-running_for, 0)] + runs
    elif chosen[0] > lead or (off_for and off_for + chosen[0] > max_gap):
        return False
    gaps = [b[0] - a[1] for a, b in itertools.pairwise(runs)] + [n - runs[-1][1]]
    return all(stop - start >= min_run or stop == n for start, stop in runs) and max(gaps) <= max_gap


STATES = [  # (mask, running_for, off_for, state_at(0) ... state_at(n))
    ([0, 1, 1, 0, 0], 0, 0, [(0, 0), (0, 1), (1, 0), (2, 0), (0, 1), (0, 2)]),
    ([1, 1, 0, 1], 3, 0, [(3, 0), (4, 0), (5, 0), (0, 1), (1, 0)]),
    ([0, 0, 1], 2, 0, [(2, 0), (0, 1), (0, 2), (1, 0)]),
    ([0, 0, 1], 0, 4, [(0, 4), (0, 5), (0, 6), (1, 0)]),
]


@pytest.mark.parametrize("mask, running_for, off_for, states", STATES)
def test_state_at_carries_the_run_or_the_pause(mask, running_for, off_for, states):
    made = make_plan([1] * len(mask), [i for i, on in enumerate(mask) if on], 1, None, running_for, off_for)
    assert [made.state_at(i) for i in range(len(mask) + 1)] == states
    with pytest.raises(IndexError):
        made.state_at(len(mask) + 1)


@pytest.mark.parametrize("seed", range(60))
def test_a_replan_from_state_at_keeps_exactly_the_plans_rules(seed):
    """For a valid plan M, a split at i and any T choosing some period: M[:i] + T keeps
    the rules of M's request exactly when T keeps those of the re-plan from
    state_at(i) on periods i and on."""
    r = random.Random(seed)
    n, min_run, max_gap = r.randint(2, 8), r.randint(1, 3), r.randint(0, 4)
    lead, carried = r.randint(0, max_gap), r.choice([(0, 0), (r.randint(1, 3), 0), (0, r.randint(1, 3))])
    allowed = [r.random() < 0.85 for _ in range(n)]
    rules = (min_run, max_gap, lead, allowed)
    masks = [list(m) for m in itertools.product([0, 1], repeat=n) if keeps_rules(list(m), *rules, *carried)]
    if not masks:
        return
    mask = r.choice(masks)
    made = make_plan([1] * n, [i for i, on in enumerate(mask) if on], 1, None, *carried)
    for i in range(1, n):
        running_for, off_for = made.state_at(i)
        fresh = not any(mask[:i]) and carried[0] == 0
        tail_rules = (min_run, max_gap, lead - i if fresh else max_gap - off_for, allowed[i:])
        for tail in filter(any, itertools.product([0, 1], repeat=n - i)):  # a plan chooses some period
            assert keeps_rules(mask[:i] + list(tail), *rules, *carried) == \
                keeps_rules(list(tail), *tail_rules, running_for, off_for), (mask, i, tail)


def test_durations_without_times_are_refused_before_planning():
    with pytest.raises(TypeError, match="^running_for: a duration"):
        plan(["1", "2"], "1", 1, 1, running_for=timedelta(hours=1))
    series = pd.Series([1, 2], index=pd.DatetimeIndex(HOUR[:2]))
    with pytest.raises(ValueError, match="^times: prices is a pandas Series whose DatetimeIndex gives the times"):
        plan(series, "1", 1, 1, times=HOUR[:2])


def test_pandas_is_imported_only_for_pandas_objects():
    code = ("import sys, kestrava_plan as k; from datetime import datetime, timezone, timedelta\n"
            "from kestrava_plan.plan_result import make_plan\n"
            "t = [datetime(2024, 1, 1, h, tzinfo=timezone.utc) for h in range(2)]\n"
            "k.prices_from_records([{'start': x.isoformat(), 'price': 1.5} for x in t])\n"
            "make_plan(['1', '2'], [1], 1, k.period_times.timeline(t)).state_at(1)\n"
            "assert 'pandas' not in sys.modules, 'pandas imported'")
    subprocess.run([sys.executable, "-c", code], check=True)


def random_request(r: random.Random):
    n = r.randint(1, 20)
    min_sel = r.randint(0, n + 1)
    return ([str(r.randint(-5, 20)) for _ in range(n)], str(r.randint(0, 10)), min_sel, r.randint(0, min_sel + 1),
            r.randint(0, 6), r.randint(0, 6), r.random() < 0.5)


@pytest.mark.parametrize("seed", range(200))
def test_plan_without_new_rules_is_cheapest_periods(seed):
    request = random_request(random.Random(seed))
    try:
        expected = cheapest_periods(*request)
    except (TypeError, ValueError) as refusal:
        with pytest.raises(type(refusal)) as caught:
            plan(*request)
        assert str(caught.value) == str(refusal)
        return
    answer = plan(iter(request[0]), *request[1:])
    assert answer.periods == expected and 0 <= answer.cheap_added < len(expected)
    assert answer.cost == sum(Decimal(request[0][p]) for p in expected)


@pytest.mark.parametrize("seed", range(40))
def test_rules_as_durations_and_from_a_series(seed):
    r = random.Random(seed)
    times = quarter_hours(r.choice(["2024-03-31", "2024-10-27"]))
    prices = [r.randint(-5, 40) for _ in times]
    counts = (r.randint(4, 12), r.randint(1, 4), r.randint(8, 16), r.randint(0, 8))
    held = r.randint(0, 3)
    minutes = [timedelta(minutes=15 * c) for c in counts]
    by_count = plan(prices, 10, *counts, running_for=held, times=times)
    by_time = plan(pd.Series(prices, index=pd.DatetimeIndex(times)), 10, *minutes, running_for=held * timedelta(minutes=15))
    assert by_time == by_count and by_time.to_series().index.equals(pd.DatetimeIndex(times))
    assert by_count.run_times == [(times[a], times[b] if b < len(times) else times[-1] + timedelta(minutes=15))
                                  for a, b in by_count.runs]


@pytest.mark.parametrize("seed", range(40))
def test_a_replan_from_state_at_finds_a_plan(seed):
    r = random.Random(seed)
    n, i = r.randint(4, 24), r.randint(1, 3)
    prices, allowed = [r.randint(-5, 30) for _ in range(n)], [r.random() < 0.8 for _ in range(n)]
    rules = dict(max_gap_between_periods=4, max_gap_from_start=r.randint(0, 4), allowed=allowed)
    try:
        made = plan(prices, 8, 2, 2, **rules, running_for=r.randint(0, 3))
    except ValueError:
        return
    held, off = made.state_at(i)
    chosen = sum(made.mask[i:])
    if chosen == 0 or chosen + held < 2:
        return
    lead = max(rules["max_gap_from_start"] - i, 0) if not any(made.mask[:i]) and made.state_at(0)[0] == 0 else 4 - off
    plan(prices[i:], 8, chosen, 2, 4, lead, allowed=allowed[i:], running_for=held, off_for=off)


def test_the_readme_recipes_print_what_they_show() -> None:
    root = Path(__file__).resolve().parents[2]
    readme = (root / "README.md").read_text(encoding="utf-8")
    recipes = readme[readme.index("**A window: charge 4 hours"):readme.index("**Recipes.** Each recipe")]
    blocks = re.findall(r"```python\n(.*?)```", recipes, re.S)
    shown = [line[2:] for block in blocks for line in block.splitlines() if line.startswith("# ")]
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed), contextlib.chdir(root):
        exec(compile("\n".join(blocks), "README.md", "exec"), {})
    assert printed.getvalue().splitlines() == shown
