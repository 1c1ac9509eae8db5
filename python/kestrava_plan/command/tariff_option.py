"""--tariff and --show-prices: the command plans on the prices the user pays, and shows
how each is made up, so that a user can hold it against the bill."""

from __future__ import annotations

import tomllib
from collections.abc import Callable, Sequence
from dataclasses import replace
from datetime import datetime
from decimal import Decimal

from ..plan_result import Plan
from ..tariffs import Tariff
from .price_texts import InputError


def load_tariff(path: str) -> Tariff:
    """The tariff of the file; InputError saying what is wrong and where."""
    try:
        with open(path, "rb") as file:
            return Tariff.from_dict(tomllib.load(file))
    except OSError as error:
        raise InputError(f"--tariff: cannot read {path}: {error.strerror or error}") from None
    except tomllib.TOMLDecodeError as error:
        raise InputError(f"--tariff: {path} is not TOML: {error}") from None
    except ValueError as error:
        raise InputError(f"--tariff: {path}: {error}") from None


def plan_paid(tariff: Tariff, texts: Sequence[str], starts: Sequence[datetime],
              planner: Callable[[list[str]], Plan]) -> Plan:
    """`planner`'s plan of the paid prices of `texts` (spot prices) at `starts`, with
    its cost split into the tariff's parts."""
    values, locals_, paid = tariff.priced(texts, starts)
    chosen = planner([format(price, "f") for price in paid])
    return replace(chosen, _cost_parts=tuple(tariff.part_sums(values, locals_, chosen.periods).items()))


def cost_members(chosen: Plan) -> dict[str, object]:
    """The JSON members of a plan made with a tariff: its exact paid cost and parts."""
    parts = chosen.cost_parts
    if parts is None:
        return {}
    return {"cost": format(chosen.cost, "f"), "cost_parts": {name: format(value, "f") for name, value in parts.items()}}


def paid_texts(tariff: Tariff, texts: Sequence[str], starts: Sequence[datetime]) -> list[str]:
    return [format(price, "f") for price in tariff.paid_prices(texts, starts)]


def price_table(tariff: Tariff, texts: Sequence[str], starts: Sequence[datetime], labels: Sequence[str],
                chosen: Plan) -> str:
    """Every period's paid price with its parts, one line each, chosen ones marked with *,
    then the chosen periods' sums: the plan's cost."""
    parts = tariff.parts(texts, starts)
    paid = tariff.paid_prices(texts, starts)
    header = ["time", f"input ({tariff.spot_unit})" if tariff.spot_unit else "input", *parts,
              f"paid ({tariff.unit})" if tariff.unit else "paid"]
    chosen_set = set(chosen.periods)
    rows = [[("* " if index in chosen_set else "  ") + labels[index], texts[index],
             *(format(parts[name][index], "f") for name in parts), format(paid[index], "f")]
            for index in range(len(texts))]
    sums = chosen.cost_parts or {}
    rows.append([f"  chosen ({len(chosen_set)})", "", *(format(sums[name], "f") for name in parts),
                 format(chosen.cost, "f")])
    widths = [max(len(row[column]) for row in [header, *rows]) for column in range(len(header))]
    return "\n".join("  ".join(cell.rjust(width) if column else cell.ljust(width)
                               for column, (cell, width) in enumerate(zip(row, widths))).rstrip()
                     for row in [header, *rows])
