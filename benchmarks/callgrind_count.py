"""Instructions counted under valgrind's callgrind, only where the counted process says:
it starts without collection (--instr-atstart=no), switches it on and off around the
calls it counts through a small library built from valgrind's callgrind.h, and prints
how many calls it made as its last line. Imports, first-call allocations and the
interpreter's start and end are left out, so the machine's load moves no figure."""

from __future__ import annotations

import ctypes
import os
import subprocess
import sys
import tempfile
from collections.abc import Callable, Iterator
from contextlib import contextmanager

SWITCH = """#include <valgrind/callgrind.h>
void collect_on(void) { CALLGRIND_START_INSTRUMENTATION; }
void collect_off(void) { CALLGRIND_STOP_INSTRUMENTATION; }
"""
_SWITCH_VARIABLE = "KESTRAVA_CALLGRIND_SWITCH"


@contextmanager
def switch_library() -> Iterator[str]:
    """The path of the switch library, built for the time of the block."""
    with tempfile.TemporaryDirectory() as folder:
        source, switch = os.path.join(folder, "switch.c"), os.path.join(folder, "switch.so")
        with open(source, "w") as file:
            file.write(SWITCH)
        subprocess.run(["cc", "-shared", "-fPIC", "-o", switch, source], check=True)
        yield switch


def count_calls(run: Callable[[], int]) -> None:
    """In the counted process: `run` with collection on; prints the calls it made."""
    collection = ctypes.CDLL(os.environ[_SWITCH_VARIABLE])
    collection.collect_on()
    calls = run()
    collection.collect_off()
    print(calls)


def instructions_per_call(arguments: list[str], switch: str, python: str = sys.executable) -> float:
    """Runs `python arguments...` under callgrind: its instructions over its calls."""
    done = subprocess.run(["valgrind", "--tool=callgrind", "--instr-atstart=no", "--trace-children=yes",
                           "--callgrind-out-file=/dev/null",
                           python, *arguments], capture_output=True, text=True, check=True,
                          env={**os.environ, _SWITCH_VARIABLE: switch})
    refs = next(line for line in done.stderr.splitlines() if "refs:" in line)
    return int(refs.split()[-1].replace(",", "")) / int(done.stdout.split()[-1])
