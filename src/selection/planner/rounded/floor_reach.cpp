// The least folds and reach limits of floor_reach.hpp, and the grid arithmetic of
// decimal sums in units.
#include "selection/planner/rounded/floor_reach.hpp"

#include <algorithm>
#include <array>

#include "decimal/powers_of_ten.hpp"
#include "selection/internal_failure.hpp"

namespace kestrava::planner {
namespace {

constexpr __int128 max_coefficient = static_cast<__int128>(Decimal::max_coefficient);

__int128 power(unsigned k) noexcept { return static_cast<__int128>(pow10_u128[k]); }

// (2^96 - 1) 10^k for k <= 9: the largest sum on grid 10^k.
constexpr std::array<__int128, 10> grid_tops = [] {
    std::array<__int128, 10> tops{};
    for (std::size_t k = 0; k < tops.size(); ++k) tops[k] = max_coefficient * static_cast<__int128>(pow10_u128[k]);
    return tops;
}();
__int128 magnitude(__int128 value) noexcept { return value < 0 ? -value : value; }

// value / 10^k, towards zero. Sums past 2^96 - 1 units mostly need k = 1, where a
// multiplication by ceil(2^131 / 10) and a shift by 131 divide any 128-bit magnitude
// exactly (the error of the reciprocal, below 2^-128 per unit, never carries past the
// fraction), in place of a call to the library's 128-bit division.
__int128 quotient_of(__int128 value, unsigned k) noexcept {
    if (k != 1) return value / power(k);
    const auto size = static_cast<unsigned __int128>(magnitude(value));
    // ceil(2^131 / 10) = high_half 2^64 + low_half; the 256-bit product by 64-bit words.
    constexpr std::uint64_t low_half = 0xCCCCCCCCCCCCCCCDULL;
    constexpr std::uint64_t high_half = 0xCCCCCCCCCCCCCCCCULL;
    const auto x0 = static_cast<std::uint64_t>(size);
    const auto x1 = static_cast<std::uint64_t>(size >> 64);
    const unsigned __int128 low = static_cast<unsigned __int128>(x0) * low_half;
    const unsigned __int128 first = static_cast<unsigned __int128>(x1) * low_half;
    const unsigned __int128 second = static_cast<unsigned __int128>(x0) * high_half + (low >> 64);  // no wrap
    const unsigned __int128 middle = first + second;
    const unsigned __int128 carry = middle < first ? 1 : 0;  // into bit 128 of the middle words
    const unsigned __int128 top = static_cast<unsigned __int128>(x1) * high_half + (middle >> 64) + (carry << 64);
    const auto quotient = static_cast<__int128>(top >> 3);
    return value < 0 ? -quotient : quotient;
}

// value / 10^k rounded half to even, as decimal addition rounds.
__int128 rounded_quotient(__int128 value, unsigned k) noexcept {
    const __int128 divisor = power(k);
    const __int128 quotient = quotient_of(value, k);  // towards zero
    const __int128 twice_rest = 2 * magnitude(value - quotient * divisor);
    const bool away = twice_rest > divisor || (twice_rest == divisor && (quotient & 1) != 0);
    return away ? quotient + (value < 0 ? -1 : 1) : quotient;
}

}  // namespace

// Sums stay below 2^121 (floor_reach.hpp), below (2^96 - 1) 10^9: k never passes 9,
// and (2^96 - 1) 10^k never leaves 128 bits.
unsigned SumUnits::grid_of(__int128 value) const noexcept {
    const __int128 size = magnitude(value);
    for (unsigned k = 0; k <= scale_; ++k) {
        if (k == 9 || size <= grid_tops[k]) return k;
    }
    return Decimal::max_scale + 1;
}

__int128 SumUnits::units(const Decimal& value) const noexcept {
    const auto coefficient = static_cast<__int128>(value.coefficient());
    const __int128 size = value.scale() <= scale_ ? coefficient * power(scale_ - value.scale())
                                                  : coefficient / power(value.scale() - scale_);
    return value.is_negative() ? -size : size;
}

// Past 2^96 - 1 the values on grid 10^k end at (2^96 - 1) 10^(k - 1) on the finer
// grid, which may lie above the last multiple of 10^k below `value`.
std::optional<__int128> SumUnits::round_down(__int128 value) const noexcept {
    if (magnitude(value) <= max_coefficient) return value;
    const unsigned k = grid_of(value);
    if (value > 0) {
        if (k > scale_) return max_coefficient * power(scale_);
        return std::max(quotient_of(value, k) * power(k), max_coefficient * power(k - 1));
    }
    if (k > scale_) return std::nullopt;
    const __int128 size = -value;
    return -(quotient_of(size + power(k) - 1, k) * power(k));
}

// The finest grid first: a sum that fits at scale s is exact; else the coarsest grid
// it needs, or the next one when rounding carries past 2^96 - 1.
std::optional<__int128> SumUnits::rounded_sum(__int128 exact) const noexcept {
    if (magnitude(exact) <= max_coefficient) return exact;
    for (unsigned k = std::max(grid_of(exact), 2U) - 1; k <= scale_; ++k) {
        const __int128 kept = rounded_quotient(exact, k);
        if (magnitude(kept) <= max_coefficient) return kept * power(k);
    }
    return std::nullopt;
}

// H(limit) of floor_reach.hpp point 2. Within 96 bits at scale s nothing above the
// limit rounds down to it. Past that, the exact sums within half a step of the
// limit's grid round to it, the half itself when the limit's digit is even: try that
// first. Every exact sum w rounds within half a step of its own grid, at most 10^k at
// the limit's magnitude or below, so limit + 10^(k+1) rounds above the limit: where
// the first guess fails (at the edge of a grid), bisect between the two.
std::optional<__int128> SumUnits::limit_before(__int128 limit, __int128 price) const noexcept {
    if (magnitude(limit) <= max_coefficient) return round_down(limit - price);
    const auto within = [&](__int128 exact) {
        const std::optional<__int128> sum = rounded_sum(exact);
        return sum ? *sum <= limit : exact < 0;
    };
    // Past (2^96 - 1) 10^(k - 1) a sum a decimal holds lies on the grid 10^k.
    const unsigned k = grid_of(limit);
    const __int128 step = power(k);
    // Inside one grid (a step of room on either side) the half rounds to the even digit.
    const __int128 half = limit + step / 2 - (quotient_of(limit, k) % 2 != 0 ? 1 : 0);
    const __int128 size = magnitude(limit);
    if (k <= 9 && size - step > grid_tops[k - 1] && size + step <= grid_tops[k]) return round_down(half - price);
    for (const __int128 guess : {half, half - 1, half + 1}) {
        if (within(guess) && !within(guess + 1)) return round_down(guess - price);
    }
    __int128 highest = limit;
    __int128 above = limit + 10 * step;
    while (above - highest > 1) {
        const __int128 middle = highest + (above - highest) / 2;
        (within(middle) ? highest : above) = middle;
    }
    return round_down(highest - price);
}

Decimal SumUnits::decimal(__int128 value) const noexcept {
    const unsigned k = magnitude(value) <= max_coefficient ? 0 : grid_of(value);
    const auto size = static_cast<uint128>(quotient_of(magnitude(value), k));
    return Decimal::from_parts(value < 0, size, scale_ - k);
}

FloorReach::FloorReach(std::span<const Item> items, unsigned scale, Value value)
    : units_(scale), value_(value) {
    prices_.reserve(items.size());
    for (const Item& item : items) prices_.push_back(units_.units(item.price));
    slots_.assign(8192, Slot{});
    states_.reserve(4096);
    steps_.reserve(16384);
    added_.reserve(16384);
    expanded_.reserve(4096);
}

// Open addressing over a power-of-two table, at most half full; keys pack into 20 bits.
std::uint32_t FloorReach::packed(const PrefixState& key) noexcept {
    return static_cast<std::uint32_t>(key.period) | static_cast<std::uint32_t>(key.count) << 5 |
           static_cast<std::uint32_t>(key.gap_end + 1) << 10 | static_cast<std::uint32_t>(key.chosen) << 15;
}

std::size_t FloorReach::slot_of(std::uint32_t key) const noexcept {
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> 40) & mask;
    while (slots_[slot].state >= 0 && slots_[slot].key != key) slot = (slot + 1) & mask;
    return slot;
}

