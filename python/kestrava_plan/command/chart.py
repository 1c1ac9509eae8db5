"""The terminal chart of a plan, shared by the command and the demo: one horizontal bar
per period from zero to its price, the chosen periods solid and marked, the threshold
as a vertical line, and a scale whose labels never overwrite each other. Standard
library only.
"""

from __future__ import annotations

import os
from collections.abc import Collection, Sequence
from dataclasses import dataclass
from decimal import ROUND_HALF_EVEN, Decimal, InvalidOperation, localcontext
from typing import TextIO


@dataclass(frozen=True)
class Glyphs:
    chosen: str  # bar cell of a chosen period
    other: str  # bar cell of a period left out
    threshold: str  # the threshold line, drawn over the bars
    mark: str  # the marker column of a chosen period


UNICODE_GLYPHS = Glyphs(chosen="█", other="░", threshold="│", mark="●")
ASCII_GLYPHS = Glyphs(chosen="#", other=".", threshold="|", mark="*")


def glyphs_for(stream: TextIO) -> Glyphs:
    """The box-drawing glyphs when the stream can encode them, plain ASCII otherwise."""
    encoding = getattr(stream, "encoding", None) or "ascii"
    try:
        "".join(vars(UNICODE_GLYPHS).values()).encode(encoding)
    except (UnicodeEncodeError, LookupError):
        return ASCII_GLYPHS
    return UNICODE_GLYPHS


def use_color(choice: str, stream: TextIO) -> bool:
    """--color auto|always|never: auto colours a terminal unless NO_COLOR is set."""
    return choice == "always" or (choice == "auto" and stream.isatty() and not os.environ.get("NO_COLOR"))


def decimal_of(text: str) -> Decimal:
    """The exact value of a price text that the planner accepted (underscores are
    digit separators there)."""
    try:
        return Decimal(text.replace("_", ""))
    except InvalidOperation:
        raise ValueError(f"not a decimal text: {text!r}") from None


def plain(value: Decimal) -> str:
    """A value as the scale shows it: no exponent, no trailing zeros."""
    return format(value.normalize(), "f")


def scale_lines(marks: Sequence[tuple[int, str]], width: int) -> list[str]:
    """The scale's labels, given as (column, text) in increasing value. Each starts at
    its column, or ends at the right edge when it would run past it; a label that would
    touch one already on a line goes down to the next line. Within a line the labels
    therefore stay in value order, with at least one space between two of them."""
    lines: list[list[str]] = []
    for column, text in marks:
        start = max(0, min(column, width + 1 - len(text)))
        line = next((cells for cells in lines if start > len("".join(cells).rstrip())), None)
        if line is None:
            line = []
            lines.append(line)
        line.extend(" " * (start - len(line)))
        line[start:start + len(text)] = text
    return ["".join(cells) for cells in lines]


def render_chart(
    prices: Sequence[str],
    chosen: Collection[int],
    threshold: str,
    *,
    labels: Sequence[str] | None = None,
    width: int = 48,
    glyphs: Glyphs = UNICODE_GLYPHS,
    color: bool = False,
) -> str:
    """One horizontal bar per period, from zero to its price; chosen periods drawn
    solid and marked, the others shaded; the threshold as a vertical line. Above the
    bars, the scale: the lowest value, zero, the threshold and the highest value."""
    if width < 2:
        raise ValueError("the chart needs a width of at least 2")
    values = [decimal_of(price) for price in prices]
    limit = decimal_of(threshold)
    low = min([Decimal(0), limit, *values])
    high = max([Decimal(0), limit, *values])
    span = high - low if high != low else Decimal(1)

    def column(value: Decimal) -> int:
        # Plenty of digits: the scaling itself must not round before the last step.
        with localcontext() as context:
            context.prec = 60
            return int(((value - low) * width / span).to_integral_value(ROUND_HALF_EVEN))

    zero = column(Decimal(0))
    # Keep a cell on each side of zero that has prices, so a tiny price still shows.
    if low < 0:
        zero = max(zero, 1)
    if high > 0:
        zero = min(zero, width - 1)
    line = column(limit)
    texts = [str(label) for label in labels] if labels is not None else [str(i) for i in range(len(prices))]
    label_width = max((len(text) for text in texts), default=1)
    price_width = max((len(price) for price in prices), default=1)
    margin = f"{'':>{label_width}} {'':>{price_width}}   "

    # One label per value: the threshold may equal zero or an end of the scale.
    anchors: dict[Decimal, int] = {}
    for value, anchor in ((low, 0), (Decimal(0), zero), (limit, line), (high, width)):
        anchors.setdefault(value, anchor)
    marks = [(anchors[value], plain(value)) for value in sorted(anchors)]
    rows = [(margin + scale).rstrip() for scale in scale_lines(marks, width)]
    for index, (text, price, value) in enumerate(zip(texts, prices, values)):
        is_chosen = index in chosen
        bar = _bar(column(value), value, zero, width, glyphs.chosen if is_chosen else glyphs.other)
        bar[line] = glyphs.threshold
        drawn = "".join(bar).rstrip()
        if is_chosen and color:
            drawn = f"\x1b[1;32m{drawn}\x1b[0m"
        mark = glyphs.mark if is_chosen else " "
        rows.append(f"{text:>{label_width}} {price:>{price_width}} {mark} {drawn}")
    legend = (
        f"{glyphs.mark} {glyphs.chosen} chosen ({len(chosen)})   {glyphs.other} left out   "
        f"{glyphs.threshold} threshold {threshold} (cheap at or below)"
    )
    rows.append(margin + legend)
    return "\n".join(rows)


def _bar(end: int, value: Decimal, zero: int, width: int, glyph: str) -> list[str]:
    """The cells of one bar, from the zero column to the price's column; at least one
    cell for any price other than zero."""
    cells = [" "] * (width + 1)
    if value > 0:
        filled = range(zero, max(end, zero + 1))
    elif value < 0:
        filled = range(max(0, min(end, zero - 1)), zero)
    else:
        filled = range(0)
    for cell in filled:
        cells[cell] = glyph
    return cells
