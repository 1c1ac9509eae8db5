#!/usr/bin/env bash
# Plans bundled real days of prices: sets up the package on first use, then runs the demo.
# With no arguments it shows the default hourly day and then a quarter-hour day; with
# arguments it runs the demo once with them (see examples/demo.py --help).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

require_pythons
venv="$(venv_for "${PYTHONS[-1]}")"
install_package "$venv"
if [ "$#" -eq 0 ]; then
    "$venv/bin/python" "$ROOT/examples/demo.py"
    echo
    exec "$venv/bin/python" "$ROOT/examples/demo.py" --zone DE-LU --day 2025-10-01
fi
exec "$venv/bin/python" "$ROOT/examples/demo.py" "$@"
