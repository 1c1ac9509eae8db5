"""plan_table's threads: a SIGINT while the rows plan, on one thread or two, while a
consumer without pyarrow pulls the exported C stream, and while Python code feeds the
input, ends the call with KeyboardInterrupt, and the module plans on afterwards; a stream
whose threads started before a fork plans on in both processes; daemon threads in the
middle of plan_table when the interpreter exits leave it cleanly.

More runs of the exit (each a fresh interpreter):
    KESTRAVA_EXIT_RUNS=200 python -m pytest -q test_plan_table_threads.py -k exit
"""

from __future__ import annotations

import os
import subprocess
import sys
import textwrap

import pytest

from signalled_child import run_interrupted

pytest.importorskip("pyarrow")

# 400 rows of tens of milliseconds each: seconds of planning on two threads. Each row
# brings its own prices, so that no row reuses another's work. Python code between
# "calling" and the planning takes a few milliseconds.
CHILD = textwrap.dedent("""
    import random, signal, sys, time
    sys.path.insert(0, sys.argv[3])
    import pyarrow as pa
    import c_stream
    from kestrava_plan import plan_table

    signal.signal(signal.SIGINT, signal.default_int_handler)
    mode, threads = sys.argv[1], int(sys.argv[2])
    rng = random.Random(1)
    prices = [f"{rng.randint(-500, 5000) / 100:.2f}" for _ in range(3000)]
    table = pa.table({"id": range(400), "prices": [prices[row:] + prices[:row] for row in range(400)]})
    rules = dict(low_price_threshold="0", min_selections=1000, min_consecutive_periods=3,
                 max_gap_between_periods=20, max_gap_from_start=20, threads=threads)
    if mode == "stream":
        sys.modules["pyarrow"] = None  # plan_table answers with the bare exporter
        planned = plan_table(pa.RecordBatchReader.from_batches(table.schema, table.to_batches()), **rules)
        sys.modules["pyarrow"] = pa

    def slowly():  # a source in Python code (a query, a file read batch by batch) that waits
        while True:
            time.sleep(0.01)
            yield pa.record_batch({"id": [0], "prices": [["3", "1", "2"]]}, schema=table.schema)

    try:
        print("calling", flush=True)
        if mode == "stream":
            c_stream.batch_lengths(planned)
        elif mode.startswith("slow source"):
            answer = plan_table(pa.RecordBatchReader.from_batches(table.schema, slowly()), **rules)
            answer.read_all() if mode.endswith("table") else list(answer)
        else:
            plan_table(table, **rules)
        print("the call returned", flush=True)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
    small = pa.table({"id": [1], "prices": [["3", "1", "2"]]})
    answer = plan_table(small, low_price_threshold="0", min_selections=1, min_consecutive_periods=1,
                        max_gap_between_periods=2, max_gap_from_start=2, threads=threads)
    print("after:", answer.column("periods").to_pylist(), flush=True)
""")


@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("mode", ["table", "stream", "slow source, table", "slow source, stream"])
def test_sigint_ends_plan_table_with_keyboard_interrupt(mode: str, threads: int) -> None:
    lines, returncode, stderr = run_interrupted(["-c", CHILD, mode, str(threads), os.path.dirname(__file__)])
    assert (lines, returncode) == (["calling\n", "interrupted\n", "after: [[1]]\n"], 0), stderr[-2000:]


# The first batch starts the run's threads in the parent; the child has none of them.
FORKED = textwrap.dedent("""
    import os
    import pyarrow as pa
    from kestrava_plan import plan_table

    table = pa.table({"id": range(64), "prices": [[str(row % 7), "1", "2", str(row % 5)] for row in range(64)]})
    rules = dict(low_price_threshold="0", min_selections=2, min_consecutive_periods=1, max_gap_between_periods=3,
                 max_gap_from_start=3)
    want = plan_table(table.slice(16), threads=1, **rules).column("periods").to_pylist()
    reader = plan_table(pa.RecordBatchReader.from_batches(table.schema, table.to_batches(max_chunksize=16)),
                        threads=2, **rules)
    reader.read_next_batch()
    child = os.fork()
    rest = reader.read_all().column("periods").to_pylist()
    os.write(1, f"{len(rest)} {rest == want}\\n".encode())  # one write: the two processes share the pipe
    if child == 0:
        os._exit(0)
    os.waitpid(child, 0)
""")


def test_a_stream_plans_on_in_both_processes_after_a_fork() -> None:
    done = subprocess.run([sys.executable, "-c", FORKED], capture_output=True, text=True, timeout=120)
    assert done.stdout.splitlines() == ["48 True"] * 2, done.stderr[-2000:]


EXIT_RUNS = int(os.environ.get("KESTRAVA_EXIT_RUNS", "5"))

# Six daemon threads each plan a table answer or pull a stream answer of one-row batches
# on 2 threads, while the interpreter exits under them.
EXITING = textwrap.dedent("""
    import random, sys, threading, time
    import pyarrow as pa
    from kestrava_plan import plan_table

    rng = random.Random(1)
    prices = [f"{rng.randint(-500, 5000) / 100:.2f}" for _ in range(24)]
    rules = dict(low_price_threshold="0", min_selections=8, min_consecutive_periods=1, max_gap_between_periods=4,
                 max_gap_from_start=4, threads=2)
    table = pa.table({"id": range(4000), "prices": [prices] * 4000})
    readers = [pa.RecordBatchReader.from_batches(table.schema, table.to_batches(max_chunksize=1)) for _ in range(6)]

    def work(reader):
        if sys.argv[1] == "table":
            while True:
                plan_table(table.slice(0, 16), **rules)
        for batch in plan_table(reader, **rules):
            pass

    for reader in readers:
        threading.Thread(target=work, args=(reader,), daemon=True).start()
    time.sleep(0.1)
""")


@pytest.mark.parametrize("answer", ["table", "stream"])
def test_exit_with_daemon_threads_in_plan_table_is_clean(answer: str) -> None:
    ends = [subprocess.run([sys.executable, "-c", EXITING, answer], capture_output=True, text=True, timeout=120)
            for _ in range(EXIT_RUNS)]
    abnormal = [(end.returncode, end.stderr[-300:]) for end in ends if (end.returncode, end.stderr) != (0, "")]
    assert abnormal == [], f"{len(abnormal)} of {EXIT_RUNS} runs"
