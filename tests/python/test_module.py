"""The module object: its attributes, the function's metadata, re-initialization in the
same interpreter and refusal in a second one."""

import importlib.machinery
import importlib.util
import inspect
import subprocess
import sys
import textwrap

import kestrava

SIGNATURE = (
    "(prices, low_price_threshold, min_selections, min_consecutive_periods, "
    "max_gap_between_periods=0, max_gap_from_start=0, aggressive=True)"
)
DOC = """Find the cheapest periods in a sequence of prices

This algorithm selects periods (indices) from a price sequence to minimize cost
while satisfying various timing constraints. The algorithm prioritizes periods
with prices at or below the threshold, but still respects all constraints.

# Parameters
- `prices`: Sequence of prices for each period
- `low_price_threshold`: Price threshold below/equal to which periods are preferentially selected
- `min_selections`: Desired minimum number of periods to select (will be incremented if no valid solution found)
- `min_consecutive_periods`: Minimum consecutive periods required for each consecutive block
- `max_gap_between_periods`: Maximum gap allowed between selected periods
- `max_gap_from_start`: Maximum gap from start before first selection
- `aggressive`: Whether to use aggressive (cost-minimizing) or conservative (cheap-item-maximizing) strategy

# Algorithm
1. Find cheapest main combination that meets constraints (with adaptive min_selections retry)
2. Try adding cheap items to that combination, validating each merge
3. Return the cheapest valid combination of main+cheap items

# Important Notes
- `min_consecutive_periods` is enforced as a minimum for each consecutive block
- The algorithm adaptively increases `min_selections` if no valid solution is found

# Returns
List of indices representing selected periods, sorted by index"""


def test_module_attributes():
    assert kestrava.__name__ == "kestrava"
    assert kestrava.__doc__ == (
        "A Python module implemented in C++ that chooses the cheapest periods to run a flexible load."
    )
    assert kestrava.__all__ == ["get_cheapest_periods"]
    own = {name for name in vars(kestrava) if not name.startswith("__")}
    assert own == {"get_cheapest_periods"}


def test_function_metadata():
    function = kestrava.get_cheapest_periods
    assert function.__name__ == "get_cheapest_periods"
    assert function.__qualname__ == "get_cheapest_periods"
    assert function.__module__ == "kestrava"
    assert function.__self__ is kestrava
    assert function.__text_signature__ == SIGNATURE
    assert function.__doc__ == DOC


def test_signature_shows_parameters_and_defaults():
    signature = inspect.signature(kestrava.get_cheapest_periods)
    assert str(signature) == SIGNATURE
    kinds = {parameter.kind for parameter in signature.parameters.values()}
    assert kinds == {inspect.Parameter.POSITIONAL_OR_KEYWORD}
    defaults = {name: p.default for name, p in signature.parameters.items() if p.default is not p.empty}
    assert defaults == {"max_gap_between_periods": 0, "max_gap_from_start": 0, "aggressive": True}


def test_reimport_gives_the_same_module():
    original = sys.modules.pop("kestrava")
    try:
        again = importlib.import_module("kestrava")
        assert again is original
        assert again.get_cheapest_periods is original.get_cheapest_periods
        assert again.__all__ == ["get_cheapest_periods"]
    finally:
        sys.modules["kestrava"] = original


def test_init_entry_called_again_returns_the_cached_module():
    module_spec = importlib.util.find_spec("kestrava")
    assert isinstance(module_spec.loader, importlib.machinery.ExtensionFileLoader)
    for _ in range(3):
        assert module_spec.loader.create_module(module_spec) is kestrava
    assert kestrava.__all__ == ["get_cheapest_periods"]


# Runs in the second interpreter: reports how the import ended on stdout.
IMPORT_IN_SECOND_INTERPRETER = """
import os
try:
    import kestrava
except ImportError as failure:
    os.write(1, ("ImportError: " + str(failure) + "\\n").encode())
else:
    os.write(1, b"imported\\n")
"""

# Imports the module in the main interpreter, then tries again in a second interpreter
# that allows single-phase modules, so that the module's own refusal is what answers.
SUBINTERPRETER_SCRIPT = textwrap.dedent(
    f"""
    import kestrava

    try:
        import _interpreters
        interpreter = _interpreters.create("legacy")
        run = lambda code: _interpreters.exec(interpreter, code)
    except ImportError:
        import _xxsubinterpreters
        interpreter = _xxsubinterpreters.create(isolated=False)
        run = lambda code: _xxsubinterpreters.run_string(interpreter, code)

    run({IMPORT_IN_SECOND_INTERPRETER!r})
    # The main interpreter keeps its module.
    print(kestrava.get_cheapest_periods(["1", "2"], "0", 1, 1, 1, 1))
    """
)


def test_second_interpreter_is_refused():
    completed = subprocess.run(
        [sys.executable, "-c", SUBINTERPRETER_SCRIPT], capture_output=True, text=True, timeout=60
    )
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout.splitlines() == [
        "ImportError: kestrava does not yet support subinterpreters",
        "[0]",
    ]
