"""A child interpreter sent SIGINT each time it prints "calling", some time later."""

from __future__ import annotations

import signal
import subprocess
import sys
import time

# Python code between the line and the call it announces takes at most milliseconds:
# this much later the child is well inside the call.
DELAY = 0.3


def run_interrupted(arguments: list[str], timeout: float = 60) -> tuple[list[str], int, str]:
    """(the lines it printed, its exit status, its standard error)."""
    child = subprocess.Popen([sys.executable, *arguments], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines: list[str] = []
    try:
        assert child.stdout is not None
        for line in child.stdout:
            lines.append(line)
            if line == "calling\n":
                time.sleep(DELAY)
                child.send_signal(signal.SIGINT)
        _, stderr = child.communicate(timeout=timeout)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    return lines, child.returncode, stderr
