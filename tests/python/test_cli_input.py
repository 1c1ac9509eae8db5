"""The command's readers, called directly: CSV in its European forms, JSON, the ENTSO-E
XML document, and the price syntax the command checks before planning."""

from __future__ import annotations

import random
from collections.abc import Iterable, Iterator
from pathlib import Path

import pytest

import kestrava
from kestrava_plan.command.entsoe import read_publication_document
from kestrava_plan.command.price_texts import InputError, price_text
from kestrava_plan.price_values import DECIMAL_TEXT
from kestrava_plan.command.csv_prices import read_csv_prices, select_rows, sniff_delimiter
from kestrava_plan.command.read_options import ReadOptions
from kestrava_plan.command.readers import read_json_prices, read_prices

ROOT = Path(__file__).resolve().parents[2]
QUARTER_HOURS = ROOT / "data" / "day-ahead-15min"


def csv_read(text: str, **options: object) -> list[str]:
    return read_csv_prices(text, ReadOptions(**options)).written  # type: ignore[arg-type]


# (text, options, prices as written)
CSV_CASES = [
    ("1\n2.5\n-3\n", {}, ["1", "2.5", "-3"]),
    ("price\n1\n2\n", {}, ["1", "2"]),
    ("Datetime,Price (EUR/MWh)\n2024-01-15 00:00:00,67.9\n2024-01-15 01:00:00,65.0\n", {}, ["67.9", "65.0"]),
    ("a,b\n1,2\n3,4\n", {"column": "b"}, ["2", "4"]),
    ("1,2\n3,4\n", {"column": "0"}, ["1", "3"]),
    ("1,2\n3,4\n", {"column": "-1"}, ["2", "4"]),
    (" x , y \n 1 , 2 \n\n3,4\n", {"column": "y"}, ["2", "4"]),
    # A first row that looks like no number is a header unless told otherwise.
    ("n/a\n2\n", {}, ["2"]),
    ("n/a\n2\n", {"header": False}, ["n/a", "2"]),
    (".5\n+1\n", {}, [".5", "+1"]),
    # The price column found by a word of the market's language, or beside the time.
    ("Zeitstempel;Preis (EUR/MWh)\n21.04.2024 00:00;81,85\n", {}, ["81,85"]),
    ("MTU\tWaarde\n2024-04-21 00:00\t81.85\n", {}, ["81.85"]),
    ("21.04.2024 00:00;81,85\n21.04.2024 01:00;70,17\n", {}, ["81,85", "70,17"]),
    ('"start","eur"\n"2024-04-21 00:00","81,85"\n', {}, ["81,85"]),
    # The transparency platform's CSV export.
    ('"MTU (CET/CEST)","Day-ahead Price [EUR/MWh]","Currency","BZN|NL"\n'
     '"21.04.2024 00:00 - 21.04.2024 01:00","81.85","EUR",""\n', {}, ["81.85"]),
]


@pytest.mark.parametrize(("text", "options", "prices"), CSV_CASES)
def test_csv_column(text: str, options: dict[str, object], prices: list[str]) -> None:
    assert csv_read(text, **options) == prices


@pytest.mark.parametrize(("lines", "delimiter"), [
    (["Zeitstempel;Preis (EUR/MWh)", "21.04.2024 00:00;81,85", "21.04.2024 01:00;70,17"], ";"),
    (['"start","price"', '"2024-04-21 00:00","81,85"', '"2024-04-21 01:00","70,17"'], ","),
    (["start\tprice", "2024-04-21 00:00\t81,85"], "\t"),
    (["a;b,c", "1;2,5"], ";"),  # both split evenly: a semicolon is seldom inside a cell
    (["5", "1", "9"], ","),  # one column
    (["a;b", "1;2;3"], ","),  # no delimiter splits evenly
])
def test_delimiter_is_sniffed(lines: list[str], delimiter: str) -> None:
    assert sniff_delimiter("\n".join(lines) + "\n") == delimiter


