#!/usr/bin/env bash
# The mutation tier: plants each fault under tests/mutants/ in a clean copy of the
# tree, builds, runs the tests that should catch it, and prints a table of which
# faults the tests killed (a test failed) and which survived (every test passed). It
# is a tier of its own, not part of .ci/run.
#
#   scripts/mutants.sh [--ref REF] [PATCH...]
#
# The copy is the committed tree at REF (default HEAD), taken with git archive into a
# temporary folder; the patches are read from this working tree, so a new one can be
# tried before it is committed. Each patch is applied to the copy, its tests run, and
# the patch is taken out again before the next, so builds stay incremental. Exit
# status: 0 when every mutant was killed, 1 otherwise.
#
# A patch is a unified diff against the tree (as `git diff` writes it), preceded by
# header lines, which git apply skips:
#   # mutant: the planted fault, in one line
#   # tests: ctest -R RoundedPlanner|RoundingFuzz    C++ tests of the core: ctest's own
#                                                     options, run in the copy's build
#   # tests: pytest test_cli_per_day.py -k EXPR      Python tests: pytest's own arguments,
#                                                     run from tests/python against the
#                                                     copy's package
# A patch names its tests in one "# tests:" line, split into words at spaces (no
# quoting); without one, every C++ test runs.
# Before the first mutant, each distinct test command runs once on the unchanged copy
# and must pass, so that "killed" means the fault was caught. A test run that takes
# longer than KESTRAVA_MUTANT_TIMEOUT seconds (default 900) counts as killed.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ref=HEAD
if [ "${1:-}" = --ref ]; then
    ref="${2:?usage: scripts/mutants.sh [--ref REF] [PATCH...]}"
    shift 2
fi
patches=("$@")
if [ "${#patches[@]}" -eq 0 ]; then
    shopt -s nullglob
    patches=("$ROOT"/tests/mutants/*.patch)
fi
if [ "${#patches[@]}" -eq 0 ]; then
    echo "no patches under tests/mutants/" >&2
    exit 1
fi
timeout_seconds="${KESTRAVA_MUTANT_TIMEOUT:-900}"

work="$(mktemp -d "${TMPDIR:-/tmp}/kestrava-mutants.XXXXXX")"
trap 'rm -rf "$work"' EXIT
copy="$work/tree"
mkdir -p "$copy"
git -C "$ROOT" archive "$ref" | tar -x -C "$copy"
log="$work/log"

# header PATCH FIELD -> the value of "# FIELD:" in the patch's header, if any.
header() {
    sed -n "/^diff /q; s/^# $2: *//p" "$1" | head -n 1
}

tests_of() {
    local tests
    tests="$(header "$1" tests)"
    echo "${tests:-ctest}"
}

cpp_ready=false
build_cpp() {
    if ! "$cpp_ready"; then
        ensure_gtest
        cmake -S "$copy" -B "$copy/build/core" -G Ninja -DCMAKE_BUILD_TYPE=Release >>"$log" 2>&1
        cpp_ready=true
    fi
    cmake --build "$copy/build/core" -j2 --target kestrava_core_tests >>"$log" 2>&1
}

# A venv of the copy's own, with the package of the copy as it stands built into it
# (through the copy's common.sh). The test and build requirements are this tree's
# venv's, read after the copy's own site-packages (a .pth file), so that they are not
# installed again.
python_venv=""
shared_venv=""
build_python() {
    if [ -z "$python_venv" ]; then
        require_pythons
        shared_venv="$(venv_for "${PYTHONS[-1]}")"
        python_venv="$work/venv"
        "${PYTHONS[-1]}" -m venv "$python_venv" >>"$log" 2>&1
        "$shared_venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])' \
            >"$("$python_venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')/shared.pth"
    fi
    PATH="$shared_venv/bin:$PATH" bash -c 'source "$1/scripts/common.sh"; install_package "$2"' _ "$copy" \
        "$python_venv" >>"$log" 2>&1
}

# run_tests COMMAND -> the status of the tests it names on the copy as it stands
# (0: passed); 125 when the copy does not build.
run_tests() {
    local command="$1" words
    read -r -a words <<<"$command"
    case "${words[0]}" in
        ctest)
            build_cpp || return 125
            timeout "$timeout_seconds" ctest --test-dir "$copy/build/core" -j2 --no-tests=error "${words[@]:1}" \
                >>"$log" 2>&1
            ;;
        pytest)
            build_python || return 125
            (cd "$copy/tests/python" &&
                timeout "$timeout_seconds" "$python_venv/bin/python" -m pytest -q -x -p no:cacheprovider \
                    "${words[@]:1}") >>"$log" 2>&1
            ;;
        *)
            echo "unknown test command in a patch header: $command" >&2
            return 2
            ;;
    esac
}

# The unchanged copy must pass every command the patches name.
declare -A baseline=()
for patch in "${patches[@]}"; do
    command="$(tests_of "$patch")"
    [ -n "${baseline[$command]:-}" ] && continue
    echo "== baseline: $command" >&2
    if run_tests "$command" </dev/null; then
        baseline[$command]=passed
    else
        echo "error: '$command' fails on the unchanged tree; see the log:" >&2
        tail -n 40 "$log" >&2
        exit 1
    fi
done

printf '%-44s  %-10s  %s\n' patch result tests
survivors=0
for patch in "${patches[@]}"; do
    command="$(tests_of "$patch")"
    name="$(basename "$patch")"
    echo "== mutant: $name ($(header "$patch" mutant))" >&2
    if ! (cd "$copy" && git apply --check -p1 "$patch" && git apply -p1 "$patch") 2>>"$log"; then
        result="no-apply"
        survivors=$((survivors + 1))
    else
        status=0
        run_tests "$command" </dev/null || status=$?
        case "$status" in
            0) result="survived"; survivors=$((survivors + 1)) ;;
            125) result="no-build"; survivors=$((survivors + 1)) ;;
            *) result="killed" ;;
        esac
        (cd "$copy" && git apply -R -p1 "$patch")
    fi
    printf '%-44s  %-10s  %s\n' "$name" "$result" "$command"
done
[ "$survivors" -eq 0 ]
