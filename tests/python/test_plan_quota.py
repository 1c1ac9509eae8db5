"""plan's quota per local day: its refusals word for word, and the local days it counts
(the differential test against the model holds the plans themselves)."""

from __future__ import annotations

from collections import Counter
from datetime import date, datetime, time, timedelta, timezone
from zoneinfo import ZoneInfo

import pytest

from kestrava_plan import plan
from kestrava_plan.local_days import local_days

BERLIN = ZoneInfo("Europe/Berlin")
# 13:00 Berlin, hourly to 23:00 the next day: 11 periods today, 24 tomorrow.
TIMES = [(datetime(2026, 6, 15, 11, tzinfo=timezone.utc) + timedelta(hours=i)).astimezone(BERLIN) for i in range(35)]
PRICES = [(i * 37) % 23 for i in range(35)]
FIXED = [time.astimezone(timezone(timedelta(hours=2))) for time in TIMES]

REFUSALS = [
    (dict(times=TIMES, min_per_day=12), ValueError,
     "no plan meets the rules: 2026-06-15 holds 11 allowed periods of the horizon, fewer than its quota of 12; "
     "allow more of its periods or lower the quota"),
    (dict(times=TIMES, min_per_day=timedelta(hours=13), done_today=timedelta(hours=1)), ValueError,
     "no plan meets the rules: 2026-06-15 holds 11 allowed periods of the horizon, fewer than its quota of 12; "
     "allow more of its periods or lower the quota"),
    (dict(times=TIMES, min_per_day=6, allowed=[True] * 11 + [i % 5 == 0 for i in range(24)]), ValueError,
     "no plan meets the rules: 2026-06-16 holds 5 allowed periods of the horizon, fewer than its quota of 6; "
     "allow more of its periods or lower the quota"),
    (dict(times=TIMES, done_today=2), ValueError,
     "done_today (2) needs min_per_day: it is what already ran toward the first day's quota"),
    (dict(min_per_day=3), ValueError,
     "min_per_day needs times to tell the days apart: pass times, or prices as a pandas Series with a DatetimeIndex"),
    (dict(times=FIXED, min_per_day=3), ValueError,
     "min_per_day: the times carry a fixed offset (2026-06-15T13:00:00+02:00), not a time zone, so a day would be "
     "a day of that offset; pass zone= (a name such as 'Europe/Berlin' or a ZoneInfo)"),
    (dict(times=TIMES, min_per_day=3, zone=2), TypeError, "zone must be a zone name or a zoneinfo.ZoneInfo, not int"),
    (dict(times=TIMES, min_per_day=3, day_start="6:00"), ValueError,
     "day_start: '6:00' is not a time of day written HH:MM"),
    (dict(times=TIMES, min_per_day=-1), ValueError, "min_per_day (-1) must not be negative"),
]


@pytest.mark.parametrize(("options", "kind", "message"), REFUSALS, ids=[m[:40] for _, _, m in REFUSALS])
def test_a_quota_is_refused_with_its_message(options: dict, kind: type, message: str) -> None:
    with pytest.raises(kind) as refusal:
        plan(PRICES, -100, 1, 1, 34, 34, **options)
    assert str(refusal.value) == message


# Quarter-hours of one local day: the clocks skip or repeat the hour from 02:00, and a
# day from 02:30 begins at the first instant its clock shows 02:30 or later.
DAY_LENGTHS = [
    ("Europe/Berlin", date(2026, 3, 29), time(0), 92),
    ("Europe/Amsterdam", date(2026, 10, 25), time(0), 100),
    ("Europe/Berlin", date(2026, 3, 29), time(2, 30), 94),
    ("Europe/Amsterdam", date(2026, 10, 24), time(2, 30), 96),
    ("Europe/Amsterdam", date(2026, 10, 25), time(2, 30), 100),
]


@pytest.mark.parametrize(("zone", "day", "day_start", "quarters"), DAY_LENGTHS)
def test_a_local_day_is_as_long_as_its_clock_makes_it(zone: str, day: date, day_start: time, quarters: int) -> None:
    clock = ZoneInfo(zone)
    first = datetime.combine(day - timedelta(days=1), time(0), clock).astimezone(timezone.utc)
    starts = tuple(first + timedelta(minutes=15 * i) for i in range(4 * 80))
    days = local_days(starts, clock, day_start)
    assert Counter(days.dates[d] for d in days.day_of)[day] == quarters
