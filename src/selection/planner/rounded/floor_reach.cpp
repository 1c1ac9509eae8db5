// The least folds and reach limits of floor_reach.hpp, and the grid arithmetic of
// decimal sums in units.
#include "selection/planner/rounded/floor_reach.hpp"

#include <algorithm>
#include <array>
#include <bit>

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

// Below -(2^96 - 1) 10^s units no decimal holds a sum at scale s < 9; past that grid_of
// stops at 9, whose top lies beyond every sum formed.
__int128 SumUnits::round_down_within(__int128 value) const noexcept {
    const __int128 least = scale_ < 9 ? -grid_tops[scale_] : -sum_bound;
    return *round_down(std::max(value, least));
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

namespace {

// Sums and limits past every one formed (floor_reach.hpp: below 2^121).
constexpr __int128 no_sum = static_cast<__int128>(~static_cast<unsigned __int128>(0) >> 1);
constexpr __int128 no_limit = -no_sum - 1;

}  // namespace

FloorReach::FloorReach(std::span<const Item> items, unsigned scale, Value value)
    : units_(scale), value_(value) {
    prices_.reserve(items.size());
    tens_.reserve(items.size());
    sums_.assign(items.size() + 1, 0);
    magnitudes_.assign(items.size() + 1, 0);
    for (std::size_t p = 0; p < items.size(); ++p) {
        prices_.push_back(units_.units(items[p].price));
        sums_[p + 1] = sums_[p] + prices_[p];
        magnitudes_[p + 1] = magnitudes_[p] + magnitude(prices_[p]);
        // Floor division: the rest is never negative.
        __int128 tens = prices_[p] / 10;
        if (tens * 10 > prices_[p]) --tens;
        tens_.push_back(Tens{tens, static_cast<int>(prices_[p] - 10 * tens)});
    }
    // Room for the sweeps of 28 periods that fold least: a few thousand states.
    entries_.assign(2048, Entry{});
    nodes_.reserve(1024);
    least_.reserve(8192);
    limit_.reserve(8192);
    steps_.reserve(4096);
    expanded_.reserve(1024);
    end_least_.assign(items.size() + 1, no_sum);
    end_limits_.assign(items.size() + 1, no_limit);
    end_known_.assign(items.size() + 1, 0);
}

// Open addressing over a power-of-two table, at most half full; keys pack into 17 bits.
std::uint32_t FloorReach::packed(const PrefixState& key, std::uint32_t tag) noexcept {
    return static_cast<std::uint32_t>(key.period) | static_cast<std::uint32_t>(key.count) << 5 |
           static_cast<std::uint32_t>(key.gap_end + 1) << 10 | tag << 15;
}

std::size_t FloorReach::entry_of(std::uint32_t key) const noexcept {
    const std::size_t mask = entries_.size() - 1;
    std::size_t entry = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> 40) & mask;
    while (entries_[entry].node >= 0 && entries_[entry].key != key) entry = (entry + 1) & mask;
    return entry;
}

void FloorReach::grow_entries() {
    std::vector<Entry> kept(2 * entries_.size());
    kept.swap(entries_);
    for (const Entry& old : kept) {
        if (old.node >= 0) entries_[entry_of(old.key)] = old;
    }
}

int FloorReach::node(const PrefixState& key, std::uint32_t tag, int lowest, int highest) {
    const std::uint32_t code = packed(key, tag);
    std::size_t entry = entry_of(code);
    if (entries_[entry].node >= 0) return entries_[entry].node;
    if (2 * (nodes_.size() + 1) > entries_.size()) {
        grow_entries();
        entry = entry_of(code);
    }
    entries_[entry] = Entry{code, static_cast<int>(nodes_.size())};
    Node made;
    made.first_slot = static_cast<std::uint32_t>(least_.size());
    made.lowest = lowest;
    made.highest = highest;
    nodes_.push_back(made);
    least_.resize(least_.size() + static_cast<std::size_t>(highest - lowest + 1), no_sum);
    limit_.resize(least_.size(), no_limit);
    return entries_[entry].node;
}

void FloorReach::expand(int node) noexcept {
    expanding_ = node;
    Node& expanded = nodes_[at(node)];
    expanded.first_step = static_cast<std::uint32_t>(steps_.size());
    expanded.expanded = true;
    expanded_.push_back(node);
}

