#!/usr/bin/env bash
# The wheel round trip, for every supported CPython found here: the one wheel of
# scripts/build-wheel.sh (built first when the sources changed) goes into a fresh
# virtual environment, binaries only, and the Python test suite runs there against the
# installed package, never the build tree. Extra arguments go to pytest.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

require_pythons
wheel="$(build_wheel "${PYTHONS[-1]}")"
echo "== $(basename "$wheel")"
# The wheel holds both extensions for the stable ABI, the stubs and the command's package.
"${PYTHONS[-1]}" - "$wheel" <<'PYTHON'
import sys, zipfile
names = set(zipfile.ZipFile(sys.argv[1]).namelist())
wanted = {"kestrava-stubs/__init__.pyi", "kestrava_plan/__init__.py", "kestrava_plan/command/__init__.py",
          "kestrava_plan/_planner.pyi", "kestrava_plan/py.typed", "kestrava.abi3.so", "kestrava_plan/_planner.abi3.so"}
missing = wanted - names
if missing:
    sys.exit(f"wheel lacks {sorted(missing)}: {sorted(names)}")
PYTHON

work="$(mktemp -d "${TMPDIR:-/tmp}/kestrava-wheel.XXXXXX")"
trap 'rm -rf "$work"' EXIT
for python in "${PYTHONS[@]}"; do
    version="$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
    venv="$work/venv-$version"

    echo "== $version: fresh virtual environment, the wheel alone (--only-binary)"
    "$python" -m venv "$venv"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --only-binary=:all: "$wheel"
    # The test suite's own needs (pytest, numpy, mypy) come from the project's requirements.
    "$venv/bin/python" -m pip install -q --disable-pip-version-check -r "$ROOT/requirements-dev.txt"

    # Both modules must come from the venv's site-packages.
    "$venv/bin/python" - "$venv" <<'PYTHON'
import pathlib, sys, kestrava, kestrava_plan
venv = pathlib.Path(sys.argv[1]).resolve()
for module in (kestrava, kestrava_plan):
    where = pathlib.Path(module.__file__).resolve()
    if venv not in where.parents or "site-packages" not in where.parts:
        sys.exit(f"{module.__name__} imported from {where}, not from {venv}")
    print(f"   {module.__name__}: {where}")
PYTHON

    echo "== $version: tests against the installed wheel"
    # Run from the tests folder with the fresh venv's interpreter: nothing of the
    # source tree is on the import path.
    (cd "$ROOT/tests/python" && "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@")
done
echo "== wheel round trip passed for: ${PYTHONS[*]}"
