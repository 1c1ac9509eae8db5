"""plan_table with a tariff answers every row as `plan` with the tariff does: seeded
random tariffs, every price column type, a table and a stream (each composed its own
way), rows without times or with a bad price."""

from __future__ import annotations

import random
from datetime import datetime, timedelta, timezone
from decimal import Decimal
from typing import Any
from zoneinfo import ZoneInfo

import pyarrow as pa
import pytest

from kestrava_plan import Tariff, plan, plan_table
from test_plan_tariff import random_tariff

BERLIN = ZoneInfo("Europe/Berlin")
KINDS = {"string": pa.string(), "decimal128": pa.decimal128(12, 2), "int64": pa.int64(), "double": pa.float64()}
RULES = {"min_selections": 3, "min_consecutive_periods": 1, "max_gap_between_periods": 6, "max_gap_from_start": 6}


def price(rng: random.Random, kind: str) -> Any:
    cents = rng.randint(-5000, 30000)
    return {"string": f"{cents / 100}", "decimal128": Decimal(cents) / 100, "int64": cents // 100,
            "double": cents / 100}[kind]


# Texts Arrow reads as numbers, or not, that the planner refuses or reads: one a seed.
ODD_TEXTS = ["x", "1e5", "2E-1", " 7", "1_000", "+.5"]


def random_rows(rng: random.Random, kind: str, odd_text: str) -> list[tuple[list[Any] | None, list[datetime] | None]]:
    rows: list[tuple[list[Any] | None, list[datetime] | None]] = []
    for _ in range(12):
        step = timedelta(minutes=rng.choice([15, 60]))
        first = datetime(2025, 10, 26, rng.randint(0, 3), tzinfo=BERLIN).astimezone(timezone.utc)
        count = rng.randint(6, 30)
        rows.append(([price(rng, kind) for _ in range(count)], [first + step * n for n in range(count)]))
    rows.append((rows[0][0], None))  # no times
    if kind == "string":  # the batch's one odd text
        rows.append((["1.5", odd_text, "2"], rows[0][1][:3]))
    return rows


def expected(prices: list[Any] | None, times: list[datetime] | None, threshold: str, tariff: Tariff) -> dict[str, Any]:
    try:
        planned = plan(prices, threshold, *RULES.values(), times=times, tariff=tariff)  # type: ignore[arg-type]
    except (TypeError, ValueError) as refused:
        return {"periods": None, "cost": None, "error": str(refused)}
    return {"periods": planned.periods, "cost": planned.cost, "error": None}


@pytest.mark.parametrize("source", ["table", "stream"])
@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("seed", range(len(ODD_TEXTS)))
def test_plan_table_with_a_tariff_answers_as_plan_does(seed: int, kind: str, source: str) -> None:
    rng = random.Random(seed)
    tariff = Tariff.from_dict(random_tariff(rng))
    rows = random_rows(rng, kind, ODD_TEXTS[seed % len(ODD_TEXTS)])
    threshold = format(sorted(tariff.paid_prices(rows[0][0], rows[0][1]))[3], "f")  # type: ignore[arg-type]
    table = pa.table({"id": list(range(len(rows))),
                      "prices": pa.array([prices for prices, _ in rows], pa.list_(KINDS[kind])),
                      "times": pa.array([times for _, times in rows], pa.list_(pa.timestamp("us", tz="UTC")))})
    data = table if source == "table" else table.to_reader(max_chunksize=5)
    answer = plan_table(data, low_price_threshold=threshold, **RULES, times="times", tariff=tariff)
    answers = (answer.read_all() if source == "stream" else answer).to_pylist()
    for (prices, times), answer in zip(rows, answers):
        got = {"periods": answer["periods"], "cost": None if answer["cost"] is None else Decimal(answer["cost"]),
               "error": answer["error"]}
        assert got == expected(prices, times, threshold, tariff), f"seed {seed}, {kind}, row {answer['id']}"
