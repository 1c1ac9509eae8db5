"""kestrava-plan on files met in the wild and files made to hurt it: each is read as the
plain file would be, or refused with one short line and status 2, never a traceback, and
read in memory bounded by what is planned."""

from __future__ import annotations

import tracemalloc
from pathlib import Path

import pytest

from kestrava_plan import command
from kestrava_plan.command.read_options import ReadOptions
from kestrava_plan.command.readers import LONGEST_DOCUMENT, read_prices
from kestrava_plan.command.source_text import decoded
from test_cli import PRICES, RULES, expected, run

PLAIN = "price\n" + "\n".join(PRICES) + "\n"


def a44(resolution: str, position: str = "1", start: str = "2024-04-20T22:00Z", end: str = "2024-04-20T23:00Z") -> str:
    return (f"<Publication_MarketDocument><TimeSeries><curveType>A03</curveType><Period><timeInterval>"
            f"<start>{start}</start><end>{end}</end></timeInterval><resolution>{resolution}</resolution><Point>"
            f"<position>{position}</position><price.amount>5</price.amount></Point></Period></TimeSeries>"
            "</Publication_MarketDocument>")


# (file name, content, options, None when it plans as PRICES do, else a part of the one-line error)
AWKWARD = {
    "UTF-16 with a byte order mark": ("p.txt", PLAIN.replace("\n", "\r\n").encode("utf-16"), [], None),
    "UTF-16 LE without one": ("p.csv", PLAIN.encode("utf-16-le"), [], None),
    "UTF-16 BE without one": ("p.csv", PLAIN.encode("utf-16-be"), [], None),
    "UTF-8 with a byte order mark": ("p.csv", PLAIN.encode("utf-8-sig"), [], None),
    "Windows-1252": ("p.csv", PLAIN.replace("price", "Preis (€)").encode("cp1252"), [], None),
    "classic Mac line ends": ("p.csv", PLAIN.replace("\n", "\r").encode(), [], None),
    "PNG image": ("p.csv", b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR" + bytes(range(256)), [], "not text"),
    "workbook, a zip": ("p.xlsx", b"PK\x03\x04\x14\x00\x06\x00" + bytes(40), [], "not text"),
    "JSON nested 100,000 deep": ("p.json", b"[" * 100_000, [], "nested more than"),
    "JSON price nested 990 deep": ("p.json", b"[1, " + b"[" * 990 + b"]" * 991, [], "JSON element 1: [[[["),
    "JSON of more numbers than read": ("p.json", b"[" + b"1," * 10**6 + b"1]", [], "1,000,000 numbers"),
    "JSON longer than read": ("p.json", b"[" + b" " * LONGEST_DOCUMENT + b"1]", [], "16 MiB"),
    "JSON price of 1000 characters": ("p.json", b'["' + b"x" * 1000 + b'"]', [], "JSON element 0: 'xxx"),
    "JSON price of 200,000 digits and a letter": ("p.json", b'["' + b"1" * 200_000 + b'x"]', [], "JSON element 0: '111"),
    "cell of 200,000 characters": ("p.csv", f"price\n5\n{'x' * 200_000}\n".encode(), [],
                                   "row 3, column 0: a cell of more than 1000 characters"),
    "price padded with 200,000 spaces": ("p.csv", f"price\n5{' ' * 200_000}\n1\n".encode(), [],
                                         "row 2, column 0: a cell of more than 1000 characters"),
    "row of 100,000 short cells": ("p.csv", ("1," * 100_000 + "\n").encode(), ["--column", "0"],
                                   "row 1: a row of more than"),
    "position ²": ("p.xml", a44("PT60M", position="²").encode(), [], "position '²' is outside 1 to 1"),
    "resolution of 10^14 hours": ("p.xml", a44("PT99999999999999H").encode(), [],
                                  "resolution 'PT99999999999999H' is not supported"),
    "resolution of no time": ("p.xml", a44("PT0M").encode(), [], "resolution 'PT0M' is not supported"),
    "start before year 1 in UTC": ("p.xml", a44("PT60M", start="0001-01-01T00:00+01:00").encode(), [],
                                   "'0001-01-01T00:00+01:00' is out of range"),
    "10,000 years of minutes": ("p.xml", a44("PT1M", start="0001-01-01T00:00Z", end="9999-12-31T00:00Z").encode(),
                                [], "TimeSeries 1 holds 5,258,963,520 positions, more than the 1,000,000 read"),
    "--column 2 of two": ("p.csv", b"a,b\n1,2\n", ["--column", "2"], "column 2 is out of range"),
    "--column -3 of two": ("p.csv", b"a,b\n1,2\n", ["--column", "-3"], "column -3 is out of range"),
    "--column ²": ("p.csv", b"a,b\n1,2\n", ["--column", "²"], "no column '²'"),
}


@pytest.mark.parametrize("case", AWKWARD)
def test_awkward_files_are_read_or_refused_in_one_line(case: str, tmp_path: Path) -> None:
    name, content, options, error = AWKWARD[case]
    (tmp_path / name).write_bytes(content)
    result = run(str(tmp_path / name), *RULES, *options)
    if error is None:
        assert (result.returncode, result.stderr) == (0, "")
        assert result.stdout == " ".join(map(str, expected(PRICES, True))) + "\n"
        return
    assert (result.returncode, result.stdout) == (2, ""), result.stderr[-2000:]
    assert result.stderr.startswith("kestrava-plan: error: ") and result.stderr.count("\n") == 1, result.stderr[-2000:]
    assert error in result.stderr and len(result.stderr) < 400, result.stderr[:2000]


@pytest.mark.parametrize("rows", [slice(None, 24), slice(-24, None), slice(100, 124)], ids=[":24", "-24:", "100:124"])
def test_a_long_csv_is_read_in_memory_bounded_by_the_rows_planned(rows: slice, tmp_path: Path) -> None:
    prices = [f"{index % 97}.5" for index in range(120_000)]
    path = tmp_path / "long.csv"
    path.write_text("time,price\n" + "".join(f"{index},{price}\n" for index, price in enumerate(prices)))
    tracemalloc.start()
    try:
        with path.open("rb") as binary:
            read = read_prices(decoded(binary), ReadOptions(rows=rows))
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert read.texts() == prices[rows]
    assert peak < path.stat().st_size // 16


@pytest.mark.parametrize(("failure", "status"), [(RuntimeError("a fault"), 2), (KeyboardInterrupt(), None)])
def test_an_unexpected_failure_is_one_line_and_an_interrupt_stays_one(
        failure: BaseException, status: int | None, tmp_path: Path, monkeypatch: pytest.MonkeyPatch,
        capsys: pytest.CaptureFixture[str]) -> None:
    def fail(*_: object) -> None:
        raise failure
    monkeypatch.setattr(command, "read_prices", fail)
    (tmp_path / "p.csv").write_text(PLAIN)
    if status is None:
        with pytest.raises(KeyboardInterrupt):
            command.main([str(tmp_path / "p.csv"), *RULES])
        return
    assert command.main([str(tmp_path / "p.csv"), *RULES]) == status
    assert capsys.readouterr().err == ("kestrava-plan: error: unexpected RuntimeError: a fault "
                                       "(a fault of kestrava-plan: please report it)\n")
