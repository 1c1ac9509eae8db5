"""kestrava-plan end to end: the installed console script run in a subprocess."""

from __future__ import annotations

import json
import subprocess
import sys
from importlib import metadata
from pathlib import Path

import pytest

import kestrava

SCRIPT = Path(sys.executable).parent / "kestrava-plan"
ROOT = Path(__file__).resolve().parents[2]
REAL_DAYS = ROOT / "data" / "day-ahead-2024" / "NL-sample.csv"

# Lowest average takes hour 1 alone; the conservative plan adds the cheap hours 3 and 5.
PRICES = ["5", "1", "9", "1", "8", "1"]
RULES = ["--low-price-threshold", "2", "--min-selections", "1", "--min-consecutive-periods", "1",
         "--max-gap-between-periods", "5", "--max-gap-from-start", "5"]
RULE_VALUES = ("2", 1, 1, 5, 5)


def run(*args: str, stdin: str = "") -> subprocess.CompletedProcess[str]:
    return subprocess.run([str(SCRIPT), *args], input=stdin, capture_output=True, text=True,
                          encoding="utf-8", timeout=600)


def expected(prices: list[str], aggressive: bool) -> list[int]:
    return kestrava.get_cheapest_periods(prices, *RULE_VALUES, aggressive)


def printed_indices(stdout: str) -> list[int]:
    return [int(word) for word in stdout.splitlines()[0].split()]


def test_the_documented_example_differs_between_strategies() -> None:
    assert printed_indices(run(*RULES, stdin="\n".join(PRICES)).stdout) == [1]
    assert printed_indices(run(*RULES, "--no-aggressive", stdin="\n".join(PRICES)).stdout) == [1, 3, 5]


INPUT_FORMS = {
    "csv file, price column found by name": ("prices.csv", "hour,price\n" + "".join(f"{i},{p}\n" for i, p in enumerate(PRICES)), []),
    "csv file, column by index": ("prices.csv", "".join(f"{i},{p}\n" for i, p in enumerate(PRICES)), ["--column", "1"]),
    "json file of numbers": ("prices.json", json.dumps([int(p) for p in PRICES]), []),
    "json list of objects, member chosen": ("prices.data", json.dumps([{"eur": p} for p in PRICES]), ["--column", "eur"]),
    "stdin lines": (None, "\n".join(PRICES) + "\n", []),
    "stdin json": (None, json.dumps(PRICES), []),
}


@pytest.mark.parametrize("aggressive", [True, False], ids=["aggressive", "conservative"])
@pytest.mark.parametrize("form", INPUT_FORMS, ids=list(INPUT_FORMS))
def test_every_input_form_plans_like_the_library(form: str, aggressive: bool, tmp_path: Path) -> None:
    name, content, options = INPUT_FORMS[form]
    strategy = [] if aggressive else ["--no-aggressive"]
    if name is None:
        result = run(*RULES, *strategy, *options, stdin=content)
    else:
        (tmp_path / name).write_text(content, encoding="utf-8")
        result = run(str(tmp_path / name), *RULES, *strategy, *options)
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout == " ".join(map(str, expected(PRICES, aggressive))) + "\n"


def test_json_numbers_reach_the_planner_as_their_exact_text() -> None:
    # As binary floats both prices would be 1.0 and the tie would keep period 0.
    prices = ["1.00000000000000000001", "1"]
    rules = ["--low-price-threshold", "0", "--min-selections", "1", "--min-consecutive-periods", "1",
             "--max-gap-between-periods", "1", "--max-gap-from-start", "1", "--json"]
    result = run(*rules, stdin="[1.00000000000000000001, 1]")
    assert result.returncode == 0, result.stderr
    assert json.loads(result.stdout) == {"indices": kestrava.get_cheapest_periods(prices, "0", 1, 1, 1, 1)} == {"indices": [1]}


def test_rows_select_one_real_day_of_a_longer_file() -> None:
    rules = ["--low-price-threshold", "65", "--min-selections", "4", "--min-consecutive-periods", "2",
             "--max-gap-between-periods", "6", "--max-gap-from-start", "6"]
    day = [line.split(",")[1] for line in REAL_DAYS.read_text().splitlines()[1:25]]
    result = run(str(REAL_DAYS), *rules, "--rows", ":24", "--json")
    assert result.returncode == 0, result.stderr
    assert json.loads(result.stdout)["indices"] == kestrava.get_cheapest_periods(day, "65", 4, 2, 6, 6)
    # Without --rows the file's 120 hours are too many for one plan.
    whole = run(str(REAL_DAYS), *rules)
    assert (whole.returncode, whole.stderr) == (2, "kestrava-plan: error: prices cannot contain more than 28 items\n")