int FloorReach::state(const PrefixState& key, std::uint32_t tag) {
    const std::uint32_t code = packed(key) | tag << 20;
    std::size_t slot = slot_of(code);
    if (slots_[slot].state >= 0) return slots_[slot].state;
    if (2 * (states_.size() + 1) > slots_.size()) {
        std::vector<Slot> kept(2 * slots_.size());
        kept.swap(slots_);
        for (const Slot& old : kept) {
            if (old.state >= 0) slots_[slot_of(old.key)] = old;
        }
        slot = slot_of(code);
    }
    slots_[slot] = Slot{code, static_cast<int>(states_.size())};
    states_.emplace_back();
    return slots_[slot].state;
}

void FloorReach::expand(int state) noexcept {
    expanding_ = state;
    states_[at(state)].first_step = steps_.size();
    expanded_.push_back(state);
}

void FloorReach::record(int target, std::span<const Periods> added) {
    if (expanding_ < 0) return;
    steps_.push_back(Step{target, added_.size(), added.size()});
    added_.insert(added_.end(), added.begin(), added.end());
    ++states_[at(expanding_)].steps;
}

// The sum that goes on from the state being expanded is its least (point 1), through
// the prices added, in units (rounded_sum is the decimal addition's own value). The
// layer's bound holds every sum a merge's prefix forms, so none overflows; should
// one, the search would fail alike.
__int128 FloorReach::sum_from_expanded(std::span<const Periods> added) const {
    __int128 sum = expanding_ >= 0 ? states_[at(expanding_)].least.value_or(0) : 0;
    for (const Periods& periods : added) {
        for (int p = periods.first; p <= periods.last; ++p) {
            const std::optional<__int128> next = units_.rounded_sum(sum + prices_[static_cast<std::size_t>(p)]);
            if (!next) throw InternalFailure("Addition overflowed");
            sum = *next;
        }
    }
    return sum;
}

