// The messages of refusal_message.hpp.
#include "plan_module/refusal_message.hpp"

#include "selection/planner/integer_ladder.hpp"
#include "table/plan_messages.hpp"

namespace kestrava::plan_module {

namespace messages = table::messages;

namespace {

// The message of an error value that concerns one price or the threshold.
std::string price_message(const Error& error, const ShownPrice& shown_price) {
    const std::string place = "prices[" + std::to_string(error.index) + "]";
    switch (error.kind) {
        case ErrorKind::invalid_price:
            return messages::not_a_decimal_number(place, shown_price(error.index));
        case ErrorKind::invalid_threshold:
            return messages::not_a_decimal_number("low_price_threshold", shown_price(std::nullopt));
        case ErrorKind::price_too_large:
            return messages::too_many_digits(place, shown_price(error.index), planner::max_price_digits);
        default:
            return messages::too_many_decimals(place, shown_price(error.index), planner::max_price_digits);
    }
}

std::string min_consecutive_message(const RuleArguments& counts, const PlanConditions* conditions) {
    if (conditions != nullptr && !conditions->running_for_negative &&
        (conditions->running_for.large || conditions->running_for.value != 0)) {
        return messages::min_consecutive_above_selections_and_run(counts.min_consecutive_periods.written(),
                                                                  counts.min_selections.written(),
                                                                  conditions->running_for.written());
    }
    return messages::min_consecutive_above_selections(counts.min_consecutive_periods.written(),
                                                      counts.min_selections.written());
}

}  // namespace

std::string refusal_message(const Error& error, const RuleArguments& counts, const PlanConditions* conditions,
                            std::size_t n, const ShownPrice& shown_price) {
    switch (error.kind) {
        case ErrorKind::prices_empty:
            return std::string(messages::prices_empty);
        case ErrorKind::too_many_prices:
            return messages::too_many_prices(planner::max_periods, n);
        case ErrorKind::min_selections_zero:
            return std::string(messages::min_selections_zero);
        case ErrorKind::min_selections_above_count:
            return messages::min_selections_above_count(counts.min_selections.written(), n);
        case ErrorKind::min_consecutive_zero:
            return std::string(messages::min_consecutive_zero);
        case ErrorKind::min_consecutive_above_selections:
            return min_consecutive_message(counts, conditions);
        case ErrorKind::start_gap_above_gap:
            return messages::start_gap_above_gap(counts.max_gap_from_start.written(),
                                                 counts.max_gap_between_periods.written());
        case ErrorKind::invalid_price:
        case ErrorKind::invalid_threshold:
        case ErrorKind::price_too_large:
        case ErrorKind::price_too_precise:
            return price_message(error, shown_price);
        default:
            // Only _plan answers with the conditions' kinds.
            return conditions != nullptr ? condition_message(error, counts, *conditions, n)
                                         : std::string(messages::no_plan);
    }
}

}  // namespace kestrava::plan_module
