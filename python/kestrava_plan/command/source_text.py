"""The command's input as text, read as the readers ask for it: the encoding told from
the first bytes (UTF-8 with or without a byte order mark, UTF-16 by its mark or by the
zero bytes beside ASCII text, bytes that are no UTF-8 read as Windows-1252), binary
files refused, and the text taken in lines of bounded length, the first few of which
can be looked at before they are taken.
"""

from __future__ import annotations

import codecs
import io
import itertools
from collections import deque
from collections.abc import Buffer
from typing import BinaryIO, TextIO

from .price_texts import InputError

# Enough of the start of a file to tell its encoding, or that it is no text.
_HEAD_BYTES = 4096
# A row of a price file holds a few dozen characters: a longer one is never read whole.
LONGEST_ROW = 65536
# Binary files users give by mistake, by their first bytes.
_NOT_TEXT = {
    b"PK\x03\x04": "a zip archive, as an .xlsx or .ods workbook is: save the sheet as CSV",
    b"\x1f\x8b": "a gzip archive: unpack it first",
    b"\x89PNG": "a PNG image: give the prices as CSV, JSON or ENTSO-E XML",
}
_WINDOWS_1252 = "kestrava_plan.windows_1252"


def _windows_1252(error: UnicodeError) -> tuple[str, int]:
    """Reads bytes that are no UTF-8 as Windows-1252, the encoding spreadsheet programs
    often save CSV files in."""
    if not isinstance(error, UnicodeDecodeError):
        raise error
    return error.object[error.start:error.end].decode("cp1252", errors="replace"), error.end


codecs.register_error(_WINDOWS_1252, _windows_1252)


def _utf16_without_mark(head: bytes) -> str | None:
    """UTF-16 LE or BE when the bytes look like ASCII text written so: a zero byte
    beside most characters, never one in their place."""
    pairs = len(head) // 2
    low, high = head[0:2 * pairs:2], head[1:2 * pairs:2]
    if pairs and low.count(0) == 0 and 4 * high.count(0) >= 3 * pairs:
        return "utf-16-le"
    if pairs and high.count(0) == 0 and 4 * low.count(0) >= 3 * pairs:
        return "utf-16-be"
    return None


def _encoding(head: bytes) -> tuple[str, str]:
    """(encoding, error handler) of a text that starts with `head`; InputError when it is
    no text."""
    for magic, kind in _NOT_TEXT.items():
        if head.startswith(magic):
            raise InputError(f"the input is not text but {kind}")
    if head.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)):
        return "utf-16", "replace"
    utf16 = _utf16_without_mark(head)
    if utf16 is not None:
        return utf16, "replace"
    if b"\x00" in head:
        raise InputError("the input is not text (it holds zero bytes): give the prices as CSV, JSON or ENTSO-E XML")
    return "utf-8-sig", _WINDOWS_1252


class _Rejoined(io.RawIOBase):
    """The bytes already read, then the rest of the stream."""

    def __init__(self, head: bytes, rest: BinaryIO) -> None:
        super().__init__()
        self._head = head
        self._rest = rest

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: Buffer) -> int:
        view = memoryview(buffer).cast("B")
        data = self._head[:len(view)] if self._head else self._rest.read(len(view))
        self._head = self._head[len(data):]
        view[:len(data)] = data
        return len(data)


def decoded(binary: BinaryIO) -> TextIO:
    """The text of a byte stream, decoded as it is read, line ends kept as written."""
    head = binary.read(_HEAD_BYTES)
    encoding, errors = _encoding(head)
    return io.TextIOWrapper(io.BufferedReader(_Rejoined(head, binary)), encoding=encoding, errors=errors,
                            newline="")


class LongRow(Exception):
    """A row longer than LONGEST_ROW characters: the line it starts on and its start."""

    def __init__(self, line: int, start: str) -> None:
        super().__init__(line, start)
        self.line = line
        self.start = start


class Lines:
    """The lines of a text, their ends kept (\\n, \\r\\n or a lone \\r) as the csv module
    wants them. A row (a line, or the lines of a quoted cell that holds line breaks)
    longer than LONGEST_ROW characters raises LongRow before more of it is read."""

    def __init__(self, source: str | TextIO) -> None:
        self._stream = io.StringIO(source, newline="") if isinstance(source, str) else source
        self._ahead: deque[str] = deque()
        self._taken = 0  # lines taken, to name the line a row starts on
        self._row: list[str] = []  # the lines of the row being read

    def _read(self) -> str:
        return self._stream.readline(LONGEST_ROW + 1)

    def ahead(self, count: int) -> list[str]:
        """The next `count` lines (fewer at the end), left to be taken."""
        while len(self._ahead) < count and (line := self._read()):
            self._ahead.append(line)
        return list(itertools.islice(self._ahead, count))

    def __iter__(self) -> Lines:
        return self

    def __next__(self) -> str:
        line = self._ahead.popleft() if self._ahead else self._read()
        if not line:
            raise StopIteration
        self._taken += 1
        self._row.append(line)
        if sum(map(len, self._row)) > LONGEST_ROW:
            raise LongRow(self._taken + 1 - len(self._row), "".join(self._row)[:LONGEST_ROW])
        return line

    def start_row(self) -> None:
        """Called when a row is complete: the next line starts another."""
        self._row.clear()

    def rest(self, most: int) -> str | None:
        """All the text not taken yet, or None when it is longer than `most` characters,
        of which at most one more is read."""
        text = "".join(self._ahead)
        self._ahead.clear()
        text += self._stream.read(max(most + 1 - len(text), 0))
        return text if len(text) <= most else None