void FloorReach::lead_to(int target, std::span<const Periods> added) {
    const __int128 sum = sum_from_expanded(added);
    std::optional<__int128>& least = states_[at(target)].least;
    if (!least || sum < *least) least = sum;
    record(target, added);
}

void FloorReach::end(int count, std::span<const Periods> added) {
    const Decimal sum = units_.decimal(sum_from_expanded(added));
    const Decimal value =
        value_ == Value::cost ? sum : divide(sum, Decimal::from_unsigned(static_cast<std::uint64_t>(count))).value;
    if (!least_ || value < *least_) least_ = value;
    record(-1 - count, added);
}

// Whether a sum (one a decimal holds) over `count` periods ends at V or below.
bool FloorReach::value_within(__int128 sum, int count) const noexcept {
    const Decimal held = units_.decimal(sum);
    if (value_ == Value::cost) return !(least_value_ < held);
    return !(least_value_ < divide(held, Decimal::from_unsigned(static_cast<std::uint64_t>(count))).value);
}

// The largest sum of `count` periods whose value is at most V, within `low` ..
// `high`, where value_within holds at low and not at high.
__int128 FloorReach::bisect_end_limit(__int128 low, __int128 high, int count) const noexcept {
    while (high - low > 1) {
        const __int128 middle = low + (high - low) / 2;
        (value_within(*units_.round_down(middle), count) ? low : high) = middle;
    }
    return *units_.round_down(low);
}

// An average's rounding unit near V is at most 10^(s - q + 1) units of the sum per
// period (q the scale of V, one less where a carry costs a digit), so the limit lies
// within count times that of count V. Should that bracket fail (it does not, but
// nothing is lost by checking), it widens, and at last spans every sum.
std::optional<__int128> FloorReach::average_limit(int count) const noexcept {
    const unsigned scale = least_value_.scale();
    const __int128 centre = units_.units(least_value_) * count;
    __int128 width = power(scale >= units_.scale() ? 1 : units_.scale() - scale + 1) * count + count + 1;
    for (int tries = 0; tries < 3; ++tries, width *= 1000) {
        const std::optional<__int128> low = units_.round_down(centre - width);
        const std::optional<__int128> high = units_.round_down(centre + width);
        if (low && high && value_within(*low, count) && !value_within(*high, count)) {
            return bisect_end_limit(*low, *high, count);
        }
    }
    const std::optional<__int128> low = units_.round_down(-sum_bound);
    const std::optional<__int128> high = units_.round_down(sum_bound);
    if (!low || !value_within(*low, count)) return std::nullopt;
    if (value_within(*high, count)) return high;
    return bisect_end_limit(*low, *high, count);
}

std::optional<__int128> FloorReach::end_limit(int count) {
    const auto known = end_limits_.find(count);
    if (known != end_limits_.end()) return known->second;
    const std::optional<__int128> found =
        value_ == Value::cost ? std::optional<__int128>(units_.units(least_value_)) : average_limit(count);
    end_limits_.emplace(count, found);
    return found;
}

// Back through the prices a step adds, last to first.
std::optional<__int128> FloorReach::limit_through(std::optional<__int128> limit, const Step& step) const noexcept {
    for (std::size_t i = step.first_added + step.added; i-- > step.first_added && limit;) {
        for (int p = added_[i].last; p >= added_[i].first && limit; --p) {
            limit = units_.limit_before(*limit, prices_[static_cast<std::size_t>(p)]);
        }
    }
    return limit;
}

bool FloorReach::settle() {
    if (!least_) return false;
    least_value_ = *least_;
    for (auto state = expanded_.rbegin(); state != expanded_.rend(); ++state) {
        State& source = states_[at(*state)];
        for (std::size_t i = source.first_step; i < source.first_step + source.steps; ++i) {
            const Step& step = steps_[i];
            const std::optional<__int128> after =
                step.target < 0 ? end_limit(-1 - step.target) : states_[at(step.target)].limit;
            const std::optional<__int128> before = limit_through(after, step);
            if (before && (!source.limit || *source.limit < *before)) source.limit = before;
        }
    }
    return true;
}

bool FloorReach::may_reach(const PrefixState& key, const Decimal& sum) const noexcept {
    const int found = slots_[slot_of(packed(key))].state;
    if (found < 0) return true;
    const std::optional<__int128>& limit = states_[at(found)].limit;
    return limit && units_.units(sum) <= *limit;
}

}  // namespace kestrava::planner
