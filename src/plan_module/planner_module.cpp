// The module kestrava_plan._planner and its entries _cheapest_periods and _plan (behind
// kestrava_plan.cheapest's functions, all positional; _plan_table, kestrava_plan.plan_table's,
// is table_binding.hpp's): converts
// the arguments with the interpreter lock held, plans without it (so that threads plan
// in parallel and signal handlers still run), and turns the planner's answer or error
// value into a list of ints or a pointed exception.
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

#include <nanobind/nanobind.h>

#include "binding/index_list.hpp"
#include "binding/interpreter_lock.hpp"
#include "binding/signal_stop_check.hpp"
#include "plan_module/docstrings.hpp"
#include "plan_module/plan_conditions.hpp"
#include "plan_module/price_objects.hpp"
#include "plan_module/python_call.hpp"
#include "plan_module/python_types.hpp"
#include "plan_module/rule_arguments.hpp"
#include "plan_module/table_binding.hpp"
#include "plan_module/type_name.hpp"
#include "selection/internal_failure.hpp"
#include "selection/requests/cheapest_periods.hpp"
#include "selection/planner/integer_ladder.hpp"
#include "table/plan_messages.hpp"
#include "table/refusal_message.hpp"
#include "table/rule_names.hpp"

namespace kestrava::plan_module {

namespace messages = table::messages;

namespace {

struct Request {
    PriceTexts prices;
    nb::object threshold;
    RuleArguments counts;
    bool aggressive = true;
};

// The request's values as the caller passed them, as the refusals show them.
class PassedTexts final : public table::RequestTexts {
public:
    PassedTexts(const Request& request, const PlanConditions* conditions)
        : request_(request), conditions_(conditions) {}

    std::string count(table::CountRule rule) const override { return count_of(rule).written(); }
    std::string price(std::optional<std::size_t> index) const override {
        return index ? shown(request_.prices.prices[*index]) : shown(request_.threshold);
    }
    bool has_conditions() const override { return conditions_ != nullptr; }
    bool carried_run() const override {
        const Count& run = conditions_->running_for;
        return !conditions_->running_for_negative && (run.large || run.value != 0);
    }
    bool off_for_above_gap() const override {
        return exactly_below(request_.counts.max_gap_between_periods, conditions_->off_for);
    }
    std::string day_name(std::size_t day) const override { return conditions_->day_names[day]; }

private:
    const Count& count_of(table::CountRule rule) const {
        using table::CountRule;
        switch (rule) {
            case CountRule::min_selections:
                return request_.counts.min_selections;
            case CountRule::min_consecutive_periods:
                return request_.counts.min_consecutive_periods;
            case CountRule::max_gap_between_periods:
                return request_.counts.max_gap_between_periods;
            case CountRule::max_gap_from_start:
                return request_.counts.max_gap_from_start;
            case CountRule::running_for:
                return conditions_->running_for;
            default:
                return conditions_->off_for;
        }
    }

