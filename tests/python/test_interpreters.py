"""The module in more than one interpreter and across re-imports: it belongs to the first
interpreter that imports it, for the life of the process; every other interpreter is
refused with ImportError, and the first one keeps working. Re-importing in the first
interpreter gives back the one module object, unchanged."""

import importlib
import subprocess
import sys
import textwrap

import pytest

import kestrava

REFUSAL = "does not yet support subinterpreters"

# Helpers for the scripts below, over the interpreter's own subinterpreter support:
# _interpreters on 3.13 and later, _xxsubinterpreters on 3.12. A "legacy" interpreter
# shares the main one's settings and so lets single-phase modules load (the module's
# own check answers there); an isolated one refuses them itself.
PRELUDE = textwrap.dedent(
    """
    import os, sys
    try:
        import _interpreters as interpreters

        def make(legacy):
            return interpreters.create("legacy" if legacy else "isolated")

        def run(interpreter, code):
            failure = interpreters.exec(interpreter, code)
            assert failure is None, failure
    except ImportError:
        import _xxsubinterpreters as interpreters

        def make(legacy):
            return interpreters.create(isolated=not legacy)

        def run(interpreter, code):
            interpreters.run_string(interpreter, code)

    def destroy(interpreter):
        interpreters.destroy(interpreter)

    def say(line):
        os.write(1, (line + "\\n").encode())

    def try_import():
        try:
            import kestrava
        except ImportError as failure:
            say("ImportError: " + str(failure))
        else:
            say("imported " + repr(kestrava.get_cheapest_periods(["3", "1", "2"], "0", 1, 1, 2, 2)))
    """
)

# Runs inside a subinterpreter: defines the same reporting helpers there.
SUB_TRY_IMPORT = textwrap.dedent(
    """
    import os
    def say(line):
        os.write(1, (line + "\\n").encode())
    try:
        import kestrava
    except ImportError as failure:
        say("ImportError: " + str(failure))
    else:
        say("imported " + repr(kestrava.get_cheapest_periods(["3", "1", "2"], "0", 1, 1, 2, 2)))
    """
)


def run_script(body):
    script = PRELUDE + f"SUB_TRY_IMPORT = {SUB_TRY_IMPORT!r}\n" + textwrap.dedent(body)
    completed = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert completed.returncode == 0, completed.stderr
    return completed.stdout.splitlines()


def refused(line):
    return line.startswith("ImportError: ") and REFUSAL in line


EXPECTED_RESULT = "imported " + repr(kestrava.get_cheapest_periods(["3", "1", "2"], "0", 1, 1, 2, 2))


# From 3.13 on, the interpreter runs the init entry of a single-phase module in the
# main interpreter first, even when a subinterpreter asks for it, so the main
# interpreter is always the first to initialize it. On 3.12 the asking interpreter
# runs it, and an isolated one applies its own refusal only after the init entry ran.
MAIN_INITIALIZES_FIRST = sys.version_info >= (3, 13)

SCENARIOS = [
    # (name, script, what each output line must be)
    (
        "several second interpreters are refused, before and after destroying them",
        """
        try_import()
        for legacy in (True, True, True):
            sub = make(legacy)
            run(sub, SUB_TRY_IMPORT)
            run(sub, SUB_TRY_IMPORT)
            destroy(sub)
        try_import()
        """,
        ["imported", "refused", "refused", "refused", "refused", "refused", "refused", "imported"],
    ),
    (
        "the first interpreter to initialize the module keeps it, also after others are destroyed",
        """
        sub = make(True)
        run(sub, SUB_TRY_IMPORT)
        try_import()
        destroy(sub)
        try_import()
        other = make(True)
        run(other, SUB_TRY_IMPORT)
        destroy(other)
        """,
        ["refused", "imported", "imported", "refused"]
        if MAIN_INITIALIZES_FIRST
        else ["imported", "refused", "refused", "refused"],
    ),
    (
        "an isolated interpreter refuses single-phase modules by itself",
        """
        sub = make(False)
        run(sub, SUB_TRY_IMPORT)
        destroy(sub)
        try_import()
        """,
        ["own refusal", "imported" if MAIN_INITIALIZES_FIRST else "refused"],
    ),
]


def line_fits(line, expected):
    if expected == "imported":
        return line == EXPECTED_RESULT
    if expected == "refused":
        return refused(line)
    assert expected == "own refusal"
    # The interpreter's own refusal: an ImportError that is not the module's.
    return line.startswith("ImportError: ") and REFUSAL not in line


@pytest.mark.parametrize(("script", "expected"), [case[1:] for case in SCENARIOS], ids=[case[0] for case in SCENARIOS])
def test_interpreter_scenarios(script, expected):
    lines = run_script(script)
    assert len(lines) == len(expected), lines
    assert [line_fits(line, kind) for line, kind in zip(lines, expected)] == [True] * len(expected), lines


@pytest.fixture
def module_table_restored():
    original = sys.modules["kestrava"]
    yield original
    sys.modules["kestrava"] = original


def test_repeated_reimport_gives_the_same_unchanged_module(module_table_restored):
    original = module_table_restored
    function = original.get_cheapest_periods
    names = sorted(vars(original))
    for _ in range(50):
        del sys.modules["kestrava"]
        again = importlib.import_module("kestrava")
        assert again is original
    assert importlib.reload(original) is original
    assert original.__all__ == ["get_cheapest_periods"]
    assert original.get_cheapest_periods is function
    assert sorted(vars(original)) == names
    assert function(["3", "1", "2"], "0", 1, 1, 2, 2) == kestrava.get_cheapest_periods(["3", "1", "2"], "0", 1, 1, 2, 2)


def test_reimport_in_a_fresh_process_after_calls_and_failures():
    script = textwrap.dedent(
        """
        import sys
        import kestrava
        first = kestrava
        for round in range(20):
            try:
                kestrava.get_cheapest_periods([str(2**96 - 1)] * 2, "0", 1, 1, 1, 1)
            except BaseException:
                pass
            del sys.modules["kestrava"]
            import kestrava
            assert kestrava is first
        print(kestrava.__all__, kestrava.get_cheapest_periods(["3", "1", "2"], "0", 1, 1, 2, 2))
        """
    )
    completed = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout == f"['get_cheapest_periods'] {kestrava.get_cheapest_periods(['3', '1', '2'], '0', 1, 1, 2, 2)}\n"
