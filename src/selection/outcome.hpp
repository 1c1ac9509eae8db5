// The selection's errors as values, and Outcome<T>: a value or one of those errors.
// Both request entries answer with it (requests/request.hpp for kestrava, requests/
// cheapest_periods.hpp for any number of periods); each binding turns a kind into its
// own message, the core only names what happened. The tiers before the exhaustive
// search answer Outcome<T, DeclineReason>: a value, or why the next tier must answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <variant>

namespace kestrava {

enum class ErrorKind {
    price_not_text,                    // the price source gave no text for an element; its own error stands
    invalid_price,                     // a price is not a decimal text (index: that price)
    invalid_threshold,                 // the threshold is not a decimal text
    prices_empty,                      // no prices
    too_many_prices,                   // more prices than the entry takes
    min_selections_zero,               // min_selections is 0
    min_selections_above_count,        // min_selections exceeds the number of prices
    min_consecutive_zero,              // min_consecutive_periods is 0
    min_consecutive_above_selections,  // min_consecutive_periods exceeds min_selections
    start_gap_above_gap,               // max_gap_from_start exceeds max_gap_between_periods
    price_too_large,                   // a price has too many significant digits (index: that price)
    price_too_precise,                 // a price's decimals (index) need too many digits at the common scale
    no_valid_combination,              // the aggressive search found nothing (item_count: the prices)
    no_valid_main_combination,         // the conservative search found nothing (item_count: the prices)
    interrupted,                       // the caller's StopCheck asked the search to stop
    // The conditions of a plan (rules/conditions.hpp), checked after the rules above.
    allowed_length,                    // the allowed mask's length is not n (index: its length)
    running_for_negative,              // running_for is below 0
    off_for_negative,                  // off_for is below 0
    running_and_off,                   // running_for and off_for are both non-zero
    // A plan's causes for having no valid selection, the first that applies.
    blocked_stretch_too_long,          // blocked periods index .. last outlast max_gap_between_periods
    too_few_allowed,                   // fewer allowed periods (item_count) than min_selections
    carried_run_cut,                   // a carried run below min_run, and period 0 blocked
    off_for_no_start,                  // off_for leaves no allowed first period in time
    day_below_quota,                   // a day (index) holds fewer allowed periods (item_count) than its quota (needed)
    short_last_run,                    // under a strict end only: the exempt last run would give a plan
    no_plan,                           // no valid selection for another reason
};

struct Error {
    ErrorKind kind;
    std::size_t index = 0;          // the price concerned, for the kinds that name one
    std::uint64_t item_count = 0;   // the number of prices, for the two no-result kinds
    std::size_t last = 0;           // the last period of a stretch, for blocked_stretch_too_long
    std::uint64_t needed = 0;       // a day's quota, for day_below_quota

    friend bool operator==(const Error&, const Error&) = default;
};

// Why a tier before the exhaustive search left a request to the next one. Not an
// error: the exhaustive search answers every request.
enum class DeclineReason {
    magnitudes_past_exact_limit,  // the prices' magnitudes in units of the common scale sum past 2^90
    averages_past_28_decimals,    // averages kept apart need more decimals than a decimal holds
    averages_past_96_bits,        // averages kept apart need a coefficient past 96 bits
    no_selection_at_size,         // the tables found none of the smallest valid size (never, by valid_sizes.hpp)
    sums_near_96_bits,            // a sum the search forms may come within its rounding slack of 2^96
    candidates_past_cap,          // rounding leaves more candidates or states than a walk of some 10 ms visits
    no_candidate_in_band,         // a walk found no candidate within its band (never, by rounding_error.hpp)
};

// The reason's name as its enumerator reads, for a report of which tier answered.
constexpr const char* decline_reason_name(DeclineReason reason) noexcept {
    switch (reason) {
        case DeclineReason::magnitudes_past_exact_limit: return "magnitudes_past_exact_limit";
        case DeclineReason::averages_past_28_decimals: return "averages_past_28_decimals";
        case DeclineReason::averages_past_96_bits: return "averages_past_96_bits";
        case DeclineReason::no_selection_at_size: return "no_selection_at_size";
        case DeclineReason::sums_near_96_bits: return "sums_near_96_bits";
        case DeclineReason::candidates_past_cap: return "candidates_past_cap";
        case DeclineReason::no_candidate_in_band: return "no_candidate_in_band";
    }
    return "unknown";
}

// E: Error for an entry; DeclineReason for a tier; the error of another engine that
// answers the same way (the table's, table/table_error.hpp).
template <class T, class E = Error>
class Outcome {
public:
    Outcome(T value) : state_(std::move(value)) {}
    Outcome(E error) : state_(std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const E& error() const { return std::get<1>(state_); }

private:
    std::variant<T, E> state_;
};

}  // namespace kestrava