def test_rows_are_chosen_from_a_stream_as_a_slice_chooses_them() -> None:
    """Against list slicing: the same rows, refused when more than `most`, and no row
    read past STOP when both ends count from the start."""
    rng = random.Random(2024_10_27)
    ends = [None, *range(-9, 10), -10**30, 10**30]
    for _ in range(5000):
        count, most, rows = rng.randint(0, 8), rng.randint(0, 4), slice(rng.choice(ends), rng.choice(ends))
        read: list[int] = []
        expected = list(range(count))[rows]
        try:
            chosen = select_rows(counted(range(count), read), rows, InputError, most)
        except InputError:
            assert len(expected) > most, (count, rows, most)
            continue
        assert chosen == expected and len(expected) <= most, (count, rows, most)
        if (rows.start or 0) >= 0 and rows.stop is not None and rows.stop >= 0:
            assert len(read) <= rows.stop, (count, rows, most)


def counted(items: Iterable[int], read: list[int]) -> Iterator[int]:
    for item in items:
        read.append(item)
        yield item


def fr_day() -> list[tuple[str, str]]:
    """(start, price) of the 100 quarter-hours of the FR autumn daylight-saving day."""
    lines = (QUARTER_HOURS / "FR-15min.csv").read_text().splitlines()[1:]
    return [(start, price) for start, price in (line.split(",") for line in lines)]


def european(day: list[tuple[str, str]], delimiter: str, quote: bool) -> str:
    """The day as a spreadsheet in a European locale saves it: day.month.year, decimal commas."""
    def cell(text: str) -> str:
        return f'"{text}"' if quote else text
    rows = [delimiter.join(map(cell, ("Zeitstempel", "Preis (EUR/MWh)")))]
    for start, price in day:
        stamp = f"{start[8:10]}.{start[5:7]}.{start[:4]} {start[11:16]}"
        rows.append(delimiter.join(map(cell, (stamp, price.replace(".", ",")))))
    return "\n".join(rows) + "\n"


@pytest.mark.parametrize(("delimiter", "quote", "options"), [
    (";", False, {}),
    (";", True, {}),
    ("\t", False, {}),
    (",", True, {"decimal_comma": True}),  # a comma file cannot say so by itself: "1,234"
    (";", False, {"delimiter": ";", "decimal_comma": True}),
], ids=["semicolon", "semicolon quoted", "tab", "comma quoted", "all named"])
def test_european_files_read_as_the_plain_file(delimiter: str, quote: bool, options: dict[str, object]) -> None:
    day = fr_day()
    prices = read_prices(european(day, delimiter, quote), ReadOptions(**options))  # type: ignore[arg-type]
    assert prices.texts() == [price for _, price in day]
    assert prices.times is not None and prices.times[4] == "25.10.2025 23:00"


def test_xml_day_reads_as_the_plain_file() -> None:
    # The document leaves out a price that repeats the one before it.
    document = (QUARTER_HOURS / "FR-2025-10-26-A44.xml").read_text()
    assert document.count("<Point>") == 2 * 99
    prices = read_prices(document, ReadOptions())
    assert list(zip(prices.times or [], prices.texts())) == fr_day()
    other = read_publication_document(document, series=2)
    assert len(other.written) == 100 and other.written != prices.written


# (text, options, the reader's message)
CSV_ERRORS = [
    ("a,b\n1,2\n", {}, "the CSV input has several columns; choose one with --column NAME or --column INDEX"),
    ("time,a,b\n00:00,1,2\n", {}, "the CSV input has several columns; choose one with --column NAME or --column INDEX"),
    ("a,b\n1,2\n", {"column": "c"}, "no column 'c'; the header has 'a', 'b'"),
    ("price,time\n1,00:00\n2\n", {}, "row 3 has 1 cell, too few for column 'price'"),
    ("1\n2\n", {"column": "price"}, "column 'price' named, but the CSV input has no header row"),
    ("1,2\n3,4\n", {"column": "3"}, "column 3 is out of range: the rows have 2 columns"),
    ("", {}, "no prices: the input is empty"),
    ("\n\n", {}, "no prices: the input is empty"),
    ("Zeitstempel;Preis (EUR/MWh)\n", {}, "no prices: the CSV input has a header row but no data rows"),
    ("1\n", {"delimiter": "|"}, "unknown delimiter '|': use ',', ';' or 'tab'"),
]


