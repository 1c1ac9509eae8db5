#!/usr/bin/env bash
# Builds the core, its C++ tests and the extension with AddressSanitizer and
# UndefinedBehaviorSanitizer (-DKESTRAVA_SANITIZE=ON), then runs the C++ tests and the
# pytest suite under them. Any report fails the run. Extra arguments go to pytest.
#
# The interpreter itself is not instrumented, so the sanitizer runtimes must be the
# first libraries of the process: they are preloaded (LD_PRELOAD) into Python, and
# every subprocess that the tests start inherits them.
#
#   PYTHONMALLOC=malloc   every Python object is a malloc block the address sanitizer
#                         watches (pymalloc's arenas would hide a use after free of an
#                         object whose reference count the module got wrong).
#   detect_leaks=0        for the Python run only: the interpreter keeps much of its
#                         memory until the process ends on purpose, which the leak
#                         checker would report by the thousand. Leaks of the module are
#                         checked by tests/python/test_leaks.py and scripts/valgrind.sh;
#                         the C++ tests run with leak detection on.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

require_pythons
ensure_gtest
venv="$(venv_for "${PYTHONS[0]}")"
export PATH="$venv/bin:$PATH"
python="$venv/bin/python"

# The command-line tests and the typing tests use the installed distribution.
if ! "$python" -c "import kestrava_plan" 2>/dev/null; then
    install_package "$venv"
fi

BUILD="$ROOT/build/hardening-asan"
echo "== sanitized build (address, undefined) with $("$python" -VV | head -n 1)"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRAVA_WERROR=ON \
    -DKESTRAVA_SANITIZE=ON -DKESTRAVA_BUILD_EXTENSION=ON -DPython_EXECUTABLE="$python" >/dev/null
cmake --build "$BUILD" --parallel 2 --target kestrava_core_tests kestrava _planner

echo "== C++ core tests under the sanitizers"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$BUILD" --output-on-failure -j2

# The sanitized extensions alone on the import path, ahead of any installed build:
# kestrava, and the kestrava_plan package from the source tree with its sanitized _planner.
module_dir="$BUILD/python-path"
rm -rf "$module_dir"
mkdir -p "$module_dir"
cp "$BUILD"/kestrava.*.so "$module_dir/"
cp -r "$ROOT/python/kestrava_plan" "$module_dir/"
rm -rf "$module_dir/kestrava_plan/__pycache__"
cp "$BUILD"/_planner.*.so "$module_dir/kestrava_plan/"

echo "== Python tests under the sanitizers"
runtimes="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)"
for runtime in $runtimes; do
    [ -f "$runtime" ] || { echo "error: sanitizer runtime $runtime not found" >&2; exit 1; }
done
# The installed-layout check is the one test that cannot hold here: the sanitized
# modules come from the build folder, not from site-packages.
(cd "$ROOT/tests/python" &&
    LD_PRELOAD="$runtimes" PYTHONPATH="$module_dir" PYTHONMALLOC=malloc \
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    "$python" -m pytest -q -p no:cacheprovider \
        --deselect tests/python/test_typing.py::test_command_module_is_installed_beside_the_extension_not_inside_it "$@")
