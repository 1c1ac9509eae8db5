#!/usr/bin/env bash
# Times kestrava.get_cheapest_periods from Python on real days and on hard requests:
# sets up the package on first use, then runs the benchmark. Options go to
# benchmarks/bench_python.py (see --help), e.g. --limit 200 --budget 2 --suite hard.
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

require_pythons
venv="$(venv_for "${PYTHONS[-1]}")"
install_package "$venv"
exec "$venv/bin/python" "$ROOT/benchmarks/bench_python.py" "$@"
