"""Times the command's JSON reader on a provider document of many one-record price
lists, as one integration per hour might save them: {"h0": [{start, value}], ...}.

For each count of lists it writes the document, reads it as `kestrava-plan` does
(`read_prices`, every list joined in time order) and prints the size, the best of
--repeat wall times, and the time per list, so that growth with the count shows.

    .venv/py3.13/bin/python benchmarks/bench_provider_lists.py --lists 2500 5000 10000 20000
"""

from __future__ import annotations

import argparse
import json
import time
from datetime import UTC, datetime, timedelta

from kestrava_plan.command.price_texts import MOST_READ
from kestrava_plan.command.read_options import ReadOptions
from kestrava_plan.command.readers import read_prices


def document(lists: int) -> str:
    """`lists` hourly records, each in a list of its own, in time order."""
    start = datetime(2024, 1, 1, tzinfo=UTC)
    return json.dumps({f"h{hour}": [{"start": (start + timedelta(hours=hour)).isoformat(), "value": hour % 97}]
                       for hour in range(lists)})


def best_time(text: str, repeat: int) -> float:
    options = ReadOptions(input_format="json", most=MOST_READ)
    best = float("inf")
    for _ in range(repeat):
        began = time.perf_counter()
        read = read_prices(text, options)
        best = min(best, time.perf_counter() - began)
    assert len(read.written) == text.count('"start"')
    return best


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--lists", type=int, nargs="+", default=[2500, 5000, 10000, 20000])
    parser.add_argument("--repeat", type=int, default=3, help="runs per count; the best is shown (default 3)")
    args = parser.parse_args()
    print(f"{'lists':>8} {'bytes':>10} {'seconds':>9} {'us/list':>8}")
    for lists in args.lists:
        text = document(lists)
        seconds = best_time(text, args.repeat)
        print(f"{lists:>8} {len(text):>10,} {seconds:>9.3f} {seconds / lists * 1e6:>8.1f}")


if __name__ == "__main__":
    main()
