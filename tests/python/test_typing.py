"""Type information and metadata of the installed distribution, checked with mypy
and importlib.metadata against what is installed, never the source tree."""

from __future__ import annotations

import importlib.util
import os
import re
import subprocess
import sys
import sysconfig
import tomllib
from importlib import metadata
from pathlib import Path

import pytest

import kestrava

ROOT = Path(__file__).resolve().parents[2]


def mypy(*args: str, cwd: Path, module: str = "mypy") -> subprocess.CompletedProcess[str]:
    env = {**os.environ, "MYPY_CACHE_DIR": str(cwd / ".mypy_cache")}
    env.pop("MYPYPATH", None)
    return subprocess.run([sys.executable, "-m", module, *args], cwd=cwd, env=env, capture_output=True,
                          text=True, timeout=600)


@pytest.mark.parametrize("package", ["kestrava", "kestrava_plan"])
def test_stubs_agree_with_the_extension(tmp_path: Path, package: str) -> None:
    result = mypy(package, cwd=tmp_path, module="mypy.stubtest")
    assert result.returncode == 0, result.stdout + result.stderr


USER_CODE = """\
import kestrava
from kestrava import get_cheapest_periods

plan = kestrava.get_cheapest_periods(["0.25", "0.10"], "0.10", 1, 1)
reveal_type(plan)
other = get_cheapest_periods(["1"], "1", 1, 1, max_gap_between_periods=0, max_gap_from_start=0, aggressive=False)
reveal_type(other)
first: int = plan[0]
from decimal import Decimal
import numpy as np
from kestrava_plan import cheapest_periods
week = cheapest_periods(np.array([0.25, 0.1]), Decimal("0.1"), np.int64(1), 1, aggressive=False)
reveal_type(week)
mixed = cheapest_periods(("0.25", 1, Decimal("0.1"), 0.5), 0.1, 1, 1, 2, 2)
reveal_type(mixed)
from datetime import timedelta
import kestrava_plan
from kestrava_plan import Plan, prices_from_records
day = prices_from_records([{"start": "2024-01-01T00:00Z", "price": 1.5}], price_key=("price",))
chosen: Plan = kestrava_plan.plan(day.prices, "1", timedelta(hours=1), 1, allowed=np.array([True]), running_for=np.int64(0), times=day.times)
reveal_type(chosen.state_at(0))
"""


