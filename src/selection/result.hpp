// The selection's errors as values, and Result<T>: a value or one of those errors.
#pragma once

#include <cstdint>
#include <utility>
#include <variant>

namespace kestrava {

enum class SelectionErrorKind {
    price_not_text,                    // the price source gave no text for an element; its own error stands
    invalid_decimal,                   // a price or the threshold is not a decimal text
    prices_empty,                      // no prices
    too_many_prices,                   // more than 28 prices
    min_selections_zero,               // min_selections is 0
    min_selections_above_count,        // min_selections exceeds the number of prices
    min_consecutive_zero,              // min_consecutive_periods is 0
    min_consecutive_above_selections,  // min_consecutive_periods exceeds min_selections
    start_gap_above_gap,               // max_gap_from_start exceeds max_gap_between_periods
    no_valid_combination,              // the aggressive search found nothing (carries the item count)
    no_valid_main_combination,         // the conservative search found nothing (carries the item count)
    interrupted,                       // the caller's StopCheck asked the search to stop
};

struct SelectionError {
    SelectionErrorKind kind;
    std::uint64_t item_count = 0;  // the number of prices, for the two no-result errors

    friend bool operator==(const SelectionError&, const SelectionError&) = default;
};

template <class T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(SelectionError error) : state_(error) {}

    bool ok() const noexcept { return state_.index() == 0; }
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const SelectionError& error() const { return std::get<1>(state_); }

private:
    std::variant<T, SelectionError> state_;
};

}  // namespace kestrava
