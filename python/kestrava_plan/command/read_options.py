"""Where the prices are: the command's input options."""

from __future__ import annotations

from dataclasses import dataclass

from .price_texts import MOST_PRICES


@dataclass(frozen=True)
class ReadOptions:
    input_format: str = "auto"  # auto, csv, json or xml
    column: str | None = None  # the price column or JSON member
    time_column: str | None = None  # the time column or JSON member
    header: bool | None = None  # None: detected
    delimiter: str | None = None  # None: sniffed
    decimal_comma: bool | None = None  # None: on for a semicolon or tab file written so
    series: int = 1  # XML: the classification position of the time series
    rows: slice | None = None  # the data rows to plan, like a slice; None: all
    area: str | None = None  # JSON: the area of prices given by area (Nord Pool); None: the only one
    most: int = MOST_PRICES  # the most prices read: the planner's bound, unless each day is planned alone
