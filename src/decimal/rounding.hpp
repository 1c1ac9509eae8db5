// The one rounding decision of the decimal arithmetic, and the description of the
// digits an operation drops before it makes that decision.
#pragma once

#include "decimal/decimal.hpp"

namespace kestrava::decimal_detail {

// What the dropped digits were worth, in units of the last kept digit.
enum class DroppedPart {
    zero,        // nothing nonzero was dropped: the kept value is exact
    below_half,  // more than zero and less than half a unit
    half,        // exactly half a unit
    above_half,  // more than half a unit and less than one
};

enum class RoundingMode {
    half_up,    // parsing: half a unit or more rounds the magnitude up
    half_even,  // arithmetic: exactly half rounds to the even coefficient
};

// Whether the kept coefficient (whose lowest bit is `kept_is_odd`) goes up by one.
constexpr bool rounds_up(RoundingMode mode, DroppedPart dropped, bool kept_is_odd) noexcept {
    switch (dropped) {
        case DroppedPart::zero:
        case DroppedPart::below_half:
            return false;
        case DroppedPart::half:
            return mode == RoundingMode::half_up || kept_is_odd;
        case DroppedPart::above_half:
            return true;
    }
    return false;
}

// Describes the part dropped by a division by `unit` that left `remainder`
// (< unit), when the digits dropped before it were `earlier` (a part below one unit
// of the dividend; only whether it is zero matters once it is scaled down).
// Precondition: unit < 2^127, so twice the remainder does not wrap.
constexpr DroppedPart classify_remainder(uint128 remainder, uint128 unit, DroppedPart earlier) noexcept {
    const bool earlier_exact = earlier == DroppedPart::zero;
    const uint128 twice = remainder * 2;
    if (twice < unit) return remainder == 0 && earlier_exact ? DroppedPart::zero : DroppedPart::below_half;
    if (twice == unit) return earlier_exact ? DroppedPart::half : DroppedPart::above_half;
    return DroppedPart::above_half;
}

}  // namespace kestrava::decimal_detail
