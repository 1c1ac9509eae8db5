#!/usr/bin/env bash
# The benchmark command. With no argument it runs the python, engines, plan and fleet parts:
#   python   times kestrava.get_cheapest_periods from Python on real days, on hard
#            requests and on converted days (prices with 20 to 28 decimals, whose sums
#            round) (benchmarks/bench_python.py; see its --help);
#   engines  runs the fast planner (the selection entry on converted days) and the
#            exhaustive search side by side in C++ on the same suites and prints the
#            ratio (benchmarks/engines.cpp; see its --help);
#   plan     times kestrava_plan.cheapest_periods from Python on real windows of 24 to
#            3000 periods, one thread against two, and the HiGHS peer
#            (benchmarks/bench_plan.py; see its --help).
#   fleet    plans per second of kestrava_plan.plan_table on Arrow tables of 24- and
#            96-period requests, on 1 thread and on every core, against separate
#            processes, the Python loop, the planner alone and the HiGHS peer
#            (benchmarks/bench_fleet.py; see its --help).
#   compare  `benchmarks/run.sh compare REF [--rounds N] [-- BENCH_ARGS]` builds the commit
#            REF into a venv of its own under build/compare and times it against the
#            working tree from Python, in interleaved rounds of the same harness
#            (benchmarks/compare.py).
#   adversarial  `benchmarks/run.sh adversarial [--base REF] [ARGS]` times the selection
#            entry on requests built to strain the rounded-sum layer, per call under a
#            budget, and says which path answered (benchmarks/adversarial.cpp; see its
#            --help). With --base, the commit REF's core is built with this tree's
#            benchmark and both run class by class on the same requests.
#   instructions  `benchmarks/run.sh instructions [--base REF] [ARGS]` counts with callgrind
#            the instructions of each selection-entry call of the adversarial suite (each
#            request called once, in process: kestrava_adversarial --once 1) and prints per
#            class the median and largest count; with --base, REF's core beside this tree's.
# `benchmarks/run.sh python|engines|plan|fleet|adversarial|instructions ARGS...` runs one part
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

build_adversarial() {  # SOURCE BUILD
    local venv
    venv="$(venv_for "${PYTHONS[0]}")"
    PATH="$venv/bin:$PATH" cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    PATH="$venv/bin:$PATH" cmake --build "$2" --parallel 2 --target kestrava_adversarial >/dev/null
}

# build_base REF BASE: REF's core with this tree's benchmark in BASE/tree, built in
# BASE/build, so that both builds run the same requests.
build_base() {
    local ref="$1" base="$2"
    rm -rf "$base/tree"
    mkdir -p "$base/tree"
    git -C "$ROOT" archive "$ref" | tar -x -C "$base/tree"
    rm -rf "$base/tree/benchmarks"
    cp -r "$ROOT/benchmarks" "$base/tree/benchmarks"
    build_adversarial "$base/tree" "$base/build"
}

run_adversarial() {
    require_pythons
    ensure_gtest
    local ref="" base="$ROOT/build/adversarial-base" name
    if [ "${1:-}" = --base ]; then
        ref="${2:?usage: benchmarks/run.sh adversarial [--base REF] [ARGS]}"
        shift 2
    fi
    build_adversarial "$ROOT" "$ROOT/build/bench"
    if [ -z "$ref" ]; then
        "$ROOT/build/bench/benchmarks/kestrava_adversarial" "$@"
        return
    fi
    build_base "$ref" "$base"
    echo "base: $(git -C "$ROOT" rev-parse --short "$ref"); new: the working tree at $(git -C "$ROOT" rev-parse --short HEAD)"
    for name in huge ties past96 wide apart alternate decreasing noisy zigzag third scaled; do
        "$base/build/benchmarks/kestrava_adversarial" --class "$name" --tag base "$@" | sed -n "$([ "$name" = huge ] && echo 1,2p || echo 2p)"
        "$ROOT/build/bench/benchmarks/kestrava_adversarial" --class "$name" --tag new "$@" | sed -n 2p
    done
}

