"""The package's two layers: the library (kestrava_plan) never imports the command
(kestrava_plan.command), which imports the library. Checked on the installed files."""

from __future__ import annotations

import ast
import subprocess
import sys
from pathlib import Path

import pytest

import kestrava_plan

PACKAGE = Path(kestrava_plan.__file__).parent
COMMAND = "kestrava_plan.command"
# __main__ is the command's own entry (python -m kestrava_plan).
LIBRARY = sorted(path for path in PACKAGE.rglob("*.py")
                 if path.relative_to(PACKAGE).parts[0] != "command" and path.name != "__main__.py")


def module_name(path: Path) -> str:
    parts = path.relative_to(PACKAGE.parent).with_suffix("").parts
    return ".".join(parts[:-1] if parts[-1] == "__init__" else parts)


def imported(path: Path) -> set[str]:
    """The modules every import statement of `path` names, wherever it stands, relative
    ones resolved; `from X import y` names X and X.y, for y may be a module."""
    package = module_name(path).split(".") if path.name == "__init__.py" else module_name(path).split(".")[:-1]
    names: set[str] = set()
    for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
        if isinstance(node, ast.Import):
            names |= {alias.name for alias in node.names}
        elif isinstance(node, ast.ImportFrom):
            base = node.module or ""
            if node.level:
                base = ".".join(package[:len(package) - node.level + 1] + ([node.module] if node.module else []))
            names |= {base} | {f"{base}.{alias.name}" for alias in node.names}
    return names


# The package's __init__ lends the command's main on first use (its __getattr__), so
# only what importing it loads is held of it, below.
@pytest.mark.parametrize("path", [path for path in LIBRARY if path != PACKAGE / "__init__.py"], ids=module_name)
def test_no_library_module_imports_the_command(path: Path) -> None:
    assert not {name for name in imported(path) if name == COMMAND or name.startswith(COMMAND + ".")}


def test_importing_the_library_loads_no_command_until_main_is_asked_for() -> None:
    code = (f"import importlib, sys\n"
            f"for name in {[module_name(path) for path in LIBRARY]!r}: importlib.import_module(name)\n"
            f"print(sorted(name for name in sys.modules if name.startswith({COMMAND!r})))\n"
            f"import kestrava_plan\n"
            f"print(kestrava_plan.main is sys.modules[{COMMAND!r}].main)\n")
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert (result.returncode, result.stdout) == (0, "[]\nTrue\n"), result.stderr
