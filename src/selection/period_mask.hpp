// PeriodMask: a set of period indices as the bits of one 32-bit word (bit i is
// period i), with the few operations the strategies need to read it back in
// ascending order. A request has at most 28 periods, so every index fits.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "selection/item.hpp"

namespace kestrava {

using PeriodMask = std::uint32_t;

// Every index of a request must be a bit position of PeriodMask.
static_assert(max_price_count <= 32, "a request's periods must fit in one PeriodMask");

// The indices of a mask, ascending; room for every index a request can have.
using IndexArray = std::array<std::uint64_t, max_price_count>;

// Precondition: index < 32.
constexpr PeriodMask period_bit(std::uint64_t index) noexcept { return PeriodMask{1} << index; }

// The periods first .. end - 1. Precondition: first <= end <= 32.
constexpr PeriodMask period_span(std::uint64_t first, std::uint64_t end) noexcept {
    return static_cast<PeriodMask>((std::uint64_t{1} << end) - (std::uint64_t{1} << first));
}

constexpr bool holds_period(PeriodMask mask, std::uint64_t index) noexcept { return (mask & period_bit(index)) != 0; }

constexpr std::size_t period_count(PeriodMask mask) noexcept { return static_cast<std::size_t>(std::popcount(mask)); }

// Writes the indices of `mask` into `out` in ascending order (lowest bit first) and
// returns them as a view of `out`. Precondition: every set bit is below
// max_price_count. Does not allocate.
inline std::span<const std::uint64_t> ascending_indices(PeriodMask mask, IndexArray& out) noexcept {
    std::size_t count = 0;
    while (mask != 0) {
        out[count++] = static_cast<std::uint64_t>(std::countr_zero(mask));
        mask &= mask - 1;  // clears the lowest set bit
    }
    return {out.data(), count};
}

// The indices of a list of Items as a mask. Precondition: every index < 32.
inline PeriodMask mask_of(std::span<const Item> items) noexcept {
    PeriodMask mask = 0;
    for (const Item& item : items) mask |= period_bit(item.index);
    return mask;
}

// A list of indices as a mask. Precondition: every index < 32.
inline PeriodMask mask_of_indices(std::span<const std::uint64_t> indices) noexcept {
    PeriodMask mask = 0;
    for (const std::uint64_t index : indices) mask |= period_bit(index);
    return mask;
}

// The indices of `mask` as a new ascending list (for results, not for hot loops).
inline IndexList index_list_of(PeriodMask mask) {
    IndexArray buffer;
    const auto indices = ascending_indices(mask, buffer);
    return IndexList(indices.begin(), indices.end());
}

}  // namespace kestrava
