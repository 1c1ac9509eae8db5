"""Texts as messages show them: quoted and cut short as the planner cuts them
(`shown`), or unquoted with line breaks escaped (`cut`)."""

from __future__ import annotations

# A text longer than this is shown cut short in messages.
LONGEST_SHOWN = 60


def shown(text: str) -> str:
    """A text quoted for a message, cut short as the planner cuts it: 'abc...'."""
    if len(text) <= LONGEST_SHOWN:
        return repr(text)
    return f"{repr(text[:LONGEST_SHOWN - 4])[:-1]}..."


def cut(text: str) -> str:
    """A text for a message, unquoted, line breaks escaped and cut short: abc..."""
    escaped = repr(text[:LONGEST_SHOWN])[1:-1]
    return escaped if len(escaped) <= LONGEST_SHOWN else f"{escaped[:LONGEST_SHOWN - 3]}..."