@pytest.mark.parametrize(("text", "options", "message"), CSV_ERRORS, ids=[m for *_, m in CSV_ERRORS])
def test_csv_errors(text: str, options: dict[str, object], message: str) -> None:
    with pytest.raises(InputError) as raised:
        read_csv_prices(text, ReadOptions(**options))  # type: ignore[arg-type]
    assert str(raised.value) == message


# (CSV text, options, the message for its first bad price): the row is the line in
# the file, counted from 1 with the header, as an editor shows it.
PRICE_ERRORS = [
    ("start,price\n0:00,81.85\n1:00,\n", {}, "row 3, column 'price': empty price"),
    ('start,price\n0:00,"81,85"\n', {}, "row 2, column 'price': '81,85' is not a decimal number "
                                       "(decimal comma? try --decimal-comma, or write 81.85)"),
    ("Zeit;Preis\n\n0:00;81,85\n1:00;abc\n", {}, "row 4, column 'Preis': 'abc' is not a decimal number"),
    ('start,price\n0:00,"1,234.56"\n', {}, "row 2, column 'price': '1,234.56' is not a decimal number "
                                          "(thousands separators are not accepted: write 1234.56)"),
    ("Zeit;Preis\n0:00;1.234,56\n1:00;5,5\n", {}, "row 2, column 'Preis': '1.234,56' is not a decimal number "
                                               "(thousands separators are not accepted: write 1234.56)"),
    ("Zeit;Preis\n0:00;1.234\n", {"decimal_comma": True}, "row 2, column 'Preis': '1.234' is not a decimal "
     "number (thousands separators are not accepted: write 1234)"),
    ("Zeit;Preis\n0:00;81.85\n", {"decimal_comma": True}, "row 2, column 'Preis': '81.85' is not a decimal "
     "number (a point, but --decimal-comma reads commas: leave it out)"),
    ("price\n1 000\n", {}, "row 2, column 'price': '1 000' is not a decimal number "
                           "(thousands separators are not accepted: write 1000)"),
    ("price\n1e2\n", {}, "row 2, column 'price': '1e2' is not a decimal number (exponents are not accepted: "
                         "write 100)"),
    ("price\n1e999\n", {}, "row 2, column 'price': '1e999' is not a decimal number (exponents are not accepted)"),
    ("5\n-\n", {}, "row 2, column 0: '-' is not a decimal number"),
    ("price\n٣\n", {}, "row 2, column 'price': '٣' is not a decimal number"),
]


@pytest.mark.parametrize(("text", "options", "message"), PRICE_ERRORS, ids=[m for *_, m in PRICE_ERRORS])
def test_bad_prices_are_named_by_row_and_column(text: str, options: dict[str, object], message: str) -> None:
    prices = read_csv_prices(text, ReadOptions(**options))  # type: ignore[arg-type]
    with pytest.raises(InputError) as raised:
        prices.texts()
    assert str(raised.value) == message


