"""The command's readers and the terminal chart, called directly."""

from __future__ import annotations

from collections.abc import Callable

import pytest

from kestrava_plan import (
    ASCII_GLYPHS,
    UNICODE_GLYPHS,
    Glyphs,
    InputError,
    decimal_of,
    read_csv_prices,
    read_json_prices,
    read_prices,
    render_chart,
)

# (text, --column, header flag, prices)
CSV_CASES = [
    ("1\n2.5\n-3\n", None, None, ["1", "2.5", "-3"]),
    ("price\n1\n2\n", None, None, ["1", "2"]),
    ("Datetime,Price (EUR/MWh)\n2024-01-15 00:00:00,67.9\n2024-01-15 01:00:00,65.0\n", None, None, ["67.9", "65.0"]),
    ("a,b\n1,2\n3,4\n", "b", None, ["2", "4"]),
    ("1,2\n3,4\n", "0", None, ["1", "3"]),
    ("1,2\n3,4\n", "-1", None, ["2", "4"]),
    (" x , y \n 1 , 2 \n\n3,4\n", "y", None, ["2", "4"]),
    # A first row that looks like no number is a header unless told otherwise.
    ("n/a\n2\n", None, None, ["2"]),
    ("n/a\n2\n", None, False, ["n/a", "2"]),
    (".5\n+1\n", None, None, [".5", "+1"]),
    ("", None, None, []),
]


@pytest.mark.parametrize(("text", "column", "header", "prices"), CSV_CASES)
def test_csv_column(text: str, column: str | None, header: bool | None, prices: list[str]) -> None:
    assert read_csv_prices(text, column, header) == prices


# (document, --column, prices)
JSON_CASES = [
    ('["1", "2.50"]', None, ["1", "2.50"]),
    ("[1, 2.50, -0.000000000000000000000000001]", None, ["1", "2.50", "-0.000000000000000000000000001"]),
    ('{"prices": [1, "2"]}', None, ["1", "2"]),
    ('{"eur": [1, "2"]}', "eur", ["1", "2"]),
    ('[{"price": 1}, {"price": "2"}]', None, ["1", "2"]),
    ('[{"eur": 1.10}]', "eur", ["1.10"]),
    ("[null, true, NaN]", None, [None, True, "NaN"]),
    ("[]", None, []),
]


@pytest.mark.parametrize(("document", "column", "prices"), JSON_CASES)
def test_json_prices_keep_their_text(document: str, column: str | None, prices: list[object]) -> None:
    assert read_json_prices(document, column) == prices
    assert read_prices(document, "auto", column, None) == prices


@pytest.mark.parametrize(("reader", "text", "fragment"), [
    (lambda t: read_csv_prices(t, None, None), "a,b\n1,2\n", "several columns"),
    (lambda t: read_csv_prices(t, "c", None), "a,b\n1,2\n", "no column 'c'"),
    (lambda t: read_csv_prices(t, "1", None), "1,2\n3\n", "row 2 has no column 1"),
    (lambda t: read_csv_prices(t, "price", None), "1\n2\n", "no header row"),
    (lambda t: read_csv_prices(t, "3", None), "1,2\n3,4\n", "column 3 is out of range"),
    (lambda t: read_json_prices(t, None), '{"values": [1, 2]}', "the JSON object has no member 'prices'"),
    (lambda t: read_json_prices(t, None), "[1,", "invalid JSON"),
    (lambda t: read_json_prices(t, None), '[{"eur": 1}]', "element 0 has no member 'price'"),
    (lambda t: read_json_prices(t, None), "3", "must be a list"),
])
def test_reader_errors(reader: Callable[[str], object], text: str, fragment: str) -> None:
    with pytest.raises(InputError, match=fragment):
        reader(text)


def bars(chart: str, prices: list[str], labels: list[str]) -> list[tuple[str, str, str, str]]:
    """(label, price, mark, bar) of each period's row; the chart lays a row out as the
    label and the price right-aligned, then a one-character mark, then the bar."""
    label_width = max(map(len, labels))
    price_width = max(map(len, prices))
    rows = chart.splitlines()[1:1 + len(prices)]
    bar_start = label_width + price_width + 4
    return [(row[:label_width].strip(), row[label_width + 1:label_width + 1 + price_width].strip(),
             row[bar_start - 2], row[bar_start:]) for row in rows]


def filled(bar: str, glyph: str) -> list[int]:
    return [position for position, cell in enumerate(bar) if cell == glyph]


@pytest.mark.parametrize("glyphs", [UNICODE_GLYPHS, ASCII_GLYPHS], ids=["unicode", "ascii"])
@pytest.mark.parametrize(("prices", "threshold", "chosen"), [
    (["10", "20", "40", "30", "5"], "15", {0, 4}),
    (["-20", "-5", "0", "10", "30"], "-5", {0, 1, 2}),
    (["1_000", "0.5", "2000.25"], "1500", set()),
])
def test_chart_rows(prices: list[str], threshold: str, chosen: set[int], glyphs: Glyphs) -> None:
    labels = [f"h{i}" for i in range(len(prices))]
    chart = render_chart(prices, chosen, threshold, labels=labels, width=40, glyphs=glyphs)
    assert len(chart.splitlines()) == len(prices) + 2  # the scale, one row per period, the legend
    threshold_columns = set()
    for index, (label, price, mark, bar) in enumerate(bars(chart, prices, labels)):
        assert (label, price) == (labels[index], prices[index])
        assert mark == (glyphs.mark if index in chosen else " ")
        assert len(bar) <= 41
        # A chosen bar is drawn solid, any other shaded, never a mix.
        fill, other = (glyphs.chosen, glyphs.other) if index in chosen else (glyphs.other, glyphs.chosen)
        assert other not in bar
        assert (fill in bar) == (decimal_of(price) != 0)
        threshold_columns.add(bar.index(glyphs.threshold))
    assert len(threshold_columns) == 1  # one vertical line through every row
    assert f"threshold {threshold}" in chart.splitlines()[-1]


def test_chart_scales_bars_from_zero() -> None:
    prices = ["0", "10", "20", "40", "-20"]
    labels = [str(i) for i in range(len(prices))]
    chart = render_chart(prices, {1, 2, 3, 4}, "0", width=60, glyphs=ASCII_GLYPHS)
    # The scale runs from -20 to 40 over 60 cells: zero at cell 20, one cell per unit.
    assert chart.splitlines()[0].split() == ["-20", "0", "40"]
    rows = bars(chart, prices, labels)
    assert [bar.index("|") for *_, bar in rows] == [20] * 5
    assert filled(rows[0][3], "#") == []
    assert filled(rows[1][3], "#") == list(range(21, 30))  # cell 20 carries the threshold line
    assert filled(rows[2][3], "#") == list(range(21, 40))
    assert filled(rows[3][3], "#") == list(range(21, 60))
    assert filled(rows[4][3], "#") == list(range(0, 20))


def test_chart_shows_a_tiny_price_with_one_cell() -> None:
    chart = render_chart(["1000", "0.001", "-0.001"], set(), "1000", width=20, glyphs=ASCII_GLYPHS)
    rows = bars(chart, ["1000", "0.001", "-0.001"], ["0", "1", "2"])
    assert len(filled(rows[1][3], ".")) == 1
    assert len(filled(rows[2][3], ".")) == 1


def test_chart_rejects_a_width_too_small_to_draw() -> None:
    with pytest.raises(ValueError, match="width"):
        render_chart(["1"], {0}, "1", width=1)
