// The message of a planner's error value for plan, cheapest_periods and plan_table's
// rows: which argument, price or rule is wrong, with the values as written. Plain C++:
// the caller writes its own values (the binding a count of any size and a price by its
// repr, the table a row's), asked for only when the message shows them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "selection/outcome.hpp"
#include "table/rule_names.hpp"

namespace kestrava::table {

// The request's values as a message shows them. An answer may throw the caller's own
// exception (writing a value can fail in the interpreter), which passes through.
class RequestTexts {
public:
    // The count as written.
    virtual std::string count(CountRule rule) const = 0;
    // Price `index` as shown; nullopt: the threshold.
    virtual std::string price(std::optional<std::size_t> index) const = 0;
    // Whether the request has plan's conditions (allowed, running_for, off_for);
    // cheapest_periods has none, and its plans without a selection get one message.
    virtual bool has_conditions() const = 0;
    // Given conditions: running_for is above 0.
    virtual bool carried_run() const = 0;
    // Given conditions: max_gap_between_periods is below off_for.
    virtual bool off_for_above_gap() const = 0;
    // Given a quota per day: how a day is named, by its index; the caller knows its date.
    virtual std::string day_name(std::size_t day) const { return "day " + std::to_string(day); }

protected:
    ~RequestTexts() = default;
};

// The message of any error value but `interrupted`, for `n` prices.
std::string refusal_message(const Error& error, std::size_t n, const RequestTexts& request);

}  // namespace kestrava::table
