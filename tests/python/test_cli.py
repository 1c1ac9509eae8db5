"""kestrava-plan end to end: the installed console script run in a subprocess."""

from __future__ import annotations

import json
import subprocess
import sys
from datetime import datetime
from importlib import metadata
from pathlib import Path

import pytest

import kestrava
import kestrava_plan
from kestrava_plan import cheapest_periods, plan
from kestrava_plan.command import _planner_message
from kestrava_plan.command.price_texts import MOST_PRICES, PriceList

SCRIPT = Path(sys.executable).parent / "kestrava-plan"
ROOT = Path(__file__).resolve().parents[2]
REAL_DAYS = ROOT / "data" / "day-ahead-2024" / "NL-sample.csv"
QUARTER_HOURS = ROOT / "data" / "day-ahead-15min"


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


# Each option changes the plan of these prices: the dearest run, and no lone period 6 at the end.
RULE_PRICES = ["5", "1", "9", "8", "2", "7", "1"]
RULE_OPTIONS = [
    (["--most-expensive"], {"most_expensive": True}),
    (["--no-short-last-run"], {"allow_short_last_run": False}),
    (["--most-expensive", "--no-short-last-run", "--no-aggressive"],
     {"most_expensive": True, "allow_short_last_run": False, "aggressive": False}),
]


@pytest.mark.parametrize(("options", "keywords"), RULE_OPTIONS, ids=[" ".join(o) for o, _ in RULE_OPTIONS])
def test_rule_options_plan_like_the_library(options: list[str], keywords: dict[str, bool]) -> None:
    rules = ["--low-price-threshold", "2", "--min-selections", "2", "--min-consecutive-periods", "2",
             "--max-gap-between-periods", "2", "--max-gap-from-start", "2"]
    result = run(*rules, *options, stdin="\n".join(RULE_PRICES))
    assert (result.returncode, result.stderr) == (0, "")
    want = plan(RULE_PRICES, "2", 2, 2, 2, 2, **keywords).periods
    assert want != plan(RULE_PRICES, "2", 2, 2, 2, 2).periods
    assert printed_indices(result.stdout) == want


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


def test_120_hours_are_one_plan_but_five_days_months_apart_are_not() -> None:
    rules = ["--low-price-threshold", "65", "--min-selections", "40", "--min-consecutive-periods", "2",
             "--max-gap-between-periods", "6", "--max-gap-from-start", "6"]
    hours = [line.split(",")[1] for line in REAL_DAYS.read_text().splitlines()[1:]]
    result = run(*rules, "--json", stdin="\n".join(hours))
    assert result.returncode == 0, result.stderr
    assert json.loads(result.stdout)["indices"] == kestrava_plan.cheapest_periods(hours, "65", 40, 2, 6, 6)
    # The file's times show the days apart: its rows are no 120 periods in a row.
    result = run(str(REAL_DAYS), *rules)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.startswith("kestrava-plan: error: row 26: no price from 2024-01-16T00:00 to 2024-04-21T00:00 ")


def test_more_prices_than_the_planner_takes_are_refused_at_the_first_row_past() -> None:
    with pytest.raises(ValueError, match=f"more than {MOST_PRICES} items"):
        cheapest_periods(["1"] * (MOST_PRICES + 1), "2", 1, 1)
    result = run(*RULES, stdin="1\n" * (MOST_PRICES + 1))
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr == (f"kestrava-plan: error: row {MOST_PRICES + 1}: more than {MOST_PRICES} prices to plan, "
                             "the most the planner takes: choose a part with --rows START:STOP\n")


def test_chart_marks_exactly_the_chosen_periods() -> None:
    result = run(*RULES, "--no-aggressive", "--chart", "--color", "never", stdin="\n".join(PRICES))
    assert result.returncode == 0, result.stderr
    chosen = expected(PRICES, aggressive=False)
    lines = result.stdout.splitlines()
    assert printed_indices(result.stdout) == chosen
    bars = [line for line in lines[2:] if line[:1].isdigit()]  # after the indices, a blank line and the scale
    marked = [int(line.split()[0]) for line in bars if line.split()[2:3] == ["●"]]
    assert marked == chosen
    assert [line.split()[1] for line in bars] == PRICES
    assert "threshold 2" in lines[-1]


TOO_LARGE = "1" * 141  # one digit more than the planner takes

