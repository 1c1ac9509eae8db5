"""Decimal arithmetic that never rounds: an operation whose exact result the context
cannot hold raises (Inexact, Rounded), so a tariff's only rounding is its `[rounding]`."""

from __future__ import annotations

import decimal

EXACT = decimal.Context(prec=decimal.MAX_PREC, Emax=decimal.MAX_EMAX, Emin=decimal.MIN_EMIN,
                        traps=[decimal.Inexact, decimal.Rounded, decimal.Overflow, decimal.InvalidOperation])

# For the rounding step alone: quantize rounds by the mode it is given, and still
# refuses a result too long to hold.
ROUNDING = decimal.Context(prec=decimal.MAX_PREC, Emax=decimal.MAX_EMAX, Emin=decimal.MIN_EMIN,
                           traps=[decimal.Overflow, decimal.InvalidOperation])


def rounding_in(mode: str) -> decimal.Context:
    """ROUNDING with `mode` as its own: its quantize takes no rounding argument to parse."""
    return ROUNDING.copy() if mode == ROUNDING.rounding else decimal.Context(
        prec=decimal.MAX_PREC, rounding=mode, Emax=decimal.MAX_EMAX, Emin=decimal.MIN_EMIN,
        traps=[decimal.Overflow, decimal.InvalidOperation])
