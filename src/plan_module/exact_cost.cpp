// The sum of exact_cost.hpp: digits added place by place, carried once at the end.
#include "plan_module/exact_cost.hpp"

#include <algorithm>

namespace kestrava::plan_module {

namespace {

struct Shape {
    bool negative = false;
    std::size_t whole = 0;     // digits before the point
    std::size_t decimals = 0;  // digits after it
};

Shape shape_of(std::string_view text) {
    Shape shape;
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
void add_digits(std::string_view text, const Shape& shape, std::size_t scale, std::vector<std::uint32_t>& sums) {
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

}  // namespace

std::string exact_cost(std::span<const std::string_view> prices, const IndexList& chosen, CostScratch& scratch) {
    std::size_t scale = 0;
    std::size_t whole = 1;
    for (const std::size_t i : chosen) {
        const Shape shape = shape_of(prices[i]);
        scale = std::max(scale, shape.decimals);
        whole = std::max(whole, shape.whole);
    }
    // Room for the carry of up to 10^4 summands.
    const std::size_t places = scale + whole + 5;
    scratch.positive.assign(places, 0);
    scratch.negative.assign(places, 0);
    for (const std::size_t i : chosen) {
        const Shape shape = shape_of(prices[i]);
        add_digits(prices[i], shape, scale, shape.negative ? scratch.negative : scratch.positive);
    }
    carry(scratch.positive);
    carry(scratch.negative);
    const bool negative = below(scratch.positive, scratch.negative);
    if (negative) scratch.positive.swap(scratch.negative);
    subtract(scratch.positive, scratch.negative);
    return written(scratch.positive, scale, negative);
}

}  // namespace kestrava::plan_module
