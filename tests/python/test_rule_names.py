"""A rule of plan is named once per language: in the C++ table of rule names, which
_planner exports as RULES, and in one module of the Python library, so that a new rule
is written into one place of each. The frozen kestrava module (src/module) and the
command, which speak their own words, are not counted."""

from __future__ import annotations

import ast
import inspect
import re
from pathlib import Path

import pytest

from kestrava_plan import _planner, plan

ROOT = Path(__file__).resolve().parents[2]
CPP = [path for path in sorted((ROOT / "src").rglob("*.[ch]pp")) if path.parts[-2] != "module"]
PYTHON = [path for path in sorted((ROOT / "python" / "kestrava_plan").rglob("*.py")) if "command" not in path.parts]


def cpp_literals(path: Path) -> set[str]:
    code = re.sub(r"//[^\n]*", "", path.read_text())
    return set(re.findall(r'"([a-z_]+)"', code))


def python_literals(path: Path) -> set[str]:
    return {node.value for node in ast.walk(ast.parse(path.read_text()))
            if isinstance(node, ast.Constant) and isinstance(node.value, str)}


CPP_LITERALS = {path.relative_to(ROOT).as_posix(): cpp_literals(path) for path in CPP}
PYTHON_LITERALS = {path.relative_to(ROOT).as_posix(): python_literals(path) for path in PYTHON}


def test_the_rules_are_plans_parameters_in_their_order() -> None:
    # The days' clock is one for a call, in plan_table too: no rule of a row.
    parameters = [name for name in inspect.signature(plan).parameters
                  if name not in ("prices", "times", "zone", "day_start", "tariff")]
    assert list(_planner.RULES) == parameters


@pytest.mark.parametrize("name", _planner.RULES)
def test_a_rule_is_named_in_one_source_per_language(name: str) -> None:
    assert [path for path, literals in CPP_LITERALS.items() if name in literals] == ["src/table/rule_names.hpp"]
    assert len([path for path, literals in PYTHON_LITERALS.items() if name in literals]) == 1, \
        [path for path, literals in PYTHON_LITERALS.items() if name in literals]
