#!/usr/bin/env bash
# Plans bundled real days of prices: sets up the package on first use, then runs the demo.
# With no arguments it shows the default hourly day and then a quarter-hour day; with
# arguments it runs the demo once with them (see examples/demo.py --help).
#
# It installs only what building the wheel needs (requirements-wheel.txt), and
# matplotlib only for --png; it rebuilds only when the sources have changed.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

wants_png() {
    local argument
    for argument in "$@"; do
        case "$argument" in --png | --png=*) return 0 ;; esac
    done
    return 1
}

require_pythons
venv="$(venv_at "${PYTHONS[-1]}")"
if ! package_current "$venv"; then
    echo "== setting up ${venv#"$ROOT"/}: the build requirements (requirements-wheel.txt), then" \
         "compiling the one wheel (a few minutes the first time); later runs start at once" >&2
    wheel="$(build_wheel "${PYTHONS[-1]}")"
    install_wheel "$venv" "$wheel"
    echo "== compiled $(basename "$wheel") and installed it in $SECONDS s" >&2
fi
if wants_png "$@" && ! "$venv/bin/python" -c 'import matplotlib' 2>/dev/null; then
    echo "== installing matplotlib for --png" >&2
    "$venv/bin/python" -m pip install -q --disable-pip-version-check 'matplotlib>=3.8' >&2
fi
if [ "$#" -eq 0 ]; then
    "$venv/bin/python" "$ROOT/examples/demo.py"
    echo
    exec "$venv/bin/python" "$ROOT/examples/demo.py" --zone DE-LU --day 2025-10-01
fi
exec "$venv/bin/python" "$ROOT/examples/demo.py" "$@"