// A node's counts lie in its range. Nodes made by a sweep in its order always hold
// what reaches them; should one not, or should a node be reached once expanded, the
// sweep is marked broken and proves nothing (settle).
bool FloorReach::holds(int node, Counts counts, int size) const noexcept {
    const Node& held = nodes_[at(node)];
    const std::uint64_t shifted = static_cast<std::uint64_t>(counts) << size;
    const std::uint64_t range = ((std::uint64_t{2} << held.highest) - 1) & ~((std::uint64_t{1} << held.lowest) - 1);
    return !held.expanded && (shifted & ~range) == 0;
}

// The least sum of the node being expanded with `count` periods chosen; the start's,
// before any, is nothing.
__int128 FloorReach::least_at(int count) const noexcept {
    return expanding_ >= 0 ? least_[slot(expanding_, count)] : 0;
}

// The sum that goes on from a least (point 1) through the prices added, in units
// (rounded_sum is the decimal addition's own value). While the magnitudes added stay
// within 96 bits of the sum's, every partial sum fits and is exact. The layer's bound
// holds every sum a merge's prefix forms, so none overflows; should one, the search
// would fail alike.
__int128 FloorReach::through(__int128 sum, Periods added) const {
    if (added.size() <= 0) return sum;
    const auto first = static_cast<std::size_t>(added.first);
    const auto past = static_cast<std::size_t>(added.last) + 1;
    if (magnitude(sum) + magnitudes_[past] - magnitudes_[first] <= max_coefficient) return sum + sums_[past] - sums_[first];
    for (std::size_t p = first; p < past; ++p) sum = plus(sum, p);
    return sum;
}

// One price added to a sum: exact when the result fits 96 bits at scale s, else on the
// grid of tens (on_tens) or as rounded_sum finds it.
__int128 FloorReach::plus(__int128 sum, std::size_t p) const {
    const __int128 exact = sum + prices_[p];
    if (magnitude(exact) <= max_coefficient) return exact;
    if (const std::optional<__int128> tens = on_tens(sum, p)) return *tens;
    const std::optional<__int128> next = units_.rounded_sum(exact);
    if (!next) throw InternalFailure("Addition overflowed");
    return *next;
}

// The sum past 2^96 - 1 units most falling near ties form: x + c_p where x and the
// result both lie past 2^96 - 1 and the result within 10 (2^96 - 1), so that it keeps
// s - 1 decimals (rounded_sum tries that grid first, and takes it when the result
// fits). x itself is on that grid or a coarser one, x = 10 X; with c_p = 10 t + r,
// 0 <= r < 10, the sum rounds half to even to 10 (X + t) + 10 when r > 5, to
// 10 (X + t) when r < 5, and on a tie to the even one of X + t and X + t + 1.
// X + t is odd when bit 1 of x (x / 2 = 5 X, of X's parity) and bit 0 of t differ.
// nullopt when the case does not apply.
std::optional<__int128> FloorReach::on_tens(__int128 sum, std::size_t p) const noexcept {
    if (units_.scale() == 0 || magnitude(sum) <= max_coefficient || magnitude(sum + prices_[p]) <= max_coefficient) {
        return std::nullopt;
    }
    const Tens& split = tens_[p];
    const bool up = split.rest > 5 || (split.rest == 5 && (((sum >> 1) ^ split.tens) & 1) != 0);
    const __int128 rounded = sum + 10 * (split.tens + (up ? 1 : 0));
    if (magnitude(rounded) > grid_tops[1]) return std::nullopt;
    return rounded;
}

void FloorReach::lead_to(int target, Periods added, Counts counts) {
    if (counts == 0) return;
    const int size = std::max(added.size(), 0);
    if (!holds(target, counts, size)) {
        broken_ = true;
        return;
    }
    const std::ptrdiff_t from = expanding_ >= 0 ? slot_base(expanding_) : 0;
    const std::ptrdiff_t to = slot_base(target) + size;
    for (Counts left = counts; left != 0; left &= left - 1) {
        const int count = std::countr_zero(left);
        const __int128 sum = expanding_ >= 0 ? least_[static_cast<std::size_t>(from + count)] : 0;
        __int128& least = least_[static_cast<std::size_t>(to + count)];
        least = std::min(least, size == 0 ? sum : size == 1 ? plus(sum, static_cast<std::size_t>(added.first))
                                                            : through(sum, added));
    }
    nodes_[at(target)].counts |= counts << size;
    if (expanding_ < 0) return;
    steps_.push_back(Step{target, added, counts});
    ++nodes_[at(expanding_)].steps;
}

