// FunctionDescription: the table of a function's parameters that drives argument binding
// and its messages, and the description of get_cheapest_periods.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace kestrava::module {

struct KeywordOnlyParameter {
    std::string_view name;
    bool required;
};

struct FunctionDescription {
    std::string_view class_name;  // empty: a plain function
    std::string_view function_name;
    // Every parameter that may be given by position, in order; the first
    // positional_only_parameters of them may not be given by keyword.
    std::span<const std::string_view> positional_parameter_names;
    std::size_t positional_only_parameters;
    std::size_t required_positional_parameters;  // the first ones
    std::span<const KeywordOnlyParameter> keyword_only_parameters;

    // Slots the binder fills: the positional parameters, then the keyword-only ones.
    constexpr std::size_t slot_count() const noexcept {
        return positional_parameter_names.size() + keyword_only_parameters.size();
    }
};

// get_cheapest_periods(prices, low_price_threshold, min_selections, min_consecutive_periods,
//                      max_gap_between_periods=0, max_gap_from_start=0, aggressive=True)
inline constexpr std::array<std::string_view, 7> get_cheapest_periods_parameters{
    "prices",
    "low_price_threshold",
    "min_selections",
    "min_consecutive_periods",
    "max_gap_between_periods",
    "max_gap_from_start",
    "aggressive",
};

inline constexpr FunctionDescription get_cheapest_periods_description{
    .class_name = {},
    .function_name = "get_cheapest_periods",
    .positional_parameter_names = get_cheapest_periods_parameters,
    .positional_only_parameters = 0,
    .required_positional_parameters = 4,
    .keyword_only_parameters = {},
};

// Slot numbers of get_cheapest_periods, in parameter order.
enum GetCheapestPeriodsSlot : std::size_t {
    prices_slot,
    low_price_threshold_slot,
    min_selections_slot,
    min_consecutive_periods_slot,
    max_gap_between_periods_slot,
    max_gap_from_start_slot,
    aggressive_slot,
    get_cheapest_periods_slot_count,
};

static_assert(get_cheapest_periods_description.slot_count() == get_cheapest_periods_slot_count);

}  // namespace kestrava::module
