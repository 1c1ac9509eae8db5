#!/usr/bin/env bash
# Runs the Home Assistant integration's tests (tests/homeassistant/) against a real Home
# Assistant core, in their own virtual environment, .venv/ha: CPython 3.13 with the pair
# pinned in tests/homeassistant/requirements.txt (installed once, some minutes and about
# 1 GB the first time, reused after), and this package installed from the one wheel,
# built or reused as scripts/build-wheel.sh does.
#
#   scripts/test-homeassistant.sh [PYTEST ARGS...]
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

HA_REQUIREMENTS="$ROOT/tests/homeassistant/requirements.txt"
HA_VENV="$ROOT/.venv/ha"

# ha_python -> the CPython 3.13 that the pinned Home Assistant installs on.
ha_python() {
    local path
    for path in $(find_pythons); do
        if "$path" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))'; then
            echo "$path"
            return 0
        fi
    done
    echo "error: the Home Assistant tests need CPython 3.13, which was not found" >&2
    return 1
}

python="$(ha_python)"
if [ ! -x "$HA_VENV/bin/python" ]; then
    "$python" -m venv "$HA_VENV"
fi
if ! cmp -s "$HA_REQUIREMENTS" "$HA_VENV/.requirements.stamp"; then
    echo "== installing Home Assistant and its test harness into .venv/ha" \
         "(tests/homeassistant/requirements.txt: some minutes the first time)"
    "$HA_VENV/bin/python" -m pip install -q --disable-pip-version-check -r "$HA_REQUIREMENTS" >&2
    cp "$HA_REQUIREMENTS" "$HA_VENV/.requirements.stamp"
fi
require_pythons
wheel="$(build_wheel "${PYTHONS[-1]}")"
if ! package_current "$HA_VENV"; then
    echo "== installing $(basename "$wheel") into .venv/ha"
    install_wheel "$HA_VENV" "$wheel"
fi
version="$("$HA_VENV/bin/python" -c 'from homeassistant.const import __version__; print(__version__)')"
echo "== Home Assistant tests on Home Assistant $version"
cd "$ROOT/tests/homeassistant" && "$HA_VENV/bin/python" -m pytest -q "$@"
