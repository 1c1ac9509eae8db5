// The messages of refusal_message.hpp.
#include "table/refusal_message.hpp"

#include "selection/planner/integer_ladder.hpp"
#include "table/plan_messages.hpp"

namespace kestrava::table {

namespace {

// The message of an error value that concerns one price or the threshold.
std::string price_message(const Error& error, const RequestTexts& request) {
    const std::string place = "prices[" + std::to_string(error.index) + "]";
    switch (error.kind) {
        case ErrorKind::invalid_price:
            return messages::not_a_decimal_number(place, request.price(error.index));
        case ErrorKind::invalid_threshold:
            return messages::not_a_decimal_number(rule_name(Rule::low_price_threshold), request.price(std::nullopt));
        case ErrorKind::price_too_large:
            return messages::too_many_digits(place, request.price(error.index), planner::max_price_digits);
        default:
            return messages::too_many_decimals(place, request.price(error.index), planner::max_price_digits);
    }
}

std::string min_consecutive_message(const RequestTexts& request) {
    if (request.has_conditions() && request.carried_run()) {
        return messages::min_consecutive_above_selections_and_run(request.count(CountRule::min_consecutive_periods),
                                                                  request.count(CountRule::min_selections),
                                                                  request.count(CountRule::running_for));
    }
    return messages::min_consecutive_above_selections(request.count(CountRule::min_consecutive_periods),
                                                      request.count(CountRule::min_selections));
}

// The message of an error value of the conditions or of a plan without a selection.
std::string condition_message(const Error& error, std::size_t n, const RequestTexts& request) {
    const auto count = [&](CountRule rule) { return request.count(rule); };
    switch (error.kind) {
        case ErrorKind::allowed_length:
            return messages::allowed_length(error.index, n);
        case ErrorKind::running_for_negative:
            return messages::count_negative(rule_name(Rule::running_for), count(CountRule::running_for));
        case ErrorKind::off_for_negative:
            return messages::count_negative(rule_name(Rule::off_for), count(CountRule::off_for));
        case ErrorKind::running_and_off:
            return messages::running_and_off(count(CountRule::running_for), count(CountRule::off_for));
        case ErrorKind::blocked_stretch_too_long:
            return messages::blocked_stretch_too_long(error.index, error.last,
                                                      count(CountRule::max_gap_between_periods));
        case ErrorKind::too_few_allowed:
            return messages::too_few_allowed(error.item_count, n, count(CountRule::min_selections));
        case ErrorKind::carried_run_cut:
            return messages::carried_run_cut(count(CountRule::running_for), count(CountRule::min_consecutive_periods));
        case ErrorKind::off_for_no_start:
            if (request.off_for_above_gap()) {
                return messages::off_for_above_gap(count(CountRule::off_for),
                                                   count(CountRule::max_gap_between_periods));
            }
            return messages::off_for_no_start(count(CountRule::off_for), count(CountRule::max_gap_between_periods),
                                              count(CountRule::max_gap_from_start), error.index);
        case ErrorKind::day_below_quota:
            return messages::day_below_quota(request.day_name(error.index), error.item_count, error.needed);
        case ErrorKind::short_last_run:
            return messages::short_last_run(count(CountRule::min_consecutive_periods));
        default:
            return std::string(messages::no_plan);
    }
}

}  // namespace

std::string refusal_message(const Error& error, std::size_t n, const RequestTexts& request) {
    switch (error.kind) {
        case ErrorKind::prices_empty:
            return std::string(messages::prices_empty);
        case ErrorKind::too_many_prices:
            return messages::too_many_prices(planner::max_periods, n);
        case ErrorKind::min_selections_zero:
            return std::string(messages::min_selections_zero);
        case ErrorKind::min_selections_above_count:
            return messages::min_selections_above_count(request.count(CountRule::min_selections), n);
        case ErrorKind::min_consecutive_zero:
            return std::string(messages::min_consecutive_zero);
        case ErrorKind::min_consecutive_above_selections:
            return min_consecutive_message(request);
        case ErrorKind::start_gap_above_gap:
            return messages::start_gap_above_gap(request.count(CountRule::max_gap_from_start),
                                                 request.count(CountRule::max_gap_between_periods));
        case ErrorKind::invalid_price:
        case ErrorKind::invalid_threshold:
        case ErrorKind::price_too_large:
        case ErrorKind::price_too_precise:
            return price_message(error, request);
        default:
            // Only plan answers with the conditions' kinds.
            return request.has_conditions() ? condition_message(error, n, request) : std::string(messages::no_plan);
    }
}

}  // namespace kestrava::table
