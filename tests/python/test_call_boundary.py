"""The call boundary: internal failures as PanicException, resumed panics, the failure
reports on standard error and the out-of-memory line. Reference hygiene on every path
is checked in test_leaks.py."""

import os
import re
import signal
import subprocess
import sys
import textwrap
import threading

import pytest

import kestrava

from kestrava import get_cheapest_periods

LARGEST_DECIMAL_TEXT = str(2**96 - 1)  # two of them cannot be summed
OVERFLOWING = ([LARGEST_DECIMAL_TEXT, LARGEST_DECIMAL_TEXT], "0", 1, 1, 1, 1)
ORDINARY = (["4", "1", "1", "9", "9", "2"], "1", 1, 1, 5, 0)
REPORT = re.compile(r"^kestrava: internal failure in thread (\d+) at (\S+):(\d+): (.*)$", re.MULTILINE)
RESUMING = "kestrava: resuming an internal failure after a PanicException was fetched from the interpreter"
PANIC_DOC = (
    "Raised when the native code called from Python fails internally.\n\n"
    "Like SystemExit, this exception derives from BaseException so that it typically\n"
    "propagates all the way through the stack and makes the interpreter exit.\n"
)


@pytest.mark.parametrize("aggressive", [True, False])
def test_overflow_becomes_panic_exception_and_the_module_stays_usable(panic_exception_type, capfd, aggressive):
    expected = get_cheapest_periods(*ORDINARY, aggressive)
    with pytest.raises(panic_exception_type) as excinfo:
        get_cheapest_periods(*OVERFLOWING, aggressive)
    assert excinfo.value.args == ("Addition overflowed",)
    reports = REPORT.findall(capfd.readouterr().err)
    assert len(reports) == 1
    thread_id, source, line, message = reports[0]
    assert int(thread_id) == threading.get_native_id()
    assert source.endswith(".cpp") and int(line) > 0
    assert message == "Addition overflowed"
    assert get_cheapest_periods(*ORDINARY, aggressive) == expected


def test_except_exception_does_not_catch_a_panic(panic_exception_type):
    caught_as_exception = False
    with pytest.raises(BaseException) as excinfo:
        try:
            get_cheapest_periods(*OVERFLOWING)
        except Exception:  # noqa: BLE001 - the point is that this does not match
            caught_as_exception = True
    assert not caught_as_exception
    assert type(excinfo.value) is panic_exception_type


def test_panic_exception_class(panic_exception_type):
    assert panic_exception_type.__module__ == "pyo3_runtime"
    assert panic_exception_type.__name__ == "PanicException"
    assert panic_exception_type.__qualname__ == "PanicException"
    assert panic_exception_type.__bases__ == (BaseException,)
    assert panic_exception_type.__doc__ == PANIC_DOC
    assert not issubclass(panic_exception_type, Exception)
    assert not hasattr(kestrava, "PanicException")
    assert panic_exception_type not in vars(kestrava).values()


def test_every_panic_has_the_same_class(panic_exception_type):
    classes = set()
    for aggressive in (True, False):
        try:
            get_cheapest_periods(*OVERFLOWING, aggressive)
        except BaseException as failure:  # noqa: BLE001
            classes.add(type(failure))
    assert classes == {panic_exception_type}


class Index:
    def __init__(self, raised):
        self.raised = raised

    def __index__(self):
        raise self.raised


class Unprintable:
    def __str__(self):
        raise RuntimeError("cannot show")


def numpy_boolean_raising(raised):
    def truth(self):
        raise raised

    return type("bool_", (), {"__module__": "numpy", "__bool__": truth})()


