#!/usr/bin/env bash
# The benchmark command. With no argument it runs all three parts:
#   python   times kestrava.get_cheapest_periods from Python on real days, on hard
#            requests and on converted days (prices with 20 to 28 decimals, whose sums
#            round) (benchmarks/bench_python.py; see its --help);
#   engines  runs the fast planner (the selection entry on converted days) and the
#            exhaustive search side by side in C++ on the same suites and prints the
#            ratio (benchmarks/engines.cpp; see its --help);
#   plan     times kestrava_plan.cheapest_periods from Python on real windows of 24 to
#            3000 periods, one thread against two, and the HiGHS peer
#            (benchmarks/bench_plan.py; see its --help).
# `benchmarks/run.sh python|engines|plan ARGS...` runs one part
# with its own options. The package and the C++ build are set up on first use.
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

run_python() {
    require_pythons
    local venv
    venv="$(venv_for "${PYTHONS[-1]}")"
    install_package "$venv"
    "$venv/bin/python" "$ROOT/benchmarks/bench_python.py" "$@"
}

run_plan() {
    require_pythons
    local venv
    venv="$(venv_for "${PYTHONS[-1]}")"
    install_package "$venv"
    "$venv/bin/python" "$ROOT/benchmarks/bench_plan.py" "$@"
}

run_engines() {
    require_pythons
    ensure_gtest
    local venv
    venv="$(venv_for "${PYTHONS[0]}")"
    PATH="$venv/bin:$PATH" cmake -S "$ROOT" -B "$ROOT/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    PATH="$venv/bin:$PATH" cmake --build "$ROOT/build/bench" --target kestrava_engines >/dev/null
    "$ROOT/build/bench/benchmarks/kestrava_engines" "$@"
}

case "${1:-all}" in
    python) shift; run_python "$@" ;;
    engines) shift; run_engines "$@" ;;
    plan) shift; run_plan "$@" ;;
    all) run_python; echo; run_engines; echo; run_plan ;;
    *) echo "usage: benchmarks/run.sh [python|engines|plan] [options]" >&2; exit 2 ;;
esac