    const Request& request_;
    const PlanConditions* conditions_;
};

// Raises the ValueError of an error value other than `interrupted`; `conditions` are
// those of _plan, nullptr for cheapest_periods.
[[noreturn]] void raise_refusal(const Request& request, const Error& error, const PlanConditions* conditions = nullptr) {
    const PassedTexts texts(request, conditions);
    throw nb::value_error(table::refusal_message(error, request.prices.texts.size(), texts).c_str());
}

Request read_request(nb::handle prices, nb::handle low_price_threshold, nb::handle min_selections,
                     nb::handle min_consecutive_periods, nb::handle max_gap_between_periods,
                     nb::handle max_gap_from_start, nb::handle aggressive) {
    Request request;
    request.prices = read_prices(prices, planner::max_periods);
    request.threshold = read_threshold(low_price_threshold);
    request.counts =
        read_rule_arguments(min_selections, min_consecutive_periods, max_gap_between_periods, max_gap_from_start);
    request.aggressive = read_flag(aggressive, table::rule_name(table::Rule::aggressive));
    return request;
}

nb::list cheapest_periods(nb::handle prices, nb::handle low_price_threshold, nb::handle min_selections,
                          nb::handle min_consecutive_periods, nb::handle max_gap_between_periods,
                          nb::handle max_gap_from_start, nb::handle aggressive) {
    const Request request = read_request(prices, low_price_threshold, min_selections, min_consecutive_periods,
                                         max_gap_between_periods, max_gap_from_start, aggressive);
    SignalStopCheck stop;
    const std::string_view threshold = text_of(request.threshold);
    const SelectionRules rules = request.counts.rules();
    Outcome<IndexList> outcome = Error{ErrorKind::interrupted};
    try {
        outcome = without_lock([&] {
            return planner::cheapest_periods(request.prices.texts, threshold, rules, request.aggressive, stop.check());
        });
    } catch (const InternalFailure& failure) {
        throw std::runtime_error(messages::internal_failure(failure.message()));
    }
    // A signal handler's exception wins over any answer: Ctrl-C is never lost.
    if (stop.restore_raised()) throw nb::python_error();
    if (!outcome.ok()) raise_refusal(request, outcome.error());
    return nb::borrow<nb::list>(checked(new_index_list(outcome.value())));
}

nb::tuple plan(nb::handle prices, nb::handle low_price_threshold, nb::handle min_selections,
               nb::handle min_consecutive_periods, nb::handle max_gap_between_periods, nb::handle max_gap_from_start,
               nb::handle aggressive, nb::handle allowed, nb::handle running_for, nb::handle off_for,
               nb::handle most_expensive, nb::handle strict_end, nb::handle day_of, nb::handle day_quota,
               nb::handle day_names) {
    const Request request = read_request(prices, low_price_threshold, min_selections, min_consecutive_periods,
                                         max_gap_between_periods, max_gap_from_start, aggressive);
    const std::size_t n = request.prices.texts.size();
    const PlanConditions conditions =
        read_plan_conditions(allowed, running_for, off_for, strict_end, PlanDays{day_of, day_quota, day_names}, n);
    rules::Conditions core = conditions.conditions(request.counts, n);
    core.most_expensive = read_flag(most_expensive, table::rule_name(table::Rule::most_expensive));
    SignalStopCheck stop;
    const std::string_view threshold = text_of(request.threshold);
    const SelectionRules rules = request.counts.rules();
    Outcome<planner::PlanAnswer> outcome = Error{ErrorKind::interrupted};
    try {
        outcome = without_lock([&] {
            return planner::plan_periods(request.prices.texts, threshold, rules, core, request.aggressive,
                                         stop.check());
        });
    } catch (const InternalFailure& failure) {
        throw std::runtime_error(messages::internal_failure(failure.message()));
    }
    if (stop.restore_raised()) throw nb::python_error();
    if (!outcome.ok()) raise_refusal(request, outcome.error(), &conditions);
    nb::object periods = checked(new_index_list(outcome.value().periods));
    nb::object base_size = checked(PyLong_FromSize_t(outcome.value().base_size));
    return nb::make_tuple(periods, base_size);
}

}  // namespace

}  // namespace kestrava::plan_module

NB_MODULE(_planner, module) {
    namespace nb = nanobind;
    namespace plan = kestrava::plan_module;
    plan::remember_python_types();
    plan::remember_class_deallocator();
    if (!kestrava::remember_finalising_thread()) throw nb::python_error();
    // An answer of plan_table that another library's object still holds when the
    // interpreter ends (pyarrow's reader, in a traceback at SystemExit) is no leak of
    // ours, but nanobind would print a leak report at every such exit. The leak tests
    // measure memory directly instead.
    nb::set_leak_warnings(false);
    module.doc() = plan::docstrings::module.data();
    // Positional only, None let through to the conversions: kestrava_plan.cheapest's
    // functions bind the arguments, by name and with defaults, in front of them.
    module.def("_cheapest_periods", &plan::cheapest_periods, nb::arg().none(), nb::arg().none(), nb::arg().none(),
               nb::arg().none(), nb::arg().none(), nb::arg().none(), nb::arg().none());
    // The rules after off_for keep their defaults when left out: a plan without them.
    module.def("_plan", &plan::plan, nb::arg().none(), nb::arg().none(), nb::arg().none(), nb::arg().none(),
               nb::arg().none(), nb::arg().none(), nb::arg().none(), nb::arg().none(), nb::arg().none(),
               nb::arg().none(), nb::arg().none() = false, nb::arg().none() = false, nb::arg().none() = nb::none(),
               nb::arg().none() = nb::none(), nb::arg().none() = nb::none());
    plan::define_plan_table(module);
}
