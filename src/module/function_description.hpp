// The table of get_cheapest_periods's parameters: names, how many are required, and the
// defaults of the others. The argument binder, its messages and the docstring's
// signature line are all built from it. Every parameter may be given by position or by
// keyword.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

namespace kestrava::module {

// What an omitted argument stands for: nothing (the parameter is required), a count, or
// the flag.
using DefaultValue = std::variant<std::monostate, std::uint64_t, bool>;

struct Parameter {
    std::string_view name;
    DefaultValue default_value;
};

struct FunctionDescription {
    std::string_view function_name;
    std::span<const Parameter> parameters;  // in positional order
    std::size_t required_parameters;        // the leading ones, those without a default
};

// get_cheapest_periods(prices, low_price_threshold, min_selections, min_consecutive_periods,
//                      max_gap_between_periods=0, max_gap_from_start=0, aggressive=True)
inline constexpr std::array<Parameter, 7> get_cheapest_periods_parameters{{
    {"prices", {}},
    {"low_price_threshold", {}},
    {"min_selections", {}},
    {"min_consecutive_periods", {}},
    {"max_gap_between_periods", std::uint64_t{0}},
    {"max_gap_from_start", std::uint64_t{0}},
    {"aggressive", true},
}};

inline constexpr FunctionDescription get_cheapest_periods_description{
    .function_name = "get_cheapest_periods",
    .parameters = get_cheapest_periods_parameters,
    .required_parameters = 4,
};

// The required parameters are exactly those without a default.
static_assert([] {
    for (std::size_t i = 0; i < get_cheapest_periods_parameters.size(); ++i) {
        const bool required = std::holds_alternative<std::monostate>(get_cheapest_periods_parameters[i].default_value);
        if (required != (i < get_cheapest_periods_description.required_parameters)) {
            return false;
        }
    }
    return true;
}());

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

static_assert(get_cheapest_periods_parameters.size() == get_cheapest_periods_slot_count);

}  // namespace kestrava::module