# count_calls BINARY TAG ARGS...: per class, the median and largest instructions of a call.
count_calls() {
    local binary="$1" tag="$2" entry name dumps counts rest=() skip=false word
    shift 2
    for word in "$@"; do  # the options but --class, which this loop gives one at a time
        if "$skip"; then skip=false; elif [ "$word" = --class ]; then skip=true; else rest+=("$word"); fi
    done
    entry="$(nm -C "$binary" | sed -n 's/^[0-9a-f]* [tT] \(kestrava::get_cheapest_periods(.*)\)$/\1/p' | head -n 1)"
    dumps="$(mktemp -d)"
    for name in $(adversarial_classes "$@"); do
        valgrind --tool=callgrind --toggle-collect="kestrava::get_cheapest_periods*" --dump-after="$entry" \
            --callgrind-out-file="$dumps/$name" "$binary" --class "$name" --once 1 "${rest[@]}" >/dev/null 2>&1
        counts="$(cat "$dumps/$name".* | sed -n 's/^summary: //p' | sort -n)"
        echo "$counts" | awk -v tag="$tag" -v name="$name" '{ c[NR] = $1 } END {
            printf "%-6s %-10s %5d %14d %14d\n", tag, name, NR, c[int((NR + 1) / 2)], c[NR] }'
    done
    rm -rf "$dumps"
}

# The classes named by --class in ARGS, or every class.
adversarial_classes() {
    local names=() previous=""
    for word in "$@"; do
        [ "$previous" = --class ] && names+=("$word")
        previous="$word"
    done
    [ "${#names[@]}" -gt 0 ] || names=(huge ties past96 wide apart alternate decreasing noisy zigzag third scaled)
    echo "${names[@]}"
}

run_instructions() {
    require_pythons
    ensure_gtest
    local ref="" base="$ROOT/build/adversarial-base"
    if [ "${1:-}" = --base ]; then
        ref="${2:?usage: benchmarks/run.sh instructions [--base REF] [ARGS]}"
        shift 2
    fi
    build_adversarial "$ROOT" "$ROOT/build/bench"
    printf '%-6s %-10s %5s %14s %14s\n' build class n "median instr" "max instr"
    if [ -n "$ref" ]; then
        build_base "$ref" "$base"
        count_calls "$base/build/benchmarks/kestrava_adversarial" base "$@"
    fi
    count_calls "$ROOT/build/bench/benchmarks/kestrava_adversarial" new "$@"
}

run_fleet() {
    require_pythons
    local venv
    venv="$(venv_for "${PYTHONS[-1]}")"
    install_package "$venv"
    PATH="$venv/bin:$PATH" cmake -S "$ROOT" -B "$ROOT/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    PATH="$venv/bin:$PATH" cmake --build "$ROOT/build/bench" --target kestrava_rows_bench >/dev/null
    "$venv/bin/python" "$ROOT/benchmarks/bench_fleet.py" "$@"
}

run_compare() {
    local ref="${1:?usage: benchmarks/run.sh compare REF [--rounds N] [-- BENCH_ARGS]}"
    shift
    require_pythons
    local python="${PYTHONS[-1]}" venv version base
    venv="$(venv_for "$python")"
    install_package "$venv"
    version="$("$venv/bin/python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
    base="$ROOT/build/compare"
    rm -rf "$base/tree"
    mkdir -p "$base/tree"
    git -C "$ROOT" archive "$ref" | tar -x -C "$base/tree"
    if [ ! -x "$base/venv-py$version/bin/python" ]; then
        "$python" -m venv "$base/venv-py$version"
        "$base/venv-py$version/bin/python" -m pip install -q --disable-pip-version-check -r "$ROOT/requirements-dev.txt"
    fi
    PATH="$base/venv-py$version/bin:$PATH" "$base/venv-py$version/bin/python" -m pip install -q \
        --disable-pip-version-check --no-build-isolation --no-deps -Cbuild-dir="$base/build-py$version" "$base/tree"
    echo "base: $(git -C "$ROOT" rev-parse --short "$ref"); new: the working tree at $(git -C "$ROOT" rev-parse --short HEAD)"
    "$venv/bin/python" "$ROOT/benchmarks/compare.py" --base "$base/venv-py$version/bin/python" \
        --new "$venv/bin/python" "$@"
}

case "${1:-all}" in
    python) shift; run_python "$@" ;;
    engines) shift; run_engines "$@" ;;
    plan) shift; run_plan "$@" ;;
    fleet) shift; run_fleet "$@" ;;
    compare) shift; run_compare "$@" ;;
    adversarial) shift; run_adversarial "$@" ;;
    instructions) shift; run_instructions "$@" ;;
    all) run_python; echo; run_engines; echo; run_plan; echo; run_fleet ;;
    *) echo "usage: benchmarks/run.sh [python|engines|plan|fleet|compare|adversarial|instructions] [options]" >&2; exit 2 ;;
esac
