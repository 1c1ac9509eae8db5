// The sum of exact_cost.hpp: digits added place by place, carried once at the end.
#include "table/exact_cost.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "selection/planner/integer_ladder.hpp"

namespace kestrava::table {

namespace {

struct DigitCounts {
    bool negative = false;
    std::size_t whole = 0;     // digits before the point
    std::size_t decimals = 0;  // digits after it
};

DigitCounts digit_counts(std::string_view text) {
    DigitCounts shape;
    bool after_point = false;
    for (const char c : text) {
        if (c == '-') shape.negative = true;
        if (c == '.') after_point = true;
        if (c < '0' || c > '9') continue;
        ++(after_point ? shape.decimals : shape.whole);
    }
    return shape;
}

// Adds the digits of `text` into `sums`, whose place 0 is 10^-scale.
void add_digits(std::string_view text, const DigitCounts& shape, std::size_t scale, std::vector<std::uint32_t>& sums) {
    std::size_t place = scale + shape.whole;
    for (const char c : text) {
        if (c < '0' || c > '9') continue;
        sums[--place] += static_cast<std::uint32_t>(c - '0');
    }
}

// Carries so that every place holds one digit; the array is long enough for the carry.
void carry(std::vector<std::uint32_t>& sums) {
    std::uint32_t carried = 0;
    for (std::uint32_t& place : sums) {
        place += carried;
        carried = place / 10;
        place %= 10;
    }
}

// Whether a < b, both carried and of one length.
bool below(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    return std::lexicographical_compare(a.rbegin(), a.rend(), b.rbegin(), b.rend());
}

// high - low in place in `high`. Precondition: low <= high, both carried.
void subtract(std::vector<std::uint32_t>& high, const std::vector<std::uint32_t>& low) {
    std::uint32_t borrow = 0;
    for (std::size_t i = 0; i < high.size(); ++i) {
        const std::uint32_t take = low[i] + borrow;
        borrow = high[i] < take ? 1 : 0;
        high[i] = high[i] + 10 * borrow - take;
    }
}

std::string written(const std::vector<std::uint32_t>& digits, std::size_t scale, bool negative) {
    std::size_t top = digits.size();
    while (top > scale + 1 && digits[top - 1] == 0) --top;
    const bool zero = std::all_of(digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(top),
                                  [](std::uint32_t digit) { return digit == 0; });
    std::string text = negative && !zero ? "-" : "";
    for (std::size_t place = top; place > 0; --place) {
        if (place == scale && scale != 0) text += '.';
        text += static_cast<char>('0' + digits[place - 1]);
    }
    return text;
}

// The common case in one machine word. A text of at most 18 digits and 15 decimals,
// brought to at most 15 decimals, is below 10^33; 10^4 of them sum below 10^37 < 2^127.
constexpr std::size_t short_digits = 18;

using int128 = __int128;
using uint128 = unsigned __int128;

// False when the text has more digits or decimals than the short path takes.
bool read_short_cost_price(std::string_view text, ShortPrice& price) {
    std::int64_t units = 0;
    std::size_t digits = 0;
    std::size_t decimals = 0;
    bool after_point = false;
    bool negative = false;
    for (const char c : text) {
        if (c == '-') negative = true;
        if (c == '.') after_point = true;
        if (c < '0' || c > '9') continue;
        if (++digits > short_digits) return false;
        units = units * 10 + (c - '0');
        if (after_point) ++decimals;
    }
    if (decimals > short_cost_decimals) return false;
    price = {negative ? -units : units, decimals};
    return true;
}

// The digits of `magnitude`, least significant first; one machine word at a time, as
// 128-bit division costs a library call per digit.
std::size_t reversed_digits(uint128 magnitude, char* reversed) {
    std::size_t length = 0;
    while (magnitude > UINT64_MAX) {
        reversed[length++] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
        magnitude /= 10;
    }
    auto word = static_cast<std::uint64_t>(magnitude);
    do {
        reversed[length++] = static_cast<char>('0' + static_cast<int>(word % 10));
        word /= 10;
    } while (word != 0);
    return length;
}

std::string short_written(int128 sum, std::size_t scale) {
    const uint128 magnitude = sum < 0 ? -static_cast<uint128>(sum) : static_cast<uint128>(sum);
    char reversed[48];  // 2^127 has 39 digits, and the padding below makes at most 16
    std::size_t length = reversed_digits(magnitude, reversed);
    while (length < scale + 1) reversed[length++] = '0';
    std::string text;
    text.reserve(length + 2);
    if (sum < 0) text += '-';
    for (std::size_t place = length; place > 0; --place) {
        if (place == scale && scale != 0) text += '.';
        text += reversed[place - 1];
    }
    return text;
}

std::optional<std::string> short_cost(std::span<const std::string_view> prices, const IndexList& chosen,
                                      std::vector<ShortPrice>& read) {
    read.clear();
    std::size_t scale = 0;
    for (const std::size_t i : chosen) {
        ShortPrice price;
        if (!read_short_cost_price(prices[i], price)) return std::nullopt;
        scale = std::max(scale, price.decimals);
        read.push_back(price);
    }
    int128 sum = 0;
    for (const ShortPrice& price : read) {
        int128 term = price.units;
        for (std::size_t d = price.decimals; d < scale; ++d) term *= 10;
        sum += term;
    }
    return short_written(sum, scale);
}

}  // namespace

std::optional<std::string> exact_cost(const planner::ShortPrices& prices, const IndexList& chosen) {
    std::size_t written = 0;
    for (const std::size_t i : chosen) written = std::max<std::size_t>(written, prices.written[i]);
    if (written > short_cost_decimals) return std::nullopt;
    // Each unit count is below 10^18 and at most max_periods are chosen, so the sum is
    // below 10^22, and below 10^37 < 2^127 once brought up by at most 15 places.
    static_assert(planner::max_periods <= 10'000);
    int128 sum = 0;
    for (const std::size_t i : chosen) sum += prices.units[i];
    // A chosen price has no more decimals than it is written with once its trailing
    // zeros are dropped: below the common scale every term, and so the sum, divides.
    const auto common = static_cast<std::size_t>(prices.common_scale);
    for (std::size_t place = common; place < written; ++place) sum *= 10;
    for (std::size_t place = written; place < common; ++place) sum /= 10;
    return short_written(sum, written);
}

std::string exact_cost(std::span<const std::string_view> prices, const IndexList& chosen, CostScratch& scratch) {
    if (std::optional<std::string> cost = short_cost(prices, chosen, scratch.short_prices)) return std::move(*cost);
    std::size_t scale = 0;
    std::size_t whole = 1;
    for (const std::size_t i : chosen) {
        const DigitCounts shape = digit_counts(prices[i]);
        scale = std::max(scale, shape.decimals);
        whole = std::max(whole, shape.whole);
    }
    // Room for the carry of up to 10^4 summands.
    const std::size_t places = scale + whole + 5;
    scratch.positive.assign(places, 0);
    scratch.negative.assign(places, 0);
    for (const std::size_t i : chosen) {
        const DigitCounts shape = digit_counts(prices[i]);
        add_digits(prices[i], shape, scale, shape.negative ? scratch.negative : scratch.positive);
    }
    carry(scratch.positive);
    carry(scratch.negative);
    const bool negative = below(scratch.positive, scratch.negative);
    if (negative) scratch.positive.swap(scratch.negative);
    subtract(scratch.positive, scratch.negative);
    return written(scratch.positive, scale, negative);
}

}  // namespace kestrava::table
