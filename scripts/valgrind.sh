#!/usr/bin/env bash
# Runs the reference-hygiene, thread and bad-input tests under valgrind's memcheck,
# against the extension installed in the project's environment (an optimized build,
# as users get it). Any invalid read or write, use of uninitialised memory or
# definitely lost block fails the run; the summary is printed at the end.
#
#   scripts/valgrind.sh [PYTEST ARGS...]    default: test_leaks.py test_threads.py test_bad_input.py
#                                           test_plan_leaks.py
#
# --fair-sched=yes hands valgrind's one running thread over in turn: without it a
# thread that spins on the interpreter lock can starve the others for minutes, and
# a signal can wait until a call has ended.
#
# PYTHONMALLOC=malloc sends every Python object through malloc, so memcheck sees
# each one; pymalloc's arenas would hide them.
#
# Leaks are judged by where the lost block was allocated. The interpreter itself
# loses some blocks at exit by design (immortal objects are never freed), so those
# are shown in the log but not counted. A block lost with an extension on its
# allocation stack fails the run, except what module set-up makes once per process:
# the one heap copy of the method definition that kestrava's init entry makes and the
# function object keeps for good, and the names kestrava_plan._planner's set-up
# interns (interned strings are immortal).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

if ! command -v valgrind >/dev/null; then
    echo "== installing valgrind"
    as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq valgrind >/dev/null
fi

require_pythons
venv="$(venv_for "${PYTHONS[0]}")"
python="$venv/bin/python"
if ! "$python" -c "import kestrava" 2>/dev/null; then
    install_package "$venv"
fi

[ "$#" -gt 0 ] || set -- test_leaks.py test_threads.py test_bad_input.py test_plan_leaks.py
log="$ROOT/build/hardening-valgrind.log"
mkdir -p "$ROOT/build"
echo "== memcheck over: $* (log: $log)"
status=0
(cd "$ROOT/tests/python" &&
    PYTHONMALLOC=malloc valgrind --tool=memcheck --fair-sched=yes --leak-check=full --show-leak-kinds=definite \
        --errors-for-leak-kinds=none --error-exitcode=99 --num-callers=30 --log-file="$log" \
        --suppressions="$ROOT/scripts/valgrind.supp" \
        "$python" -m pytest -q -p no:cacheprovider "$@") || status=$?
grep -A2 "HEAP SUMMARY" "$log"
sed -n '/LEAK SUMMARY/,$p' "$log"

# Sorts the definitely lost blocks by whether the extension allocated them.
"$python" - "$log" <<'PYTHON' || status=$?
import re, sys

text = open(sys.argv[1]).read()
records = re.split(r"\n==\d+== \n", text)
lost = [r for r in records if "definitely lost in loss record" in r]
# Each extension's file, version-specific (kestrava.cpython-313-...) or stable-ABI (kestrava.abi3.so).
extension = re.compile(r"\b(kestrava|_planner)\.(cpython-|abi3\.)")
ours = [r for r in lost if extension.search(r)]
once = [r for r in ours if "PyInit_kestrava" in r]
# The module's set-up runs once per import: the names it interns, and those the parser
# interns when it compiles the signatures of the functions, live as long as the process.
plan_set_up = [r for r in ours if "_planner." in r and "PyModule_ExecDef" in r]
per_call = [r for r in ours if r not in once and r not in plan_set_up]
size = lambda r: int(re.search(r"([\d,]+) bytes in", r).group(1).replace(",", ""))
print(f"definitely lost: {len(lost)} records; allocated by the extensions: {len(ours)} "
      f"({len(once)} in kestrava's init entry, {sum(map(size, once))} bytes; {len(plan_set_up)} names interned "
      f"by _planner's set-up (once per import), {sum(map(size, plan_set_up))} bytes; {len(per_call)} elsewhere)")
for record in per_call:
    print(record)
sys.exit(1 if per_call or len(once) > 1 else 0)
PYTHON
exit "$status"
