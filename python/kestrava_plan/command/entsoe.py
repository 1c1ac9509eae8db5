"""Reader of the ENTSO-E day-ahead price document (A44, `Publication_MarketDocument`):
the price of every position of every period of the chosen time series, with its UTC
start time, and the bidding zone (EIC code) the series is priced in. Element names
are matched without their namespace, which changes with the document's version.

A period covers its time interval at its resolution, one position per step (92 or 100
quarter-hours on the days the clocks change). Curve type A03 leaves out a position
whose price repeats the one before; it is filled in here from that price.

The document is a user's file: a document type declaration is refused before any of it
is read, so no entity can expand. (Python's expat does not fetch external entities in
any case; it reports them as undefined.)
"""

from __future__ import annotations

import re
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass
from datetime import UTC, datetime, timedelta

from ..message_texts import cut, shown
from .price_texts import MOST_READ, InputError, PriceList

_ROOT = "Publication_MarketDocument"
_SERIES_POSITION = "classificationSequence_AttributeInstanceComponent.position"
# At most four digits: PT9999H is over a year, and a longer number would not fit a timedelta.
_RESOLUTION = re.compile(r"PT([0-9]{1,4})([HM])")
# A position as int() reads it, in ASCII digits ("²" is a digit to str.isdigit).
_POSITION = re.compile(r"[0-9]{1,9}")


class _RefuseDocumentType(ElementTree.TreeBuilder):
    """Stops the parser at the start of a document type declaration, before its entity
    declarations are read."""

    def doctype(self, name: str, pubid: str | None, system: str | None) -> None:
        raise InputError("XML with a document type declaration (DTD) is refused: a price document needs none")


def _local(tag: str) -> str:
    return tag.rpartition("}")[2]


def _children(element: ElementTree.Element, name: str) -> list[ElementTree.Element]:
    return [child for child in element if _local(child.tag) == name]


def _text(element: ElementTree.Element, path: str, where: str) -> str:
    """The stripped text of the element reached by the local names of `path`."""
    found = element
    for name in path.split("/"):
        children = _children(found, name)
        if not children:
            raise InputError(f"{where}: no {path}")
        found = children[0]
    return (found.text or "").strip()


def _parse(text: str) -> ElementTree.Element:
    parser = ElementTree.XMLParser(target=_RefuseDocumentType())
    try:
        parser.feed(text)
        return parser.close()
    except ElementTree.ParseError as error:
        raise InputError(f"invalid XML: {error}") from None


def _moment(text: str, where: str) -> datetime:
    try:
        moment = datetime.fromisoformat(text)
    except ValueError:
        raise InputError(f"{where}: {shown(text)} is not an ISO 8601 time") from None
    try:
        return moment.replace(tzinfo=UTC) if moment.tzinfo is None else moment.astimezone(UTC)
    except OverflowError:
        raise InputError(f"{where}: {shown(text)} is out of range: in UTC it falls before year 1 or after "
                         "year 9999") from None


def _resolution(text: str, where: str) -> timedelta:
    match = _RESOLUTION.fullmatch(text)
    if match is None or int(match[1]) == 0:
        raise InputError(f"{where}: resolution {shown(text)} is not supported (PT15M, PT30M, PT60M, ...)")
    return timedelta(minutes=int(match[1]) * (60 if match[2] == "H" else 1))


@dataclass(frozen=True)
class _Period:
    start: datetime
    end: datetime
    step: timedelta
    curve_type: str
    element: ElementTree.Element
    where: str

    def count(self) -> int:
        steps, rest = divmod(self.end - self.start, self.step)
        if rest or steps <= 0:
            raise InputError(f"{self.where}: the interval to {_iso(self.end)} is not a whole, positive number"
                             f" of {self.step} steps")
        return steps