def test_chart_marks_exactly_the_chosen_periods() -> None:
    result = run(*RULES, "--no-aggressive", "--chart", "--color", "never", stdin="\n".join(PRICES))
    assert result.returncode == 0, result.stderr
    chosen = expected(PRICES, aggressive=False)
    lines = result.stdout.splitlines()
    assert printed_indices(result.stdout) == chosen
    bars = lines[3:3 + len(PRICES)]  # indices, a blank line, the scale, then one bar per period
    marked = [int(line.split()[0]) for line in bars if line.split()[2:3] == ["●"]]
    assert marked == chosen
    assert [line.split()[1] for line in bars] == PRICES
    assert "threshold 2" in lines[-1]


HUGE = "79228162514264337593543950335"  # the largest price text the planner accepts

# (arguments, stdin, the planner's own message)
ERRORS = [
    ([*RULES], "", "prices cannot be empty"),
    ([*RULES], "\n".join(["1"] * 29), "prices cannot contain more than 28 items"),
    ([*RULES, "--no-header"], "5\nabc\n1", "Invalid decimal"),
    ([*RULES], "5\n1 000\n1", "Invalid decimal"),
    ([*RULES[:1], "1e3", *RULES[2:]], "5\n1", "Invalid decimal"),
    ([*RULES[:3], "0", *RULES[4:]], "5\n1", "min_selections must be greater than 0"),
    ([*RULES[:3], "3", *RULES[4:]], "5\n1", "min_selections cannot be greater than total number of items"),
    ([*RULES[:5], "0", *RULES[6:]], "5\n1", "min_consecutive_periods must be greater than 0"),
    ([*RULES[:5], "2", *RULES[6:]], "5\n1\n3", "min_consecutive_periods cannot be greater than min_selections"),
    ([*RULES[:7], "1", *RULES[8:]], "5\n1\n3", "max_gap_from_start must be less than or equal to max_gap_between_periods"),
    ([*RULES], '["5", null]', "'NoneType' object cannot be converted to 'PyString'"),
    ([*RULES], '[{"price": "5"}, {"price": true}]', "'bool' object cannot be converted to 'PyString'"),
    (["--low-price-threshold", "0", "--min-selections", "1", "--min-consecutive-periods", "1",
      "--max-gap-between-periods", "1", "--max-gap-from-start", "1"], f"{HUGE}\n{HUGE}", "Addition overflowed"),
]


@pytest.mark.parametrize(("args", "stdin", "message"), ERRORS, ids=[message for _, _, message in ERRORS])
def test_errors_print_the_planners_message_and_exit_2(args: list[str], stdin: str, message: str) -> None:
    result = run(*args, stdin=stdin)
    assert result.returncode == 2
    assert result.stdout == ""
    # An internal failure is also reported by the extension itself before this line.
    assert result.stderr.splitlines()[-1] == f"kestrava-plan: error: {message}"


def test_a_negative_count_reports_the_interpreters_overflow_message() -> None:
    with pytest.raises(OverflowError) as raised:
        kestrava.get_cheapest_periods(PRICES, "2", -1, 1)
    result = run("--low-price-threshold", "2", "--min-selections", "-1", "--min-consecutive-periods", "1",
                 stdin="\n".join(PRICES))
    assert (result.returncode, result.stderr) == (2, f"kestrava-plan: error: {raised.value}\n")


# (arguments, stdin, a part of the message) for input the command itself cannot read
INPUT_ERRORS = [
    (["/nonexistent/prices.csv", *RULES], "", "cannot read /nonexistent/prices.csv"),
    ([*RULES, "--format", "json"], "[1, 2", "invalid JSON"),
    ([*RULES], "a,b\n1,2\n", "choose one with --column"),
    ([*RULES, "--rows", "2"], "1\n2\n", "expected START:STOP"),
    (["--min-selections", "1", "--min-consecutive-periods", "1"], "1\n", "--low-price-threshold"),
    ([*RULES, "--json", "--chart"], "1\n", "not allowed with argument"),
]


@pytest.mark.parametrize(("args", "stdin", "fragment"), INPUT_ERRORS, ids=[f for _, _, f in INPUT_ERRORS])
def test_unreadable_input_and_bad_options_exit_2(args: list[str], stdin: str, fragment: str) -> None:
    result = run(*args, stdin=stdin)
    assert (result.returncode, result.stdout) == (2, "")
    assert fragment in result.stderr
    assert "Traceback" not in result.stderr


def test_version_is_the_installed_distributions() -> None:
    result = run("--version")
    assert (result.returncode, result.stdout) == (0, f"kestrava-plan {metadata.version('kestrava')}\n")
