"""The README's shell examples print what the README says they print.

In a ```sh block, an example is its command lines followed by the lines it prints:
`# -> ` starts standard output (`#    ` continues it) and `# stderr: ` gives standard
error. Variables set in a block (`RULES=...`) hold for the examples after them.
"""

from __future__ import annotations

import os
import re
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


@dataclass
class Example:
    line: int  # the README line of its first command
    commands: list[str]
    stdout: list[str]
    stderr: list[str]


def _block_examples(block: str, first_line: int) -> list[Example]:
    examples: list[Example] = []
    settings: list[str] = []
    current = Example(first_line, [], [], [])
    for number, line in enumerate(block.splitlines(), first_line):
        if line.startswith("# -> ") or (line.startswith("#    ") and current.stdout):
            current.stdout.append(line[5:])
        elif line.startswith("# stderr: "):
            current.stderr.append(line[len("# stderr: "):])
        elif line.startswith("#") or not line.strip():
            if current.stdout or current.stderr:
                examples.append(current)
                current = Example(number + 1, [], [], [])
        elif re.match(r"[A-Z_]+=", line):
            settings.append(line)
        else:
            if not current.commands:
                current.line = number
            current.commands.append(line)
    if current.stdout or current.stderr:
        examples.append(current)
    for example in examples:
        example.commands[:0] = settings  # settings come first in every block that has them
    return examples


def readme_examples() -> list[Example]:
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    found: list[Example] = []
    for match in re.finditer(r"^```sh\n(.*?)^```", text, re.S | re.M):
        found += _block_examples(match.group(1), text.count("\n", 0, match.start(1)) + 1)
    return found


EXAMPLES = readme_examples()


def test_the_readme_has_command_examples() -> None:
    assert sum("kestrava-plan" in " ".join(example.commands) for example in EXAMPLES) >= 10


@pytest.mark.parametrize("example", EXAMPLES, ids=lambda example: f"README.md:{example.line}")
def test_readme_example_prints_what_it_shows(example: Example, tmp_path: Path) -> None:
    for folder in ("data", "examples"):  # the README's commands name files in both
        (tmp_path / folder).symlink_to(ROOT / folder)
    environment = {**os.environ, "PATH": f"{Path(sys.executable).parent}{os.pathsep}{os.environ['PATH']}"}
    done = subprocess.run(["bash", "-c", "\n".join(example.commands)], cwd=tmp_path, env=environment,
                          capture_output=True, text=True, timeout=300)
    assert done.stdout.splitlines() == example.stdout, done.stderr
    if example.stderr:
        assert done.stderr.splitlines() == example.stderr