// Per count, the least sum that ends: V is the least of their values (decimal
// division is monotone in the sum), found in settle.
void FloorReach::end(Periods added, Counts counts) {
    if (counts == 0) return;
    const int size = std::max(added.size(), 0);
    if ((static_cast<std::uint64_t>(counts) << size) >> end_least_.size() != 0) {
        broken_ = true;
        return;
    }
    for (Counts left = counts; left != 0; left &= left - 1) {
        const int count = std::countr_zero(left);
        __int128& least = end_least_[static_cast<std::size_t>(count + size)];
        least = std::min(least, through(least_at(count), added));
    }
    if (expanding_ < 0) return;
    steps_.push_back(Step{-1, added, counts});
    ++nodes_[at(expanding_)].steps;
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
        const __int128 low = units_.round_down_within(centre - width);
        const __int128 high = units_.round_down_within(centre + width);
        if (value_within(low, count) && !value_within(high, count)) return bisect_end_limit(low, high, count);
    }
    const __int128 low = units_.round_down_within(-sum_bound);
    const __int128 high = units_.round_down_within(sum_bound);
    if (!value_within(low, count)) return std::nullopt;
    if (value_within(high, count)) return high;
    return bisect_end_limit(low, high, count);
}

__int128 FloorReach::end_limit(int count) {
    const auto at_count = static_cast<std::size_t>(count);
    if (end_known_[at_count] == 0) {
        const std::optional<__int128> found =
            value_ == Value::cost ? std::optional<__int128>(units_.units(least_value_)) : average_limit(count);
        end_limits_[at_count] = found.value_or(no_limit);
        end_known_[at_count] = 1;
    }
    return end_limits_[at_count];
}

// Back through the prices a step adds, last to first; as in `through`, while the
// magnitudes stay within 96 bits each step is exact.
__int128 FloorReach::back_through(__int128 limit, Periods added) const noexcept {
    if (added.size() <= 0) return limit;
    const auto first = static_cast<std::size_t>(added.first);
    const auto past = static_cast<std::size_t>(added.last) + 1;
    if (magnitude(limit) + magnitudes_[past] - magnitudes_[first] <= max_coefficient) {
        return limit - (sums_[past] - sums_[first]);
    }
    for (std::size_t p = past; p-- > first;) {
        const std::optional<__int128> before = units_.limit_before(limit, prices_[p]);
        if (!before) return no_limit;
        limit = *before;
    }
    return limit;
}

// A node's limits from those of its steps' targets that can still reach V (Dead
// states); then its own dead states are dropped, and the rest marked live.
void FloorReach::settle_node(Node& node) {
    for (std::size_t i = node.first_step; i < node.first_step + node.steps; ++i) {
        const Step& step = steps_[i];
        const int size = std::max(step.added.size(), 0);
        const Counts live = step.target < 0 ? step.counts : step.counts & (nodes_[at(step.target)].live >> size);
        for (Counts left = live; left != 0; left &= left - 1) {
            const int count = std::countr_zero(left);
            const __int128 after =
                step.target < 0 ? end_limit(count + size) : limit_[slot(step.target, count + size)];
            if (after == no_limit) continue;
            __int128& limit = limit_[node.first_slot + static_cast<std::size_t>(count - node.lowest)];
            limit = std::max(limit, back_through(after, step.added));
        }
    }
    for (Counts left = node.counts; left != 0; left &= left - 1) {
        const int count = std::countr_zero(left);
        const std::size_t slot = node.first_slot + static_cast<std::size_t>(count - node.lowest);
        if (limit_[slot] < least_[slot]) {
            limit_[slot] = no_limit;
        } else {
            node.live |= Counts{1} << count;
        }
    }
}

bool FloorReach::settle() {
    if (broken_) return false;
    std::optional<Decimal> least;
    for (std::size_t count = 0; count < end_least_.size(); ++count) {
        if (end_least_[count] == no_sum) continue;
        const Decimal sum = units_.decimal(end_least_[count]);
        const Decimal value =
            value_ == Value::cost ? sum : divide(sum, Decimal::from_unsigned(static_cast<std::uint64_t>(count))).value;
        if (!least || value < *least) least = value;
    }
    if (!least) return false;
    least_value_ = *least;
    for (auto node = expanded_.rbegin(); node != expanded_.rend(); ++node) settle_node(nodes_[at(*node)]);
    return true;
}

bool FloorReach::may_reach(const PrefixState& key, const Decimal& sum, std::uint32_t tag) const noexcept {
    const int found = entries_[entry_of(packed(key, tag))].node;
    if (found < 0) return true;
    const Node& node = nodes_[at(found)];
    if (key.chosen < node.lowest || key.chosen > node.highest || (node.counts >> key.chosen & 1) == 0) return true;
    const __int128 limit = limit_[slot(found, key.chosen)];
    return limit != no_limit && units_.units(sum) <= limit;
}

}  // namespace kestrava::planner
