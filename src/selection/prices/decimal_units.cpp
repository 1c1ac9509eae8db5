// The decimal adapter of decimal_units.hpp.
#include "selection/prices/decimal_units.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "decimal/powers_of_ten.hpp"

namespace kestrava::planner {
namespace {

constexpr unsigned word_digits = ExactDecimal::word_digits;
constexpr std::uint64_t word_limit = 1'000'000'000'000'000'000;  // 10^18

// The coefficient with the zeros beyond `scale` dropped: the value's digits at its
// reduced scale. Only zero digits are dropped.
uint128 reduced_digits(const Decimal& value, unsigned scale) noexcept {
    return value.coefficient() / pow10_u128[value.scale() - scale];
}

}  // namespace

bool DecimalUnitsWriter::write_words(std::span<const Item> items, const Decimal* threshold, PriceUnits& units) {
    ShortPrices& words = units.words_;
    unsigned common = 0;
    for (const Item& item : items) common = std::max(common, reduced_scale(item.price));
    if (common > word_digits) return false;
    words.units.resize(items.size());
    words.written.resize(items.size());
    std::uint64_t largest = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Decimal& price = items[i].price;
        const unsigned scale = std::min(price.scale(), common);
        const uint128 digits = reduced_digits(price, scale);
        // digits * 10^(common - scale) < 10^18, asked without the product.
        if (digits >= word_limit / pow10_u128[common - scale]) return false;
        const auto magnitude = static_cast<std::uint64_t>(digits * pow10_u128[common - scale]);
        words.units[i] = price.is_negative() ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
        words.written[i] = static_cast<std::uint8_t>(price.scale());
        largest = std::max(largest, magnitude);
    }
    words.largest_magnitude = largest;
    words.common_scale = static_cast<int>(common);
    units.in_words_ = true;
    if (threshold == nullptr) return true;
    const unsigned own_scale = reduced_scale(*threshold);
    const uint128 digits = reduced_digits(*threshold, own_scale);
    return digits < word_limit && set_short_threshold(threshold->is_negative(), static_cast<std::uint64_t>(digits),
                                                      static_cast<int>(own_scale), words);
}

// Rare (units of 18 digits or more): each decimal's own text through the exact reader,
// which reads every text that to_string writes.
void DecimalUnitsWriter::write_digits(std::span<const Item> items, const Decimal* threshold, PriceUnits& units) {
    std::vector<std::string> texts;
    texts.reserve(items.size());
    for (const Item& item : items) texts.push_back(item.price.to_string());
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    units.in_words_ = false;
    read_exact_prices(views, threshold != nullptr ? threshold->to_string() : std::string("0"), units.digits_);
}

void decimal_price_units(std::span<const Item> items, const Decimal& threshold, PriceUnits& units) {
    if (!DecimalUnitsWriter::write_words(items, &threshold, units)) {
        DecimalUnitsWriter::write_digits(items, &threshold, units);
    }
}

void decimal_price_units(std::span<const Item> items, PriceUnits& units) {
    if (!DecimalUnitsWriter::write_words(items, nullptr, units)) DecimalUnitsWriter::write_digits(items, nullptr, units);
}

}  // namespace kestrava::planner