# (document, --column, prices as the planner gets them)
JSON_CASES = [
    ('["1", "2.50"]', None, ["1", "2.50"]),
    ("[1, 2.50, -0.000000000000000000000000001]", None, ["1", "2.50", "-0.000000000000000000000000001"]),
    ('{"prices": [1, "2"]}', None, ["1", "2"]),
    ('{"eur": [1, "2"]}', "eur", ["1", "2"]),
    ('[{"price": 1}, {"price": "2"}]', None, ["1", "2"]),
    ('[{"eur": 1.10}]', "eur", ["1.10"]),
    # Numbers with an exponent are written out exactly, never through a float.
    ("[1e2, 2.5E-3, -0e5, 1.00000000000000000001e1]", None, ["100", "0.0025", "0", "10.0000000000000000001"]),
    # Provider shapes: the price member found by its name.
    ('[{"startsAt": "2024-04-21T00:00:00.000+02:00", "total": 0.2543, "energy": 0.0818}]', "total", ["0.2543"]),
    ('[{"valid_from": "2024-04-21T00:00:00Z", "value_inc_vat": 21.63}]', "value_inc_vat", ["21.63"]),
    ('[{"deliveryStart": "2024-04-21T00:00:00Z", "Preis": 81.85}]', None, ["81.85"]),
]


@pytest.mark.parametrize(("document", "column", "prices"), JSON_CASES)
def test_json_prices_keep_their_text(document: str, column: str | None, prices: list[str]) -> None:
    assert read_json_prices(document, ReadOptions(column=column)).texts() == prices
    assert read_prices(document, ReadOptions(column=column)).texts() == prices


def test_json_objects_carry_their_times() -> None:
    document = '[{"startsAt": "2024-04-21T00:00", "total": 1}, {"startsAt": "2024-04-21T01:00", "total": 2}]'
    read = read_json_prices(document, ReadOptions(column="total"))
    assert (read.texts(), read.times) == (["1", "2"], ["2024-04-21T00:00", "2024-04-21T01:00"])


JSON_ERRORS = [
    ('{"values": [1, 2]}', None,
     "the JSON object holds no list of prices (its members: 'values'): name the list with --column"),
    ("[1,", None, "invalid JSON: Expecting value: line 1 column 4 (char 3)"),
    ('[{"eur": 1}]', None,
     "JSON element 0 has no member that says price (its members: 'eur'); name the price with --column"),
    ("3", None, 'the JSON input must be a list of prices or an object with a "prices" list'),
    ("[]", None, "no prices: the JSON list is empty"),
    ('["5", null]', None, "JSON element 1: null is not a price (a number or a decimal text)"),
    ('[{"price": "5"}, {"price": true}]', None,
     "JSON element 1, member 'price': true is not a price (a number or a decimal text)"),
    ("[1, NaN]", None, "JSON element 1: NaN is not a price (a number or a decimal text)"),
    ("[1, [2]]", None, "JSON element 1: [2] is not a price (a number or a decimal text)"),
    ('[{"price": 1}, 2]', None, "JSON element 1: 2 is not an object, unlike element 0"),
    ("[1, 1e999]", None, "JSON element 1: 1e999 is too large or too small to write out as a decimal"),
]


@pytest.mark.parametrize(("document", "column", "message"), JSON_ERRORS, ids=[m for *_, m in JSON_ERRORS])
def test_json_errors(document: str, column: str | None, message: str) -> None:
    with pytest.raises(InputError) as raised:
        read_json_prices(document, ReadOptions(column=column))
    assert str(raised.value) == message


def planner_accepts(text: str) -> bool:
    try:
        kestrava.get_cheapest_periods([text], "0", 1, 1)
    except ValueError:
        return False
    return True


def test_price_syntax_agrees_with_the_planner() -> None:
    """Random short texts (never out of the planner's range): the command accepts
    exactly what the planner accepts, and what it makes of a decimal comma is the
    planner's text of the same value."""
    rng = random.Random(2024_04_21)
    alphabet = "0123456789" * 3 + "._+-,eE ٣"
    for _ in range(20_000):
        text = "".join(rng.choice(alphabet) for _ in range(rng.randint(0, 7)))
        assert (DECIMAL_TEXT.fullmatch(text) is not None) == planner_accepts(text), repr(text)
        try:
            converted = price_text(text, True, "here")
        except InputError:
            continue
        assert "." not in text and planner_accepts(converted), repr(text)
        assert converted == text.replace(",", "."), repr(text)


