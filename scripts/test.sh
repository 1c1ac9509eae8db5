#!/usr/bin/env bash
# Runs the test suite.
#
#   scripts/test.sh [PYTEST ARGS...]          everything, as CI runs it: installs what is
#       missing, runs the C++ unit tests of the core once, builds the one wheel and runs
#       the Python tests on it under every supported CPython found here, then the C++ and
#       Python tests again under the address and undefined-behaviour sanitizers, the
#       leak, thread and bad-input tests under valgrind, each fuzz harness for a
#       short fixed number of runs, and the Home Assistant integration's tests in their
#       own environment (scripts/test-homeassistant.sh).
#   scripts/test.sh --quick [PYTEST ARGS...]  the C++ unit tests and the Python tests on
#       the newest CPython found, the one scripts/demo.sh uses, so that its environment
#       serves both; no sanitizers, valgrind, fuzzing or Home Assistant, and no system
#       package installed (without GoogleTest the C++ tests are skipped).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# install_test_requirements VENV: installs requirements-dev.txt into VENV unless it is
# current, saying first what it installs.
install_test_requirements() {
    requirements_current "$1" dev && return 0
    echo "== installing the test requirements into ${1#"$ROOT"/} (requirements-dev.txt: pytest, numpy," \
         "pandas, pyarrow, polars, duckdb, dask, mypy, matplotlib, highspy; about 0.9 GB with the" \
         "build requirements, a minute or two the first time)"
    install_requirements "$1" dev
}

# install_built_wheel VENV: installs the one wheel (built once, for every interpreter) into
# VENV unless it holds the sources as they are.
install_built_wheel() {
    package_current "$1" && return 0
    echo "== installing $(basename "$wheel") into ${1#"$ROOT"/}"
    install_wheel "$1" "$wheel"
}

# fresh_if_other_venv BUILD VENV: prints --fresh when BUILD was configured with another of
# the project's environments, whose interpreter paths CMake would keep in its cache and
# fail on.
fresh_if_other_venv() {
    local cache="$1/CMakeCache.txt" own=".venv/${2##*/.venv/}/"
    if [ -f "$cache" ] && grep -o '\.venv/py[0-9.]*/' "$cache" | grep -qvxF "$own"; then
        echo --fresh
    fi
}

quick=false
if [ "${1:-}" = --quick ]; then
    quick=true
    shift
fi

require_pythons
if "$quick"; then
    PYTHONS=("${PYTHONS[-1]}")
else
    cat <<'PLAN'
== full run. Installed with apt-get when missing: GoogleTest (libgtest-dev), clang 16 and
   its runtime libraries (clang-16, libclang-rt-16-dev) for fuzzing, valgrind.
   Besides the plain builds it makes a sanitizer build (build/hardening-asan) and the fuzz
   harnesses (build/hardening-fuzz). scripts/test.sh --quick skips all of these.
PLAN
    ensure_gtest
fi
echo "== interpreters: ${PYTHONS[*]}"

# The tools and the C++ build use the newest interpreter in both modes, so that build/core
# stays configured for one.
tools_venv="$(venv_at "${PYTHONS[-1]}")"
install_test_requirements "$tools_venv"
export PATH="$tools_venv/bin:$PATH"

echo "== function size: lizard src -L 60 -C 20"
lizard "$ROOT/src" -L 60 -C 20 -w

if have_gtest; then
    echo "== C++ core tests (compiling the core, its tests, the extension and the benchmarks into build/core: a few minutes the first time)"
    # The whole tree (core, extension, tests, benchmark) builds here with -Werror, which
    # also holds every function to the 8 KiB stack limit.
    cmake -S "$ROOT" -B "$ROOT/build/core" $(fresh_if_other_venv "$ROOT/build/core" "$tools_venv") \
        -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRAVA_WERROR=ON \
        -DKESTRAVA_BUILD_EXTENSION=ON -DPython_EXECUTABLE="$tools_venv/bin/python" >/dev/null
    cmake --build "$ROOT/build/core"
    ctest --test-dir "$ROOT/build/core" --output-on-failure -j2
else
    echo "== C++ core tests SKIPPED: GoogleTest (libgtest-dev) is not installed; scripts/test.sh without --quick installs it"
fi

# One wheel for the stable ABI of 3.12 serves every interpreter: compiled once, when the
# sources have changed since the last (scripts/build-wheel.sh checks it further).
wheel="$(build_wheel "${PYTHONS[-1]}")"
for python in "${PYTHONS[@]}"; do
    venv="$(venv_at "$python")"
    install_test_requirements "$venv"
    install_built_wheel "$venv"
    echo "== Python tests on $("$venv/bin/python" -VV | head -n 1)"
    # Run from the tests folder so the installed package is imported, never the source tree.
    (cd "$ROOT/tests/python" && "$venv/bin/python" -m pytest -q "$@")
done

if "$quick"; then
    exit 0
fi
# Each takes its own build or environment; pytest arguments given here are not passed on.
"$ROOT/scripts/test-homeassistant.sh"
"$ROOT/scripts/sanitize.sh"
"$ROOT/scripts/valgrind.sh"
"$ROOT/scripts/fuzz.sh"
