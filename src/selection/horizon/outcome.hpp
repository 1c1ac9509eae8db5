// The planner's errors as values, and Outcome<T>: a value or one of those errors.
// The binding turns each kind into its message; the core only names what happened.
#pragma once

#include <cstddef>
#include <utility>
#include <variant>

namespace kestrava::horizon {

enum class ErrorKind {
    invalid_price,                     // a price is not a decimal text (index: that price)
    invalid_threshold,                 // the threshold is not a decimal text
    prices_empty,                      // no prices
    too_many_prices,                   // more than max_periods prices
    min_selections_zero,               // min_selections is 0
    min_selections_above_count,        // min_selections exceeds the number of prices
    min_consecutive_zero,              // min_consecutive_periods is 0
    min_consecutive_above_selections,  // min_consecutive_periods exceeds min_selections
    start_gap_above_gap,               // max_gap_from_start exceeds max_gap_between_periods
    price_too_large,    // a price needs more than max_price_digits significant digits at its own scale (index: that
                        // price)
    price_too_precise,  // the decimals of a price (index) set a common scale at which some price needs more than
                        // max_price_digits digits
    interrupted,        // the stop check asked the planner to stop
};

struct Error {
    ErrorKind kind;
    std::size_t index = 0;  // the price concerned, for the kinds that name one

    friend bool operator==(const Error&, const Error&) = default;
};

template <class T>
class Outcome {
public:
    Outcome(T value) : state_(std::move(value)) {}
    Outcome(Error error) : state_(error) {}

    bool ok() const noexcept { return state_.index() == 0; }
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

}  // namespace kestrava::horizon