def a44(*series: str, root: str = "Publication_MarketDocument",
        namespace: str = ' xmlns="urn:iec62325.351:tc57wg16:451-3:publicationdocument:7:3"') -> str:
    return f'<?xml version="1.0" encoding="utf-8"?>\n<{root}{namespace}>{"".join(series)}</{root}>'


def time_series(periods: str, position: int | None = 1, curve: str = "A03") -> str:
    classification = (f"<classificationSequence_AttributeInstanceComponent.position>{position}"
                      "</classificationSequence_AttributeInstanceComponent.position>" if position else "")
    return f"<TimeSeries>{classification}<curveType>{curve}</curveType>{periods}</TimeSeries>"


def period(start: str, end: str, resolution: str, points: dict[str, str]) -> str:
    body = "".join(f"<Point><position>{position}</position><price.amount>{price}</price.amount></Point>"
                   for position, price in points.items())
    return (f"<Period><timeInterval><start>{start}</start><end>{end}</end></timeInterval>"
            f"<resolution>{resolution}</resolution>{body}</Period>")


# (document, series, prices, first and last time)
XML_CASES = [
    # A03 carries a left-out price forward, to the end of the interval too.
    (a44(time_series(period("2024-04-20T22:00Z", "2024-04-21T02:00Z", "PT60M", {"1": "5", "3": "7"}))), 1,
     ["5", "5", "7", "7"], ("2024-04-20T22:00:00Z", "2024-04-21T01:00:00Z")),
    (a44(time_series(period("2024-04-20T22:00Z", "2024-04-20T23:00Z", "PT30M", {"2": "-1.5", "1": "2"}),
                     curve="A01")), 1, ["2", "-1.5"], ("2024-04-20T22:00:00Z", "2024-04-20T22:30:00Z")),
    # Namespace-agnostic, the series without a classification taken as the first.
    (a44(time_series(period("2024-04-20T22:00Z", "2024-04-20T23:00Z", "PT1H", {"1": "3"}), position=None),
         namespace=""), 1, ["3"], ("2024-04-20T22:00:00Z", "2024-04-20T22:00:00Z")),
    # Two periods, given out of order, joined in time order; series 2 chosen.
    (a44(time_series(period("2024-04-20T22:00Z", "2024-04-20T23:00Z", "PT60M", {"1": "9"})),
         time_series(period("2024-04-20T23:00Z", "2024-04-21T00:00Z", "PT60M", {"1": "2"})
                     + period("2024-04-20T22:00Z", "2024-04-20T23:00Z", "PT60M", {"1": "1"}), position=2)),
     2, ["1", "2"], ("2024-04-20T22:00:00Z", "2024-04-20T23:00:00Z")),
]


@pytest.mark.parametrize(("document", "series", "prices", "ends"), XML_CASES)
def test_xml_document(document: str, series: int, prices: list[str], ends: tuple[str, str]) -> None:
    read = read_publication_document(document, series)
    assert read.texts() == prices
    assert read.times is not None and (read.times[0], read.times[-1]) == ends


def test_xml_spring_day_has_92_quarter_hours() -> None:
    read = read_publication_document(a44(time_series(period("2025-03-29T23:00Z", "2025-03-30T22:00Z", "PT15M",
                                                           {"1": "80", "92": "75"}))))
    assert read.written == ["80"] * 91 + ["75"]
    assert read.times is not None and read.times[-1] == "2025-03-30T21:45:00Z"


LAUGHS = ('<?xml version="1.0"?><!DOCTYPE lolz [<!ENTITY lol "lol"><!ENTITY lol2 "&lol;&lol;&lol;">]>'
          "<Publication_MarketDocument>&lol2;</Publication_MarketDocument>")
EXTERNAL = ('<?xml version="1.0"?><!DOCTYPE d [<!ENTITY x SYSTEM "file:///etc/hostname">]>'
            "<Publication_MarketDocument>&x;</Publication_MarketDocument>")