def _iso(moment: datetime) -> str:
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def _periods(series: ElementTree.Element) -> list[_Period]:
    types = _children(series, "curveType")
    curve_type = (types[0].text or "").strip() if types else "A01"
    periods = []
    for element in _children(series, "Period"):
        start_text = _text(element, "timeInterval/start", "Period")
        where = f"Period starting {cut(start_text)}"
        periods.append(_Period(
            start=_moment(start_text, where),
            end=_moment(_text(element, "timeInterval/end", where), where),
            step=_resolution(_text(element, "resolution", where), where),
            curve_type=curve_type, element=element, where=where))
    return periods


def _points(period: _Period) -> dict[int, str]:
    count = period.count()
    points: dict[int, str] = {}
    for point in _children(period.element, "Point"):
        position_text = _text(point, "position", period.where)
        if not _POSITION.fullmatch(position_text) or not 1 <= int(position_text) <= count:
            raise InputError(f"{period.where}: position {shown(position_text)} is outside 1 to {count}")
        position = int(position_text)
        if position in points:
            raise InputError(f"{period.where}: position {position} is given twice")
        points[position] = _text(point, "price.amount", f"{period.where}, position {position}")
    return points


def _expand(period: _Period, written: list[str], places: list[str], times: list[str]) -> None:
    """Appends one price per position: a position left out takes the price before it
    (curve type A03), which needs position 1; any other curve type lists them all."""
    points = _points(period)
    source = 0
    for position in range(1, period.count() + 1):
        if position in points:
            source = position
        elif period.curve_type != "A03" or source == 0:
            raise InputError(f"{period.where}: position {position} is missing (curve type {period.curve_type})")
        written.append(points[source])
        places.append(f"{period.where}, position {source}")
        times.append(_iso(period.start + (position - 1) * period.step))


def _chosen_series(root: ElementTree.Element, series: int) -> list[ElementTree.Element]:
    by_position: dict[int, list[ElementTree.Element]] = {}
    for element in _children(root, "TimeSeries"):
        texts = [(child.text or "").strip() for child in _children(element, _SERIES_POSITION)]
        position = int(texts[0]) if texts and _POSITION.fullmatch(texts[0]) else 1
        by_position.setdefault(position, []).append(element)
    if not by_position:
        raise InputError("no prices: the document holds no TimeSeries")
    if series not in by_position:
        held = ", ".join(map(str, sorted(by_position)))
        raise InputError(f"no TimeSeries with {_SERIES_POSITION} {series}; the document has {held} (--series N)")
    return by_position[series]


def _area(series: list[ElementTree.Element]) -> str | None:
    """The EIC code of the bidding zone the first series is priced in."""
    for name in ("in_Domain.mRID", "out_Domain.mRID"):
        codes = _children(series[0], name)
        if codes and (codes[0].text or "").strip():
            return (codes[0].text or "").strip()
    return None


def read_publication_document(text: str, series: int = 1) -> PriceList:
    """The prices of the time series whose classification position is `series`, its
    periods joined in time order; they must follow one another without a gap."""
    root = _parse(text)
    if _local(root.tag) != _ROOT:
        raise InputError(f"the XML document is a {_local(root.tag)}, not a {_ROOT} of prices")
    chosen = _chosen_series(root, series)
    periods = sorted((period for element in chosen for period in _periods(element)),
                     key=lambda period: period.start)
    # Each position costs a price, a place and a time in memory: count them first.
    positions = sum(period.count() for period in periods)
    if positions > MOST_READ:
        raise InputError(f"TimeSeries {series} holds {positions:,} positions, more than the {MOST_READ:,} read: "
                         "ask for a shorter time interval")
    written: list[str] = []
    places: list[str] = []
    times: list[str] = []
    for before, period in zip([None, *periods], periods):
        if before is not None and before.end != period.start:
            raise InputError(f"{period.where}: the periods do not join, the one before ends at {_iso(before.end)}")
        _expand(period, written, places, times)
    if not written:
        raise InputError("no prices: the time series holds no Period")
    return PriceList(written, places, times, decimal_comma=False, area=_area(chosen), comma_option=False)
