"""The values of a tariff's keys, each read and checked where it stands: every refusal is
a ValueError whose message starts with the key's zero-based path
(`component[1].zone[0].hours[0]: ...`), so that a user finds the line to mend.
"""

from __future__ import annotations

import re
from collections.abc import Mapping, Sequence
from datetime import date, datetime, time
from decimal import Decimal
from typing import Any

# An optional sign, digits, optionally a point and digits: no exponent, comma or `_`,
# so that a text means the same decimal to every reader of the file.
DECIMAL_TEXT = re.compile(r"[+-]?[0-9]+(?:\.[0-9]+)?")


class Path:
    """Where a value stands in the tariff: `component[1].zone[0]`."""

    def __init__(self, text: str = "") -> None:
        self.text = text

    def key(self, name: str) -> Path:
        return Path(f"{self.text}.{name}" if self.text else name)

    def item(self, index: int) -> Path:
        return Path(f"{self.text}[{index}]")

    def refuse(self, reason: str) -> ValueError:
        return ValueError(f"{self.text}: {reason}" if self.text else reason)


def kind_of(value: object) -> str:
    """A TOML value's kind as the file writes it."""
    kinds = ((bool, "a boolean"), (int, "an integer"), (float, "a number"), (str, "a text"),
             (Mapping, "a table"), (datetime, "a date with a time"), (date, "a date"), (time, "a time of day"))
    if isinstance(value, (list, tuple)):
        return "a list"
    return next((name for kind, name in kinds if isinstance(value, kind)), f"a {type(value).__name__}")


def table(value: object, at: Path, known: Sequence[str]) -> Mapping[str, Any]:
    """A table whose keys are all in `known`."""
    if not isinstance(value, Mapping):
        raise at.refuse(f"must be a table, not {kind_of(value)}")
    for name in value:
        if name not in known:
            raise at.key(str(name)).refuse(f"unknown key; the keys here are {', '.join(known)}")
    return value


def text(value: object, at: Path) -> str:
    if not isinstance(value, str):
        raise at.refuse(f"must be a text, not {kind_of(value)} ({value!r})")
    return value


def decimal(value: object, at: Path) -> Decimal:
    """A decimal text; a TOML number is refused, for a float may already have lost digits."""
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        raise at.refuse(f"{value!r} is a number; write it as a decimal text: \"{value}\"")
    written = text(value, at)
    if DECIMAL_TEXT.fullmatch(written) is None:
        raise at.refuse(f"{written!r} is not a decimal text (an optional sign, digits, optionally a point and "
                        "digits)")
    return Decimal(written)


def integer(value: object, at: Path, low: int, high: int) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise at.refuse(f"must be an integer from {low} to {high}, not {kind_of(value)} ({value!r})")
    if not low <= value <= high:
        raise at.refuse(f"{value} is not from {low} to {high}")
    return value


def flag(value: object, at: Path) -> bool:
    if not isinstance(value, bool):
        raise at.refuse(f"must be true or false, not {kind_of(value)} ({value!r})")
    return value


def choice(value: object, at: Path, choices: Sequence[str]) -> str:
    chosen = text(value, at)
    if chosen not in choices:
        raise at.refuse(f"{chosen!r} is not one of {', '.join(repr(choice) for choice in choices)}")
    return chosen


def local_date(value: object, at: Path) -> date:
    """A TOML date, or a date text YYYY-MM-DD."""
    if isinstance(value, date) and not isinstance(value, datetime):
        return value
    if isinstance(value, str):
        try:
            if re.fullmatch(r"[0-9]{4}-[0-9]{2}-[0-9]{2}", value):
                return date.fromisoformat(value)
        except ValueError:
            pass
        raise at.refuse(f"{value!r} is not a date (YYYY-MM-DD)")
    raise at.refuse(f"must be a date, not {kind_of(value)} ({value!r})")


def items(value: object, at: Path) -> list[tuple[Any, Path]]:
    """A non-empty list's items, each with its path."""
    if not isinstance(value, (list, tuple)):
        raise at.refuse(f"must be a list, not {kind_of(value)} ({value!r})")
    if not value:
        raise at.refuse("is an empty list; leave the key out instead")
    return [(item, at.item(index)) for index, item in enumerate(value)]
