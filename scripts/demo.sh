#!/usr/bin/env bash
# Plans a bundled real day of prices: sets up the package on first use, then runs the demo.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

require_pythons
venv="$(venv_for "${PYTHONS[-1]}")"
install_package "$venv"
exec "$venv/bin/python" "$ROOT/examples/demo.py" "$@"