@pytest.mark.parametrize(
    ("argument", "make_carrier", "panic_argument", "message"),
    [
        ("min_selections", Index, "boom", "boom"),
        ("max_gap_from_start", Index, "gap \udc80", "gap \ufffd\ufffd\ufffd"),
        ("aggressive", numpy_boolean_raising, "truth", "truth"),
        ("min_consecutive_periods", Index, Unprintable(), "Unwrapped panic from Python code"),
    ],
)
def test_panic_from_python_code_is_resumed_as_a_new_panic(
    panic_exception_type, capfd, argument, make_carrier, panic_argument, message
):
    raised = panic_exception_type(panic_argument)
    arguments = dict(zip(("min_selections", "min_consecutive_periods", "max_gap_between_periods",
                          "max_gap_from_start", "aggressive"), (1, 1, 5, 0, True)))
    arguments[argument] = make_carrier(raised)
    with pytest.raises(panic_exception_type) as excinfo:
        get_cheapest_periods(ORDINARY[0], ORDINARY[1], **arguments)
    assert excinfo.value is not raised
    assert excinfo.value.args == (message,)

    err = capfd.readouterr().err
    lines = err.splitlines()
    first = lines.index(RESUMING)
    assert lines[first + 1] == "Python stack trace below:"
    # The resumed exception is printed with its traceback, then the failure is reported.
    assert "PanicException" in err[err.index("Python stack trace below:"):]
    reports = REPORT.findall(err)
    assert [report[3] for report in reports] == [message]
    assert err.index(RESUMING) < err.index(f": {message}\n")
    assert get_cheapest_periods(*ORDINARY) == get_cheapest_periods(*ORDINARY)


def test_panic_subclass_is_an_ordinary_error(panic_exception_type, capfd):
    class PanicSubclass(panic_exception_type):
        pass

    raised = PanicSubclass("not exactly")
    with pytest.raises(PanicSubclass) as excinfo:
        get_cheapest_periods(*ORDINARY[:2], Index(raised), 1)
    assert excinfo.value is raised
    assert RESUMING not in capfd.readouterr().err


def test_calls_from_several_threads(panic_exception_type):
    expected = get_cheapest_periods(*ORDINARY)
    outcomes = []

    def work():
        for _ in range(50):
            outcomes.append(get_cheapest_periods(*ORDINARY) == expected)
            try:
                get_cheapest_periods(*OVERFLOWING)
            except panic_exception_type as failure:
                outcomes.append(failure.args == ("Addition overflowed",))
            try:
                get_cheapest_periods((), "1", 1, 1)
            except TypeError as failure:
                outcomes.append(str(failure) == "argument 'prices': 'tuple' object cannot be converted to 'PyList'")

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(outcomes) == 4 * 50 * 3
    assert all(outcomes)


@pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="the address sanitizer reserves address space that the capped process cannot get",
)
def test_allocation_failure_ends_the_process_with_its_size():
    # A 96 MiB keyword name must be copied to be shown in the message; with the address
    # space capped just above what the process uses, that copy cannot be made.
    script = textwrap.dedent(
        """
        import os, resource, sys
        import kestrava
        name = "k" * (96 << 20)
        with open("/proc/self/statm") as statm:
            used = int(statm.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
        resource.setrlimit(resource.RLIMIT_AS, (used + (48 << 20), resource.RLIM_INFINITY))
        kestrava.get_cheapest_periods(**{name: 1})
        print("returned")
        """
    )
    completed = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert completed.returncode == -signal.SIGABRT, completed.stderr
    assert "returned" not in completed.stdout
    found = re.search(r"^memory allocation of (\d+) bytes failed$", completed.stderr, re.MULTILINE)
    assert found, completed.stderr
    assert (96 << 20) < int(found.group(1)) <= (96 << 20) + 64


def test_result_list_that_cannot_be_made_is_an_internal_failure():
    pytest.importorskip("_testcapi")
    # The result list is the call's first interpreter allocation; only that one fails.
    script = textwrap.dedent(
        """
        import _testcapi
        import kestrava

        request = (["4", "1", "1", "9", "9", "2"], "1", 1, 1, 5, 0)
        try:
            _testcapi.set_nomemory(0, 1); kestrava.get_cheapest_periods(*request)
        except BaseException as failure:
            _testcapi.remove_mem_hooks()
            print(type(failure).__name__, failure.args)
        else:
            _testcapi.remove_mem_hooks()
            print("returned")
        print(kestrava.get_cheapest_periods(*request))
        """
    )
    completed = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout.splitlines() == [
        "PanicException ('Python API call failed',)",
        str(get_cheapest_periods(*ORDINARY)),  # a later call in that process works
    ]
    # The interpreter's error is printed first, then the failure is reported.
    err = completed.stderr
    reports = REPORT.findall(err)
    assert [report[3] for report in reports] == ["Python API call failed"]
    assert 0 <= err.index("MemoryError") < err.index("kestrava: internal failure")