DAY = ("2024-04-20T22:00Z", "2024-04-20T23:00Z")
XML_ERRORS = [
    (LAUGHS, "XML with a document type declaration (DTD) is refused: a price document needs none"),
    (EXTERNAL, "XML with a document type declaration (DTD) is refused: a price document needs none"),
    ("<Publication_MarketDocument>", "invalid XML: no element found: line 1, column 28"),
    (a44(root="Acknowledgement_MarketDocument"),
     "the XML document is a Acknowledgement_MarketDocument, not a Publication_MarketDocument of prices"),
    (a44(), "no prices: the document holds no TimeSeries"),
    (a44(time_series("", position=2)),
     "no TimeSeries with classificationSequence_AttributeInstanceComponent.position 1; the document has 2 "
     "(--series N)"),
    (a44(time_series("")), "no prices: the time series holds no Period"),
    (a44(time_series(period(*DAY, "P1D", {"1": "1"}))),
     "Period starting 2024-04-20T22:00Z: resolution 'P1D' is not supported (PT15M, PT30M, PT60M, ...)"),
    (a44(time_series(period(DAY[0], "2024-04-20T22:50Z", "PT15M", {"1": "1"}))),
     "Period starting 2024-04-20T22:00Z: the interval to 2024-04-20T22:50:00Z is not a whole, positive "
     "number of 0:15:00 steps"),
    (a44(time_series(period("22:00", DAY[1], "PT15M", {"1": "1"}))),
     "Period starting 22:00: '22:00' is not an ISO 8601 time"),
    (a44(time_series(period(*DAY, "PT15M", {"5": "1"}))),
     "Period starting 2024-04-20T22:00Z: position '5' is outside 1 to 4"),
    (a44(time_series(period(*DAY, "PT15M", {"1": "1", "01": "2"}))),
     "Period starting 2024-04-20T22:00Z: position 1 is given twice"),
    (a44(time_series(period(*DAY, "PT15M", {"2": "1"}))),
     "Period starting 2024-04-20T22:00Z: position 1 is missing (curve type A03)"),
    (a44(time_series(period(*DAY, "PT15M", {"1": "1", "2": "1", "4": "1"}), curve="A01")),
     "Period starting 2024-04-20T22:00Z: position 3 is missing (curve type A01)"),
    (a44(time_series(period(*DAY, "PT60M", {"1": "1"}) + period("2024-04-21T00:00Z", "2024-04-21T01:00Z",
                                                                  "PT60M", {"1": "1"}))),
     "Period starting 2024-04-21T00:00Z: the periods do not join, the one before ends at 2024-04-20T23:00:00Z"),
    (a44(time_series(period(*DAY, "PT60M", {"1": ""}).replace("<price.amount></price.amount>", ""))),
     "Period starting 2024-04-20T22:00Z, position 1: no price.amount"),
]


@pytest.mark.parametrize(("document", "message"), XML_ERRORS, ids=[m for _, m in XML_ERRORS])
def test_xml_errors(document: str, message: str) -> None:
    with pytest.raises(InputError) as raised:
        read_publication_document(document)
    assert str(raised.value) == message


# (points, the rows read, the position named): a price that A03 carries forward is
# named by the position that writes it, not the one it fills.
BAD_XML_PRICES = [({"1": "1", "3": "81,85"}, slice(None), 3), ({"1": "81,85", "3": "1"}, slice(1, None), 1),
                  ({"1": "1", "2": "81,85"}, slice(2, 4), 2)]


@pytest.mark.parametrize(("points", "rows", "position"), BAD_XML_PRICES)
def test_xml_bad_price_is_named_by_period_and_position(points: dict[str, str], rows: slice, position: int) -> None:
    read = read_publication_document(a44(time_series(period(*DAY, "PT15M", points)))).sliced(rows)
    with pytest.raises(InputError) as raised:
        read.texts()
    assert str(raised.value) == (f"Period starting 2024-04-20T22:00Z, position {position}: '81,85' is not a decimal "
                                 "number (write 81.85)")
