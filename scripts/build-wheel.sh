#!/usr/bin/env bash
# Builds the one wheel into wheelhouse/: compiled once, with the system compiler, on the
# newest CPython found, for the limited API of CPython 3.12 (cp312-abi3), so that every
# CPython from 3.12 on installs it; libstdc++ linked into each extension; then
# repaired by auditwheel, which gives it the manylinux tag its glibc symbols allow.
# Then it checks the wheel: abi3audit finds no symbol outside the stable ABI, and
# readelf no needed library beyond glibc's own (and its unwinder, libgcc_s). A wheel of the sources as they are is
# kept, not built again.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

require_pythons
wheel="$(build_wheel "${PYTHONS[-1]}")"
venv="$(venv_at "${PYTHONS[-1]}")"
echo "== $(basename "$wheel")"

echo "== abi3audit: symbols outside the stable ABI of 3.12"
"$venv/bin/abi3audit" --strict --assume-minimum-abi3 3.12 "$wheel"

echo "== readelf: the libraries each extension needs"
"$venv/bin/python" - "$wheel" <<'PYTHON'
import re, subprocess, sys, tempfile, zipfile
# glibc's own libraries, which every manylinux system has, and libgcc_s, the unwinder
# glibc itself loads to end a thread: the exit guard catches that unwind, which a
# static copy of the unwinder would not see.
GLIBC = {"libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2", "librt.so.1", "ld-linux-x86-64.so.2",
         "libgcc_s.so.1"}
with tempfile.TemporaryDirectory() as folder:
    archive = zipfile.ZipFile(sys.argv[1])
    extensions = [name for name in archive.namelist() if name.endswith(".so")]
    if len(extensions) != 2 or not all(".abi3." in name for name in extensions):
        sys.exit(f"wanted kestrava and kestrava_plan/_planner as abi3 extensions, found {extensions}")
    for name in extensions:
        path = archive.extract(name, folder)
        dynamic = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout
        needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", dynamic))
        print(f"   {name}: {', '.join(sorted(needed))}")
        if needed - GLIBC:
            sys.exit(f"{name} needs {sorted(needed - GLIBC)}, beyond glibc's own")
PYTHON
echo "== wheel built and checked: $wheel"