def test_user_code_sees_the_signature(tmp_path: Path) -> None:
    (tmp_path / "user.py").write_text(USER_CODE)
    result = mypy("--strict", "user.py", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
    revealed = re.findall(r'user\.py:(\d+): note: Revealed type is "(.*)"', result.stdout)
    # Older mypy releases spell builtins in full ("builtins.list[builtins.int]"),
    # newer ones print "list[int]"; both name the same type.
    assert [(line, typ.replace("builtins.", "")) for line, typ in revealed] == [("5", "list[int]"), ("7", "list[int]"),
                                                                                 ("13", "list[int]"), ("15", "list[int]"),
                                                                                 ("21", "tuple[int, int]")]


MISUSES = {
    "prices as floats": 'kestrava.get_cheapest_periods([0.25], "0.1", 1, 1)',
    "prices as a tuple": 'kestrava.get_cheapest_periods(("0.25",), "0.1", 1, 1)',
    "threshold as a number": 'kestrava.get_cheapest_periods(["0.25"], 0.1, 1, 1)',
    "a count as text": 'kestrava.get_cheapest_periods(["0.25"], "0.1", "1", 1)',
    "a count as a float": 'kestrava.get_cheapest_periods(["0.25"], "0.1", 1, 1, 2.0)',
    "aggressive as an int": 'kestrava.get_cheapest_periods(["0.25"], "0.1", 1, 1, aggressive=1)',
    "a misspelt keyword": 'kestrava.get_cheapest_periods(["0.25"], "0.1", 1, 1, max_gap=2)',
    "a missing argument": 'kestrava.get_cheapest_periods(["0.25"], "0.1", 1)',
    "too many arguments": 'kestrava.get_cheapest_periods(["0.25"], "0.1", 1, 1, 0, 0, True, 0)',
    "the result as texts": 'texts: list[str] = kestrava.get_cheapest_periods(["0.25"], "0.1", 1, 1)',
    "a name the module lacks": 'kestrava.plan(["0.25"])',
    "plan: a count as a float": 'kestrava_plan.cheapest_periods(["0.25"], "0.1", 1.0, 1)',
    "plan: threshold None": 'kestrava_plan.cheapest_periods(["0.25"], None, 1, 1)',
    "plan: prices of None": 'kestrava_plan.cheapest_periods([None], "0.1", 1, 1)',
    "plan: aggressive as an int": 'kestrava_plan.cheapest_periods(["0.25"], "0.1", 1, 1, aggressive=1)',
    "plan: the result as texts": 'texts: list[str] = kestrava_plan.cheapest_periods(["0.25"], "0.1", 1, 1)',
    "plan(): a count in hours as a float": 'kestrava_plan.plan(["0.25"], "0.1", 1.5, 1)',
    "plan(): allowed as one bool": 'kestrava_plan.plan(["0.25"], "0.1", 1, 1, allowed=True)',
}


@pytest.fixture(scope="module")
def misuse_report(tmp_path_factory: pytest.TempPathFactory) -> str:
    """One mypy run over one small file per misuse; each misuse sits on line 2."""
    folder = tmp_path_factory.mktemp("misuses")
    for number, code in enumerate(MISUSES.values()):
        (folder / f"misuse_{number}.py").write_text(f"import kestrava, kestrava_plan\n{code}\n")
    result = mypy("--strict", *sorted(p.name for p in folder.glob("misuse_*.py")), cwd=folder)
    assert result.returncode == 1, result.stdout + result.stderr
    return result.stdout


@pytest.mark.parametrize("number", range(len(MISUSES)), ids=list(MISUSES))
def test_type_checker_rejects_misuse(misuse_report: str, number: int) -> None:
    assert re.search(rf"^misuse_{number}\.py:2: error: ", misuse_report, re.MULTILINE), misuse_report


def test_shipped_python_code_passes_strict_checking(tmp_path: Path) -> None:
    # matplotlib is an optional extra and may be absent; pyarrow ships no type information.
    (tmp_path / "mypy.ini").write_text("[mypy]\nstrict = True\n[mypy-matplotlib.*]\nignore_missing_imports = True\n"
                                       "[mypy-pyarrow.*]\nignore_missing_imports = True\n")
    # The examples whose libraries carry types (pandas, Dask and Spark do not, or are optional).
    examples = ("demo", "backtest", "backtest_tariffs", "recipe_common", "recipe_duckdb", "recipe_polars")
    result = mypy("--config-file", str(tmp_path / "mypy.ini"), str(ROOT / "python" / "kestrava_plan"),
                  *(str(ROOT / "examples" / f"{name}.py") for name in examples), cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_distribution_ships_stubs_command_and_metadata() -> None:
    distribution = metadata.distribution("kestrava")
    files = {str(path) for path in distribution.files or []}
    assert {"kestrava-stubs/__init__.pyi", "kestrava_plan/__init__.py", "kestrava_plan/command/__init__.py",
            "kestrava_plan/_planner.pyi", "kestrava_plan/py.typed"} <= files
    # Both extensions are built once for every interpreter from 3.12, on the stable ABI.
    assert {"kestrava.abi3.so", "kestrava_plan/_planner.abi3.so"} <= files, files
    assert re.search(r"^Tag: cp312-abi3-", distribution.read_text("WHEEL") or "", re.MULTILINE), files
    scripts = {(point.name, point.value) for point in distribution.entry_points if point.group == "console_scripts"}
    assert scripts == {("kestrava-plan", "kestrava_plan.command:main")}

    fields = distribution.metadata
    with (ROOT / "pyproject.toml").open("rb") as handle:
        project = tomllib.load(handle)["project"]
    assert fields["Version"] == project["version"]  # the one version source
    assert fields["Requires-Python"] == ">=3.12"
    assert "MIT" in (fields.get("License-Expression") or fields.get("License") or "")
    assert fields["Description-Content-Type"] == "text/markdown"
    assert (fields.get_payload() or "").startswith("# kestrava")  # type: ignore[attr-defined]
    assert "plot" in (fields.get_all("Provides-Extra") or [])
    classifiers = fields.get_all("Classifier") or []
    assert "Typing :: Typed" in classifiers
    assert f"Programming Language :: Python :: 3.{sys.version_info.minor}" in classifiers


def test_command_module_is_installed_beside_the_extension_not_inside_it() -> None:
    public = sorted(name for name in vars(kestrava) if not name.startswith("_"))
    assert public == ["get_cheapest_periods"] and kestrava.__all__ == ["get_cheapest_periods"]
    command_package = importlib.util.find_spec("kestrava_plan")
    assert command_package is not None and command_package.origin is not None and kestrava.__file__ is not None
    installed = {Path(sysconfig.get_path("platlib")), Path(sysconfig.get_path("purelib"))}
    # Both come from the environment's site-packages, never from the source tree.
    assert Path(command_package.origin).parent.parent in installed
    assert Path(kestrava.__file__).parent in installed