# (arguments, stdin, the planner's own message)
ERRORS = [
    ([*RULES, "--rows", "5:"], "1\n2\n", "no prices to plan"),
    ([*RULES, "--no-header"], "5\nabc\n1", "row 2, column 0: 'abc' is not a decimal number"),
    ([*RULES], "5\n1 000\n1", "row 2, column 0: '1 000' is not a decimal number (thousands separators are not "
     "accepted: write 1000)"),
    ([*RULES[:1], "1e3", *RULES[2:]], "5\n1", "--low-price-threshold: '1e3' is not a decimal number (exponents are "
     "not accepted: write 1000)"),
    ([*RULES[:1], "2,5", *RULES[2:]], "5\n1", "--low-price-threshold: '2,5' is not a decimal number (write "
     "2.5)"),
    ([*RULES[:3], "0", *RULES[4:]], "5\n1", "--min-selections must be greater than 0"),
    ([*RULES[:3], "3", *RULES[4:]], "5\n1", "--min-selections (3) cannot be greater than the number of periods "
     "planned (2)"),
    ([*RULES[:5], "0", *RULES[6:]], "5\n1", "--min-consecutive-periods must be greater than 0"),
    ([*RULES[:5], "2", *RULES[6:]], "5\n1\n3", "--min-consecutive-periods (2) cannot be greater than "
     "--min-selections (1)"),
    ([*RULES[:7], "1", *RULES[8:]], "5\n1\n3", "--max-gap-from-start (5) cannot be greater than "
     "--max-gap-between-periods (1)"),
    ([*RULES], '["5", null]', "JSON element 1: null is not a price (a number or a decimal text)"),
    ([*RULES], '[{"price": "5"}, {"price": true}]',
     "JSON element 1, member 'price': true is not a price (a number or a decimal text)"),
    ([*RULES], "start;Preis\n0:00;5,5\n1:00;\n", "row 3, column 'Preis': empty price"),
    ([*RULES], "", "no prices: the input is empty"),
    ([*RULES, "--times"], "5\n1\n", "--times: the input has no time column (name one with --time-column)"),
    (["--low-price-threshold", "0", "--min-selections", "1", "--min-consecutive-periods", "1",
      "--max-gap-between-periods", "1", "--max-gap-from-start", "1"], f"5\n{TOO_LARGE}",
     f"row 2, column 0: '{TOO_LARGE[:56]}... has more than 140 significant digits"),
]


@pytest.mark.parametrize(("args", "stdin", "message"), ERRORS, ids=[message for _, _, message in ERRORS])
def test_errors_print_the_message_and_exit_2(args: list[str], stdin: str, message: str) -> None:
    result = run(*args, stdin=stdin)
    assert result.returncode == 2
    assert result.stdout == ""
    # An internal failure is also reported by the extension itself before this line.
    assert result.stderr.splitlines()[-1] == f"kestrava-plan: error: {message}"


def test_a_negative_count_reports_the_planners_message_by_its_option() -> None:
    with pytest.raises(ValueError) as raised:
        cheapest_periods(PRICES, "2", -1, 1)
    result = run("--low-price-threshold", "2", "--min-selections", "-1", "--min-consecutive-periods", "1",
                 stdin="\n".join(PRICES))
    told = str(raised.value).replace("min_selections", "--min-selections")
    assert (result.returncode, result.stderr) == (2, f"kestrava-plan: error: {told}\n")


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


def fr_day_forms(folder: Path) -> dict[str, tuple[Path, list[str]]]:
    """The FR autumn daylight-saving day (100 quarter-hours) as users meet it: the plain
    CSV, the ENTSO-E XML, and the European CSV forms (times written as UTC texts, so
    that --times prints the same in every form)."""
    day = [line.split(",") for line in (QUARTER_HOURS / "FR-15min.csv").read_text().splitlines()[1:]]
    forms = {"plain csv": (QUARTER_HOURS / "FR-15min.csv", []),
             "entso-e xml": (QUARTER_HOURS / "FR-2025-10-26-A44.xml", [])}
    for name, delimiter, quote, options in (("semicolon, decimal comma", ";", "", []),
                                            ("tab, decimal comma", "\t", "", []),
                                            ("quoted decimal comma", ",", '"', ["--decimal-comma"])):
        rows = [f"Zeitstempel{delimiter}Preis (EUR/MWh)"]
        rows += [f"{start}{delimiter}{quote}{price.replace('.', ',')}{quote}" for start, price in day]
        path = folder / f"{name.replace(' ', '-').replace(',', '')}.txt"
        path.write_text("\n".join(rows) + "\n", encoding="utf-8")
        forms[name] = (path, options)
    return forms


QUARTER_RULES = ["--low-price-threshold", "10", "--min-selections", "8", "--min-consecutive-periods", "4",
                 "--max-gap-between-periods", "8", "--max-gap-from-start", "8"]


