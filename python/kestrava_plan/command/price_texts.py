"""Price texts on their way from a file to the planner: the list a reader found
(`PriceList`), decimal commas turned into points, exponents written out, and the
message, with a hint where one applies, for a text that cannot be a price.

The command checks the planner's syntax (`DECIMAL_TEXT`) before planning so that a
refusal can name the row and the column of the text; the planner's own check stays
the definition, and a test holds this one to it.
"""

from __future__ import annotations

import re
from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from decimal import Decimal, InvalidOperation
from typing import NamedTuple

from ..message_texts import shown
from ..price_values import DECIMAL_TEXT, EXPONENT_TEXT


class InputError(Exception):
    """The input could not be turned into a list of price texts."""


DECIMAL_COMMA_TEXT = re.compile(r"[+-]?[0-9]+,[0-9]+")
POINT_DECIMAL_TEXT = re.compile(r"[+-]?[0-9]+\.[0-9]+")
# Groups of three digits behind one separator, then maybe a fraction behind another:
# 1.234,56  1,234.56  1 234,5  1'234.5  1.234.567
THOUSANDS_TEXT = re.compile(
    r"(?P<sign>[+-]?)(?P<integer>[0-9]{1,3}(?P<group>[.,' \u00a0\u202f])[0-9]{3}(?:(?P=group)[0-9]{3})*)"
    r"(?:(?P<point>[.,])(?P<fraction>[0-9]+))?"
)

# An exponent is written out in full only while that stays short: 1e999999 would
# otherwise become a million digits.
LONGEST_EXPONENT = 60
# The most prices the planner takes: a reader stops at the first one past it.
MOST_PRICES = 3000
# The most prices of a document that is read whole (JSON, XML): a year of one-minute
# prices (527,040) fits.
MOST_READ = 1_000_000


def plain_decimal(text: str) -> str | None:
    """The exact plain decimal text of a number written with an exponent
    ("1e2" -> "100", "2.5E-3" -> "0.0025"), or None when it would be absurdly long."""
    try:
        value = Decimal(text)
    except InvalidOperation:
        return None
    if not value.is_finite():
        return None
    if value.is_zero():
        return "0"
    if abs(value.adjusted()) > LONGEST_EXPONENT:
        return None
    return format(value, "f")


def _thousands_fix(text: str) -> str | None:
    """The text without its digit grouping ("1.234,56" -> "1234.56"), or None when the
    text is not grouped digits."""
    match = THOUSANDS_TEXT.fullmatch(text)
    if match is None or match["point"] == match["group"]:
        return None
    integer = re.sub(r"[^0-9]", "", match["integer"])
    fraction = f".{match['fraction']}" if match["fraction"] else ""
    return f"{match['sign']}{integer}{fraction}"


def too_many(place: str, most: int = MOST_PRICES, timed: bool = False) -> InputError:
    """The refusal of the price at `place`, past the `most` read: the planner's bound
    (with times, each day could still be planned), or the bound of --per-day."""
    if most != MOST_PRICES:
        return InputError(f"{place}: more than {most:,} prices, the most read for --per-day: split the input")
    days = ", or plan each day with --per-day" if timed else ""
    return InputError(f"{place}: more than {MOST_PRICES} prices to plan, the most the planner takes: "
                      f"choose a part with --rows START:STOP{days}")


@dataclass(frozen=True)
class Beside:
    """What the hint for a refused price needs to know of the prices beside it."""

    points: bool = False  # another price writes a decimal point: 81.85
    commas: bool = False  # another price writes a decimal comma: 81,85
    # --decimal-comma reads the input's prices (CSV cells, JSON texts); it never reads
    # an XML document's, a provider's records, or an option's.
    option: bool = True


def writing_of(texts: Sequence[str], option: bool) -> Beside:
    return Beside(any(POINT_DECIMAL_TEXT.fullmatch(text) for text in texts),
                  any(DECIMAL_COMMA_TEXT.fullmatch(text) for text in texts), option)


