#!/usr/bin/env bash
# Runs the whole test suite on a fresh machine: installs what is missing, runs the
# C++ unit tests of the core once, then builds the extension and runs the Python
# tests against every supported CPython found here; then runs the C++ and Python tests
# again under the address and undefined-behaviour sanitizers, and each fuzz harness
# for a short fixed number of runs.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

require_pythons
ensure_gtest
echo "== interpreters: ${PYTHONS[*]}"

first_venv="$(venv_for "${PYTHONS[0]}")"
export PATH="$first_venv/bin:$PATH"

echo "== C++ core tests"
# The whole tree (core, extension, tests, benchmark) builds here with -Werror, which
# also holds every function to the 8 KiB stack limit.
cmake -S "$ROOT" -B "$ROOT/build/core" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRAVA_WERROR=ON \
    -DKESTRAVA_BUILD_EXTENSION=ON -DPython_EXECUTABLE="$first_venv/bin/python" >/dev/null
cmake --build "$ROOT/build/core"
ctest --test-dir "$ROOT/build/core" --output-on-failure -j2

for python in "${PYTHONS[@]}"; do
    venv="$(venv_for "$python")"
    echo "== Python tests on $("$venv/bin/python" -VV | head -n 1)"
    install_package "$venv"
    # Run from the tests folder so the installed package is imported, never the source tree.
    (cd "$ROOT/tests/python" && "$venv/bin/python" -m pytest -q "$@")
done

# Both take their own builds; pytest arguments given here are not passed on.
"$ROOT/scripts/sanitize.sh"
"$ROOT/scripts/fuzz.sh"