@pytest.mark.parametrize("rows", [pytest.param(":28", id="first 28"), pytest.param("60:88", id="later 28"),
                                  pytest.param(None, id="whole day")])
def test_every_form_of_a_day_gives_the_plain_files_answer(rows: str | None, tmp_path: Path) -> None:
    forms = fr_day_forms(tmp_path)
    selection = ["--rows", rows] if rows else []
    answers = {}
    for name, (path, options) in forms.items():
        result = run(str(path), *QUARTER_RULES, *selection, *options, "--times", "--json")
        assert (result.returncode, result.stderr) == (0, ""), name
        answer = json.loads(result.stdout)
        # The XML names its bidding zone, so its times are local: compare instants.
        answers[name] = {**answer, "times": [datetime.fromisoformat(time) for time in answer["times"]]}
    plain = answers.pop("plain csv")
    assert plain["times"] and all(answer == plain for answer in answers.values()), answers
    day = [line.split(",") for line in (QUARTER_HOURS / "FR-15min.csv").read_text().splitlines()[1:]]
    part = day[slice(*(int(end) if end else None for end in rows.split(":")))] if rows else day
    chosen = kestrava_plan.cheapest_periods([price for _, price in part], "10", 8, 4, 8, 8)
    assert plain == {"indices": chosen, "times": [datetime.fromisoformat(part[index][0]) for index in chosen]}


def test_times_print_one_a_line() -> None:
    csv_text = "Datum;Preis\n" + "".join(f"21.04.2024 {hour:02}:00;{price},5\n" for hour, price in enumerate(PRICES))
    result = run(*RULES, "--no-aggressive", "--times", stdin=csv_text)
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout.splitlines() == [f"21.04.2024 {hour:02}:00" for hour in expected(PRICES, False)]


def test_a_reader_that_goes_away_ends_the_command_quietly() -> None:
    # `kestrava-plan ... | head -1`: the pipe is closed before anything is written.
    process = subprocess.Popen([str(SCRIPT), *RULES, "--times"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    assert process.stdout is not None
    process.stdout.close()
    _, stderr = process.communicate("time,price\n" + "".join(f"{hour}:00,{price}\n" for hour, price in
                                                              enumerate(PRICES)))
    assert (process.returncode, stderr) == (1, "")


def test_a_threshold_may_be_typed_with_a_comma_or_a_point_for_a_file_of_commas() -> None:
    csv_text = "Zeit;Preis\n" + "".join(f"{hour}:00;{price},5\n" for hour, price in enumerate(PRICES))
    answers = {run(*RULES[2:], "--low-price-threshold", typed, stdin=csv_text).stdout for typed in ("1,5", "1.5")}
    assert answers == {" ".join(map(str, expected(PRICES, True))) + "\n"}
    assert "(write 1.5)" in run(*RULES[2:], "--low-price-threshold", "1,5", stdin="5\n1\n").stderr


def test_gap_limits_of_zero_warn_that_everything_is_chosen() -> None:
    rules = ["--low-price-threshold", "2", "--min-selections", "2", "--min-consecutive-periods", "1"]
    result = run(*rules, stdin="\n".join(PRICES))
    assert (result.returncode, result.stdout) == (0, "0 1 2 3 4 5\n")
    assert result.stderr == ("kestrava-plan: warning: both gap limits are 0, so every period is chosen; allow pauses "
                             "with --max-gap-between-periods and --max-gap-from-start (--quiet hides this)\n")
    assert run(*rules, "--quiet", stdin="\n".join(PRICES)).stderr == ""
    # Asking for every period is no surprise.
    assert run(*rules[:3], "6", *rules[4:], stdin="\n".join(PRICES)).stderr == ""


def test_the_planners_complaint_about_a_price_names_its_row() -> None:
    # Valid syntax with more digits than the planner takes: only the planner can refuse it.
    result = run(*RULES, stdin="start,price\n0:00,5\n1:00,1" + "0" * 140 + "\n")
    assert result.returncode == 2
    assert result.stderr.startswith("kestrava-plan: error: row 3, column 'price': "), result.stderr


def test_a_price_the_planner_refuses_is_named_by_its_place() -> None:
    prices = PriceList(["5", "1" + "0" * 40], ["row 2, column 'price'", "row 3, column 'price'"], None, False)
    refusal = ValueError(f"prices[1]: '1{'0' * 40}' is out of range")
    assert _planner_message(refusal, prices) == f"row 3, column 'price': '1{'0' * 40}' is out of range"
    assert _planner_message(ValueError("prices[2]: no such row"), prices) == "prices[2]: no such row"
    assert _planner_message(ValueError("prices cannot be empty"), prices) == "prices cannot be empty"
