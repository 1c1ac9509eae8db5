"""plan_table with a tariff composes the paid prices its own way (vectorised, batch by
batch): every row must plan as plan_table does on the paid prices of tariff_model.py given
as texts. Worked tariffs over the 2024 year, and seeded random tariffs from
test_tariff_differential.py, one table each.
"""

from __future__ import annotations

import random
from datetime import datetime, timedelta
from decimal import Decimal
from fractions import Fraction
from zoneinfo import ZoneInfo

import pyarrow as pa
import pytest
from kestrava_plan import Tariff, column, plan_table
from tariff_model import TariffModel
from test_tariff_differential import (CLOCKS, FIRST_SEED, REQUESTS, WORKED, decimal_text, load_worked, random_periods,
                                      random_tariff, year_2024)

HOURS = 24


def text_of(value: Fraction) -> str:
    """A paid price's exact decimal text (its denominator divides a power of ten)."""
    places = 0
    while (value * 10**places).denominator != 1:
        places += 1
    return format(Decimal(int(value * 10**places)).scaleb(-places), "f")


def plan_both(tariff: dict, days: list[tuple[list[str], list[datetime]]], rules: dict, stream: bool = False,
              price_type: pa.DataType = pa.string()) -> None:
    """Each day planned with the tariff from its spot prices, and without it from the model's paid prices.
    A table's prices are composed on integers; a stream's, whose scale is not known ahead, on decimals."""
    model = TariffModel(tariff)
    paid = [[text_of(model.paid(price, start)) for price, start in zip(*day)] for day in days]
    thresholds = [sorted(texts, key=Decimal)[len(texts) // 4] for texts in paid]
    shared = {"id": pa.array(range(len(days))), "threshold": pa.array(thresholds)}
    spot = pa.table({**shared, "prices": pa.array([spot for spot, _ in days]).cast(pa.list_(price_type)),
                     "times": pa.array([starts for _, starts in days], pa.list_(pa.timestamp("us", tz="UTC")))})
    with_tariff = plan_table(pa.RecordBatchReader.from_batches(spot.schema, spot.to_batches()) if stream else spot,
                             tariff=Tariff.from_dict(tariff), times="times", low_price_threshold=column("threshold"),
                             **rules)
    with_tariff = (with_tariff.read_all() if stream else with_tariff).to_pylist()
    on_paid = plan_table(pa.table({**shared, "prices": pa.array(paid)}), low_price_threshold=column("threshold"),
                         **rules).to_pylist()
    for row, expected, (spot, starts) in zip(with_tariff, on_paid, days, strict=True):
        found = (row["periods"], row["cost"] and Decimal(row["cost"]), row["error"])
        assert found == (expected["periods"], expected["cost"] and Decimal(expected["cost"]), expected["error"]), (
            f"{tariff}\n  day from {starts[0]}: spot {spot}\n  model's paid prices {paid[row['id']]}")


@pytest.mark.parametrize("tariff_path", WORKED, ids=lambda path: path.stem)
@pytest.mark.parametrize(("aggressive", "stream"), [(True, False), (False, True)])
def test_worked_tariff_plans_each_day_of_2024_on_the_paid_prices(tariff_path, aggressive: bool, stream: bool) -> None:
    prices, starts = year_2024("DE-LU-2024.csv")
    days = [(prices[first:first + HOURS], starts[first:first + HOURS]) for first in range(0, len(prices), HOURS)]
    plan_both(load_worked(tariff_path), days, {"min_selections": 6, "min_consecutive_periods": 2,
                                               "max_gap_between_periods": 4, "max_gap_from_start": 4,
                                               "aggressive": aggressive}, stream)


def test_random_tariffs_plan_on_the_model_paid_prices() -> None:
    for seed in range(FIRST_SEED, FIRST_SEED + max(1, REQUESTS // 4)):
        rng = random.Random(seed)
        zone = rng.choice(sorted(CLOCKS))
        starts = random_periods(rng, zone)
        if len(starts) == 1:  # plan needs two times to tell the period length
            starts.append(starts[0] + timedelta(minutes=15))
        local_days = sorted({start.astimezone(ZoneInfo(zone)).date() for start in starts})
        tariff = random_tariff(rng, local_days, zone)
        days = [([decimal_text(rng, largest=rng.choice((50, 20000))) for _ in starts], starts) for _ in range(3)]
        plan_both(tariff, days, {"min_selections": max(1, len(starts) // 4), "min_consecutive_periods": 1,
                                 "max_gap_between_periods": len(starts), "max_gap_from_start": len(starts),
                                 "aggressive": rng.random() < 0.5}, stream=seed % 2 == 1)


ROUND_28 = {"time_zone": "UTC", "unit": "EUR/MWh", "rounding": {"places": 28, "mode": "half-even"}}
TO_MWH = {"time_zone": "UTC", "spot_unit": "EUR/kWh", "unit": "EUR/MWh"}
HUGE = "9" * 37  # x 1000: 40 digits, past decimal128
TWO_HOURS = [datetime(2024, 1, 1, hour, tzinfo=ZoneInfo("UTC")) for hour in range(2)]
ONE_EACH = {"min_selections": 1, "min_consecutive_periods": 1, "max_gap_between_periods": 1, "max_gap_from_start": 1}


@pytest.mark.parametrize(("tariff", "spot", "price_type"), [
    (ROUND_28, ["1", "2"], pa.string()),  # 29 digits at 28 places: past int64
    (TO_MWH, [HUGE, "2"], pa.string()),
    (TO_MWH, [HUGE, "2"], pa.decimal128(38, 0)),
], ids=["28 places", "40 digits from texts", "40 digits from decimal128"])
def test_paid_prices_past_the_integer_pass_plan_in_tables(tariff: dict, spot: list[str], price_type) -> None:
    """plan plans these; plan_table raised ArrowInvalid for the whole call."""
    plan_both(tariff, [(spot, TWO_HOURS), (["3", "4"], TWO_HOURS)], ONE_EACH, price_type=price_type)


def test_a_stream_refuses_only_the_row_whose_paid_price_passes_decimal128() -> None:
    """A stream's decimals are typed before its first batch: the row past 38 digits is
    refused in its error column, the other rows plan (the whole call raised)."""
    spot = pa.table({"id": [0, 1], "prices": pa.array([[Decimal(HUGE), 2], [3, 4]], pa.list_(pa.decimal128(38, 0))),
                     "times": pa.array([TWO_HOURS] * 2, pa.list_(pa.timestamp("us", tz="UTC")))})
    rows = plan_table(spot.to_reader(), tariff=Tariff.from_dict(TO_MWH), times="times", low_price_threshold="0",
                      **ONE_EACH).read_all().to_pylist()
    assert [(row["periods"], row["cost"], row["error"]) for row in rows] == [
        (None, None, "tariff: a paid price of 40 digits at scale 0, more than the 38 a stream of decimal prices "
                     "carries: pass a pyarrow Table, or the prices as texts"),
        ([0], "3000", None)]


@pytest.mark.parametrize("mode", ["ROUND_HALF_EVEN", "ROUND_HALF_UP"])
def test_the_integer_pass_rounds_as_decimal_does(mode: str) -> None:
    """Ties, their neighbours and random units of both signs, rounded by the table's
    integer pass and by Decimal."""
    np = pytest.importorskip("numpy")
    from kestrava_plan.tariffs.arrow_integers import rounded
    rng = random.Random(40)
    for shift in range(1, 7):
        half = 10**shift // 2
        values = [whole * 2 * half + offset for whole in range(-3, 4) for offset in range(-half - 1, half + 2, half)]
        values += [rng.randint(-2**61, 2**61) for _ in range(300)]
        found = rounded(np.array(values, dtype=np.int64), shift, mode == "ROUND_HALF_EVEN").tolist()
        assert found == [int(Decimal(value).scaleb(-shift).quantize(Decimal(1), rounding=mode)) for value in values], shift
