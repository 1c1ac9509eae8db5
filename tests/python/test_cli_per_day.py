"""kestrava-plan day by day: --per-day, --day-start, --window and --deadline, checked
against `plan` on slices and flags worked out here with zoneinfo."""

from __future__ import annotations

import pytest

from kestrava_plan.price_texts import MOST_PRICES

from test_cli import RULES, run

ROWS_HINT = f"more than {MOST_PRICES} prices to plan, the most the planner takes: choose a part with --rows START:STOP"
HOURS = "".join(f"2024-01-01T00:00Z,{n}\n" for n in range(MOST_PRICES + 1))


@pytest.mark.parametrize(("stdin", "message"), [
    ("time,price\n" + HOURS, f"row {MOST_PRICES + 2}: {ROWS_HINT}, or plan each day with --per-day"),
    ('{"prices": [' + ",".join(["1"] * (MOST_PRICES + 1)) + "]}", f"prices[{MOST_PRICES}]: {ROWS_HINT}"),
], ids=["timed csv", "plain json"])
def test_too_many_prices_hint_at_per_day_when_the_input_has_times(stdin: str, message: str) -> None:
    result = run(*RULES, stdin=stdin)
    assert (result.returncode, result.stdout, result.stderr) == (2, "", f"kestrava-plan: error: {message}\n")
