#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ (the main CMake build with -DKESTRAVA_FUZZ=ON:
# clang, address and undefined-behaviour sanitizers) and runs each of them, one after
# the other, on one core.
#
#   scripts/fuzz.sh                 a short fixed number of runs per harness (CI)
#   scripts/fuzz.sh long [RUNS]     RUNS executions per harness (default 10000000)
#
# The output of each run goes to build/hardening-fuzz/<harness>-<mode>.log.
#
# The committed seeds (fuzz/corpus/<name>, <name> being the harness name without
# "_fuzzer") are only read; inputs that reach new code are kept in
# build/hardening-fuzz/corpus/<name>, so later runs start from them.
# A failing input is written to build/hardening-fuzz/crash-*; rerun it with
#   build/hardening-fuzz/<harness> build/hardening-fuzz/crash-...
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

mode="${1:-short}"
case "$mode" in
    short) ;;
    long) long_runs="${2:-10000000}" ;;
    *) echo "usage: $0 [short | long [RUNS]]" >&2; exit 2 ;;
esac

# libFuzzer comes with clang. clang 15 or later is needed: the core uses
# std::source_location, which the C++ library provides only to compilers that have
# __builtin_source_location.
CLANG_VERSION=16
ensure_clang() {
    if ! command -v "clang++-$CLANG_VERSION" >/dev/null \
        || ! compgen -G "/usr/lib/llvm-$CLANG_VERSION/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a" >/dev/null; then
        echo "== installing clang $CLANG_VERSION and its runtime libraries (clang-$CLANG_VERSION, libclang-rt-$CLANG_VERSION-dev)"
        as_root apt-get update -qq
        DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends \
            "clang-$CLANG_VERSION" "libclang-rt-$CLANG_VERSION-dev" >/dev/null
    fi
}

require_pythons
ensure_clang
venv="$(venv_for "${PYTHONS[0]}")"
export PATH="$venv/bin:$PATH"

BUILD="$ROOT/build/hardening-fuzz"
# A cache configured from another source folder cannot be reused.
if [ -f "$BUILD/CMakeCache.txt" ] && ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$ROOT" "$BUILD/CMakeCache.txt"; then
    rm -rf "$BUILD/CMakeCache.txt" "$BUILD/CMakeFiles"
fi
echo "== building the fuzz harnesses (clang $CLANG_VERSION)"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER="clang++-$CLANG_VERSION" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRAVA_FUZZ=ON -DKESTRAVA_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --parallel 2 --target decimal_parse_fuzzer selection_fuzzer

# run_harness NAME RUNS [libFuzzer options...]
run_harness() {
    local name="$1" runs="$2"
    shift 2
    local seeds="${name%_fuzzer}"
    local corpus="$BUILD/corpus/$seeds" log="$BUILD/$name-$mode.log" status=0
    mkdir -p "$corpus"
    local command=("$BUILD/$name" "-runs=$runs" "-artifact_prefix=$BUILD/" "$@")
    # A fixed seed for the short runs: the same executions on every machine.
    [ "$mode" = short ] && command+=(-seed=1)
    echo "== $name: $runs runs (log: $log)"
    "${command[@]}" "$corpus" "$ROOT/fuzz/corpus/$seeds" >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log"
        echo "== $name FAILED (exit $status)" >&2
        return "$status"
    fi
    grep -E '^Done [0-9]+ runs' "$log"
}

if [ "$mode" = short ]; then
    run_harness decimal_parse_fuzzer 200000 -dict="$ROOT/fuzz/decimal_parse.dict"
    run_harness selection_fuzzer 40000
else
    run_harness decimal_parse_fuzzer "$long_runs" -dict="$ROOT/fuzz/decimal_parse.dict"
    run_harness selection_fuzzer "$long_runs"
fi
