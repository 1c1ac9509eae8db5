// The decimal adapter of decimal_units.hpp.
#include "selection/prices/decimal_units.hpp"

#include <algorithm>
#include <cstdint>

#include "decimal/powers_of_ten.hpp"
#include "selection/planner/fixed_int.hpp"
#include "selection/planner/integer_ladder.hpp"

namespace kestrava::planner {
namespace {

constexpr unsigned word_digits = ExactDecimal::word_digits;
constexpr std::uint64_t word_limit = 1'000'000'000'000'000'000;  // 10^18

// The coefficient with the zeros beyond `scale` dropped: the value's digits at that
// scale, no smaller than its reduced one. Only zero digits are dropped.
uint128 digits_at(const Decimal& value, unsigned scale) noexcept {
    return value.scale() > scale ? value.coefficient() / pow10_u128[value.scale() - scale] : value.coefficient();
}

// The bit width of digits * 10^padding, a product below 2^190.
unsigned padded_bits(uint128 digits, unsigned padding) noexcept {
    if (digits <= max_u128_over_pow10[padding]) return unsigned_bit_width(digits * pow10_u128[padding]);
    const Int256 product = Int256::from_int128(static_cast<__int128>(digits)) *
                           Int256::from_int128(static_cast<__int128>(pow10_u128[padding]));
    return product.magnitude_bit_width();
}

std::int8_t side_of(const Decimal& price, const Decimal& threshold) noexcept {
    return price < threshold ? std::int8_t{-1} : price == threshold ? std::int8_t{0} : std::int8_t{1};
}

}  // namespace

bool DecimalUnitsWriter::write_words(std::span<const Item> items, unsigned common_scale, const Decimal* threshold,
                                     PriceUnits& units) {
    if (common_scale > word_digits) return false;
    ShortPrices& words = units.words_;
    words.units.resize(items.size());
    words.written.resize(items.size());
    std::uint64_t largest = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Decimal& price = items[i].price;
        const uint128 digits = digits_at(price, common_scale);
        const unsigned padding = common_scale - std::min(price.scale(), common_scale);
        // digits * 10^padding < 10^18, asked without the product.
        if (digits >= word_limit / pow10_u128[padding]) return false;
        const auto magnitude = static_cast<std::int64_t>(digits * pow10_u128[padding]);
        words.units[i] = price.is_negative() ? -magnitude : magnitude;
        words.written[i] = static_cast<std::uint8_t>(price.scale());
        largest = std::max(largest, static_cast<std::uint64_t>(magnitude));
    }
    words.largest_magnitude = largest;
    words.common_scale = static_cast<int>(common_scale);
    if (threshold != nullptr) {
        const unsigned own_scale = reduced_scale(*threshold);
        const uint128 digits = digits_at(*threshold, own_scale);
        if (digits >= word_limit || !set_short_threshold(threshold->is_negative(), static_cast<std::uint64_t>(digits),
                                                         static_cast<int>(own_scale), words)) {
            return false;
        }
    }
    units.form_ = PriceUnits::Form::words;
    return true;
}

void DecimalUnitsWriter::write_decimals(std::span<const Item> items, unsigned common_scale, const Decimal* threshold,
                                        PriceUnits& units) {
    PriceUnits::Decimals& decimals = units.decimals_;
    decimals.units.resize(items.size());
    decimals.sides.resize(threshold != nullptr ? items.size() : 0);
    decimals.common_scale = common_scale;
    decimals.largest_bits = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Decimal& price = items[i].price;
        const uint128 digits = digits_at(price, common_scale);
        // Zero takes no padding, whatever the scale.
        const unsigned padding = digits == 0 ? 0 : common_scale - std::min(price.scale(), common_scale);
        decimals.units[i] = PriceUnits::DecimalUnit{digits, padding, price.is_negative()};
        decimals.largest_bits = std::max(decimals.largest_bits, padded_bits(digits, padding));
        if (threshold != nullptr) decimals.sides[i] = side_of(price, *threshold);
    }
    units.form_ = PriceUnits::Form::decimals;
}

namespace {

void adapt(std::span<const Item> items, const Decimal* threshold, PriceUnits& units) {
    unsigned common_scale = 0;
    for (const Item& item : items) common_scale = std::max(common_scale, reduced_scale(item.price));
    if (!DecimalUnitsWriter::write_words(items, common_scale, threshold, units)) {
        DecimalUnitsWriter::write_decimals(items, common_scale, threshold, units);
    }
}

}  // namespace

void decimal_price_units(std::span<const Item> items, const Decimal& threshold, PriceUnits& units) {
    adapt(items, &threshold, units);
}

void decimal_price_units(std::span<const Item> items, PriceUnits& units) { adapt(items, nullptr, units); }

}  // namespace kestrava::planner
