// The prices as wide integers and the scale that bounds every rounding error.
#include "selection/planner/rounded/rounding_error.hpp"

#include <algorithm>
#include <optional>

#include "decimal/powers_of_ten.hpp"

namespace kestrava::planner {
namespace {

using planner::Int256;
using planner::Int512;

Int512 wide(uint128 value) noexcept { return Int512::from_int128(static_cast<__int128>(value)); }

Int512 widen(const Int256& value) noexcept {
    Int512 result{};
    for (int limb = 3; limb >= 0; --limb) {
        result = result * Int512::power_of_two(64) +
                 Int512::from_int128(static_cast<__int128>(value.limb(static_cast<std::size_t>(limb))));
    }
    return result;
}

// The largest r of point 1 for this bound, if any.
std::optional<unsigned> error_scale_of(const RoundedPrices& prices, const Int512& bound) noexcept {
    // sum |c_i| and n 10^s are below 2^196: exact in 512 bits, and so is every
    // product with a power of ten up to 10^28 below.
    const Int512 unit = wide(pow10_u128[prices.scale]);
    const Int512 slack = Int512(static_cast<std::int64_t>(prices.count)) * unit;
    const Int512 room = wide(Decimal::max_coefficient) * unit;
    for (unsigned r = Decimal::max_scale + 1; r-- > 0;) {
        if (bound * wide(pow10_u128[r]) + slack <= room) return r;
    }
    // Whole prices: sums within 96 bits are exact, with no slack. Not 2^96 - 1 itself:
    // one period there averages at the largest decimal, where the lowest-average search
    // starts, and that size then fails it.
    if (prices.scale == 0 && bound < room) return 0U;
    return std::nullopt;
}

// q (2^96 - 1) 10^s - q n 10^s: what scaled magnitudes times 10^r may reach.
Int512 scale_room(const RoundedPrices& prices, std::uint64_t q) noexcept {
    const Int512 unit = wide(pow10_u128[prices.scale]);
    const Int512 multiple(static_cast<std::int64_t>(q));
    return multiple * unit * (wide(Decimal::max_coefficient) - Int512(static_cast<std::int64_t>(prices.count)));
}

// The largest r <= 28 with scaled 10^r <= room, never below the global r. The test
// grows with r: step up from the global r while the next one passes.
unsigned error_scale_below(const RoundedPrices& prices, const Int512& scaled_magnitudes, const Int512& room) noexcept {
    unsigned r = prices.error_scale;
    Int512 scaled = scaled_magnitudes * wide(pow10_u128[r]);
    for (; r < Decimal::max_scale; ++r) {
        scaled = scaled * Int512(10);
        if (scaled > room) break;
    }
    return r;
}

}  // namespace

RoundedPrices price_units(const PriceUnits& units) {
    RoundedPrices prices;
    prices.count = static_cast<int>(units.size());
    prices.scale = units.common_scale();
    prices.units.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        // A decimal's units are below 2^96 10^28 < 2^190 (rounding_error.hpp): Int256 holds them.
        const Int256 unit = units.unit<Int256>(i);
        prices.units.push_back(unit);
        const Int256 magnitude = unit.is_negative() ? -unit : unit;
        prices.magnitudes += widen(magnitude);
        if (unit.is_negative()) prices.negatives += widen(magnitude);
        prices.largest_bits = std::max(prices.largest_bits, magnitude.magnitude_bit_width());
    }
    return prices;
}

bool assign_error_scale(RoundedPrices& prices, const Int512& bound) noexcept {
    const std::optional<unsigned> r = error_scale_of(prices, bound);
    if (r) prices.error_scale = *r;
    return r.has_value();
}

bool sums_fit(const RoundedPrices& prices, const Int512& bound) noexcept {
    return error_scale_of(prices, bound).has_value();
}

Int512 global_bound(const RoundedPrices& prices) noexcept {
    return std::max(prices.negatives, prices.magnitudes - prices.negatives);
}

Int512 side_magnitude(const RoundedPrices& prices, std::size_t i, bool negative) noexcept {
    const Int256& units = prices.units[i];
    if (units.is_negative() != negative) return Int512{};
    return widen(negative ? -units : units);
}

unsigned error_scale_within(const RoundedPrices& prices, const Int512& scaled_magnitudes, std::uint64_t q) noexcept {
    return error_scale_below(prices, scaled_magnitudes, scale_room(prices, q));
}

std::vector<uint128> merge_bands(const RoundedPrices& prices, std::uint64_t count, const Int512& cost) {
    const Int512 multiple(static_cast<std::int64_t>(count));
    const Int512 dear = std::max(cost, Int512{});
    const Int512 negatives = Int512(2) * multiple * prices.negatives;
    const Int512 ceiling = multiple * prices.magnitudes;
    // The optimum weighs 0: K M_O <= K Cost + 2 K N.
    const Int512 room = scale_room(prices, count);
    const unsigned optimum_scale = error_scale_below(prices, std::min(ceiling, multiple * dear + negatives), room);
    const auto n = static_cast<std::uint64_t>(prices.count);
    std::vector<uint128> bands(n + 1, 0);
    for (std::uint64_t m = 1; m <= n; ++m) {
        const auto band = [&](unsigned r) {
            return error_in_units(prices, count * m, optimum_scale) + error_in_units(prices, count * m, r);
        };
        unsigned r = prices.error_scale;
        for (;;) {
            const Int512 weighed = Int512(static_cast<std::int64_t>(m)) * dear + negatives + wide(band(r));
            const Int512 scaled = std::min(ceiling, weighed);
            const unsigned next = error_scale_below(prices, scaled, room);
            if (next <= r) break;
            r = next;
        }
        bands[m] = std::max(bands[m - 1], band(r));
    }
    return bands;
}

uint128 error_in_units(const RoundedPrices& prices, std::uint64_t factor, unsigned error_scale) noexcept {
    const uint128 f = factor;
    if (error_scale <= prices.scale) return f * pow10_u128[prices.scale - error_scale];
    const uint128 divisor = pow10_u128[error_scale - prices.scale];
    return (f + divisor - 1) / divisor;
}

}  // namespace kestrava::planner