def refusal(text: str, decimal_comma: bool, beside: Beside = Beside()) -> str:
    """Why `text` is no price, with the fix that reads it: each hint, followed, does."""
    if not text:
        return "empty price"
    problem = f"{shown(text)} is not a decimal number"
    if not decimal_comma and DECIMAL_COMMA_TEXT.fullmatch(text):
        written = f"write {text.replace(',', '.')}"
        # With points beside, --decimal-comma would refuse those instead.
        try_option = "decimal comma? try --decimal-comma, or " if beside.option and not beside.points else ""
        return f"{problem} ({try_option}{written})"
    grouped = _thousands_fix(text)
    if grouped is not None:
        return f"{problem} (thousands separators are not accepted: write {grouped})"
    if decimal_comma and POINT_DECIMAL_TEXT.fullmatch(text):
        if beside.commas:
            return f"{problem} (a point among decimal commas: write {text.replace('.', ',')})"
        return f"{problem} (a point, but --decimal-comma reads commas: leave it out)"
    if EXPONENT_TEXT.fullmatch(text):
        written_out = plain_decimal(text)
        fix = f": write {written_out}" if written_out is not None else ""
        return f"{problem} (exponents are not accepted{fix})"
    return problem


def planner_text(text: str, decimal_comma: bool) -> str | None:
    """The text the planner gets for a price written as `text`, or None when it cannot
    be one. With decimal commas on, a point is refused: in such files "1.234" means 1234."""
    if decimal_comma:
        if DECIMAL_COMMA_TEXT.fullmatch(text):
            return text.replace(",", ".")
        accepted = "." not in text and DECIMAL_TEXT.fullmatch(text) is not None
    else:
        accepted = DECIMAL_TEXT.fullmatch(text) is not None
    return text if accepted else None


def price_text(text: str, decimal_comma: bool, place: str, beside: Beside = Beside(option=False)) -> str:
    """The text the planner gets for a price written as `text`; InputError naming
    `place` when it cannot be one (by default a text typed alone, as an option's)."""
    planned = planner_text(text, decimal_comma)
    if planned is None:
        raise InputError(f"{place}: {refusal(text, decimal_comma, beside)}")
    return planned


def looks_like_decimal_commas(texts: list[str]) -> bool:
    """Whether a column writes its decimals with commas: one price at least like
    "81,85", none like "81.85"."""
    return any(DECIMAL_COMMA_TEXT.fullmatch(text) for text in texts) and not any(
        POINT_DECIMAL_TEXT.fullmatch(text) for text in texts
    )


@dataclass(frozen=True)
class PriceList:
    """The prices a reader found, in order, before any check of their syntax."""

    written: list[str]  # each price as the file writes it
    places: list[str]  # where each price is, for messages: "row 19, column 'Preis'"
    times: list[str] | None  # the time of each period, when the input has a time column
    decimal_comma: bool  # the file writes the decimal point as a comma
    note: str | None = None  # what the reader did that the user should know, for standard error
    # The bidding zone the source names (an ENTSO-E EIC code, a market area name), whose
    # time zone shows the times by default.
    area: str | None = None
    comma_option: bool = True  # --decimal-comma reads these prices (CSV cells, JSON texts)

    def texts(self) -> list[str]:
        """The texts the planner gets; InputError at the first that cannot be a price,
        with the hint the prices beside it call for."""
        texts = []
        for text, place in zip(self.written, self.places):
            planned = planner_text(text, self.decimal_comma)
            if planned is None:
                beside = writing_of(self.written, self.comma_option)
                raise InputError(f"{place}: {refusal(text, self.decimal_comma, beside)}")
            texts.append(planned)
        return texts

    def sliced(self, rows: slice) -> PriceList:
        times = self.times[rows] if self.times is not None else None
        return PriceList(self.written[rows], self.places[rows], times, self.decimal_comma, note=self.note,
                         area=self.area, comma_option=self.comma_option)


class PriceRow(NamedTuple):
    written: str  # the price as the file writes it
    place: str  # where it is, for messages
    time: str | None  # the time of its period, when the input has a time column


@dataclass(frozen=True)
class PriceRows:
    """The prices a reader finds, one row at a time as they are read, before any check
    of their syntax; what `PriceList` holds, less the rows."""

    rows: Iterator[PriceRow]
    timed: bool  # the input has a time column
    decimal_comma: bool  # the file writes the decimal point as a comma
    note: str | None = None
    area: str | None = None

    @classmethod
    def of(cls, prices: PriceList) -> PriceRows:
        times = prices.times if prices.times is not None else [None] * len(prices.written)
        return cls(map(PriceRow, prices.written, prices.places, times), prices.times is not None,
                   prices.decimal_comma, prices.note, prices.area)
