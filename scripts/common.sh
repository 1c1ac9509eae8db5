# Shared set-up for the project's commands: finds the supported interpreters,
# installs what the build needs and builds the package into one virtual
# environment per interpreter. Sourced, not run.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
MIN_MINOR=12

# Prints one interpreter path per supported CPython minor version (3.12 and later),
# the first one found for each.
find_pythons() {
    local candidates=() seen=" " path minor
    for name in python3.12 python3.13 python3.14 python3.15 python3; do
        path="$(command -v "$name" 2>/dev/null || true)"
        [ -n "$path" ] && candidates+=("$path")
    done
    for path in /usr/bin/python3.1[2-9] /usr/local/bin/python3.1[2-9] \
                "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3.1[2-9]*/bin/python3; do
        [ -x "$path" ] && candidates+=("$path")
    done
    for path in "${candidates[@]}"; do
        minor="$("$path" -c 'import sys; print(sys.version_info[1] if sys.version_info >= (3, '"$MIN_MINOR"') and sys.implementation.name == "cpython" else "")' 2>/dev/null || true)"
        [ -n "$minor" ] || continue
        case "$seen" in *" $minor "*) continue ;; esac
        seen="$seen$minor "
        echo "$path"
    done
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

have_gtest() {
    [ -f /usr/include/gtest/gtest.h ] || [ -f /usr/local/include/gtest/gtest.h ]
}

# GoogleTest for the C++ unit tests comes from Debian's packages.
ensure_gtest() {
    if ! have_gtest; then
        echo "== installing GoogleTest (libgtest-dev)"
        as_root apt-get update -qq
        DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq libgtest-dev >/dev/null
    fi
}

# venv_at PYTHON -> prints the path of the project's virtual environment for that
# interpreter's version, creating it when needed.
venv_at() {
    local python="$1" version venv
    version="$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
    venv="$ROOT/.venv/py$version"
    if [ ! -x "$venv/bin/python" ]; then
        "$python" -m venv "$venv" >&2
    fi
    echo "$venv"
}

# requirements_text NAME -> requirements-NAME.txt with the build requirements it includes.
requirements_text() {
    cat "$ROOT/requirements-$1.txt" "$ROOT/requirements-build.txt"
}

# requirements_current VENV NAME: whether requirements-NAME.txt was installed into VENV
# as it stands now.
requirements_current() {
    cmp -s <(requirements_text "$2") "$1/.requirements-$2.stamp" 2>/dev/null
}

# install_requirements VENV NAME: installs requirements-NAME.txt into VENV unless it is current.
install_requirements() {
    local venv="$1" name="$2"
    requirements_current "$venv" "$name" && return 0
    "$venv/bin/python" -m pip install -q --disable-pip-version-check -r "$ROOT/requirements-$name.txt" >&2
    requirements_text "$name" >"$venv/.requirements-$name.stamp"
}

# venv_for PYTHON -> prints the path of the project's virtual environment for it, with
# the build and test requirements installed.
venv_for() {
    local venv
    venv="$(venv_at "$1")"
    install_requirements "$venv" dev
    echo "$venv"
}

# package_fingerprint -> a digest of everything the installed package is built from.
package_fingerprint() {
    local path sources=()
    for path in src python stubs third_party CMakeLists.txt pyproject.toml; do
        [ -e "$ROOT/$path" ] && sources+=("$path")
    done
    (cd "$ROOT" && find "${sources[@]}" -type f -not -name '*.pyc' | LC_ALL=C sort | xargs sha256sum |
        sha256sum | cut -d' ' -f1)
}

# install_package VENV: builds the extension for the venv's interpreter and installs it there.
install_package() {
    local venv="$1" version fingerprint
    version="$("$venv/bin/python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
    fingerprint="$(package_fingerprint)"
    PATH="$venv/bin:$PATH" "$venv/bin/python" -m pip install -q --disable-pip-version-check \
        --no-build-isolation --no-deps \
        -Cbuild-dir="$ROOT/build/py$version" "$ROOT" >&2
    echo "$fingerprint" >"$venv/.package.stamp"
}

# package_current VENV: whether VENV holds the package built from the sources as they are.
package_current() {
    [ "$(cat "$1/.package.stamp" 2>/dev/null)" = "$(package_fingerprint)" ]
}

# wheel_file -> the path of the wheel in wheelhouse/ when it was built from the sources as
# they are; nothing otherwise.
wheel_file() {
    local wheel
    [ "$(cat "$ROOT/wheelhouse/.fingerprint" 2>/dev/null)" = "$(package_fingerprint)" ] || return 0
    for wheel in "$ROOT"/wheelhouse/kestrava-*.whl; do
        [ -f "$wheel" ] && echo "$wheel"
    done
}

# build_wheel PYTHON: compiles the one wheel with PYTHON into wheelhouse/ and repairs it,
# unless a wheel of the sources as they are is there. Prints its path.
build_wheel() {
    local venv raw="$ROOT/build/wheel/raw" wheel
    wheel="$(wheel_file)"
    if [ -n "$wheel" ]; then
        echo "$wheel"
        return 0
    fi
    venv="$(venv_at "$1")"
    install_requirements "$venv" wheel
    rm -rf "$ROOT/wheelhouse" "$raw"
    echo "== compiling the wheel with $("$venv/bin/python" -VV | head -n 1) (a few minutes)" >&2
    PATH="$venv/bin:$PATH" "$venv/bin/python" -m pip wheel -q --disable-pip-version-check --no-build-isolation \
        --no-deps -Cbuild-dir="$ROOT/build/wheel/build" -Ccmake.define.KESTRAVA_STATIC_RUNTIME=ON -w "$raw" \
        "$ROOT" >&2
    PATH="$venv/bin:$PATH" auditwheel repair -w "$ROOT/wheelhouse" "$raw"/kestrava-*.whl >&2
    package_fingerprint >"$ROOT/wheelhouse/.fingerprint"
    wheel_file
}

# install_wheel VENV WHEEL: installs WHEEL into VENV in place of any other build.
install_wheel() {
    "$1/bin/python" -m pip install -q --disable-pip-version-check --no-deps --force-reinstall "$2" >&2
    package_fingerprint >"$1/.package.stamp"
}

require_pythons() {
    PYTHONS=()
    while IFS= read -r line; do PYTHONS+=("$line"); done < <(find_pythons)
    if [ "${#PYTHONS[@]}" -eq 0 ]; then
        echo "error: no CPython 3.$MIN_MINOR or later found (looked on PATH, in /usr/bin, /usr/local/bin and pyenv)" >&2
        exit 1
    fi
}
